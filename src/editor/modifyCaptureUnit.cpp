#include "modifyCaptureUnit.h"

#include "Dialogs.h"
#include "ErrorReport.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

TfrmModifyCapture* frmModifyCapture = nullptr;

using capture::TSaveResult;
using capture::TViewResult;

namespace {

const char* const UnsupportedDepthText =
    "Not supported display color-amount. Change display settings!";
const char* const CropRefusedText =
    "You cannot crop image if you have resized image. Close window and try again.";
const char* const SaveQuestion = "Do you want to save changes?";
const char* const SaveFailedText =
    "The changes could not be saved. The capture file was left as it was.";

// The form's client area below the menu; it hands its events to the form.
class TCaptureCanvas : public QWidget {
public:
    explicit TCaptureCanvas(TfrmModifyCapture* form) : QWidget(form), form_(form) {
        setMouseTracking(true);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        form_->FormPaint(painter);
    }
    void mousePressEvent(QMouseEvent* e) override {
        form_->FormMouseDown(e->position().toPoint().x(), e->position().toPoint().y());
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        form_->FormMouseMove(e->position().toPoint().x(), e->position().toPoint().y());
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        form_->FormMouseUp(e->position().toPoint().x(), e->position().toPoint().y());
    }

private:
    TfrmModifyCapture* form_;
};

} // namespace

TfrmModifyCapture::TfrmModifyCapture(QWidget* parent) : QDialog(parent) {
    FormCreate();
}

TfrmModifyCapture::~TfrmModifyCapture() = default;

void TfrmModifyCapture::FormCreate() {
    setObjectName("frmModifyCapture");
    setWindowTitle("Modify capture");
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);

    MainMenu1 = new QMenuBar(this);
    Close1 = MainMenu1->addAction("Close");
    Modify1 = MainMenu1->addMenu("Modify");
    Resizeby751 = Modify1->addAction("Resize by 75%");
    Resizeby501 = Modify1->addAction("Resize by 50%");
    Resizeby251 = Modify1->addAction("Resize by 25%");
    FillBlack = Modify1->addAction("Fill area with black");
    connect(Close1, &QAction::triggered, this,
            [this] { platform::Guarded([this] { Close1Click(); }); });
    connect(Resizeby751, &QAction::triggered, this,
            [this] { platform::Guarded([this] { Resizeby751Click(); }); });
    connect(Resizeby501, &QAction::triggered, this,
            [this] { platform::Guarded([this] { Resizeby501Click(); }); });
    connect(Resizeby251, &QAction::triggered, this,
            [this] { platform::Guarded([this] { Resizeby251Click(); }); });
    connect(FillBlack, &QAction::triggered, this,
            [this] { platform::Guarded([this] { FillBlackClick(); }); });

    canvas_ = new TCaptureCanvas(this);
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setFixedHeight(19);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(MainMenu1);
    layout->addWidget(canvas_, 1);
    layout->addWidget(StatusBar1);
    // The window takes the size the picture asks for, however small.
    layout->setSizeConstraint(QLayout::SetNoConstraint);

    setGeometry(192, 107, 783, 540);

    // The window manager tells of the frame by no event of its own.
    frameTimer_ = new QTimer(this);
    frameTimer_->setInterval(FramePollMs);
    connect(frameTimer_, &QTimer::timeout, this, [this] { FitOnceFramed(); });
}

void TfrmModifyCapture::FormShow() {
    if (!editor_.Load(CaptureFile)) {
        // Told after the showing, like the depth message.
        const std::string text =
            "The picture in " + CaptureFile + " cannot be read. " + editor_.LoadError();
        QTimer::singleShot(0, this, [text] { platform::dialogs().MessageBox(text); });
    }
    depthReported_ = false;
    refusalShownOnMove_ = false;
    FitToScreen();
    fitPending_ = true;
    framePolls_ = 0;
    frameTimer_->start();
    Redraw();
}

QMargins TfrmModifyCapture::FrameMargins() const {
    auto marginsOf = [](const QWidget* w) {
        const QRect inner = w->geometry(), outer = w->frameGeometry();
        return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                        outer.right() - inner.right(), outer.bottom() - inner.bottom());
    };
    if (windowHandle() && !windowHandle()->frameMargins().isNull())
        return windowHandle()->frameMargins();
    // Before the window manager has framed this window, the frame of the
    // window that opened it is the best guess.
    const QWidget* opener = QApplication::activeWindow();
    return opener && opener != this ? marginsOf(opener) : QMargins();
}

