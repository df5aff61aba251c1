// The service's registered path text, cut into the executable's path: the
// text between the quotes of a quoted text, or a beginning of an unquoted one
// that ends at a blank or at the end. Checked on the text-cutting function
// with any units, and on GetServiceInstallDir through the Service Control
// Manager with the text the model can register (its folder only when that is
// absolute).
#include "fuzz/support/fuzz_support.h"

#include "bootstrapper.h"
#include "tray_start.h"

#include "platform/winsim/text.h"

#include <filesystem>
#include <string>

namespace {

bool EndsInExe(const std::wstring& text) {
    if (text.size() < 4) return false;
    std::wstring tail = text.substr(text.size() - 4);
    for (auto& c : tail)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return tail == L".exe";
}

// The rule as read, for an unquoted text: the shortest beginning that ends
// at a blank or at the end and in ".exe", else the text before the first
// blank.
std::wstring UnquotedRule(const std::wstring& text) {
    for (std::wstring::size_type end = 0; end <= text.size(); ++end) {
        if (end < text.size() && text[end] != L' ') continue;
        if (EndsInExe(text.substr(0, end))) return text.substr(0, end);
    }
    return text.substr(0, text.find(L' '));
}

void Check(const std::wstring& text, const std::wstring& got) {
    auto fail = [&](const char* rule) {
        fuzz::Fail(rule, "text " + fuzz::Shown(text) + "\ngot  " + fuzz::Shown(got));
    };
    if (!text.empty() && text[0] == L'"') {
        if (got.size() + 1 > text.size() || text.compare(1, got.size(), got) != 0)
            fail("a quoted text gives a stretch after its first quote");
        if (got.find(L'"') != std::wstring::npos) fail("a quoted text gives what stands before the next quote");
        if (got.size() + 1 < text.size() && text[got.size() + 1] != L'"')
            fail("a quoted text gives everything up to the next quote");
    } else {
        if (got.size() > text.size() || text.compare(0, got.size(), got) != 0)
            fail("an unquoted text gives a beginning of itself");
        if (got.size() < text.size() && text[got.size()] != L' ') fail("an unquoted text is cut at a blank");
        if (got != UnquotedRule(text)) fail("an unquoted text is cut after its first .exe, else at its first blank");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::InputScope scope;
    winsim::Machine& m = fuzz::TheMachine();

    const std::wstring text = fuzz::WideFromBytes(data, size);
    const std::wstring executable = sablewick::ServiceExecutableFromPathText(text);
    Check(text, executable);

    // Through the Service Control Manager: a registered text is a
    // NUL-terminated string the model keeps as UTF-8.
    winsim::Service* service = m.services.find("SablewickRemote");
    if (!service) fuzz::Fail("the default machine has the agent's service");
    const std::string registered = winsim::to_utf8(text.substr(0, text.find(L'\0')));
    service->binary_path = registered;
    const std::wstring asQueried = winsim::from_utf8(registered);
    // The host's path type converts wide text through the "C" locale, which
    // holds ASCII only; Windows' path type keeps any wide text as it is.
    for (wchar_t c : asQueried)
        if (c > 0x7F) return 0;
    const std::filesystem::path folder = sablewick::GetServiceInstallDir();
    std::filesystem::path want =
        std::filesystem::path(sablewick::ServiceExecutableFromPathText(asQueried)).parent_path();
    // A folder that is not absolute would be looked up from the current
    // folder: none is given then.
    if (!want.is_absolute()) want.clear();
    if (folder != want)
        fuzz::Fail(
            "GetServiceInstallDir gives the absolute folder of the executable in the "
            "registered text, else none",
            "registered " + fuzz::Shown(registered) + "\ngot  " + folder.string() + "\nwant "
                + want.string());
    fuzz::ExpectNothingHeld("GetServiceInstallDir");
    return 0;
}
