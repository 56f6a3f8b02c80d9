#include "TraceLines.h"

void TTraceLines::Add(std::string line) {
    if (first_.size() < keep_) {
        first_.push_back(std::move(line));
        return;
    }
    last_.push_back(std::move(line));
    if (last_.size() > keep_) {
        last_.pop_front();
        ++leftOut_;
    }
}

void TTraceLines::Clear() {
    first_.clear();
    last_.clear();
    leftOut_ = 0;
}

std::vector<std::string> TTraceLines::Lines() const {
    std::vector<std::string> lines(first_);
    if (leftOut_ > 0)
        lines.push_back("... " + std::to_string(leftOut_) + (leftOut_ == 1 ? " line" : " lines") +
                        " left out ...");
    lines.insert(lines.end(), last_.begin(), last_.end());
    return lines;
}

std::string TTraceLines::Text() const {
    std::string text;
    for (const std::string& line : Lines()) text += line + "\n";
    return text;
}
