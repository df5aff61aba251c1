// The sandbox: the Linux folder that holds the simulated machine's disks.
// "C:\Program Files\Sablewick" lives at <root>/C/Program Files/Sablewick, so
// the product's own std::filesystem and fstream calls work on real files.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>

namespace winsim {

class Sandbox {
public:
    // An existing or new folder; an empty path makes a fresh folder under
    // the system's temporary folder, removed again with the machine unless
    // `keep` is set.
    explicit Sandbox(const std::filesystem::path& root = {});
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& root() const { return root_; }
    bool keep = true;

    // "C:\x\y" (or "C:/x/y") to <root>/C/x/y; any other text is taken as a
    // host path already and returned unchanged.
    std::filesystem::path host_path(const std::string& windows_path) const;
    std::filesystem::path host_path(const std::wstring& windows_path) const;
    // The host path as the model hands it to the product: UTF-16 units in a
    // wide string.
    std::wstring host_wpath(const std::string& windows_path) const;
    // Back from a host path under the root to "C:\x\y"; other paths unchanged.
    std::string windows_path(const std::filesystem::path& host) const;
    bool contains(const std::filesystem::path& host) const;

private:
    std::filesystem::path root_;
};

}  // namespace winsim