void TfrmModifyCapture::FitToScreen() {
    const QScreen* where = screen();
    const QRect area = where ? where->availableGeometry() : QRect();
    const QMargins frame = FrameMargins();
    const QRect room = area.marginsRemoved(frame);
    const capture::TWindowFit fit =
        capture::FitWindow(editor_.PictureSize(), {room.width(), room.height()});
    // A shrunk picture keeps its shape too: the designed view, the window
    // less its margins, would stretch it sideways by most of the margin.
    editor_.SetKeepProportions(fit.keepProportions || editor_.Resized);
    resize(fit.window.width, fit.window.height);
    if (area.isEmpty()) return;
    // Moved only as far as it must be to come wholly onto the screen.
    const QSize outer = size().grownBy(frame);
    const QPoint at = geometry().topLeft() - QPoint(frame.left(), frame.top());
    const int x = std::max(area.left(), std::min(at.x(), area.right() + 1 - outer.width()));
    const int y = std::max(area.top(), std::min(at.y(), area.bottom() + 1 - outer.height()));
    // Placed by the client area with the frame as reckoned here: move()
    // would reckon with the toolkit's own idea of the frame, which lags
    // behind the window manager's.
    if (QPoint(x, y) != at) setGeometry(QRect(QPoint(x + frame.left(), y + frame.top()), size()));
}

void TfrmModifyCapture::FitOnceFramed() {
    // The frame is known once the window manager has put one round the
    // window, some time after the showing: then fit once more with it.
    if (!fitPending_) return;
    if (isVisible() && windowHandle() && !windowHandle()->frameMargins().isNull()) {
        fitPending_ = false;
        FitToScreen();
    } else if (++framePolls_ >= MaxFramePolls) {
        fitPending_ = false; // no window manager frames it
    }
    if (!fitPending_) frameTimer_->stop();
}

void TfrmModifyCapture::FormActivate() {
    FitOnceFramed();
    if (isVisible()) canvas_->repaint();
}

TViewResult TfrmModifyCapture::RebuildView() {
    TViewResult result = editor_.BuildView({width(), height()});
    if (result == TViewResult::vrUnsupportedDepth && !depthReported_) {
        // Told once per showing, and never from inside a paint: a modal box
        // there would bring the next repaint and the next box.
        depthReported_ = true;
        QTimer::singleShot(0, this, [] { platform::dialogs().MessageBox(UnsupportedDepthText); });
    }
    return result;
}

void TfrmModifyCapture::Redraw() {
    RebuildView();
    canvas_->update();
}

void TfrmModifyCapture::FormPaint(QPainter& painter) {
    if (RebuildView() == TViewResult::vrShown) editor_.View().PaintTo(painter, 0, 0);
}

void TfrmModifyCapture::FormResize() {
    Redraw();
}

void TfrmModifyCapture::FormMouseDown(int x, int y) {
    if (!editor_.MouseDown(x, y)) {
        platform::dialogs().MessageBox(CropRefusedText);
        return;
    }
    Redraw();
}

void TfrmModifyCapture::FormMouseMove(int x, int y) {
    // After a shrink the first move over the picture says that cropping is
    // refused, and every press says it again. A box on every move would
    // leave no way back to the menu.
    if (editor_.Resized && !refusalShownOnMove_) {
        refusalShownOnMove_ = true;
        platform::dialogs().MessageBox(CropRefusedText);
        return;
    }
    editor_.MouseMove(x, y);
    Redraw();
}

void TfrmModifyCapture::FormMouseUp(int x, int y) {
    editor_.MouseUp(x, y);
    Redraw();
}

void TfrmModifyCapture::ResizeImage(double factor) {
    if (!editor_.ResizeImage(factor)) return;
    FitToScreen();
    Redraw();
}

void TfrmModifyCapture::FillBlackClick() {
    if (editor_.FillBlack()) Redraw();
}

void TfrmModifyCapture::Close1Click() {
    close();
}

void TfrmModifyCapture::FormClose(QCloseEvent* event) {
    event->accept();
    if (editor_.HasChanges() && platform::dialogs().Confirm(SaveQuestion) &&
        editor_.Save(CaptureFile) == TSaveResult::srFailed) {
        // The edits stay on screen so the user can try again or give them up.
        platform::dialogs().MessageBox(SaveFailedText);
        event->ignore();
        return;
    }
    editor_.ClearChanges();
}

void TfrmModifyCapture::reject() {
    close();
}

void TfrmModifyCapture::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A window coming back from the taskbar is not a new showing.
    if (!event->spontaneous()) FormShow();
}

void TfrmModifyCapture::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FormResize();
}

void TfrmModifyCapture::closeEvent(QCloseEvent* event) {
    // QDialog's own handling would go through reject() and back here.
    FormClose(event);
}

void TfrmModifyCapture::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}
