#include "bootstrapper.h"
#include "command_line.h"
#include "uac.h"

#include "kyv/win/unique_handle.hpp"
#include "platform/win32.h"
#include "sablewick/util/Win/KyvExcept.hpp"

#include <memory>
#include <string>

namespace {

// The apartment is left once, after the decision has been carried out and
// before the objects go; on the way out of an exception it is left as well.
// Only an apartment actually joined is left: a thread already in another
// one (RPC_E_CHANGED_MODE) must not lose it to this program's CoUninitialize.
class ComApartment {
public:
    ComApartment() : joined_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
    ~ComApartment() { Leave(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    void Leave() {
        if (joined_) ::CoUninitialize();
        joined_ = false;
    }

private:
    bool joined_;
};

void RunSetup() {
    ComApartment apartment;
    int argc = 0;
    kyv::win::unique_hlocal argvBlock(::CommandLineToArgvW(::GetCommandLineW(), &argc));
    // Without the arguments the run cannot know what it was asked to do, and
    // guessing (a first installation) could wipe an agent meant to be updated.
    CheckOSError(argvBlock.get() != nullptr);
    const wchar_t* const* argv = static_cast<const wchar_t* const*>(argvBlock.get());

    const sablewick::RunOptions options = sablewick::ParseCommandLine(argc, argv);

    auto uac = std::make_shared<sablewick::UAC>();
    auto bootstrapper = std::make_unique<sablewick::Bootstrapper>(uac);
    if (options.companyId) bootstrapper->SetCompanyId(*options.companyId);
    bootstrapper->SetSilent(options.silent);
    bootstrapper->SetUpdate(options.update);
    bootstrapper->SetNotray(options.notray);

    if (uac->IsAdmin())
        bootstrapper->Install();
    else if (!bootstrapper->IsSilent())
        uac->RunElevated(sablewick::BuildRelaunchParameters(argc, argv));

    apartment.Leave();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    try {
        RunSetup();
    } catch (...) {
        // The program has no window and no log: a failure that escaped every
        // report ends the run quietly, with the same exit code as any other.
    }
    return 0;
}
