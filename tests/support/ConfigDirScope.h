// Points the program's settings ($XDG_CONFIG_HOME) at a fresh scratch
// directory for the lifetime of the object.
#pragma once

#include <QByteArray>
#include <QTemporaryDir>

class ConfigDirScope {
public:
    ConfigDirScope()
        : old_(qgetenv("XDG_CONFIG_HOME")), hadOld_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
        qputenv("XDG_CONFIG_HOME", dir_.path().toUtf8());
    }
    ~ConfigDirScope() {
        if (hadOld_)
            qputenv("XDG_CONFIG_HOME", old_);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }
    ConfigDirScope(const ConfigDirScope&) = delete;
    ConfigDirScope& operator=(const ConfigDirScope&) = delete;

    bool Valid() const { return dir_.isValid(); }
    QString Path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QByteArray old_;
    bool hadOld_;
};
