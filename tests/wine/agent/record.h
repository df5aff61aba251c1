// The test agent's one way of telling the tests what happened: a line of
// UTF-8 text appended to <ProgramData>\SablewickAgentTest\<name>.log. The
// tests read these files from the Windows disk after a run.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace agent_test {

inline std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                          size, nullptr, nullptr);
    return bytes;
}

// The program's own file name without ".exe": one binary serves under
// several names and each keeps its own record.
inline std::wstring OwnName() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path);
    name = name.substr(name.find_last_of(L"\\/") + 1);
    const auto dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

// The ProgramData folder; empty when it cannot be had.
inline std::wstring ProgramData() {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, folder))) return {};
    return folder;
}

// Where the records lie; the tests also leave their marker files there.
inline std::wstring RecordFolder(const std::wstring& programData) {
    return programData + L"\\SablewickAgentTest";
}

inline bool AppendRecord(const std::wstring& line) {
    const std::wstring programData = ProgramData();
    if (programData.empty()) return false;
    const std::wstring folder = RecordFolder(programData);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring file = folder + L"\\" + OwnName() + L".log";
    HANDLE handle = ::CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const std::string bytes = Utf8(line) + "\r\n";
    DWORD written = 0;
    const BOOL ok = ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(handle);
    return ok && written == bytes.size();
}

}  // namespace agent_test
