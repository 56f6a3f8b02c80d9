#include "FastDIB.h"
#include "FileContents.h"
#include "ProgramUnderTest.h"
#include "XSession.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <fstream>

#include <sys/stat.h>

namespace {

std::map<std::string, bool> Expected(bool outputs) {
    std::map<std::string, bool> states;
    for (const auto& [name, rect] : ProgramUnderTest::Buttons()) states[name] = true;
    for (const char* b :
         {"Crop && adjust", "Save on this computer", "Publish", "Copy to clipboard"})
        states[b] = outputs;
    return states;
}

// Waits until the capture is written and the main window is back.
bool CaptureFinished(XSession& x, ProgramUnderTest& p, const std::vector<uint8_t>& before = {}) {
    return WaitUntil(
        [&] {
            const std::vector<uint8_t> now = ReadFileBytes(p.WorkingFile());
            return !now.empty() && now != before && x.WindowMapped(p.MainWindow());
        },
        20000);
}

class CaptureE2E : public testing::Test {
protected:
    XSession x{1024, 768, 24};
    ProgramUnderTest program{x};

    void SetUp() override { ASSERT_TRUE(x.Ok()) << x.Error(); }
};

} // namespace

TEST_F(CaptureE2E, StaleCaptureIsDeletedAtStart) {
    const std::string stale = program.TempDir() + "brindlewick_temp.bmp";
    std::ofstream(stale) << "left from an earlier run";
    ASSERT_TRUE(program.Start());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(stale)));
    EXPECT_EQ(program.ButtonStates(), Expected(false));
}

TEST_F(CaptureE2E, AWorkingFolderOthersCanOpenStopsTheStartWithAMessage) {
    ::chmod(program.TempDir().c_str(), 0755);
    QProcess* refused = program.Launch();
    EXPECT_TRUE(program.DismissMessageBox()) << "the reason is shown";
    ASSERT_TRUE(refused->waitForFinished(10000));
    EXPECT_EQ(refused->exitCode(), 1);
    EXPECT_TRUE(QDir(QString::fromStdString(program.TempDir())).isEmpty()) << "nothing written";
    EXPECT_EQ(x.WaitForWindow("^Brindlewick!$", 1000), 0u) << "no main window";
}

TEST_F(CaptureE2E, ScreenCaptureHasTheScreensSizeAndDepthWithoutTheWindow) {
    ASSERT_TRUE(program.Start());
    const QRect where = x.WindowGeometry(program.MainWindow());
    ASSERT_TRUE(where.isValid());
    program.Press("Capture screen");
    ASSERT_TRUE(CaptureFinished(x, program));

    TFastDIB capture;
    ASSERT_TRUE(capture.LoadBitmapFile(program.WorkingFile()));
    EXPECT_EQ(capture.Width(), 1024);
    EXPECT_EQ(capture.Height(), 768) << "bottom-up rows";
    EXPECT_EQ(capture.BitCount(), 32);
    EXPECT_EQ(capture.Compression(), 0u);

    // Where the main window stands, the capture shows the background.
    int differing = 0;
    for (int y = where.top(); y <= where.bottom(); y += 3)
        for (int xx = where.left(); xx <= where.right(); xx += 3)
            if (!x.ShowsBackground(xx, y, capture.GetColor(capture.RowOf(y), xx))) ++differing;
    EXPECT_EQ(differing, 0);

    EXPECT_TRUE(WaitUntil([&] { return program.ButtonStates() == Expected(true); }, 5000));
    EXPECT_EQ(program.ButtonStates(), Expected(true));

    // A second capture replaces the first and leaves no other file behind.
    std::ofstream(program.WorkingFile(), std::ios::trunc) << "marker";
    program.Press("Capture screen");
    ASSERT_TRUE(CaptureFinished(x, program, {'m', 'a', 'r', 'k', 'e', 'r'}));
    TFastDIB second;
    ASSERT_TRUE(second.LoadBitmapFile(program.WorkingFile()));
    EXPECT_EQ(second.Width(), 1024);
    const QStringList files =
        QDir(QString::fromStdString(program.TempDir())).entryList(QDir::Files);
    // Beside the capture only the lock that keeps this copy the only one.
    EXPECT_EQ(files, (QStringList{"brindlewick.lock", "brindlewick_temp.bmp"}));
}

