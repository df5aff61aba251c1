// The agent's folders under the machine-wide application-data folder belong
// to administrators. Anyone may create folders there, and owns what they
// create: a folder a user made before the agent came, or one that inherited
// the application-data folder's rights (users may add files and folders to
// it), would let that user plant links where this program, elevated, writes.
#pragma once

#include "kyv/win/unique_handle.hpp"

#include <filesystem>

namespace sablewick {

// The security descriptor the agent's folders get, in SDDL: owned by
// Administrators, full control for SYSTEM and Administrators, read and
// execute for Users, passed on to everything inside, nothing inherited.
inline constexpr wchar_t kAgentFolderSddl[] =
    L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// The security descriptor that |sddl| says, owned; throws when Windows
// cannot make it.
kyv::win::unique_hlocal DescriptorFromSddl(const wchar_t* sddl);

enum class Creation {
    never,     // a missing folder stays missing
    required,  // a folder that cannot be made is an error
    wanted,    // a folder that cannot be made is left missing
};

enum class FolderState {
    ready,         // a folder only administrators can change
    missing,       // not there, and not made
    not_a_folder,  // a file stands at the name; left as it is
};

// Makes |folder| a folder that only administrators can change: a missing one
// is created with the agent's descriptor as |creation| says; an existing one
// whose owner is not SYSTEM, Administrators or TrustedInstaller, or whose DACL
// lets anyone else create, write or delete entries, gets the agent's
// descriptor. A link or junction at the name is never entered: that, and a
// folder that cannot be made (when required) or secured, is thrown as an
// error naming the folder.
FolderState SecureFolder(const std::filesystem::path& folder, Creation creation);

}  // namespace sablewick
