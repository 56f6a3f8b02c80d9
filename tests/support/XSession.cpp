#include "XSession.h"

#include <QDir>
#include <QPainter>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <cstdlib>

namespace {

// Asymmetric, with detail everywhere, so a capture shows flips, shifts and
// anything drawn on top of it.
QImage MakeBackground(int width, int height) {
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.setPixel(
                x, y,
                qRgb((x * 255) / width, (y * 255) / height, ((x / 16 + y / 16) % 2) ? 200 : 40));
    return img;
}

} // namespace

XSession::XSession(int width, int height, int depth) : depth_(depth) {
    for (const char* tool :
         {"Xvfb", "xdotool", "xclip", "import", "display", "openbox", "xprop", "xwininfo"})
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            error_ = std::string("missing tool: ") + tool;
            return;
        }
    // -displayfd lets the server pick a free display and tell us which.
    server_ = std::make_unique<QProcess>();
    server_->start("Xvfb", {"-displayfd", "1", "-screen", "0",
                            QString("%1x%2x%3").arg(width).arg(height).arg(depth), "-nolisten",
                            "tcp", "-noreset"});
    QByteArray number;
    for (int i = 0; i < 200 && !number.contains('\n'); ++i) {
        server_->waitForReadyRead(50);
        number += server_->readAllStandardOutput();
    }
    if (!number.contains('\n')) {
        error_ = "Xvfb did not start: " + server_->readAllStandardError().toStdString();
        return;
    }
    display_ = ":" + QString::fromLatin1(number).trimmed();

    background_ = MakeBackground(width, height);
    backgroundFile_ =
        QDir::temp().filePath(QString("brwk-bg-%1.png").arg(QString(display_).remove(':')));
    background_.save(backgroundFile_);
    // The background window goes undecorated at the origin, below everything.
    configFile_ =
        QDir::temp().filePath(QString("brwk-openbox-%1.xml").arg(QString(display_).remove(':')));
    QFile config(configFile_);
    if (config.open(QIODevice::WriteOnly))
        config.write(R"(<?xml version="1.0"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><keepBorder>no</keepBorder></theme>
  <applications>
    <application class="Display*">
      <decor>no</decor>
      <position force="yes"><x>0</x><y>0</y></position>
      <layer>below</layer>
      <focus>no</focus>
    </application>
  </applications>
</openbox_config>
)");
    config.close();
    Start("openbox", {"--config-file", configFile_});
    // Windows mapped while the manager is still starting can be left unmapped.
    const bool managed = WaitUntil(
        [&] {
            return Run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id");
        },
        20000);
    if (!managed) {
        error_ = "openbox did not start on " + display_.toStdString();
        return;
    }
    Start("display", {"-immutable", "-borderwidth", "0", "-geometry",
                      QString("%1x%2+0+0").arg(width).arg(height), backgroundFile_});

    // Ready once the background covers the screen.
    const bool shown = WaitUntil(
        [&] {
            const QImage shot = Screenshot();
            if (shot.isNull()) return false;
            for (QPoint p : {QPoint(0, 0), QPoint(width / 2, height / 2),
                             QPoint(width - 1, height - 1), QPoint(15, 15), QPoint(16, 16)})
                if (!ShowsBackground(p.x(), p.y(), shot.pixel(p))) return false;
            return true;
        },
        20000);
    if (!shown) {
        error_ = "the background window did not appear on " + display_.toStdString();
        // Left for whoever reads the failure.
        Screenshot().save(QDir::temp().filePath("brwk-xsession-failed.png"));
        return;
    }
    ok_ = true;
}

bool XSession::ShowsBackground(int x, int y, QRgb color) const {
    const QRgb want = background_.pixel(x, y);
    const int tolerance = depth_ <= 16 ? 12 : 2;
    return std::abs(qRed(color) - qRed(want)) <= tolerance &&
           std::abs(qGreen(color) - qGreen(want)) <= tolerance &&
           std::abs(qBlue(color) - qBlue(want)) <= tolerance;
}

XSession::~XSession() {
    for (auto& p : processes_) {
        p->terminate();
        if (!p->waitForFinished(3000)) p->kill();
        p->waitForFinished(3000);
    }
    processes_.clear();
    if (server_) {
        server_->terminate();
        if (!server_->waitForFinished(5000)) server_->kill();
        server_->waitForFinished(3000);
    }
    if (!backgroundFile_.isEmpty()) QFile::remove(backgroundFile_);
    if (!configFile_.isEmpty()) QFile::remove(configFile_);
}

QByteArray XSession::Run(const QString& program, const QStringList& args, int* exitCode,
                         const QByteArray& input, int timeoutMs) const {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!input.isEmpty()) p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        if (exitCode) *exitCode = -1;
        return {};
    }
    if (exitCode) *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

QProcess* XSession::Start(const QString& program, const QStringList& args,
                          const QProcessEnvironment& extra) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    // The test itself may run offscreen; its clients belong on this display.
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert(extra);
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(program, args);
    p->waitForStarted(5000);
    processes_.push_back(std::move(p));
    return processes_.back().get();
}

unsigned long XSession::WaitForWindow(const QString& titleRegex, int timeoutMs) const {
    unsigned long found = 0;
    WaitUntil(
        [&] {
            const QList<QByteArray> ids =
                Run("xdotool", {"search", "--onlyvisible", "--name", titleRegex}).split('\n');
            for (const QByteArray& id : ids)
                if (!id.trimmed().isEmpty()) {
                    found = id.trimmed().toULong();
                    return true;
                }
            return false;
        },
        timeoutMs);
    return found;
}

