// The resources embedded in the program and their copy into files.
#include "bootstrapper.h"
#include "file_replace.h"

#include "sablewick/util/Win/KyvExcept.hpp"

namespace sablewick {

ResourceData Bootstrapper::LoadResourceData(std::uint32_t id, const std::wstring& type) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    CheckOSError(module != nullptr);
    // An integer identifier: only the low 16 bits of |id| count, passed as
    // Windows passes one, in place of a name's address.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(id), type.c_str());
    CheckOSError(info != nullptr);
    const DWORD size = ::SizeofResource(module, info);
    CheckOSError(size != 0);
    // The handle of a loaded resource is the address of its bytes in the
    // image; they stay mapped until the process ends and are never freed.
    HGLOBAL bytes = ::LoadResource(module, info);
    CheckOSError(bytes != nullptr);
    ResourceData result;
    result.data = static_cast<const unsigned char*>(bytes);
    result.size = size;
    return result;
}

void Bootstrapper::UnpackToFile(std::uint32_t id, const std::wstring& type,
                                const std::filesystem::path& file) {
    // A lookup failure leaves before the file is touched.
    const ResourceData resource = LoadResourceData(id, type);
    // Straight from the loaded image, through a new file renamed over the
    // old one: a failure never leaves a cut-off or missing file, and a link
    // planted at the name is replaced, never written through.
    ReplaceFileContents(file, resource.data, resource.size);
}

}  // namespace sablewick
