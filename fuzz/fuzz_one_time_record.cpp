// The one-time record, resource "ONETIME" 108, of any content and size:
// LoadOneTimeSettings reads it or keeps the caller's values, and never
// throws.
#include "fuzz/support/fuzz_support.h"

#include "bootstrapper.h"

#include <exception>
#include <typeinfo>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::InputScope scope;
    winsim::Machine& m = fuzz::TheMachine();
    static sablewick::Bootstrapper bootstrapper(nullptr);
    static fuzz::PerMachine<winsim::Resource*> records;
    winsim::Resource* record = records.get([&] {
        return &m.modules.add_resource(winsim::ResourceKey::of_name(L"ONETIME"),
                                       winsim::ResourceKey::of_id(108), 0, {});
    });
    // Exactly the input's bytes, so that a read past them is caught.
    record->own(std::vector<unsigned char>(data, data + size));

    sablewick::snet::types::OneTimeSettings settings;
    try {
        bootstrapper.LoadOneTimeSettings(settings);
    } catch (const std::exception& e) {
        fuzz::Fail("LoadOneTimeSettings never throws", std::string(typeid(e).name()) + ": " + e.what());
    } catch (...) {
        fuzz::Fail("LoadOneTimeSettings never throws", "an exception of no standard type");
    }
    return 0;
}
