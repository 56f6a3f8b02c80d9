// The main window ready to publish: a scratch temporary directory holding a
// small working capture, scratch settings, scripted dialogs, and a watcher
// that records the button states the event loop sees while the flow is busy.
#pragma once

#include "ConfigDirScope.h"
#include "FileContents.h"
#include "MainWindowFixture.h"
#include "ScriptedDialogs.h"
#include "TempDirScope.h"
#include "WorkingFiles.h"
#include "mainFormUnit.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

using Texts = std::vector<std::string>;

// The dialogs by their message text, or their kind for the other dialogs.
inline Texts MessagesOf(const std::vector<ScriptedDialogs::Shown>& shown) {
    Texts out;
    for (const auto& s : shown) out.push_back(s.kind == "message" ? s.text : s.kind);
    return out;
}

struct PublishFixture : testing::Test {
    TempDirScope tmp;
    ConfigDirScope config;
    ScriptedDialogsScope dialogs;
    TfrmMain w;
    // Button states seen from the event loop while the flow was busy.
    std::vector<ButtonStates> busyStates;
    QTimer watcher;

    void SetUp() override {
        WriteCapture(WorkingFilePath(), 40, 30, [](int x, int y) {
            return uint32_t(x * 6) << 16 | uint32_t(y * 8) << 8 | uint32_t((x * y) & 0xFF);
        });
        w.UpdateButtons();
        QObject::connect(&watcher, &QTimer::timeout, [this] {
            if (w.isBusy) busyStates.push_back(Buttons());
        });
        watcher.start(1);
    }

    ButtonStates Buttons() const { return ::Buttons(w); }
    static ButtonStates OnlyAbout() { return ExpectedButtons(false, false); }

    // Publishes under name; the dialogs shown after the name prompt.
    std::vector<ScriptedDialogs::Shown> Publish(const std::string& name) {
        dialogs->shown.clear();
        dialogs->queryAnswers.push_back(name);
        QTest::mouseClick(w.btnPublish, Qt::LeftButton);
        EXPECT_FALSE(w.isBusy);
        EXPECT_EQ(Buttons(), ExpectedButtons(true, true)) << "buttons enabled again";
        EXPECT_GE(dialogs->shown.size(), 1u);
        if (dialogs->shown.empty()) return {};
        return {dialogs->shown.begin() + 1, dialogs->shown.end()};
    }

    // Every state seen while busy had only About enabled, and there was one.
    void ExpectOnlyAboutWhileWaiting() {
        ASSERT_FALSE(busyStates.empty()) << "the wait ran the event loop while busy";
        for (const auto& s : busyStates) EXPECT_EQ(s, OnlyAbout());
    }

    std::string Exported(const std::string& name) { return ReadFileText(tmp.File(name)); }
};
