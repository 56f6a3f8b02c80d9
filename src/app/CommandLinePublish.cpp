#include "CommandLinePublish.h"

#include "CaptureImage.h"
#include "CommandLine.h"
#include "ConnectionTest.h"
#include "ConsoleDialogs.h"
#include "ErrorReport.h"
#include "FastDIB.h"
#include "HistoryDialogs.h"
#include "PublishDialogs.h"
#include "Screen.h"
#include "ScreenCapture.h"
#include "WorkingFiles.h"

#include <QEventLoop>
#include <QImage>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Far above any screen's picture; a stream that goes on beyond it is not one.
constexpr size_t MaxPictureBytes = size_t(512) << 20;

std::string Describe(const std::string& file) {
    return file == "-" ? std::string("standard input") : file;
}

std::vector<uint8_t> ReadAll(const std::string& file) {
    const int fd = file == "-" ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("Cannot open " + file + ": " + std::strerror(errno));
    std::vector<uint8_t> data;
    std::vector<uint8_t> chunk(size_t(1) << 20);
    int error = 0;
    for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) error = errno;
        if (got <= 0) break;
        if (data.size() + size_t(got) > MaxPictureBytes) {
            error = EFBIG;
            break;
        }
        data.insert(data.end(), chunk.begin(), chunk.begin() + got);
    }
    if (fd != STDIN_FILENO) ::close(fd);
    if (error)
        throw std::runtime_error("Cannot read " + Describe(file) + ": " + std::strerror(error));
    return data;
}

bool StartsWith(const std::vector<uint8_t>& data, const char* magic, size_t n) {
    return data.size() >= n && std::memcmp(data.data(), magic, n) == 0;
}

// Only the three formats a screenshot tool writes; the format is told by the
// first bytes, never by the name, so standard input works alike.
void Decode(const std::vector<uint8_t>& data, const std::string& file, TFastDIB& bitmap) {
    // A screenshot tool that was cancelled writes nothing.
    if (data.empty())
        throw std::runtime_error("Nothing to publish: " + Describe(file) + " is empty.");
    const std::string unreadable = "The picture in " + Describe(file) + " cannot be read.";
    bool ok = false;
    if (StartsWith(data, "BM", 2)) {
        if (!bitmap.LoadBitmapMemory(data.data(), data.size()))
            throw std::runtime_error(unreadable + " " + bitmap.LoadError);
        ok = true;
    } else {
        const char* format = StartsWith(data, "\x89PNG\r\n\x1a\n", 8) ? "PNG"
                             : StartsWith(data, "\xFF\xD8\xFF", 3)    ? "JPEG"
                                                                      : nullptr;
        if (!format)
            throw std::runtime_error(Describe(file) + " is not a PNG, JPEG or BMP picture.");
        QImage image;
        ok = image.loadFromData(data.data(), int(data.size()), format) &&
             bitmap.AssignImage(image, 24);
    }
    if (!ok || bitmap.Empty()) throw std::runtime_error(unreadable);
}

// The picture as a BMP file of its own beside the working capture file,
// which belongs to the window of a copy that may be running; removed at the end.
class TPictureFile {
public:
    explicit TPictureFile(const TFastDIB& bitmap)
        : Path(TempDirectory() + "brindlewick_publish_" + std::to_string(::getpid()) + ".bmp") {
        errno = 0;
        if (!bitmap.SaveBitmapFile(Path))
            throw std::runtime_error("Cannot create file \"" + Path + "\"" +
                                     (errno ? std::string(". ") + std::strerror(errno) : ""));
    }
    ~TPictureFile() { ::unlink(Path.c_str()); }
    TPictureFile(const TPictureFile&) = delete;
    TPictureFile& operator=(const TPictureFile&) = delete;

    const std::string Path;
};

// Puts the console dialogs in place for the length of the publish.
class TDialogsScope {
public:
    TDialogsScope() {
        auto console = std::make_unique<TConsoleDialogs>(stdout, stderr);
        Console = console.get();
        platform::installDialogs(std::move(console));
    }
    ~TDialogsScope() { platform::installDialogs(nullptr); }
    TDialogsScope(const TDialogsScope&) = delete;
    TDialogsScope& operator=(const TDialogsScope&) = delete;

