// The computer identity: a digest of what identifies this machine and the
// customer company, stored in the settings file.
#include "computer_identity.h"

#include "bootstrapper.h"
#include "digest_text.h"
#include "settings_store.h"
#include "resources/resource.h"

#include "kyv/common/string_conversion.hpp"
#include "platform/atl/atl_lite.h"
#include "platform/win32.h"
#include "sablewick/util/mac_address.hpp"

#include <boost/algorithm/string/erase.hpp>
#include <boost/throw_exception.hpp>
#include <boost/uuid/detail/sha1.hpp>
#include <boost/uuid/string_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace sablewick {

namespace {

constexpr DWORD kDriveStringsLength = 260;

// bootstrapper.h passes access rights as 32-bit words, without the platform
// header; REGSAM must take them unchanged.
static_assert(sizeof(REGSAM) == sizeof(std::uint32_t) && std::is_unsigned_v<REGSAM>,
              "REGSAM is a 32-bit unsigned mask");

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

}  // namespace

std::vector<std::wstring> Bootstrapper::GetDrivesByType(std::uint32_t driveType) {
    std::vector<std::wstring> drives;
    std::wstring buffer(kDriveStringsLength, L'\0');
    const DWORD count = ::GetLogicalDriveStringsW(kDriveStringsLength, &buffer[0]);
    // 0 is a failure; a larger count is the size the list would have needed.
    if (count == 0 || count > kDriveStringsLength) return drives;

    std::size_t pos = 0;
    while (pos < count) {
        std::size_t end = buffer.find(L'\0', pos);
        if (end == std::wstring::npos) end = buffer.size();
        if (end == pos) break;
        std::wstring root = buffer.substr(pos, end - pos);
        if (::GetDriveTypeW(root.c_str()) == driveType) drives.push_back(std::move(root));
        pos = end + 1;
    }
    return drives;
}

std::wstring Bootstrapper::GetMachineGuid(std::uint32_t extraAccess) {
    ATL::CRegKey key;  // closed on every way out
    // The predefined keys are integers in a handle's clothes, as Windows defines them.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    if (key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", KEY_READ | extraAccess)
        != ERROR_SUCCESS)
        return {};

    DWORD type = REG_NONE;
    ULONG bytes = 0;
    if (key.QueryValue(L"MachineGuid", &type, nullptr, &bytes) != ERROR_SUCCESS
        || !IsStringType(type))
        return {};

    // A text of whole characters: an odd byte count is rounded down, so such
    // a value no longer fits and the second query fails.
    std::wstring buffer(bytes / sizeof(wchar_t), L'\0');
    ULONG size = static_cast<ULONG>(buffer.size() * sizeof(wchar_t));
    if (key.QueryValue(L"MachineGuid", &type, &buffer[0], &size)
            != ERROR_SUCCESS
        || !IsStringType(type) || size > buffer.size() * sizeof(wchar_t))
        return {};
    // Only a NUL-terminated text is taken; REG_EXPAND_SZ stays unexpanded.
    if (size != 0 && (size % sizeof(wchar_t) != 0 || buffer[size / sizeof(wchar_t) - 1] != L'\0'))
        return {};
    return std::wstring(buffer.c_str());
}

std::string Sha1Hex128(const std::string& text) {
    boost::uuids::detail::sha1 sha;
    sha.process_bytes(text.data(), text.size());
    boost::uuids::detail::sha1::digest_type digest;
    sha.get_digest(digest);
    return DigestPrefixHex(digest, 16);
}

boost::uuids::uuid ParseCompanyId(const std::string& text) {
    try {
        return boost::uuids::string_generator()(text);
    } catch (const std::exception&) {
        // The parser's own text says nothing to the user.
        boost::throw_exception(std::runtime_error("Failed to parse Company ID"),
                               BOOST_CURRENT_LOCATION);
    }
}

void Bootstrapper::RegisterComputerID() {
    // The record starts as the one embedded in the program, and reaches the
    // settings file only whole, identities included, in one write: a run
    // that stops halfway leaves the old file, never one without identities.
    const ResourceData embedded = LoadResourceData(IDR_SABLEWICK_DAT, L"DAT");

    // The first fixed drive, whichever holds Windows; C: when none is listed.
    std::vector<std::wstring> drives = GetDrivesByType(DRIVE_FIXED);
    if (drives.empty()) drives.push_back(L"C:\\");

    // Best effort: a volume that cannot be read leaves the serial 0.
    DWORD serial = 0;
    ::GetVolumeInformationW(drives.front().c_str(), nullptr, MAX_PATH, &serial, nullptr, nullptr,
                            nullptr, MAX_PATH);

    // A 32-bit process reads the redirected view first; the native view is
    // the fallback.
    std::wstring machineGuid = GetMachineGuid(0);
    if (machineGuid.empty()) machineGuid = GetMachineGuid(KEY_WOW64_64KEY);

    std::string mac = GetMacAddress();
    boost::algorithm::erase_all(mac, ":");

    snet::types::ClientSettings settings = SettingsOfRecord(embedded);

    if (companyIdText) settings.companyId = ParseCompanyId(*companyIdText);

    const std::string source = mac + std::to_string(serial)
                               + kyv::common::wstring_to_ansi(machineGuid)
                               + boost::uuids::to_string(settings.companyId);
    // All 128 bits come from the digest: no version or variant bits are set.
    settings.computerId = boost::uuids::string_generator()(Sha1Hex128(source));

    SaveSettings(settings);
}

}  // namespace sablewick
