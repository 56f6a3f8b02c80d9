// Points the program's private working directory ($XDG_CACHE_HOME/Brindlewick/)
// at a fresh scratch directory for the lifetime of the object.
#pragma once

#include <QByteArray>
#include <QTemporaryDir>

#include <string>

#include <sys/stat.h>

class TempDirScope {
public:
    TempDirScope()
        : old_(qgetenv("XDG_CACHE_HOME")), hadOld_(qEnvironmentVariableIsSet("XDG_CACHE_HOME")) {
        qputenv("XDG_CACHE_HOME", dir_.path().toLocal8Bit());
        // Made now, the way the program makes it, so tests can put files there first.
        ::mkdir(Path().c_str(), 0700);
    }
    ~TempDirScope() {
        if (hadOld_)
            qputenv("XDG_CACHE_HOME", old_);
        else
            qunsetenv("XDG_CACHE_HOME");
    }
    // The scratch directory that stands for $XDG_CACHE_HOME, with a trailing '/'.
    std::string Base() const { return dir_.path().toStdString() + "/"; }
    // The working directory with a trailing '/', as the program sees it.
    std::string Path() const { return Base() + "Brindlewick/"; }
    std::string File(const std::string& name) const { return Path() + name; }

private:
    QTemporaryDir dir_;
    QByteArray old_;
    bool hadOld_;
};
