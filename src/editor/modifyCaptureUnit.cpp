#include "modifyCaptureUnit.h"

#include "Dialogs.h"
#include "ErrorReport.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QKeyEvent>
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
        form_->FormMouseMove(e->position().toPoint().x(), e->position().toPoint().y(),
                             e->modifiers() & Qt::ShiftModifier);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        form_->FormMouseUp(e->position().toPoint().x(), e->position().toPoint().y(),
                           e->modifiers() & Qt::ShiftModifier);
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

    BuildDrawMenu();

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

void TfrmModifyCapture::BuildDrawMenu() {
    using capture::TTool;
    auto guarded = [this](QAction* action, auto handler) {
        connect(action, &QAction::triggered, this,
                [this, handler] { platform::Guarded([this, handler] { (this->*handler)(); }); });
    };
    Draw1 = MainMenu1->addMenu("Draw");
    tools_ = new QActionGroup(this);
    auto tool = [&](const char* caption, TTool which) {
        QAction* a = Draw1->addAction(caption);
        a->setCheckable(true);
        a->setChecked(which == editor_.Tool());
        tools_->addAction(a);
        connect(a, &QAction::triggered, this, [this, which] { SelectToolClick(which); });
        return a;
    };
    // The keys after the tab are handled by FormKeyDown, so that they type
    // into a text object while one is being written.
    SelectTool = tool("Select and crop\tS", TTool::tkSelect);
    ArrowTool = tool("Arrow\tA", TTool::tkArrow);
    RectangleTool = tool("Rectangle\tR", TTool::tkRectangle);
    EllipseTool = tool("Ellipse\tE", TTool::tkEllipse);
    LineTool = tool("Line\tL", TTool::tkLine);
    PenTool = tool("Pen\tP", TTool::tkPen);
    HighlighterTool = tool("Highlighter\tH", TTool::tkHighlighter);
    TextTool = tool("Text\tT", TTool::tkText);
    StepTool = tool("Numbered step\tN", TTool::tkStep);
    Draw1->addSeparator();

    // A checkable choice of values in a submenu.
    auto choices = [this](QMenu* menu, const std::vector<std::pair<QString, int>>& values,
                          int current, auto apply) {
        auto* group = new QActionGroup(menu);
        for (const auto& [caption, value] : values) {
            QAction* a = menu->addAction(caption);
            a->setCheckable(true);
            a->setChecked(value == current);
            group->addAction(a);
            connect(a, &QAction::triggered, this, [this, apply, value] {
                apply(value);
                Redraw();
            });
        }
        return group;
    };
    Colour1 = Draw1->addMenu("Colour");
    QActionGroup* colours = choices(Colour1,
                                    {{"Red", 0xFF0000},
                                     {"Yellow", 0xFFDD00},
                                     {"Green", 0x00AA00},
                                     {"Blue", 0x005AE6},
                                     {"Black", 0x000000},
                                     {"White", 0xFFFFFF}},
                                    int(editor_.Color & 0xFFFFFF), [this](int rgb) {
                                        editor_.Color = 0xFF000000u | uint32_t(rgb);
                                    });
    Colour1->addSeparator();
    CustomColour = Colour1->addAction("Custom colour...");
    CustomColour->setCheckable(true);
    colours->addAction(CustomColour);
    guarded(CustomColour, &TfrmModifyCapture::CustomColourClick);
    Width1 = Draw1->addMenu("Width");
    choices(Width1, {{"Thin", 2}, {"Medium", 4}, {"Thick", 8}}, editor_.LineWidth,
            [this](int w) { editor_.LineWidth = w; });
    TextSize1 = Draw1->addMenu("Text size");
    choices(TextSize1, {{"Small", 16}, {"Medium", 24}, {"Large", 36}, {"Huge", 48}},
            editor_.TextSize, [this](int size) { editor_.TextSize = size; });
    Draw1->addSeparator();
    Undo1 = Draw1->addAction("Undo\tCtrl+Z");
    Redo1 = Draw1->addAction("Redo\tCtrl+Shift+Z");
    DeleteObject1 = Draw1->addAction("Delete object\tDel");
    guarded(Undo1, &TfrmModifyCapture::Undo1Click);
    guarded(Redo1, &TfrmModifyCapture::Redo1Click);
    guarded(DeleteObject1, &TfrmModifyCapture::DeleteObject1Click);
    connect(Draw1, &QMenu::aboutToShow, this, [this] {
        Undo1->setEnabled(editor_.CanUndo() || editor_.LiveObject());
        Redo1->setEnabled(editor_.CanRedo());
        DeleteObject1->setEnabled(editor_.SelectedObject().has_value());
    });
}

