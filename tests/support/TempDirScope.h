// Points the program's temporary directory ($TMPDIR) at a fresh scratch
// directory for the lifetime of the object.
#pragma once

#include <QByteArray>
#include <QTemporaryDir>

#include <string>

class TempDirScope {
public:
    TempDirScope() : old_(qgetenv("TMPDIR")), hadOld_(qEnvironmentVariableIsSet("TMPDIR")) {
        qputenv("TMPDIR", dir_.path().toLocal8Bit());
    }
    ~TempDirScope() {
        if (hadOld_)
            qputenv("TMPDIR", old_);
        else
            qunsetenv("TMPDIR");
    }
    // The directory with a trailing '/', as the program sees it.
    std::string Path() const { return dir_.path().toStdString() + "/"; }
    std::string File(const std::string& name) const { return Path() + name; }

private:
    QTemporaryDir dir_;
    QByteArray old_;
    bool hadOld_;
};
