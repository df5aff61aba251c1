// Running the embedded Windows Installer package: its temporary file, the
// installer's command-line properties, the launch and the bounded wait.
#pragma once

#include "platform/win32.h"
#include "snet/types/one_time_settings.hpp"

#include <filesystem>
#include <string>

namespace sablewick {

// The package's file name for one run: sablewick_remote_<pid>_<tick>.msi.
std::wstring TempMsiFileName(DWORD processId, DWORD tickCount);

// The package's place in the temporary folder, named after this process and
// the current tick count so that concurrent or repeated runs do not collide.
std::filesystem::path TempMsiPath();

// The installer's parameters: the user interface (hidden when silent), no
// restart, a verbose log at |logPath|, and the three public properties.
std::wstring BuildMsiParameters(bool silent, const std::filesystem::path& logPath, bool notray,
                                const snet::types::OneTimeSettings& oneTime);

// Opens |package| through the shell with |parameters| and waits at most 30
// minutes for the installer to end. Its own result is not read: whatever the
// installer did, the installation goes on. Throws the system error of a
// failed launch, or the time-out error when the installer does not end.
void RunInstaller(const std::filesystem::path& package, const std::wstring& parameters,
                  bool silent);

// Removes the temporary package on every way out of the installation. The
// removal is best effort: an installer still running after the time-out may
// keep the file open, and that must not turn into a second failure.
class RemoveTempMsiOnExit {
public:
    explicit RemoveTempMsiOnExit(const std::filesystem::path& package) : package_(package) {}
    ~RemoveTempMsiOnExit();
    RemoveTempMsiOnExit(const RemoveTempMsiOnExit&) = delete;
    RemoveTempMsiOnExit& operator=(const RemoveTempMsiOnExit&) = delete;

private:
    const std::filesystem::path package_;
};

}  // namespace sablewick
