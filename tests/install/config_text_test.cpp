// The text rules of the configuration rewrite: which line is the tray-port
// line, how the first installation carries it into the template, and what an
// update writes back.
#include "config_rewrite.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using sablewick::ExtractTrayPortLine;
using sablewick::MergeUpdatedConfig;
using sablewick::ReplaceTrayPortLine;

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

TEST(TrayPortLine, FirstInstallationReplacesTheTemplatesLine) {
    struct Case {
        const char* name;
        std::string fresh;
        std::string carried;
        std::string result;
    };
    const Case cases[] = {
        {"template without the key stays the template", "a = 1\r\nb = 2\r\n", "tray-port = 9",
         "a = 1\r\nb = 2\r\n"},
        {"carried line without CR drops the template's CR", "a\r\ntray-port = 1\r\nb\r\n",
         "tray-port = 9", "a\r\ntray-port = 9\nb\r\n"},
        {"both with CR keep it", "a\r\ntray-port = 1\r\nb\r\n", "tray-port = 9\r",
         "a\r\ntray-port = 9\r\nb\r\n"},
        {"last line without line feed runs to the end", "a\ntray-port = 1", "tray-port = 22",
         "a\ntray-port = 22"},
        {"the comment's occurrence is the one replaced", "# tray-port here\ntray-port = 1\n",
         "tray-port = 2", "# tray-port = 2\ntray-port = 1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReplaceTrayPortLine(c.fresh, c.carried), c.result);
    }
}

TEST(TrayPortLine, UpdateKeepsTheUsersTextExceptForTheInstallersLine) {
    const std::string previous = "# mine\r\ntray-port = 100\r\nkey = user\r\n";
    struct Case {
        const char* name;
        std::string previous;
        std::string current;
        std::string result;
    };
    const Case cases[] = {
        {"equal lines: written back unchanged", previous,
         "# theirs\r\ntray-port = 100\r\nkey = installer\r\n", previous},
        {"installer left no line", previous, "key = installer\r\n", previous},
        {"installer deleted the file", previous, "", previous},
        {"user had no line", "key = user\r\n", "tray-port = 5\r\n", "key = user\r\n"},
        {"lines differ: the installer's wins, nothing else changes", previous,
         "tray-port = 20000\r\nkey = installer\r\n",
         "# mine\r\ntray-port = 20000\r\nkey = user\r\n"},
        {"lines differ only by the CR", previous, "tray-port = 100\n",
         "# mine\r\ntray-port = 100\nkey = user\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MergeUpdatedConfig(c.previous, c.current), c.result);
    }
}

}  // namespace
