// Small text helpers of the HTTP client. Positions are 1-based.
#pragma once

#include <string>

// True when pos lies inside s and the character there is ch.
bool IsCharAt(const std::string& s, int pos, char ch);

// Removes ch by mode, compared case-insensitively: 'A' every occurrence,
// 'B' leading and trailing, 'L' leading, 'R' trailing; any other mode
// leaves s unchanged.
std::string StripChar(char mode, char ch, const std::string& s);

// s with ASCII letters in lower case.
std::string LowerCase(std::string s);
