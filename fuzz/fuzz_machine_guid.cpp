// The registry value behind GetMachineGuid, of any type and bytes, in the
// default view, the 64-bit view or both: GetMachineGuid never throws, gives
// either nothing or the value's text up to its first NUL (only from a
// terminated string of whole characters), and leaves no key open. The text
// then goes through wstring_to_ansi as the computer identity takes it.
#include "fuzz/support/fuzz_support.h"

#include "bootstrapper.h"

#include "kyv/common/string_conversion.hpp"

#include <cstring>
#include <exception>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

const wchar_t kKey[] = L"SOFTWARE\\Microsoft\\Cryptography";
const wchar_t kValue[] = L"MachineGuid";

void CheckResult(const std::wstring& got, const winsim::RegistryValue* value, const char* which) {
    auto fail = [&](const char* rule) {
        fuzz::Fail(rule, std::string(which) + ": got " + fuzz::Shown(got));
    };
    if (got.find(L'\0') != std::wstring::npos) fail("the machine GUID holds no NUL");
    if (got.empty()) return;
    if (!value) fail("no value gives no machine GUID");
    if (value->type != REG_SZ && value->type != REG_EXPAND_SZ) fail("only a string value gives a machine GUID");
    const std::size_t unit = sizeof(wchar_t);
    if (value->data.size() % unit != 0) fail("only whole characters give a machine GUID");
    const std::size_t units = value->data.size() / unit;
    std::wstring text(units, L'\0');
    std::memcpy(&text[0], value->data.data(), value->data.size());
    if (units == 0 || text.back() != L'\0') fail("only a terminated text gives a machine GUID");
    if (got != std::wstring(text.c_str())) fail("the machine GUID is the value's text up to its first NUL");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::InputScope scope;
    winsim::Machine& m = fuzz::TheMachine();
    static sablewick::Bootstrapper bootstrapper(nullptr);
    if (size < 1) return 0;

    // First byte: where the value lives and what type it has; the string
    // types come up most, as they reach the most code.
    const std::uint8_t control = data[0];
    std::size_t at = 1;
    DWORD type = REG_SZ;
    switch ((control >> 2) & 7) {
    case 0: case 1: case 2: type = REG_SZ; break;
    case 3: case 4: type = REG_EXPAND_SZ; break;
    case 5: type = REG_MULTI_SZ; break;
    case 6: type = REG_DWORD; break;
    default:
        type = 0;
        for (int k = 0; k < 4 && at < size; ++k, ++at) type |= static_cast<DWORD>(data[at]) << (8 * k);
    }
    winsim::RegistryValue value;
    value.type = type;
    value.data.assign(data + at, data + size);

    m.registry.default_view.clear();
    m.registry.view64.clear();
    const bool inDefault = (control & 1) != 0, in64 = (control & 2) != 0;
    if (inDefault) m.registry.set(winsim::Registry::View::default_view, kKey, kValue, value);
    if (in64) m.registry.set(winsim::Registry::View::view64, kKey, kValue, value);

    for (REGSAM extra : {REGSAM{0}, REGSAM{KEY_WOW64_64KEY}}) {
        const bool present = extra == 0 ? inDefault : in64;
        std::wstring got;
        try {
            got = bootstrapper.GetMachineGuid(extra);
        } catch (const std::exception& e) {
            fuzz::Fail("GetMachineGuid never throws", std::string(typeid(e).name()) + ": " + e.what());
        }
        CheckResult(got, present ? &value : nullptr, extra == 0 ? "default view" : "64-bit view");
        try {
            (void)kyv::common::wstring_to_ansi(got);
        } catch (...) {
            fuzz::Fail("the machine GUID converts to the ANSI code page", fuzz::Shown(got));
        }
    }
    fuzz::ExpectNothingHeld("GetMachineGuid");
    return 0;
}
