// The main window ready to publish: a scratch temporary directory holding a
// small working capture, scratch settings, scripted dialogs, and a watcher
// that records the button states the event loop sees while the flow is busy.
#pragma once

#include "BmpBuilder.h"
#include "ScriptedDialogs.h"
#include "TempDirScope.h"
#include "WorkingFiles.h"
#include "mainFormUnit.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

using Texts = std::vector<std::string>;

inline Texts MessagesOf(const std::vector<ScriptedDialogs::Shown>& shown) {
    Texts out;
    for (const auto& s : shown) out.push_back(s.kind == "message" ? s.text : s.kind);
    return out;
}

inline std::string ReadBytes(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().toStdString();
}

struct PublishFixture : testing::Test {
    TempDirScope tmp;
    QTemporaryDir config;
    ScriptedDialogsScope dialogs;
    TfrmMain w;
    // Button states seen from the event loop while the flow was busy.
    std::vector<std::vector<bool>> busyStates;
    QTimer watcher;

    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        WriteCapture(WorkingFilePath());
        w.UpdateButtons();
        QObject::connect(&watcher, &QTimer::timeout, [this] {
            if (w.isBusy) busyStates.push_back(Buttons());
        });
        watcher.start(1);
    }
    void TearDown() override { qunsetenv("XDG_CONFIG_HOME"); }

    static void WriteCapture(const std::string& path) {
        BmpBuilder b;
        b.width = 40;
        b.height = 30;
        b.bits = 24;
        b.pixels = PackPixels(40, 30, 24, true, [](int x, int y) {
            return uint32_t(x * 6) << 16 | uint32_t(y * 8) << 8 | uint32_t((x * y) & 0xFF);
        });
        b.WriteTo(path);
    }

    std::vector<bool> Buttons() {
        return {w.btnConfig->isEnabled(),       w.btnCaptureScreen->isEnabled(),
                w.btnTakeFromClip->isEnabled(), w.btnCrop->isEnabled(),
                w.btnSaveLocal->isEnabled(),    w.btnPublish->isEnabled(),
                w.btnCopyToClip->isEnabled(),   w.btnAbout->isEnabled()};
    }
    static std::vector<bool> OnlyAbout() {
        return {false, false, false, false, false, false, false, true};
    }

    // Publishes under name; the dialogs shown after the name prompt.
    std::vector<ScriptedDialogs::Shown> Publish(const std::string& name) {
        dialogs->shown.clear();
        dialogs->queryAnswers.push_back(name);
        QTest::mouseClick(w.btnPublish, Qt::LeftButton);
        EXPECT_FALSE(w.isBusy);
        EXPECT_EQ(Buttons(), std::vector<bool>(8, true)) << "buttons enabled again";
        EXPECT_GE(dialogs->shown.size(), 1u);
        if (dialogs->shown.empty()) return {};
        return {dialogs->shown.begin() + 1, dialogs->shown.end()};
    }

    // Every state seen while busy had only About enabled, and there was one.
    void ExpectOnlyAboutWhileWaiting() {
        ASSERT_FALSE(busyStates.empty()) << "the wait ran the event loop while busy";
        for (const auto& s : busyStates) EXPECT_EQ(s, OnlyAbout());
    }

    std::string Exported(const std::string& name) { return ReadBytes(tmp.File(name)); }
};
