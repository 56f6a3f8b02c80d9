// A publish as "Publish" runs it after the name prompt, without the window:
// a scratch temporary directory holding a small working capture, scratch
// settings, scripted dialogs, and the publisher of the configured method.
#pragma once

#include "ConfigDirScope.h"
#include "DataDirScope.h"
#include "ErrorReport.h"
#include "FileContents.h"
#include "FtpPublisher.h"
#include "FtpSteps.h"
#include "HttpPublisher.h"
#include "MainWindowFixture.h"
#include "PublishDialogs.h"
#include "ScriptedDialogs.h"
#include "SftpPublisher.h"
#include "TempDirScope.h"
#include "WorkingFiles.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <memory>
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
    DataDirScope data;
    ScriptedDialogsScope dialogs;
    // The FTP publisher's client, kept between publishes as the window keeps
    // its own; tests shorten its time-out.
    std::unique_ptr<TFtpClient> ftp = CreatePublishFtpClient();
    unsigned httpIdleTimeoutMs = 15000;
    unsigned httpAnswerDeadlineMs = 60000;
    // What the last publish reported.
    TPublishResult result;

    void SetUp() override {
        WriteCapture(WorkingFilePath(), 40, 30, [](int x, int y) {
            return uint32_t(x * 6) << 16 | uint32_t(y * 8) << 8 | uint32_t((x * y) & 0xFF);
        });
    }

    // Exports the working capture under name and publishes it; the dialogs
    // shown after the name prompt. An error that escapes is reported as the
    // program's general handler reports it.
    std::vector<ScriptedDialogs::Shown> Publish(const std::string& name) {
        dialogs->shown.clear();
        dialogs->queryAnswers.push_back(name);
        platform::Guarded([&] {
            const std::optional<std::string> exported = ExportForPublish(WorkingFilePath());
            ASSERT_EQ(exported, name);
            std::unique_ptr<TPublisher> publisher;
            if (Settings.transferType == settings::TransferFtp &&
                Settings.ftpEncryption == settings::FtpOverSsh) {
                publisher = std::make_unique<TSftpPublisher>(Settings);
            } else if (Settings.transferType == settings::TransferFtp) {
                publisher = std::make_unique<TFtpPublisher>(Settings, ftp.get());
            } else {
                auto http = std::make_unique<THttpPublisher>(Settings);
                http->IdleTimeoutMs = httpIdleTimeoutMs;
                http->AnswerDeadlineMs = httpAnswerDeadlineMs;
                publisher = std::move(http);
            }
            result = PublishWithDialogs(*publisher, name);
        });
        EXPECT_GE(dialogs->shown.size(), 1u);
        if (dialogs->shown.empty()) return {};
        return {dialogs->shown.begin() + 1, dialogs->shown.end()};
    }

    std::string Exported(const std::string& name) { return ReadFileText(tmp.File(name)); }
};
