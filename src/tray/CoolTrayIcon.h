// A form's icon in the notification area: an image with a tip, click and
// double-click events told apart by the system's double-click time, and
// minimise-to-tray: while MinimizeToTray is set, minimising the form hides it
// and its taskbar entry and leaves only the icon.
#pragma once

#include "Messages.h"
#include "TrayArea.h"

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

class QWidget;
class TCoolTrayIcon;

enum TMouseButton { mbLeft, mbRight, mbMiddle };
// Bits of a TShiftState.
enum TShiftFlag : unsigned {
    ssShift = 1,
    ssAlt = 2,
    ssCtrl = 4,
    ssLeft = 8,
    ssRight = 16,
    ssMiddle = 32,
};
using TShiftState = unsigned;

using TTrayNotifyEvent = std::function<void(TCoolTrayIcon* Sender)>;
using TTrayMouseEvent = std::function<void(TCoolTrayIcon* Sender, TMouseButton Button,
                                           TShiftState Shift, int X, int Y)>;
using TTrayMouseMoveEvent =
    std::function<void(TCoolTrayIcon* Sender, TShiftState Shift, int X, int Y)>;
using TCycleEvent = std::function<void(TCoolTrayIcon* Sender, int NextIndex)>;

// How far a left click on the icon has come. ClickTimer runs in ckHeld,
// ckPending and ckDoubleClicked.
enum TClickState {
    ckIdle,
    ckHeld,          // pressed within the double-click time
    ckPending,       // released within it: a click, unless a double click follows
    ckDoubleClicked, // the rest of the double-click time fires nothing
    ckHeldLong,      // still pressed after it: a click on release
};

class TCoolTrayIcon : public QObject {
    Q_OBJECT
public:
    // The callback message of the icon, as TrayWindow receives it.
    static constexpr unsigned WM_TRAYNOTIFY = 0x800;
    static constexpr unsigned IconId = 1;
    // Characters of Hint that fit the tip.
    static constexpr size_t MaxTipLength = 127;

    // owner: the form minimised to the icon and restored from it; may be null.
    explicit TCoolTrayIcon(QWidget* owner);
    ~TCoolTrayIcon() override;
    TCoolTrayIcon(const TCoolTrayIcon&) = delete;
    TCoolTrayIcon& operator=(const TCoolTrayIcon&) = delete;

    const QIcon& Icon() const { return FIcon; }
    void SetIcon(const QIcon& icon);
    const std::string& Hint() const { return FHint; }
    void SetHint(const std::string& hint);
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool show);
    bool IconVisible() const { return FIconVisible; }
    void SetIconVisible(bool visible);
    // Clear: mouse input on the icon is ignored.
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool enabled);
    bool MinimizeToTray = false;

    // Part of the component's interface, but nothing here cycles icons:
    // setting these changes nothing.
    bool StartMinimized = false;
    int IconIndex = 0;
    int CycleInterval = 0;
    bool CycleIcons = false;
    std::vector<QIcon> IconList;
    bool DesignPreview = false;

    // Shown at the pointer on a right click (a left press with LeftPopup);
    // a double click without LeftPopup triggers its default action. Owned
    // by whoever sets it.
    QPointer<QMenu> PopupMenu;
    bool LeftPopup = false;

    TTrayNotifyEvent OnClick;
    TTrayNotifyEvent OnDblClick;
    TTrayMouseEvent OnMouseDown;
    TTrayMouseEvent OnMouseUp;
    TTrayMouseMoveEvent OnMouseMove;
    TCycleEvent OnCycle; // never fired: no cycling

    // Sets IconVisible and shows the icon (refreshed from Icon and Hint).
    void AddTrayIcon();
    // Shows the current Icon and Hint on the icon.
    void UpdateTrayIcon();
    // Clears IconVisible and takes the icon away.
    void RemoveTrayIcon();
    // Shows the owner again, in normal state and in front.
    void RestoreMainWindow();
    // Hides the owner and its taskbar entry.
    void HideMainWindow();

    const platform::TrayIconData& NotifyData() const { return FNotifyData; }
    platform::WindowId TrayWindow() const { return FTrayWindow; }
    TClickState ClickState() const { return FClickState; }
    // Whether the owner is hidden to the icon at the moment.
    bool HiddenToTray() const { return FHiddenToTray; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

    virtual void FireClick();
    virtual void FireDblClick();
    virtual void FireMouseDown(TMouseButton button);
    virtual void FireMouseUp(TMouseButton button);
    virtual void FireMouseMove();

private:
    // Runs once the owner has set the designed properties.
    void Loaded();
    void RefreshNotifyData();
    intptr_t TrayWndProc(unsigned msg, uintptr_t wParam, intptr_t lParam);
    void IconMessage(unsigned mouseMessage);
    void ClickButtonDown();
    void ClickButtonUp();
    void ClickDoubleClicked();
    void ClickTimerExpired();
    void OwnerMinimized();
    void TrayAreaLost();
    void BringOwnerToFront();
    void ShowPopupMenu();

    QPointer<QWidget> FOwner;
    QIcon FIcon;
    std::string FHint;
    bool FShowHint = true;
    bool FIconVisible = true;
    bool FEnabled = true;
    bool FLoading = true;
    bool FHiddenToTray = false;
    platform::TrayIconData FNotifyData;
    platform::WindowId FTrayWindow = 0;
    QTimer FClickTimer;
    TClickState FClickState = ckIdle;
};
