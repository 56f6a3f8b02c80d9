// Permission checks of files the program creates: a known umask while in
// scope (the usual 022, under which default-made files come out 0644), and
// a file's own mode bits without following a link.
#pragma once

#include <string>

#include <sys/stat.h>

class UmaskScope {
public:
    explicit UmaskScope(mode_t mask = 022) : old_(::umask(mask)) {}
    ~UmaskScope() { ::umask(old_); }
    UmaskScope(const UmaskScope&) = delete;
    UmaskScope& operator=(const UmaskScope&) = delete;

private:
    mode_t old_;
};

// The permission bits of the file itself; 0 when there is none.
inline unsigned ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

inline bool IsLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}
