#include "ConsoleDialogs.h"

#include "PublishDialogs.h"

namespace {

class TSilentProgress : public platform::Progress {
public:
    void SetStep(const std::string&) override {}
    void SetBytes(uint64_t, uint64_t) override {}
};

class TConsoleLog : public platform::Log {
public:
    explicit TConsoleLog(std::FILE* out) : Out(out) {}
    void Add(const std::string& line) override {
        std::fprintf(Out, "%s\n", line.c_str());
        std::fflush(Out);
    }
    void Finish() override {}

private:
    std::FILE* Out;
};

} // namespace

void TConsoleDialogs::MessageBox(const std::string& text) {
    std::fprintf(Err, "%s\n", text.c_str());
    std::fflush(Err);
}

bool TConsoleDialogs::InputQuery(const std::string&, const std::string&, std::string&) {
    return true;
}

void TConsoleDialogs::InputBox(const std::string& caption, const std::string& prompt,
                               const std::string& text) {
    if (caption != PublishedUrlCaption) {
        std::fprintf(Err, "%s: %s\n", prompt.c_str(), text.c_str());
        std::fflush(Err);
        return;
    }
    std::fprintf(Out, "%s\n", text.c_str());
    std::fflush(Out);
}

// Nobody can answer: the question is shown as a message and refused.
bool TConsoleDialogs::Confirm(const std::string& text) {
    MessageBox(text);
    return false;
}

void TConsoleDialogs::MessageBoxWithDetails(const std::string& text, const std::string&) {
    MessageBox(text);
}

std::unique_ptr<platform::Progress> TConsoleDialogs::ShowProgress(const std::string&) {
    return std::make_unique<TSilentProgress>();
}

std::unique_ptr<platform::Log> TConsoleDialogs::ShowLog(const std::string&) {
    return std::make_unique<TConsoleLog>(Out);
}
