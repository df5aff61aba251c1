// The agent's configuration file after the installer: the installer may leave
// its own "tray-port" line in the file, and that line is the one thing of the
// installed file worth keeping.
#pragma once

#include "resource_data.h"

#include <filesystem>
#include <string>

namespace sablewick {

// The text from the first "tray-port" up to, not including, the next line
// feed (a carriage return before it belongs to the line), or to the end of
// the text. Empty when the text has no "tray-port".
std::string ExtractTrayPortLine(const std::string& text);

// The file's bytes as stored. A missing or unreadable file reads as empty,
// and so does anything but a plain file of one link (a link, a pipe, a file
// with a second name) and a file of more than 16 MiB.
std::string ReadConfigText(const std::filesystem::path& file);

// A run without "update": the file becomes the template again, carrying the
// installer's tray-port line into |configTemplate|'s own. A write that fails leaves
// the file as the installer left it and passes without a word, as in the
// update below.
void RewriteConfigAfterFirstInstall(const ResourceData& configTemplate,
                                    const std::filesystem::path& configFile);

// An update: the user's configuration from before the installer goes back,
// with the installer's tray-port line. Nothing is reported.
void RewriteConfigAfterUpdate(const std::filesystem::path& configFile,
                              const std::string& previous);

}  // namespace sablewick
