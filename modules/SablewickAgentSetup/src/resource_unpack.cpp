// The resources embedded in the program and their copy into files.
#include "bootstrapper.h"
#include "file_replace.h"

#include "sablewick/util/Win/KyvExcept.hpp"

#include <fstream>
#include <system_error>

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
    WriteResourceToFile(LoadResourceData(id, type), file);
}

void Bootstrapper::WriteResourceToFile(const ResourceData& resource,
                                       const std::filesystem::path& file) {
    std::ofstream out(file, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!out) ThrowUnableToCreate(file, BOOST_CURRENT_LOCATION);

    // Straight from the loaded image in one write: the package is large.
    out.write(reinterpret_cast<const char*>(resource.data),
              static_cast<std::streamsize>(resource.size));
    out.close();  // flushes; failbit reports a short write or a failed close
    if (out.fail()) {
        // A cut-off file must not pass for a good one.
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
        ThrowUnableToWrite(file, BOOST_CURRENT_LOCATION);
    }
}

}  // namespace sablewick
