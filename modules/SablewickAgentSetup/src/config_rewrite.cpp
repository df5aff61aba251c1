#include "config_rewrite.h"

#include "bootstrapper.h"
#include "file_replace.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace sablewick {

namespace {

constexpr const char* kTrayPortKey = "tray-port";

// Where the tray-port line of |text| begins and ends; begin is npos when the
// text has none.
std::pair<std::string::size_type, std::string::size_type> TrayPortLineBounds(
    const std::string& text) {
    const auto begin = text.find(kTrayPortKey);
    if (begin == std::string::npos) return {begin, begin};
    const auto lineFeed = text.find('\n', begin);
    return {begin, lineFeed == std::string::npos ? text.size() : lineFeed};
}

// |text| with its tray-port line replaced by |line|; unchanged when |text|
// has none.
std::string ReplaceTrayPortLine(std::string text, const std::string& line) {
    const auto [begin, end] = TrayPortLineBounds(text);
    if (begin != std::string::npos) text.replace(begin, end - begin, line);
    return text;
}

// What an update writes back: |previous| as it was before the installer,
// taking the tray-port line of |current| when both have one.
std::string MergeUpdatedConfig(const std::string& previous, const std::string& current) {
    const std::string installedLine = ExtractTrayPortLine(current);
    const std::string previousLine = ExtractTrayPortLine(previous);
    // A side without the line has nothing to say about it: keep the user's.
    if (installedLine.empty() || previousLine.empty() || installedLine == previousLine)
        return previous;
    return ReplaceTrayPortLine(previous, installedLine);
}

}  // namespace

std::string ExtractTrayPortLine(const std::string& text) {
    const auto [begin, end] = TrayPortLineBounds(text);
    if (begin == std::string::npos) return {};
    return text.substr(begin, end - begin);
}

std::string ReadConfigText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::in | std::ios::binary);
    if (!in) return {};
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void RewriteConfigAfterFirstInstall(Bootstrapper& bootstrapper,
                                    const std::filesystem::path& configFile) {
    const std::string carried = ExtractTrayPortLine(ReadConfigText(configFile));

    // The template first: the installed file goes only once it can be
    // replaced. A file that stays is overwritten by the template below, or
    // that fails with its own error.
    const ResourceData configTemplate = bootstrapper.LoadResourceData(104, L"CFG");
    std::error_code ignored;
    std::filesystem::remove(configFile, ignored);
    bootstrapper.WriteResourceToFile(configTemplate, configFile);
    if (carried.empty()) return;

    const std::string fresh = ReadConfigText(configFile);
    if (ExtractTrayPortLine(fresh).empty()) return;
    const std::string rewritten = ReplaceTrayPortLine(fresh, carried);
    ReplaceFileContents(configFile, rewritten.data(), rewritten.size());
}

void RewriteConfigAfterUpdate(const std::filesystem::path& configFile,
                              const std::string& previous) {
    // Written back even when nothing changed: it undoes whatever else the
    // installer did to the file, and recreates a file it deleted.
    const std::string merged = MergeUpdatedConfig(previous, ReadConfigText(configFile));
    ReplaceFileContents(configFile, merged.data(), merged.size());
}

}  // namespace sablewick
