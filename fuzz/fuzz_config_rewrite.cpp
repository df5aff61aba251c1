// The configuration rewrite. The input is two texts, split at the first
// "\n--8<--\n": the earlier (or template) text and the installed text. The
// tray-port line is checked against a plain reading of its rule, and both
// rewrites, on real files, against what that rule implies: the update
// changes at most the earlier text's tray-port line, and only into the
// installed one; the first installation gives the template, with at most its
// tray-port line replaced by the installed one.
#include "fuzz/support/fuzz_support.h"

#include "bootstrapper.h"
#include "config_rewrite.h"

#include <boost/system/system_error.hpp>

#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

const std::string kKey = "tray-port";
const std::string kMarker = "\n--8<--\n";

struct Line {
    std::string::size_type begin = std::string::npos, end = std::string::npos;
    bool found() const { return begin != std::string::npos; }
};

// The rule as read: from the first "tray-port" up to the next line feed or
// the end of the text.
Line Bounds(const std::string& text) {
    Line l;
    for (std::string::size_type i = 0; i + kKey.size() <= text.size(); ++i) {
        if (text.compare(i, kKey.size(), kKey) == 0) {
            l.begin = i;
            break;
        }
    }
    if (!l.found()) return l;
    l.end = l.begin;
    while (l.end < text.size() && text[l.end] != '\n') ++l.end;
    return l;
}

std::string LineOf(const std::string& text) {
    const Line l = Bounds(text);
    return l.found() ? text.substr(l.begin, l.end - l.begin) : std::string();
}

std::string WithLine(const std::string& text, const std::string& line) {
    const Line l = Bounds(text);
    if (!l.found()) return text;
    return text.substr(0, l.begin) + line + text.substr(l.end);
}

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::filesystem::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out) fuzz::Fail("the harness writes the configuration file");
}

void Expect(bool ok, const char* rule, const std::string& earlier, const std::string& installed,
            const std::string& got, const std::string& want) {
    if (ok) return;
    fuzz::Fail(rule, "earlier/template " + fuzz::Shown(earlier) + "\ninstalled " + fuzz::Shown(installed)
                         + "\ngot  " + fuzz::Shown(got) + "\nwant " + fuzz::Shown(want));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::InputScope scope;
    winsim::Machine& m = fuzz::TheMachine();
    static sablewick::Bootstrapper bootstrapper(nullptr);
    static fuzz::PerMachine<std::filesystem::path> configFiles;
    const std::filesystem::path& configFile = configFiles.get([&] { return bootstrapper.GetConfigFilePath(); });
    static fuzz::PerMachine<std::shared_ptr<winsim::Resource>> templates;
    const std::shared_ptr<winsim::Resource>& templ = templates.get([&] {
        return m.modules.find_resource(winsim::ResourceKey::of_name(L"CFG"), winsim::ResourceKey::of_id(104));
    });
    if (!templ) fuzz::Fail("the program carries its configuration template");

    const std::string input(reinterpret_cast<const char*>(data), size);
    const auto cut = input.find(kMarker);
    const std::string earlier = input.substr(0, cut);
    const std::string installed = cut == std::string::npos ? std::string() : input.substr(cut + kMarker.size());

    // The line itself.
    for (const std::string* text : {&earlier, &installed}) {
        const std::string got = sablewick::ExtractTrayPortLine(*text);
        Expect(got == LineOf(*text), "the tray-port line runs from the first key to the line feed",
               earlier, installed, got, LineOf(*text));
    }
    const std::string newLine = LineOf(installed);
    const std::string oldLine = LineOf(earlier);

    // The update: the earlier text, with at most its tray-port line
    // replaced, and then by the installed one.
    const bool takesNew = !newLine.empty() && !oldLine.empty() && newLine != oldLine;
    const std::string wantUpdate = takesNew ? WithLine(earlier, newLine) : earlier;
    WriteAll(configFile, installed);
    sablewick::RewriteConfigAfterUpdate(configFile, earlier);
    const std::string updatedFile = ReadAll(configFile);
    Expect(updatedFile == wantUpdate, "an update changes at most the earlier tray-port line", earlier,
           installed, updatedFile, wantUpdate);
    if (takesNew)
        Expect(LineOf(updatedFile) == newLine, "an update ends with the installed tray-port line",
               earlier, installed, LineOf(updatedFile), newLine);

    // The first installation, with |earlier| as the template.
    templ->own(std::vector<unsigned char>(earlier.begin(), earlier.end()));
    WriteAll(configFile, installed);
    try {
        sablewick::RewriteConfigAfterFirstInstall(bootstrapper.LoadResourceData(104, L"CFG"), configFile);
    } catch (const boost::system::system_error& e) {
        // An empty resource counts as a failed lookup; nothing else may fail.
        if (!earlier.empty())
            fuzz::Fail("the first-installation rewrite succeeds", e.what());
        return 0;
    } catch (const std::exception& e) {
        fuzz::Fail("the first-installation rewrite succeeds", std::string(typeid(e).name()) + ": " + e.what());
    }
    if (earlier.empty()) fuzz::Fail("an empty template is a failed lookup");
    const std::string wantFirst = newLine.empty() ? earlier : WithLine(earlier, newLine);
    const std::string firstFile = ReadAll(configFile);
    Expect(firstFile == wantFirst, "a first installation writes the template with the installed line",
           earlier, installed, firstFile, wantFirst);
    return 0;
}
