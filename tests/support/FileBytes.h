// Whole files as byte strings, for tests that compare what was stored.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}
