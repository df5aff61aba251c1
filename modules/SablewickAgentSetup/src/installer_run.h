// Running the embedded Windows Installer package: its temporary file, the
// installer's command-line properties, the launch and the bounded wait.
#pragma once

#include "platform/win32.h"
#include "plain_file.h"
#include "resource_data.h"
#include "snet/types/one_time_settings.hpp"

#include "kyv/win/unique_handle.hpp"

#include <filesystem>
#include <optional>
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

// Removes the temporary package on every way out of the installation, once
// the package was written (Written); only the file this run wrote goes,
// through a handle that checked it: whatever took its name meanwhile stays.
// The removal is best effort: an installer still running after the time-out
// may keep the file open, and that must not turn into a second failure.
class RemoveTempMsiOnExit {
public:
    explicit RemoveTempMsiOnExit(const std::filesystem::path& package) : package_(package) {}
    ~RemoveTempMsiOnExit();
    RemoveTempMsiOnExit(const RemoveTempMsiOnExit&) = delete;
    RemoveTempMsiOnExit& operator=(const RemoveTempMsiOnExit&) = delete;

    // The package now at the name is |file|; without it, a plain file was
    // made at the name, which could not be told apart from others yet.
    void Written(std::optional<FileId> file);

private:
    const std::filesystem::path package_;
    bool written_ = false;
    std::optional<FileId> file_;
};

// Writes |package| to |path|, tells |removal| so, and holds the file open for
// reading, sharing only reading, for as long as the handle returned lives:
// the installer can read it, and no other program can change, replace or
// delete it. Until it is held, its descriptor keeps out everyone but SYSTEM
// and administrators, and that it is still the file written is checked when
// it is held. Throws the errors of UnpackToFile, and one of its own when
// another program got hold of the file first.
kyv::win::unique_handle WriteHeldPackage(const ResourceData& package,
                                         const std::filesystem::path& path,
                                         RemoveTempMsiOnExit& removal);

// The installer writes its log through whatever stands at |log|, following
// links: one planted there would have it overwrite another file. Unless a
// plain file of one link or a folder stands at the name, an empty file of
// the program's own takes it first, replacing a link itself, never what it
// leads to; what cannot be replaced is thrown as ReplaceFileContents throws.
void ClearLogName(const std::filesystem::path& log);

}  // namespace sablewick
