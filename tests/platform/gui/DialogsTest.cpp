#include "Dialogs.h"
#include "ProgressWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>

TEST(ApplicationTitle, FileNameUpToTheFirstDotWithTheRestInLowerCase) {
    EXPECT_EQ(platform::TitleFromFileName("Brindlewick"), "Brindlewick");
    EXPECT_EQ(platform::TitleFromFileName("BRINDLEWICK.bin.old"), "Brindlewick");
    EXPECT_EQ(platform::TitleFromFileName("brindleWick.exe"), "brindlewick");
    EXPECT_EQ(platform::TitleFromFileName("B"), "B");
    EXPECT_EQ(platform::TitleFromFileName(".hidden"), "");
}

// The URL shown after publishing must be readable whole in its box: the
// edit shows every character of a long text, scrolled to neither side.
TEST(InputBox, IsWideEnoughForItsWholeText) {
    const std::string url = "http://www.example.com/~johndoe/Brindlewick/screencap120826145733"
                            "123454321.jpg";
    int shownWidth = 0, textWidth = -1;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* edit = dialog->findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->text().toStdString(), url);
        textWidth = edit->fontMetrics().horizontalAdvance(edit->text());
        QStyleOptionFrame frame;
        frame.initFrom(edit);
        shownWidth =
            edit->style()->subElementRect(QStyle::SE_LineEditContents, &frame, edit).width();
        dialog->reject();
    });
    platform::dialogs().InputBox("Transfer succeeded!", "URL for capture", url);
    EXPECT_GE(shownWidth, textWidth);
}

TEST(ProgressText, GivesSizesInTheirUnitAndTheRateOnceTimeHasPassed) {
    struct Case {
        uint64_t sent, total, elapsedMs;
        const char* text;
    };
    const Case cases[] = {
        {0, 500, 0, "0 bytes of 500 bytes"},
        {512, 2048, 100, "512 bytes of 2.0 KB"},
        {1536, 3 * 1024 * 1024, 1000, "1.5 KB of 3.0 MB, 1.5 KB/s"},
        {2 * 1024 * 1024, 4 * 1024 * 1024, 2000, "2.0 MB of 4.0 MB, 1.0 MB/s"},
        {300, 1000, 500, "300 bytes of 1000 bytes, 600 bytes/s"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::ProgressText(c.sent, c.total, c.elapsedMs), c.text) << c.text;
}

// The rate shown is that of the bytes themselves: time spent before the
// first of them is not counted, only the last five seconds are, and a count
// that starts again is a new transfer.
TEST(TransferRate, FollowsTheBytesOfTheLastFewSeconds) {
    struct Report {
        int64_t ms;
        uint64_t sent, rate;
    };
    const std::vector<Report> reports = {
        {0, 0, 0},
        {3000, 0, 0},
        {3100, 1000, 0},
        {4100, 101000, 100000},
        {8100, 501000, 100000},
        {9100, 1101000, 200000},
        {12100, 1401000, 162500},
        {12200, 500, 0},
        {13200, 10500, 10000},
    };
    platform::TransferRate rate;
    for (const Report& r : reports) {
        rate.Report(r.ms, r.sent, 2000000);
        EXPECT_EQ(rate.BytesPerSecond(), r.rate) << "at " << r.ms << " ms";
    }
}

// The window shows what it is told; Cancel (or closing it) fires OnCancel
// once, however often it is pressed.
TEST(ProgressWindow, ShowsTheStepAndBytesAndCancelsOnce) {
    auto progress = platform::dialogs().ShowProgress("Publishing");
    int cancels = 0;
    progress->OnCancel = [&] { ++cancels; };
    progress->SetStep("Uploading");
    progress->SetBytes(512, 2048);
    QDialog* window = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowTitle() == "Publishing" && w->isVisible()) window = qobject_cast<QDialog*>(w);
    ASSERT_NE(window, nullptr);
    QStringList labels;
    for (const QLabel* l : window->findChildren<QLabel*>()) labels << l->text();
    EXPECT_TRUE(labels.contains("Uploading")) << labels.join('|').toStdString();
    EXPECT_TRUE(labels.contains("512 bytes of 2.0 KB")) << labels.join('|').toStdString();
    auto* cancel = window->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->text(), "Cancel");
    cancel->click();
    window->reject();
    EXPECT_EQ(cancels, 1);
    progress.reset();
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->windowTitle() == "Publishing" && w->isVisible()) << "closed when released";
}
