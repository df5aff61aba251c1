// A program planted at C:\Program.exe, where Windows looks first for an
// unquoted command line that begins "C:\Program Files\...": it appends its
// command line to its record (Program.log) and ends, so a test can tell that
// a path with blanks was handed over without its quotes.
#include "record.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return agent_test::AppendRecord(::GetCommandLineW()) ? 0 : 1;
}
