#include "platform/winsim/sandbox.h"

#include "platform/winsim/api_support.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include <unistd.h>

namespace winsim {

namespace fs = std::filesystem;

namespace {
bool is_drive_path(const std::string& p) {
    return p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
}
}  // namespace

Sandbox::Sandbox(const fs::path& root) {
    if (root.empty()) {
        std::string tmpl = (fs::temp_directory_path() / "winsim-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::system_error(errno, std::generic_category(), "winsim: cannot make a sandbox");
        root_ = tmpl;
        keep = false;
    } else {
        fs::create_directories(root);
        root_ = fs::absolute(root).lexically_normal();
        if (!root_.has_filename()) root_ = root_.parent_path();
    }
}

Sandbox::~Sandbox() {
    if (!keep) {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
}

fs::path Sandbox::host_path(const std::string& windows_path) const {
    if (!is_drive_path(windows_path)) return fs::path(windows_path);
    fs::path p = root_ / std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(windows_path[0]))));
    std::string rest = windows_path.substr(2);
    std::string part;
    for (char c : rest) {
        if (c == '\\' || c == '/') {
            if (!part.empty()) p /= part;
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) p /= part;
    return p;
}

fs::path Sandbox::host_path(const std::wstring& windows_path) const {
    return host_path(to_utf8(windows_path));
}

std::wstring Sandbox::host_wpath(const std::string& windows_path) const {
    return from_utf8(host_path(windows_path).string());
}

bool Sandbox::contains(const fs::path& host) const {
    auto rel = fs::absolute(host).lexically_normal().lexically_relative(root_);
    return !rel.empty() && *rel.begin() != "..";
}

std::string Sandbox::windows_path(const fs::path& host) const {
    if (!contains(host)) return host.string();
    auto rel = fs::absolute(host).lexically_normal().lexically_relative(root_);
    auto it = rel.begin();
    std::string out = it->string() + ":";
    ++it;
    if (it == rel.end()) return out + "\\";
    for (; it != rel.end(); ++it)
        if (!it->empty()) out += "\\" + it->string();
    return out;
}

}  // namespace winsim
