// The agent's tray program for the Windows tests, installed as
// SablewickTrayAgent.exe (and, as a stand-in, SablewickRemoteDesktop.exe): it
// appends its command line and working folder to its record, one line
// "<command line>|<working folder>" per start, then stays running as a
// tray program does, until it is ended.
#include "record.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t folder[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, folder);
    if (!agent_test::AppendRecord(std::wstring(::GetCommandLineW()) + L"|" + folder)) return 1;
    ::Sleep(INFINITE);
    return 0;
}
