// Cutting the service executable's path out of its registered path text.
#include "tray_start.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ServicePathText, GivesTheExecutablesPath) {
    struct Case {
        const char* name;
        std::wstring text;
        std::wstring executable;
    };
    const Case cases[] = {
        {"quoted with blanks and an argument", L"\"C:\\Program Files\\Agent\\svc.exe\" -k x",
         L"C:\\Program Files\\Agent\\svc.exe"},
        {"quote never closed", L"\"C:\\Agent\\svc.exe", L"C:\\Agent\\svc.exe"},
        {"lone quote", L"\"", L""},
        {"two quotes", L"\"\"", L""},
        {"unquoted with an argument", L"C:\\Agent\\svc.exe -k", L"C:\\Agent\\svc.exe"},
        {"root folder", L"C:\\svc.exe", L"C:\\svc.exe"},
        {"forward slashes", L"C:/Agent/svc.exe", L"C:/Agent/svc.exe"},
        {"bare file name", L"svc.exe", L"svc.exe"},
        {"empty", L"", L""},
        // An unquoted path with blanks is what the Service Control Manager
        // starts as a whole: cutting at the first blank would look for the
        // tray program in C:\.
        {"unquoted with blanks", L"C:\\Program Files\\Agent\\svc.exe",
         L"C:\\Program Files\\Agent\\svc.exe"},
        {"unquoted with blanks and an argument", L"C:\\Program Files\\Agent\\svc.exe -k",
         L"C:\\Program Files\\Agent\\svc.exe"},
        {"extension in capitals", L"C:\\Program Files\\Agent\\SVC.EXE --run",
         L"C:\\Program Files\\Agent\\SVC.EXE"},
        {"the shortest beginning wins", L"C:\\Program Files\\a.exe dir\\svc.exe",
         L"C:\\Program Files\\a.exe"},
        {"no beginning ends in .exe: first blank", L"C:\\Program Files\\Agent\\svc -k",
         L"C:\\Program"},
        {"a tab is no blank", L"C:\\Agent\\svc.exe\t-k", L"C:\\Agent\\svc.exe\t-k"},
        {"\".exe\" inside a name is no end", L"C:\\a.exe.d\\svc.exe -k",
         L"C:\\a.exe.d\\svc.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sablewick::ServiceExecutableFromPathText(c.text), c.executable);
    }
}

}  // namespace
