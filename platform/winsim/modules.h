// Loaded modules: the program's own image with its resources, shell32.dll
// (with or without the export SHGetKnownFolderPath) and wininet.dll, which
// the product loads as a data file for its message table.
#pragma once

#include "platform/win32.h"

#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

class Machine;

// A resource type or name: an integer id (the low 16 bits, as
// MAKEINTRESOURCEW makes them) or a text, compared case-insensitively.
struct ResourceKey {
    std::optional<WORD> id;
    std::wstring name;  // upper case, when no id

    static ResourceKey of(LPCWSTR key);  // MAKEINTRESOURCEW value, "#102" or a name
    static ResourceKey of_id(unsigned id) { return ResourceKey{static_cast<WORD>(id), {}}; }
    static ResourceKey of_name(const std::wstring& name);
    bool operator==(const ResourceKey& o) const { return id == o.id && name == o.name; }
    std::string text() const;  // "102" or "MSI", for logs
};

struct Resource {
    ResourceKey type;
    ResourceKey name;
    WORD language = 1033;
    // The bytes: either borrowed from the program's embedded table (a 36 MB
    // package is not copied) or owned.
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    std::vector<unsigned char> owned;
    // For RT_STRING blocks: the block decoded to one wide unit per UTF-16
    // unit, length units included, so a pointer into it reads like one into
    // the image (the text is not terminated).
    std::vector<wchar_t> wide;

    void own(std::vector<unsigned char> bytes);
};

struct Module {
    std::string name;        // "SablewickAgentSetup.exe", "shell32.dll", "wininet.dll"
    HMODULE handle = nullptr;
    bool loaded = false;     // present in the process
    int load_count = 0;      // LoadLibraryExW references not yet freed
    bool as_datafile = false;
    std::map<std::string, FARPROC> exports;
};

struct Modules {
    Module program;
    Module shell32;
    Module wininet;
    // Whether LoadLibraryExW(L"wininet.dll", ..., LOAD_LIBRARY_AS_DATAFILE)
    // succeeds; when not, it fails with ERROR_MOD_NOT_FOUND.
    bool wininet_loadable = true;
    // The thread's UI language, tried first when a resource has several.
    WORD ui_language = 1033;

    // The program's resources, filled from winsim::program_resources() and
    // changed freely by tests (add, remove, corrupt).
    std::vector<std::shared_ptr<Resource>> resources;

    Resource& add_resource(const ResourceKey& type, const ResourceKey& name, WORD language,
                           std::vector<unsigned char> bytes);
    bool remove_resource(const ResourceKey& type, const ResourceKey& name);
    // A string table built from texts by id, as RT_STRING blocks.
    void set_string(unsigned id, const std::wstring& text, WORD language = 1033);
    std::shared_ptr<Resource> find_resource(const ResourceKey& type, const ResourceKey& name) const;
    // The resource an HRSRC names, removed ones included; null for others.
    Resource* by_hrsrc(HRSRC h) const;
    Module* by_handle(HMODULE h);
    Module* by_name(const std::wstring& name);

    // Profile section "modules": {"shell32": {"present": true,
    // "SHGetKnownFolderPath": true}, "wininet": {"loadable": true},
    // "ui_language": 1033, "resources": {"remove": [{"type": "MSI", "id":
    // 102}], "add": [{"type": "CFG", "id": 104, "language": 1033, "text":
    // "..."} | ..."hex": "00ff"... | ..."file": "host path"...]}}
    void load(const nlohmann::json& section, Machine& m);
    void leaks(std::vector<std::string>& out) const;

private:
    // Resources removed by tests stay alive: the product may hold their HRSRC.
    std::vector<std::shared_ptr<Resource>> removed_;
};

}  // namespace winsim
