#include "platform/winsim/modules.h"

#include "platform/winsim/api_support.h"
#include "platform/winsim/embedded_resources.h"
#include "platform/winsim/machine.h"

#include <algorithm>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace winsim {

namespace {
std::wstring upper(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(std::towupper(c));
    return s;
}

// Image bases in the shape Windows gives them; a module loaded as a data
// file has its low bit set.
const std::uintptr_t kProgramBase = 0x140000000;
const std::uintptr_t kShell32Base = 0x7FF8A0000000;
const std::uintptr_t kWininetBase = 0x7FF8B0000000;

std::vector<unsigned char> hex_bytes(const std::string& hex) {
    std::vector<unsigned char> out;
    std::string digits;
    for (char c : hex)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    if (digits.size() % 2) throw std::runtime_error("profile: odd number of hex digits");
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

ResourceKey key_from_json(const nlohmann::json& j) {
    if (j.is_number()) return ResourceKey::of_id(j.get<unsigned>());
    return ResourceKey::of_name(from_utf8(j.get<std::string>()));
}

// Reads an RT_STRING block into its 16 entries.
std::vector<std::wstring> decode_block(const Resource& r) {
    std::vector<std::wstring> entries(16);
    std::size_t pos = 0;
    for (auto& e : entries) {
        if (pos + 2 > r.size) break;
        std::size_t len = r.data[pos] | (r.data[pos + 1] << 8);
        pos += 2;
        for (std::size_t k = 0; k < len && pos + 2 <= r.size; ++k, pos += 2)
            e += static_cast<wchar_t>(r.data[pos] | (r.data[pos + 1] << 8));
    }
    return entries;
}

std::vector<unsigned char> encode_block(const std::vector<std::wstring>& entries) {
    std::vector<unsigned char> out;
    auto put = [&out](unsigned v) {
        out.push_back(static_cast<unsigned char>(v & 0xFF));
        out.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
    };
    for (const auto& e : entries) {
        put(static_cast<unsigned>(e.size()));
        for (wchar_t c : e) put(static_cast<unsigned>(c));
    }
    return out;
}
}  // namespace

ResourceKey ResourceKey::of(LPCWSTR key) {
    if (IS_INTRESOURCE(key)) return of_id(static_cast<WORD>(reinterpret_cast<std::uintptr_t>(key)));
    return of_name(key);
}

ResourceKey ResourceKey::of_name(const std::wstring& name) {
    // "#102" names the integer id 102, as FindResourceW reads it.
    if (name.size() > 1 && name[0] == L'#' &&
        std::all_of(name.begin() + 1, name.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
        return of_id(static_cast<unsigned>(std::stoul(to_utf8(name.substr(1)))));
    return ResourceKey{std::nullopt, upper(name)};
}

std::string ResourceKey::text() const { return id ? std::to_string(*id) : to_utf8(name); }

void Resource::own(std::vector<unsigned char> bytes) {
    owned = std::move(bytes);
    data = owned.data();
    size = owned.size();
    wide.clear();
}

Resource& Modules::add_resource(const ResourceKey& type, const ResourceKey& name, WORD language,
                                std::vector<unsigned char> bytes) {
    auto r = std::make_shared<Resource>();
    r->type = type;
    r->name = name;
    r->language = language;
    r->own(std::move(bytes));
    resources.push_back(r);
    return *r;
}

bool Modules::remove_resource(const ResourceKey& type, const ResourceKey& name) {
    bool any = false;
    for (auto it = resources.begin(); it != resources.end();) {
        if ((*it)->type == type && (*it)->name == name) {
            removed_.push_back(*it);
            it = resources.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any;
}

void Modules::set_string(unsigned id, const std::wstring& text, WORD language) {
    const auto type = ResourceKey::of_id(6);
    const auto block = ResourceKey::of_id(id / 16 + 1);
    for (auto& r : resources) {
        if (r->type == type && r->name == block && r->language == language) {
            auto entries = decode_block(*r);
            entries[id % 16] = text;
            // A fresh object: an HRSRC or pointer handed out earlier keeps the old bytes.
            removed_.push_back(r);
            auto fresh = std::make_shared<Resource>(*r);
            fresh->own(encode_block(entries));
            r = fresh;
            return;
        }
    }
    std::vector<std::wstring> entries(16);
    entries[id % 16] = text;
    add_resource(type, block, language, encode_block(entries));
}

std::shared_ptr<Resource> Modules::find_resource(const ResourceKey& type, const ResourceKey& name) const {
    // Language choice as the loader makes it for a program without a
    // thread-language override: the UI language, then neutral, then any.
    std::shared_ptr<Resource> neutral, any;
    for (const auto& r : resources) {
        if (!(r->type == type && r->name == name)) continue;
        if (r->language == ui_language) return r;
        if (r->language == 0 && !neutral) neutral = r;
        if (!any) any = r;
    }
    return neutral ? neutral : any;
}

Resource* Modules::by_hrsrc(HRSRC h) const {
    for (const auto* list : {&resources, &removed_})
        for (const auto& r : *list)
            if (reinterpret_cast<HRSRC>(r.get()) == h) return r.get();
    return nullptr;
}

Module* Modules::by_handle(HMODULE h) {
    if (!h) return nullptr;
    for (Module* m : {&program, &shell32, &wininet})
        if (m->loaded && m->handle == h) return m;
    return nullptr;
}

Module* Modules::by_name(const std::wstring& name) {
    std::wstring n = upper(name);
    auto pos = n.find_last_of(L"\\/");
    if (pos != std::wstring::npos) n = n.substr(pos + 1);
    if (n.find(L'.') == std::wstring::npos) n += L".DLL";
    for (Module* m : {&program, &shell32, &wininet})
        if (upper(from_utf8(m->name)) == n) return m;
    return nullptr;
}

void Modules::load(const nlohmann::json& s, Machine& m) {
    std::wstring exe = m.kernel.module_path;
    auto slash = exe.find_last_of(L"\\/");
    program.name = to_utf8(slash == std::wstring::npos ? exe : exe.substr(slash + 1));
    program.handle = reinterpret_cast<HMODULE>(kProgramBase);
    program.loaded = true;

    shell32.name = "shell32.dll";
    shell32.handle = reinterpret_cast<HMODULE>(kShell32Base);
    shell32.loaded = true;
    bool known_folder_export = true;

    wininet.name = "wininet.dll";
    wininet.handle = reinterpret_cast<HMODULE>(kWininetBase | 1);
    wininet.loaded = false;
    wininet.as_datafile = true;

    if (s.is_object()) {
        if (s.contains("shell32")) {
            shell32.loaded = s["shell32"].value("present", true);
            known_folder_export = s["shell32"].value("SHGetKnownFolderPath", true);
        }
        if (s.contains("wininet")) wininet_loadable = s["wininet"].value("loadable", true);
        ui_language = s.value("ui_language", ui_language);
    }
    if (known_folder_export)
        shell32.exports["SHGetKnownFolderPath"] = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&::SHGetKnownFolderPath));
    shell32.exports["SHGetFolderPathW"] = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&::SHGetFolderPathW));

    std::size_t count = 0;
    const EmbeddedResource* table = program_resources(&count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto& e = table[i];
        auto r = std::make_shared<Resource>();
        r->type = e.type_name ? ResourceKey::of_name(e.type_name) : ResourceKey::of_id(e.type_id);
        r->name = ResourceKey::of_id(e.id);
        r->language = static_cast<WORD>(e.language);
        r->data = e.data;
        r->size = e.size;
        resources.push_back(r);
    }

    if (!s.is_object() || !s.contains("resources")) return;
    const auto& rs = s["resources"];
    for (const auto& rm : rs.value("remove", nlohmann::json::array())) {
        auto type = key_from_json(rm.at("type"));
        if (rm.contains("id") || rm.contains("name")) {
            remove_resource(type, key_from_json(rm.contains("id") ? rm["id"] : rm["name"]));
        } else {
            for (auto it = resources.begin(); it != resources.end();)
                it = (*it)->type == type ? (removed_.push_back(*it), resources.erase(it)) : it + 1;
        }
    }
    for (const auto& add : rs.value("add", nlohmann::json::array())) {
        WORD lang = add.value("language", WORD{1033});
        if (add.contains("strings")) {
            for (const auto& [id, text] : add["strings"].items())
                set_string(static_cast<unsigned>(std::stoul(id)), from_utf8(text.get<std::string>()), lang);
            continue;
        }
        std::vector<unsigned char> bytes;
        if (add.contains("text")) {
            std::string t = add["text"].get<std::string>();
            bytes.assign(t.begin(), t.end());
        } else if (add.contains("hex")) {
            bytes = hex_bytes(add["hex"].get<std::string>());
        } else if (add.contains("file")) {
            std::ifstream in(m.sandbox.host_path(add["file"].get<std::string>()), std::ios::binary);
            if (!in) throw std::runtime_error("profile: cannot read resource file " + add["file"].get<std::string>());
            bytes.assign(std::istreambuf_iterator<char>(in), {});
        }
        auto type = key_from_json(add.at("type"));
        auto name = key_from_json(add.contains("id") ? add["id"] : add.at("name"));
        remove_resource(type, name);
        add_resource(type, name, lang, std::move(bytes));
    }
}

void Modules::leaks(std::vector<std::string>& out) const {
    for (const Module* mod : {&program, &shell32, &wininet})
        if (mod->load_count > 0)
            out.push_back("library " + mod->name + " loaded " + std::to_string(mod->load_count) +
                          " time(s) more than freed");
}

}  // namespace winsim
