#include "bootstrapper.h"

#include "uac.h"

#include <functional>
#include <utility>

namespace sablewick {

Bootstrapper::Bootstrapper(std::shared_ptr<UAC> elevation)
    : silent(false), update(false), notray(false), uac(std::move(elevation)), companyIdText() {
    // The slot holds a plain pointer: the UAC is only ever signalled while
    // this object lives, so the connection needs no tracking.
    if (uac)
        uac->errorSignal.connect(std::bind(&Bootstrapper::OnError, this, std::placeholders::_1));
}

Bootstrapper::~Bootstrapper() {
    companyIdText.reset();
    uac.reset();
}

void Bootstrapper::SetCompanyId(const std::string& text) { companyIdText = text; }

void Bootstrapper::SetSilent(bool value) { silent = value; }

void Bootstrapper::SetUpdate(bool value) { update = value; }

void Bootstrapper::SetNotray(bool value) { notray = value; }

bool Bootstrapper::IsSilent() const { return silent; }

}  // namespace sablewick
