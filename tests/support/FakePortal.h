// A scripted screenshot portal (fake_portal.py) on a private session bus,
// for the tests of capturing through the portal.
#pragma once

#include "PrivateBus.h"

#include <QString>
#include <QStringList>

#include <string>

class FakePortal {
public:
    // mode: "png" (answers 0 with a 3x2 PNG written into pngDir), "cancel"
    // (1), "fail" (2), "never", "error" (the call fails), or empty for a
    // bus on which no portal runs.
    explicit FakePortal(const QString& mode, const QString& pngDir = {});

    bool Ok() const { return ok_; }
    const std::string& Error() const { return bus_.Error(); }
    QString Address() const { return bus_.Address(); }
    // What the portal printed about the calls it got so far: one JSON
    // object per Screenshot call or Request.Close.
    QStringList Calls();

private:
    PrivateBus bus_;
    QProcess* portal_ = nullptr;
    QStringList calls_;
    bool ok_ = false;
};
