// A headless Wayland desktop for end-to-end tests (wayland-session): sway
// with a bar that hosts tray items, pipewire and the screenshot portal, all
// running as an ordinary user made for the tests, since sway will not run as
// root and the portal serves only callers of its own uid. Programs are run
// in it as that user. Every wait is bounded.
#pragma once

#include <QImage>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

class WaylandSession {
public:
    static constexpr int Width = 1280, Height = 720;

    WaylandSession();
    ~WaylandSession();
    WaylandSession(const WaylandSession&) = delete;
    WaylandSession& operator=(const WaylandSession&) = delete;

    bool Ok() const { return ok_; }
    const std::string& Error() const { return error_; }
    // Where the session's helper scripts are (readable by its user).
    QString Script(const QString& name) const;
    // A directory of the session's user, made fresh for this session.
    QString UserDir(const QString& name) const;

    // Runs a program as the session's user on this desktop and returns its
    // standard output; the exit code goes to *exitCode when given.
    QByteArray Run(const QString& program, const QStringList& args, int* exitCode = nullptr,
                   const QProcessEnvironment& extra = {}, const QByteArray& input = {},
                   int timeoutMs = 20000) const;
    // Starts a long-running program as the session's user (stopped with the session).
    QProcess* Start(const QString& program, const QStringList& args,
                    const QProcessEnvironment& extra = {});

    // sway's window tree, and the first window whose title is name (with its
    // "rect" on the screen); an empty object when there is none.
    QJsonObject Tree() const;
    QJsonObject FindWindow(const QString& name) const;
    QJsonObject WaitForWindow(const QString& name, int timeoutMs = 15000) const;
    // The screen less the bar.
    QRect DesktopArea() const;
    // Clicks with the seat's pointer at a point of the screen.
    void Click(int x, int y) const;
    // Shows the picture as the desktop's background, filling the screen.
    bool SetBackground(const QImage& picture);
    // A screenshot through the portal, as any portal client takes one.
    QImage PortalScreenshot() const;

private:
    QStringList EnvArgs(const QProcessEnvironment& extra) const;

    bool ok_ = false;
    std::string error_;
    QTemporaryDir dir_;
    std::unique_ptr<QProcess> session_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};
