// Points the program's settings ($XDG_CONFIG_HOME) at a fresh scratch
// directory for the lifetime of the object.
#pragma once

#include "EnvScope.h"

#include <QTemporaryDir>

class ConfigDirScope {
public:
    bool Valid() const { return dir_.isValid(); }
    QString Path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    EnvScope env_{"XDG_CONFIG_HOME", dir_.path().toUtf8()};
};
