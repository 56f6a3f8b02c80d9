// Points the program's data ($XDG_DATA_HOME, where the upload history is)
// at a fresh scratch directory for the lifetime of the object.
#pragma once

#include "EnvScope.h"

#include <QTemporaryDir>

#include <string>

class DataDirScope {
public:
    std::string Path() const { return dir_.path().toStdString(); }
    std::string HistoryFile() const { return Path() + "/Brindlewick/history.sqlite"; }

private:
    QTemporaryDir dir_;
    EnvScope env_{"XDG_DATA_HOME", dir_.path().toUtf8()};
};
