#include "ProgramUnderTest.h"

#include <QColor>

#include <sys/stat.h>

const std::map<std::string, QRect>& ProgramUnderTest::Buttons() {
    static const std::map<std::string, QRect> buttons = {
        {"Configure", {8, 16, 137, 33}},
        {"Capture screen", {8, 72, 137, 33}},
        {"Capture region", {8, 112, 137, 33}},
        {"Take image from clipboard", {8, 152, 137, 33}},
        {"Crop && adjust", {8, 208, 137, 33}},
        {"Save on this computer", {8, 248, 137, 33}},
        {"Publish", {8, 288, 137, 33}},
        {"Copy to clipboard", {8, 328, 137, 33}},
        {"About", {96, 376, 57, 17}},
    };
    return buttons;
}

ProgramUnderTest::ProgramUnderTest(XSession& session) : session_(session) {
    // Made now, as the program makes it, so a test can leave files there first.
    ::mkdir(TempDir().c_str(), 0700);
}

ProgramUnderTest::~ProgramUnderTest() {
    if (process_ && process_->state() != QProcess::NotRunning) {
        process_->terminate();
        process_->waitForFinished(5000);
    }
}

QProcessEnvironment ProgramUnderTest::Environment() const {
    QProcessEnvironment env = extra_;
    env.insert("XDG_CACHE_HOME", tmp_.path());
    env.insert("XDG_CONFIG_HOME", config_.path());
    env.insert("XDG_DATA_HOME", data_.path());
    return env;
}

bool ProgramUnderTest::Start(const QStringList& args) {
    process_ = session_.Start(BRWK_PROGRAM, args, Environment());
    window_ = session_.WaitForWindow("^Brindlewick!$");
    // Let the first paint finish before anyone looks.
    return window_ && WaitUntil([&] { return LooksEnabled("About"); }, 10000);
}

QProcess* ProgramUnderTest::Launch(const QStringList& args) {
    return session_.Start(BRWK_PROGRAM, args, Environment());
}

int ProgramUnderTest::RunAnotherCopy(const QStringList& args, int timeoutMs) {
    QProcess* other = Launch(args);
    if (!other->waitForFinished(timeoutMs)) return -1;
    return other->exitStatus() == QProcess::NormalExit ? other->exitCode() : -1;
}

void ProgramUnderTest::Press(const std::string& button) const {
    const QRect r = Buttons().at(button);
    session_.Click(window_, r.center().x(), r.center().y());
}

bool ProgramUnderTest::LooksEnabled(const std::string& button) const {
    const QImage shot = session_.Screenshot(window_);
    if (shot.isNull()) return false;
    const QRect r = Buttons().at(button).adjusted(4, 4, -4, -4);
    int dark = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (QColor(shot.pixel(x, y)).lightness() < 80) ++dark;
    return dark > 10;
}

std::map<std::string, bool> ProgramUnderTest::ButtonStates() const {
    std::map<std::string, bool> states;
    for (const auto& [name, rect] : Buttons()) states[name] = LooksEnabled(name);
    return states;
}

bool ProgramUnderTest::DismissMessageBox(int timeoutMs) const {
    const unsigned long box = session_.WaitForWindow("^Brindlewick$", timeoutMs);
    if (!box) return false;
    session_.Key(box, "Return");
    return WaitUntil([&] { return !session_.WindowMapped(box); }, 5000);
}

int ProgramUnderTest::WaitForExit(int timeoutMs) const {
    if (!process_) return -1;
    if (process_->state() != QProcess::NotRunning && !process_->waitForFinished(timeoutMs))
        return -1;
    return process_->exitStatus() == QProcess::NormalExit ? process_->exitCode() : -1;
}
