// Points the program's temporary directory ($TMPDIR) at a fresh scratch
// directory for the lifetime of the object.
#pragma once

#include "EnvScope.h"

#include <QTemporaryDir>

#include <string>

class TempDirScope {
public:
    // The directory with a trailing '/', as the program sees it.
    std::string Path() const { return dir_.path().toStdString() + "/"; }
    std::string File(const std::string& name) const { return Path() + name; }

private:
    QTemporaryDir dir_;
    EnvScope env_{"TMPDIR", dir_.path().toLocal8Bit()};
};
