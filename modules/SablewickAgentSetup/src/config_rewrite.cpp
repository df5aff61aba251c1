#include "config_rewrite.h"

#include "file_replace.h"
#include "plain_file.h"

#include <cstddef>
#include <utility>

namespace sablewick {

namespace {

constexpr const char* kTrayPortKey = "tray-port";

// The template is 1.6 KB; a configuration a thousand times larger is no
// configuration of the agent's, and is not read.
constexpr std::size_t kLargestConfig = 16u << 20;

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

// The installation is done by now: a write-back that fails leaves the file
// as the installer left it, whole, and must not keep the service and the
// tray program from starting.
void WriteBack(const std::filesystem::path& configFile, const std::string& text) {
    ReplaceWholeFile(configFile, text.data(), text.size());
}

}  // namespace

std::string ExtractTrayPortLine(const std::string& text) {
    const auto [begin, end] = TrayPortLineBounds(text);
    if (begin == std::string::npos) return {};
    return text.substr(begin, end - begin);
}

std::string ReadConfigText(const std::filesystem::path& file) {
    return ReadPlainFile(file, kLargestConfig).value_or(std::string());
}

void RewriteConfigAfterFirstInstall(const ResourceData& configTemplate,
                                    const std::filesystem::path& configFile) {
    const std::string carried = ExtractTrayPortLine(ReadConfigText(configFile));

    // Made in memory and written once: the installed file goes only when its
    // replacement is whole. A template without a tray-port line drops the
    // carried one.
    std::string text(reinterpret_cast<const char*>(configTemplate.data), configTemplate.size);
    if (!carried.empty() && !ExtractTrayPortLine(text).empty())
        text = ReplaceTrayPortLine(std::move(text), carried);
    WriteBack(configFile, text);
}

void RewriteConfigAfterUpdate(const std::filesystem::path& configFile,
                              const std::string& previous) {
    // Written back even when nothing changed: it undoes whatever else the
    // installer did to the file, and recreates a file it deleted.
    WriteBack(configFile, MergeUpdatedConfig(previous, ReadConfigText(configFile)));
}

}  // namespace sablewick
