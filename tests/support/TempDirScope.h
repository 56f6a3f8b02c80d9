// Points the program's private working directory ($XDG_CACHE_HOME/Brindlewick/)
// at a fresh scratch directory for the lifetime of the object.
#pragma once

#include "EnvScope.h"

#include <QTemporaryDir>

#include <string>

#include <sys/stat.h>

class TempDirScope {
public:
    // Made now, the way the program makes it, so tests can put files there first.
    TempDirScope() { ::mkdir(Path().c_str(), 0700); }
    // The scratch directory that stands for $XDG_CACHE_HOME, with a trailing '/'.
    std::string Base() const { return dir_.path().toStdString() + "/"; }
    // The working directory with a trailing '/', as the program sees it.
    std::string Path() const { return Base() + "Brindlewick/"; }
    std::string File(const std::string& name) const { return Path() + name; }

private:
    QTemporaryDir dir_;
    EnvScope env_{"XDG_CACHE_HOME", dir_.path().toLocal8Bit()};
};