bool XSession::WindowMapped(unsigned long window) const {
    const QByteArray info = Run("xwininfo", {"-id", QString::number(window)});
    return info.contains("Map State: IsViewable");
}

QRect XSession::WindowGeometry(unsigned long window) const {
    const QString out =
        QString::fromLatin1(Run("xdotool", {"getwindowgeometry", QString::number(window)}));
    QRegularExpressionMatch pos = QRegularExpression(R"(Position: (-?\d+),(-?\d+))").match(out);
    QRegularExpressionMatch size = QRegularExpression(R"(Geometry: (\d+)x(\d+))").match(out);
    if (!pos.hasMatch() || !size.hasMatch()) return {};
    return {pos.captured(1).toInt(), pos.captured(2).toInt(), size.captured(1).toInt(),
            size.captured(2).toInt()};
}

void XSession::Click(unsigned long window, int x, int y) const {
    Run("xdotool", {"mousemove", "--window", QString::number(window), QString::number(x),
                    QString::number(y), "click", "1"});
}

void XSession::Key(unsigned long window, const QString& key) const {
    Run("xdotool", {"windowfocus", "--sync", QString::number(window)});
    Run("xdotool", {"key", key});
}

QImage XSession::Screenshot(unsigned long window) const {
    const QByteArray png =
        Run("import", {"-window", window ? QString::number(window) : QString("root"), "png:-"});
    return QImage::fromData(png, "PNG").convertToFormat(QImage::Format_RGB32);
}

std::vector<XSession::WindowInfo> XSession::Descendants(unsigned long window) const {
    const QStringList which =
        window ? QStringList{"-id", QString::number(window)} : QStringList{"-root"};
    const QString out = QString::fromLatin1(Run("xwininfo", QStringList{"-tree"} + which));
    // 0x60000d "name": ("instance" "Class")  22x22+0+0  +1001+1
    static const QRegularExpression line(
        R"re(^\s+(0x[0-9a-f]+) (?:"(.*)"|\(has no name\)): \((?:"[^"]*" "([^"]*)")?\)\s+)re"
        R"re((\d+)x(\d+)[+-]-?\d+[+-]-?\d+\s+\+?(-?\d+)\+?(-?\d+))re");
    std::vector<WindowInfo> windows;
    for (const QString& l : out.split('\n')) {
        const QRegularExpressionMatch m = line.match(l);
        if (!m.hasMatch()) continue;
        WindowInfo w;
        w.id = m.captured(1).toULong(nullptr, 16);
        w.name = m.captured(2);
        w.wmClass = m.captured(3);
        w.rect = QRect(m.captured(6).toInt(), m.captured(7).toInt(), m.captured(4).toInt(),
                       m.captured(5).toInt());
        windows.push_back(w);
    }
    return windows;
}

namespace {

std::vector<unsigned long> WindowIds(const QByteArray& xpropOutput) {
    std::vector<unsigned long> ids;
    static const QRegularExpression id("0x[0-9a-f]+");
    const QString text = QString::fromLatin1(xpropOutput).section('#', 1);
    for (const QRegularExpressionMatch& m : id.globalMatch(text))
        ids.push_back(m.captured().toULong(nullptr, 16));
    return ids;
}

} // namespace

std::vector<unsigned long> XSession::ClientList() const {
    return WindowIds(Run("xprop", {"-root", "_NET_CLIENT_LIST"}));
}

std::vector<unsigned long> XSession::StackingOrder() const {
    return WindowIds(Run("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"}));
}

unsigned long XSession::ActiveWindow() const {
    const std::vector<unsigned long> ids = WindowIds(Run("xprop", {"-root", "_NET_ACTIVE_WINDOW"}));
    return ids.empty() ? 0 : ids.front();
}

unsigned long XSession::MappedTooltip() const {
    const QString top = QString::fromLatin1(Run("xwininfo", {"-root", "-children"}));
    static const QRegularExpression id(R"(^\s+(0x[0-9a-f]+) )",
                                       QRegularExpression::MultilineOption);
    for (const QRegularExpressionMatch& m : id.globalMatch(top)) {
        const unsigned long w = m.captured(1).toULong(nullptr, 16);
        if (Run("xprop", {"-id", QString::number(w), "_NET_WM_WINDOW_TYPE"})
                .contains("_NET_WM_WINDOW_TYPE_TOOLTIP") &&
            WindowMapped(w))
            return w;
    }
    return 0;
}

void XSession::MouseMove(int x, int y) const {
    Run("xdotool", {"mousemove", QString::number(x), QString::number(y)});
}

void XSession::DoubleClickAt(int x, int y) const {
    Run("xdotool", {"mousemove", QString::number(x), QString::number(y), "click", "--repeat", "2",
                    "--delay", "80", "1"});
}

bool XSession::TrayAreaRunning() const {
    // The selection's owner is the only window named "panel" of class trayer.
    for (const WindowInfo& w : Descendants())
        if (w.name == "panel" && w.wmClass == "trayer") return true;
    return false;
}

QProcess* XSession::StartTrayer() {
    if (QStandardPaths::findExecutable("trayer").isEmpty()) return nullptr;
    QProcess* trayer = Start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel",
                                        "--width", "120", "--height", "24"});
    if (!WaitUntil([&] { return TrayAreaRunning(); }, 15000)) return nullptr;
    return trayer;
}

void XSession::Stop(QProcess* process) {
    if (!process || process->state() == QProcess::NotRunning) return;
    process->terminate();
    if (!process->waitForFinished(5000)) process->kill();
    process->waitForFinished(3000);
}