void TfrmModifyCapture::SelectToolClick(capture::TTool tool) {
    editor_.SetTool(tool);
    const int index = int(editor_.Tool());
    tools_->actions().at(index)->setChecked(true);
    using capture::TTool;
    canvas_->setCursor(editor_.Tool() == TTool::tkSelect ? Qt::ArrowCursor
                       : editor_.Tool() == TTool::tkText ? Qt::IBeamCursor
                                                         : Qt::CrossCursor);
    Redraw();
}

void TfrmModifyCapture::CustomColourClick() {
    const QColor chosen =
        QColorDialog::getColor(QColor::fromRgb(editor_.Color), this, "Custom colour");
    if (chosen.isValid()) editor_.Color = chosen.rgb();
}

void TfrmModifyCapture::RefitIfResized(capture::TExtent before) {
    if (editor_.PictureSize() == before) return;
    // The window is fitted as for a new picture; a shrunk one keeps its shape.
    FitToScreen();
}

void TfrmModifyCapture::Undo1Click() {
    const capture::TExtent before = editor_.PictureSize();
    if (!editor_.Undo()) return;
    refusalShownOnMove_ = false;
    RefitIfResized(before);
    Redraw();
}

void TfrmModifyCapture::Redo1Click() {
    const capture::TExtent before = editor_.PictureSize();
    if (!editor_.Redo()) return;
    RefitIfResized(before);
    Redraw();
}

void TfrmModifyCapture::DeleteObject1Click() {
    if (editor_.DeleteSelected()) Redraw();
}

void TfrmModifyCapture::FormKeyDown(QKeyEvent* event) {
    using capture::TTool;
    const Qt::KeyboardModifiers mods =
        event->modifiers() &
        (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const int key = event->key();
    const bool ctrl = mods == Qt::ControlModifier;
    const bool ctrlShift = mods == (Qt::ControlModifier | Qt::ShiftModifier);
    if (key == Qt::Key_Z && ctrl) return Undo1Click();
    if ((key == Qt::Key_Z && ctrlShift) || (key == Qt::Key_Y && ctrl)) return Redo1Click();
    if (editor_.DrawState() == capture::TDrawState::dsTyping) {
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            editor_.FinishText();
        else if (key == Qt::Key_Escape)
            editor_.CancelText();
        else if (key == Qt::Key_Backspace)
            editor_.TypeBackspace();
        else if (!(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) &&
                 !event->text().isEmpty() && event->text().at(0).isPrint())
            editor_.TypeText(event->text());
        Redraw();
        return;
    }
    if (key == Qt::Key_Delete && !mods) return DeleteObject1Click();
    static const std::pair<int, TTool> letters[] = {
        {Qt::Key_S, TTool::tkSelect},      {Qt::Key_A, TTool::tkArrow},
        {Qt::Key_R, TTool::tkRectangle},   {Qt::Key_E, TTool::tkEllipse},
        {Qt::Key_L, TTool::tkLine},        {Qt::Key_P, TTool::tkPen},
        {Qt::Key_H, TTool::tkHighlighter}, {Qt::Key_T, TTool::tkText},
        {Qt::Key_N, TTool::tkStep}};
    if (!mods)
        for (const auto& [letter, tool] : letters)
            if (key == letter) return SelectToolClick(tool);
    QDialog::keyPressEvent(event);
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

void TfrmModifyCapture::FormMouseMove(int x, int y, bool shift) {
    // After a shrink the first move over the picture says that cropping is
    // refused, and every press says it again. A box on every move would
    // leave no way back to the menu. Drawing tools are not refused.
    if (editor_.Resized && !refusalShownOnMove_ && editor_.Tool() == capture::TTool::tkSelect &&
        editor_.DrawState() == capture::TDrawState::dsIdle) {
        refusalShownOnMove_ = true;
        platform::dialogs().MessageBox(CropRefusedText);
        return;
    }
    editor_.MouseMove(x, y, shift);
    Redraw();
}

void TfrmModifyCapture::FormMouseUp(int x, int y, bool shift) {
    editor_.MouseUp(x, y, shift);
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
    // A text still being typed is kept like one finished with Enter.
    if (editor_.FinishText()) Redraw();
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

void TfrmModifyCapture::keyPressEvent(QKeyEvent* event) {
    platform::Guarded([this, event] { FormKeyDown(event); });
}

void TfrmModifyCapture::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}