    TConsoleDialogs* Console;
};

// Runs job with the console dialogs in place; an error that escapes it is
// reported there and fails the run.
template <class Job> int RunOnConsole(Job&& job) {
    TDialogsScope dialogs;
    try {
        return job();
    } catch (...) {
        platform::ReportCurrentException();
    }
    return ExitFailed;
}

} // namespace

int TestFromCommandLine() {
    return RunOnConsole([&] {
        LoadSettings();
        return RunConnectionTest(Settings) ? ExitOk : ExitFailed;
    });
}

int PublishFromCommandLine(const std::string& file) {
    return RunOnConsole([&] {
        TFastDIB bitmap;
        Decode(ReadAll(file), file, bitmap);
        const TPictureFile picture(bitmap);
        bitmap.Release();
        const std::optional<std::string> name = ExportForPublish(picture.Path);
        if (!name) return ExitFailed;
        auto publisher = CreatePublisher(Settings);
        const TPublishResult result = PublishWithDialogs(*publisher, *name);
        // A URL with a warning beside it (a size difference, say) is no success.
        return result.Clean() ? ExitOk : ExitFailed;
    });
}

int CaptureAndPublishFromCommandLine(bool region) {
    return RunOnConsole([&] {
        using platform::ScreenCapture;
        LoadSettings();
        ScreenCapture capture;
        const ScreenCapture::TArea screens[] = {ScreenCapture::caPrimaryScreen,
                                                ScreenCapture::caScreenUnderMouse,
                                                ScreenCapture::caAllScreens};
        capture.Area = region ? ScreenCapture::caRegion : screens[Settings.captureScreens];
        capture.AcceptOnRelease = Settings.regionOnRelease;
        // No window of ours is on the screen to wait for.
        capture.DelayMs = 0;
        QEventLoop loop;
        platform::CaptureOutcome outcome;
        capture.OnCaptured = [&](ScreenCapture*, const platform::CaptureOutcome& o) {
            outcome = o;
            loop.quit();
        };
        capture.Start();
        loop.exec();
        if (outcome.Result == platform::crCancelled) {
            platform::dialogs().MessageBox("Capture cancelled.");
            return ExitFailed;
        }
        if (outcome.Result == platform::crFailed) {
            platform::dialogs().MessageBoxWithDetails(outcome.Message, outcome.Details);
            return ExitFailed;
        }
        TFastDIB bitmap;
        if (!bitmap.AssignImage(outcome.Picture, CaptureDepth(platform::PrimaryScreenDepth())))
            throw std::runtime_error(
                "The screen could not be captured: there is not enough memory for its picture.");
        outcome.Picture = QImage();
        const TPictureFile picture(bitmap);
        bitmap.Release();
        const std::string name = ExportUnderGeneratedName(picture.Path);
        auto publisher = CreatePublisher(Settings);
        return PublishWithDialogs(*publisher, name).Clean() ? ExitOk : ExitFailed;
    });
}

int HistoryFromCommandLine() {
    return RunOnConsole([&] {
        const THistoryStore store(THistoryStore::DefaultPath());
        for (const THistoryEntry& e : store.List({}, false))
            std::printf("%s\t%s\t%s\n", HistoryTimeText(e.Time).c_str(), e.Url.c_str(),
                        e.Name.c_str());
        return std::fflush(stdout) == 0 ? ExitOk : ExitFailed;
    });
}

int DeleteFromCommandLine(const std::string& url) {
    return RunOnConsole([&] {
        THistoryStore store(THistoryStore::DefaultPath());
        const std::optional<THistoryEntry> entry = store.FindByUrl(url);
        if (!entry) {
            platform::dialogs().MessageBox("No picture published at " + url +
                                           " is in the history.");
            return ExitFailed;
        }
        return DeleteWithDialogs(store, *entry, true) ? ExitOk : ExitFailed;
    });
}
