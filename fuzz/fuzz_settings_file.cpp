// The settings file as LoadSettings meets it: any bytes at all. It loads, or
// it fails with one of the archive's own errors; a loaded record saves as
// the 146 bytes of a whole record and loads back unchanged.
#include "fuzz/support/fuzz_support.h"

#include "bootstrapper.h"

#include <boost/archive/archive_exception.hpp>

#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <typeinfo>

namespace {

sablewick::Bootstrapper& TheBootstrapper() {
    fuzz::TheMachine();
    static sablewick::Bootstrapper bootstrapper(nullptr);
    return bootstrapper;
}

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Same(const sablewick::snet::types::ClientSettings& a,
          const sablewick::snet::types::ClientSettings& b) {
    return a.companyId == b.companyId && a.computerId == b.computerId && a.flagV1 == b.flagV1
           && a.idV2 == b.idV2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::InputScope scope;
    sablewick::Bootstrapper& bootstrapper = TheBootstrapper();
    static fuzz::PerMachine<std::filesystem::path> settingsFile;
    const std::filesystem::path& file = settingsFile.get([&] { return bootstrapper.GetDatFilePath(); });
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) fuzz::Fail("the harness writes the settings file");
    }

    sablewick::snet::types::ClientSettings loaded;
    try {
        loaded = bootstrapper.LoadSettings();
    } catch (const boost::archive::archive_exception& e) {
        switch (e.code) {
        case boost::archive::archive_exception::invalid_signature:
        case boost::archive::archive_exception::unsupported_version:
        case boost::archive::archive_exception::input_stream_error:
            return 0;
        default:
            fuzz::Fail("a bad settings file fails with one of the archive's errors",
                       std::string("archive error ") + std::to_string(e.code) + ": " + e.what()
                           + "\nfile " + fuzz::Shown(bytes));
        }
    } catch (const std::exception& e) {
        fuzz::Fail("a bad settings file fails with one of the archive's errors",
                   std::string(typeid(e).name()) + ": " + e.what() + "\nfile " + fuzz::Shown(bytes));
    }

    bootstrapper.SaveSettings(loaded);
    const std::string saved = ReadAll(file);
    if (saved.size() != 146)
        fuzz::Fail("a saved record is 146 bytes", fuzz::Shown(bytes) + "\nsaved " + fuzz::Shown(saved));
    if (!Same(bootstrapper.LoadSettings(), loaded))
        fuzz::Fail("a saved record loads back unchanged", fuzz::Shown(bytes));
    return 0;
}
