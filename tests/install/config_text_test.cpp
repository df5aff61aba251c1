// Which line of a configuration text is its tray-port line.
#include "config_rewrite.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using sablewick::ExtractTrayPortLine;

TEST(TrayPortLine, IsTakenFromTheFirstOccurrenceToTheLineFeed) {
    struct Case {
        const char* name;
        std::string text;
        std::string line;
    };
    const Case cases[] = {
        {"empty text", "", ""},
        {"no key (the template)", "[SablewickClient]\r\nserver-port = 22043\r\n", ""},
        {"line with CR keeps it", "a = 1\r\ntray-port = 5\r\nb = 2\r\n", "tray-port = 5\r"},
        {"line with LF alone", "a = 1\ntray-port = 5\nb = 2\n", "tray-port = 5"},
        {"first occurrence in a comment", "# the tray-port below\ntray-port = 5\n",
         "tray-port below"},
        {"indentation is not part of it", "x\n   tray-port = 7\n", "tray-port = 7"},
        {"end of a longer key", "old-tray-port = 3\n", "tray-port = 3"},
        {"last line without line feed", "a\ntray-port = 9", "tray-port = 9"},
        {"key alone at the end", "tray-port", "tray-port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ExtractTrayPortLine(c.text), c.line);
    }
}

}  // namespace
