// Sets an environment variable for the lifetime of the object, then puts
// back what was there before (or nothing).
#pragma once

#include <QByteArray>

class EnvScope {
public:
    EnvScope(const char* name, const QByteArray& value)
        : name_(name), old_(qgetenv(name)), hadOld_(qEnvironmentVariableIsSet(name)) {
        qputenv(name_, value);
    }
    ~EnvScope() {
        if (hadOld_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

private:
    const char* name_;
    QByteArray old_;
    bool hadOld_;
};
