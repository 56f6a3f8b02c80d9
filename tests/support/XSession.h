// A private X desktop for end-to-end tests: Xvfb on a free display, a fixed
// background window, a window manager, and the tools that drive and look at
// it (xdotool, xclip, ImageMagick's import). Every wait is bounded.
#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QThread>

#include <memory>
#include <string>
#include <vector>

class XSession {
public:
    // depth 24 or 16. Starts nothing when the tools are missing: see Ok().
    XSession(int width, int height, int depth);
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    bool Ok() const { return ok_; }
    const std::string& Error() const { return error_; }
    QString Display() const { return display_; }
    // The background shown wherever no window is.
    const QImage& Background() const { return background_; }
    // Whether a colour on the screen shows the background at (x, y): the
    // viewer that paints it rounds colours a little, and a 16-bit screen
    // keeps 5 or 6 bits per channel.
    bool ShowsBackground(int x, int y, QRgb color) const;

    // Runs a tool on this display and returns its standard output; the exit
    // code goes to *exitCode when given.
    QByteArray Run(const QString& program, const QStringList& args, int* exitCode = nullptr,
                   const QByteArray& input = {}, int timeoutMs = 20000) const;
    // Starts a long-running client on this display (stopped with the session).
    QProcess* Start(const QString& program, const QStringList& args,
                    const QProcessEnvironment& extra = {});

    // The first window whose title matches the regular expression, waiting
    // up to timeoutMs for it to be mapped; 0 when none comes.
    unsigned long WaitForWindow(const QString& titleRegex, int timeoutMs = 15000) const;
    bool WindowMapped(unsigned long window) const;
    QRect WindowGeometry(unsigned long window) const;
    void Click(unsigned long window, int x, int y) const;
    void Key(unsigned long window, const QString& key) const;
    QImage Screenshot(unsigned long window = 0) const;

    // A window and where it is on the screen.
    struct WindowInfo {
        unsigned long id = 0;
        QString name;
        QString wmClass; // the class part of WM_CLASS
        QRect rect;      // absolute
    };
    // All windows below window (the root when 0), depth first.
    std::vector<WindowInfo> Descendants(unsigned long window = 0) const;
    // The window manager's list of managed windows: what a taskbar shows.
    std::vector<unsigned long> ClientList() const;
    // Bottom to top.
    std::vector<unsigned long> StackingOrder() const;
    unsigned long ActiveWindow() const;
    // A tooltip window mapped now; 0 when none.
    unsigned long MappedTooltip() const;
    // Pointer actions at root coordinates.
    void MouseMove(int x, int y) const;
    void DoubleClickAt(int x, int y) const;

    // trayer as the notification area at the top right; waits until it owns
    // the tray selection. Null when it does not come up.
    QProcess* StartTrayer();
    // Ends a client started with Start and waits for it.
    void Stop(QProcess* process);
    // Whether a notification area owns the tray selection of screen 0.
    bool TrayAreaRunning() const;

private:
    bool ok_ = false;
    std::string error_;
    QString display_;
    int depth_ = 24;
    QImage background_;
    QString backgroundFile_;
    QString configFile_;
    std::vector<std::unique_ptr<QProcess>> processes_;
    std::unique_ptr<QProcess> server_;
};

// Polls cond every 50 ms until it holds or timeoutMs pass; returns whether it held.
template <class Cond> bool WaitUntil(Cond cond, int timeoutMs) {
    for (int waited = 0;; waited += 50) {
        if (cond()) return true;
        if (waited >= timeoutMs) return false;
        QThread::msleep(50);
    }
}
