#include "WaylandSession.h"

#include "XSession.h" // WaitUntil

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

#include <pwd.h>
#include <unistd.h>

namespace {

const char* const User = "brwkwayland";

// The first node of the type ("window": one with a program) with the name.
QJsonObject FindIn(const QJsonObject& node, const QString& name, const QString& type = "window") {
    const bool typeMatches =
        type == "window" ? node.contains("pid") : node.value("type").toString() == type;
    if (node.value("name").toString() == name && typeMatches) return node;
    for (const char* children : {"nodes", "floating_nodes"})
        for (const QJsonValue& child : node.value(children).toArray()) {
            QJsonObject found = FindIn(child.toObject(), name, type);
            if (!found.isEmpty()) return found;
        }
    return {};
}

} // namespace

WaylandSession::WaylandSession() {
    for (const char* tool :
         {"sway", "swaybg", "swaymsg", "pipewire", "dbus-daemon", "runuser", "wl-copy", "wl-paste"})
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            error_ = std::string("missing tool: ") + tool;
            return;
        }
    if (!QFile::exists("/usr/libexec/xdg-desktop-portal-wlr")) {
        error_ = "missing xdg-desktop-portal-wlr";
        return;
    }
    if (::getuid() != 0) {
        error_ = "the Wayland session is started as root (it makes its own user)";
        return;
    }
    // The user runs them from here: the source tree may lie where it cannot look.
    for (const char* script : {"wayland-session", "portal_screenshot.py", "tray_item.py"})
        if (!QFile::copy(QString(BRWK_TEST_SUPPORT_DIR "/") + script, Script(script))) {
            error_ = std::string("cannot copy ") + script;
            return;
        }
    session_ = std::make_unique<QProcess>();
    session_->start(Script("wayland-session"), {User, dir_.path()});
    QByteArray out;
    QDeadlineTimer deadline(30000);
    while (!out.contains("ready\n") && !deadline.hasExpired() &&
           session_->state() != QProcess::NotRunning) {
        session_->waitForReadyRead(100);
        out += session_->readAllStandardOutput();
    }
    if (!out.contains("ready\n")) {
        error_ = "the Wayland session did not come up: " + out.toStdString() +
                 session_->readAllStandardError().toStdString();
        return;
    }
    ok_ = true;
}

WaylandSession::~WaylandSession() {
    for (auto& p : processes_) {
        p->terminate();
        if (!p->waitForFinished(3000)) p->kill();
        p->waitForFinished(3000);
    }
    processes_.clear();
    if (session_ && session_->state() != QProcess::NotRunning) {
        session_->terminate();
        if (!session_->waitForFinished(10000)) session_->kill();
        session_->waitForFinished(3000);
    }
}

QString WaylandSession::Script(const QString& name) const {
    return dir_.filePath(name);
}

QString WaylandSession::UserDir(const QString& name) const {
    const QString path = dir_.filePath(name);
    QDir().mkpath(path);
    if (const passwd* pw = ::getpwnam(User))
        if (::chown(path.toLocal8Bit().constData(), pw->pw_uid, pw->pw_gid) != 0) return {};
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QStringList WaylandSession::EnvArgs(const QProcessEnvironment& extra) const {
    const passwd* pw = ::getpwnam(User);
    const QString run = dir_.filePath("run");
    QProcessEnvironment env;
    env.insert("PATH", "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin");
    env.insert("HOME", pw ? QString(pw->pw_dir) : dir_.path());
    env.insert("LANG", "C.UTF-8");
    env.insert("XDG_RUNTIME_DIR", run);
    env.insert("XDG_SESSION_TYPE", "wayland");
    env.insert("XDG_CURRENT_DESKTOP", "sway");
    env.insert("WAYLAND_DISPLAY", "wayland-1");
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + run + "/bus");
    const QStringList ipc = QDir(run).entryList({"sway-ipc.*.sock"}, QDir::System);
    if (!ipc.isEmpty()) env.insert("SWAYSOCK", run + "/" + ipc[0]);
    // A sanitizer build's program reports as the tests do.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (qEnvironmentVariableIsSet(name)) env.insert(name, qEnvironmentVariable(name));
    env.insert("LSAN_OPTIONS", "detect_leaks=0");
    for (const QString& key : extra.keys()) env.insert(key, extra.value(key));
    QStringList args{"-u", User, "--", "env", "-i"};
    for (const QString& key : env.keys()) args << key + "=" + env.value(key);
    return args;
}

QByteArray WaylandSession::Run(const QString& program, const QStringList& args, int* exitCode,
                               const QProcessEnvironment& extra, const QByteArray& input,
                               int timeoutMs) const {
    QProcess p;
    p.start("runuser", EnvArgs(extra) << program << args);
    if (!input.isEmpty()) p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(3000);
        if (exitCode) *exitCode = -1;
        return {};
    }
    if (exitCode) *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

QProcess* WaylandSession::Start(const QString& program, const QStringList& args,
                                const QProcessEnvironment& extra) {
    auto p = std::make_unique<QProcess>();
    p->start("runuser", EnvArgs(extra) << program << args);
    p->waitForStarted(5000);
    processes_.push_back(std::move(p));
    return processes_.back().get();
}

QJsonObject WaylandSession::Tree() const {
    return QJsonDocument::fromJson(Run("swaymsg", {"-r", "-t", "get_tree"})).object();
}

QJsonObject WaylandSession::FindWindow(const QString& name) const {
    return FindIn(Tree(), name);
}

QRect WaylandSession::DesktopArea() const {
    const QJsonObject workspace = FindIn(Tree(), "1", "workspace");
    const QJsonObject r = workspace.value("rect").toObject();
    return QRect(r["x"].toInt(), r["y"].toInt(), r["width"].toInt(), r["height"].toInt());
}

QJsonObject WaylandSession::WaitForWindow(const QString& name, int timeoutMs) const {
    QJsonObject window;
    WaitUntil([&] { return !(window = FindWindow(name)).isEmpty(); }, timeoutMs);
    return window;
}

void WaylandSession::Click(int x, int y) const {
    Run("swaymsg", {"seat", "seat0", "cursor", "set", QString::number(x), QString::number(y)});
    Run("swaymsg", {"seat", "seat0", "cursor", "press", "button1"});
    Run("swaymsg", {"seat", "seat0", "cursor", "release", "button1"});
}

bool WaylandSession::SetBackground(const QImage& picture) {
    const QString file = UserDir("background") + "/background.png";
    if (!picture.save(file)) return false;
    const passwd* pw = ::getpwnam(User);
    if (!pw || ::chown(file.toLocal8Bit().constData(), pw->pw_uid, pw->pw_gid) != 0) return false;
    Run("swaymsg", {"output", "*", "bg", file, "fill"});
    // Shown once the portal sees it (away from the bar at the bottom).
    return WaitUntil(
        [&] {
            const QImage shot = PortalScreenshot();
            if (shot.size() != picture.size()) return false;
            for (QPoint p : {QPoint(0, 0), QPoint(Width / 2, Height / 2), QPoint(Width - 1, 300)})
                if ((shot.pixel(p) & 0xFFFFFF) != (picture.pixel(p) & 0xFFFFFF)) return false;
            return true;
        },
        10000);
}

QImage WaylandSession::PortalScreenshot() const {
    const QString out = UserDir("shots") + "/portal.png";
    QFile::remove(out);
    int code = -1;
    Run("/usr/bin/python3", {Script("portal_screenshot.py"), out}, &code);
    return code == 0 ? QImage(out) : QImage();
}