TEST_F(CaptureE2E, ClipboardRoundTripKeepsThePixels) {
    ASSERT_TRUE(program.Start());
    program.Press("Capture screen");
    ASSERT_TRUE(CaptureFinished(x, program));
    TFastDIB original;
    ASSERT_TRUE(original.LoadBitmapFile(program.WorkingFile()));

    program.Press("Copy to clipboard");
    // Another client reads the picture from the clipboard and offers it again.
    QByteArray png;
    ASSERT_TRUE(WaitUntil(
        [&] {
            png = x.Run("xclip", {"-o", "-selection", "clipboard", "-t", "image/png"});
            return !png.isEmpty();
        },
        10000));
    const QImage offered = QImage::fromData(png, "PNG");
    ASSERT_EQ(offered.size(), QSize(1024, 768));
    QTemporaryDir dir;
    const QString file = dir.filePath("clip.png");
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(png);
    out.close();
    QProcess* xclip = x.Start("xclip", {"-selection", "clipboard", "-t", "image/png", "-i", file});
    ASSERT_TRUE(xclip->waitForFinished(10000));
    QFile::remove(QString::fromStdString(program.WorkingFile()));

    program.Press("Take image from clipboard");
    TFastDIB back;
    ASSERT_TRUE(WaitUntil([&] { return back.LoadBitmapFile(program.WorkingFile()); }, 20000));
    ASSERT_EQ(back.Width(), original.Width());
    ASSERT_EQ(back.RowCount, original.RowCount);
    int differing = 0;
    for (int y = 0; y < back.RowCount; ++y)
        for (int xx = 0; xx < back.Width(); ++xx)
            if (back.GetColor(back.RowOf(y), xx) != original.GetColor(original.RowOf(y), xx))
                ++differing;
    EXPECT_EQ(differing, 0);
}

TEST_F(CaptureE2E, TextOnTheClipboardKeepsTheEarlierCapture) {
    ASSERT_TRUE(program.Start());
    program.Press("Capture screen");
    ASSERT_TRUE(CaptureFinished(x, program));
    const std::vector<uint8_t> before = ReadFileBytes(program.WorkingFile());

    QProcess* xclip = x.Start("xclip", {"-selection", "clipboard", "-i"});
    xclip->write("only some text");
    xclip->closeWriteChannel();
    ASSERT_TRUE(xclip->waitForFinished(10000));
    program.Press("Take image from clipboard");
    EXPECT_TRUE(program.DismissMessageBox());
    EXPECT_EQ(ReadFileBytes(program.WorkingFile()), before);
    EXPECT_TRUE(WaitUntil([&] { return program.ButtonStates() == Expected(true); }, 5000));
}

TEST(CaptureE2E16, SixteenBitScreenGivesASixteenBitCapture) {
    XSession x(800, 600, 16);
    ASSERT_TRUE(x.Ok()) << x.Error();
    ProgramUnderTest program(x);
    ASSERT_TRUE(program.Start());
    program.Press("Capture screen");
    ASSERT_TRUE(CaptureFinished(x, program));
    TFastDIB capture;
    ASSERT_TRUE(capture.LoadBitmapFile(program.WorkingFile()));
    EXPECT_EQ(capture.Width(), 800);
    EXPECT_EQ(capture.Height(), 600);
    EXPECT_EQ(capture.BitCount(), 16);
    EXPECT_EQ(capture.Compression(), 0u) << "BI_RGB, so 5-5-5";
    EXPECT_EQ(capture.GreenBits, 5);
    // The background's colours survive up to the precision of 5 bits per channel.
    for (QPoint p : {QPoint(10, 10), QPoint(790, 20), QPoint(400, 590)})
        EXPECT_TRUE(x.ShowsBackground(p.x(), p.y(), capture.GetColor(capture.RowOf(p.y()), p.x())))
            << std::hex << capture.GetColor(capture.RowOf(p.y()), p.x());
}
