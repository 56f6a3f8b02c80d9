#include "ScriptedDialogs.h"

std::vector<std::string> ScriptedDialogs::Messages() const {
    std::vector<std::string> out;
    for (const Shown& s : shown)
        if (s.kind == "message") out.push_back(s.text);
    return out;
}

void ScriptedDialogs::Record(Shown s) {
    shown.push_back(s);
    if (whileOpen) whileOpen(s);
}

void ScriptedDialogs::MessageBox(const std::string& text) {
    Record({"message", platform::ApplicationTitle(), "", text, ""});
}

bool ScriptedDialogs::InputQuery(const std::string& caption, const std::string& prompt,
                                 std::string& value) {
    Record({"query", caption, prompt, value, ""});
    if (queryAnswers.empty()) return false;
    std::optional<std::string> answer = queryAnswers.front();
    queryAnswers.pop_front();
    if (!answer) return false;
    value = *answer;
    return true;
}

void ScriptedDialogs::InputBox(const std::string& caption, const std::string& prompt,
                               const std::string& text) {
    Record({"inputbox", caption, prompt, text, ""});
}

bool ScriptedDialogs::Confirm(const std::string& text) {
    Record({"confirm", "Confirm", "", text, ""});
    if (confirmAnswers.empty()) return false;
    bool yes = confirmAnswers.front();
    confirmAnswers.pop_front();
    return yes;
}

bool ScriptedDialogs::SecretQuery(const std::string& caption, const std::string& prompt,
                                  std::string& value) {
    Record({"secret", caption, prompt, "", ""});
    if (queryAnswers.empty() || !queryAnswers.front()) {
        if (!queryAnswers.empty()) queryAnswers.pop_front();
        return false;
    }
    value = *queryAnswers.front();
    queryAnswers.pop_front();
    return true;
}

void ScriptedDialogs::MessageBoxWithDetails(const std::string& text, const std::string& details) {
    Record({"message", platform::ApplicationTitle(), "", text, details});
}

std::unique_ptr<platform::Progress> ScriptedDialogs::ShowProgress(const std::string&) {
    ++progressWindowsOpen;
    return std::make_unique<Progress>(*this);
}

std::unique_ptr<platform::Log> ScriptedDialogs::ShowLog(const std::string& caption) {
    logCaptions.push_back(caption);
    return std::make_unique<Log>(*this);
}

void ScriptedDialogs::Log::Add(const std::string& line) {
    owner_.logLines.push_back(line);
    if (owner_.whileLog) owner_.whileLog(*this, line);
}

ScriptedDialogs::Progress::~Progress() {
    --owner_.progressWindowsOpen;
}

void ScriptedDialogs::Progress::SetStep(const std::string& step) {
    owner_.progressSteps.push_back(step);
    if (owner_.whileProgress) owner_.whileProgress(*this);
}

void ScriptedDialogs::Progress::SetBytes(uint64_t sent, uint64_t total) {
    owner_.progressSent = sent;
    owner_.progressTotal = total;
    if (!clock_.isValid()) clock_.start();
    rate_.Report(clock_.elapsed(), sent, total);
    owner_.progressRate = rate_.BytesPerSecond();
    if (owner_.whileProgress) owner_.whileProgress(*this);
}

ScriptedDialogsScope::ScriptedDialogsScope() {
    auto d = std::make_unique<ScriptedDialogs>();
    dialogs_ = d.get();
    platform::installDialogs(std::move(d));
}

ScriptedDialogsScope::~ScriptedDialogsScope() {
    platform::installDialogs(nullptr);
}
