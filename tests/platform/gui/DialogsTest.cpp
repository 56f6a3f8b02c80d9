#include "Dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
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
