#include "FakePortal.h"

FakePortal::FakePortal(const QString& mode, const QString& pngDir) {
    if (!bus_.Ok()) return;
    if (!mode.isEmpty()) {
        portal_ = bus_.StartScript("fake_portal.py", {mode, pngDir});
        if (!portal_) return;
    }
    ok_ = true;
}

QStringList FakePortal::Calls() {
    if (portal_) calls_ << PrivateBus::Lines(portal_);
    return calls_;
}
