// TfrmModifyCapture: the modal window that shows the capture, crops it to a
// rectangle dragged with the mouse, shrinks it, blacks out regions and draws
// arrows, boxes, text and the like over it, and on closing offers to write the
// result back over CaptureFile.
//
// The owner sets CaptureFile and calls exec(); when it returns the file may
// have been rewritten. The picture work itself is TCaptureEditor's.
#pragma once

#include "CaptureEditor.h"

#include <QDialog>

#include <string>

class QAction;
class QActionGroup;
class QKeyEvent;
class QMenu;
class QMargins;
class QMenuBar;
class QPainter;
class QStatusBar;
class QTimer;

class TfrmModifyCapture : public QDialog {
    Q_OBJECT

public:
    explicit TfrmModifyCapture(QWidget* parent = nullptr);
    ~TfrmModifyCapture() override;

    // The BMP file to edit; set before each showing.
    std::string CaptureFile;

    QMenuBar* MainMenu1 = nullptr;
    QAction* Close1 = nullptr;
    QMenu* Modify1 = nullptr;
    QAction* Resizeby751 = nullptr;
    QAction* Resizeby501 = nullptr;
    QAction* Resizeby251 = nullptr;
    QAction* FillBlack = nullptr;
    // Drawing over the capture: the tools, their colour and sizes, undo.
    QMenu* Draw1 = nullptr;
    QAction* SelectTool = nullptr;
    QAction* ArrowTool = nullptr;
    QAction* RectangleTool = nullptr;
    QAction* EllipseTool = nullptr;
    QAction* LineTool = nullptr;
    QAction* PenTool = nullptr;
    QAction* HighlighterTool = nullptr;
    QAction* TextTool = nullptr;
    QAction* StepTool = nullptr;
    QMenu* Colour1 = nullptr;
    QAction* CustomColour = nullptr;
    QMenu* Width1 = nullptr;
    QMenu* TextSize1 = nullptr;
    QAction* Undo1 = nullptr;
    QAction* Redo1 = nullptr;
    QAction* DeleteObject1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;

    // The client area below the menu: the picture is painted and the mouse
    // read here, in the window coordinates the editor maps.
    QWidget* Canvas() const { return canvas_; }
    const capture::TCaptureEditor& Editor() const { return editor_; }

    void FormCreate();
    void FormShow();
    void FormActivate();
    void FormPaint(QPainter& painter);
    void FormResize();
    void FormClose(QCloseEvent* event);
    void FormMouseDown(int x, int y);
    void FormMouseMove(int x, int y, bool shift = false);
    void FormMouseUp(int x, int y, bool shift = false);
    void FormKeyDown(QKeyEvent* event);
    void Redraw();
    void ResizeImage(double factor);

    void Close1Click();
    void Resizeby751Click() { ResizeImage(0.75); }
    void Resizeby501Click() { ResizeImage(0.5); }
    void Resizeby251Click() { ResizeImage(0.25); }
    void FillBlackClick();
    void SelectToolClick(capture::TTool tool);
    void CustomColourClick();
    void Undo1Click();
    void Redo1Click();
    void DeleteObject1Click();

public slots:
    // Escape closes through FormClose like the window's close button.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildDrawMenu();
    // After an undo or redo that changed the picture's size.
    void RefitIfResized(capture::TExtent before);
    // Updates the view; tells the user once per showing when it cannot be shown.
    capture::TViewResult RebuildView();
    // Sizes the window for the picture and keeps it, frame included, inside
    // the screen's available area.
    void FitToScreen();
    QMargins FrameMargins() const;
    void FitOnceFramed();

    capture::TCaptureEditor editor_;
    QWidget* canvas_ = nullptr;
    bool depthReported_ = false;
    // The refusal to crop a shrunk picture has met the first mouse move.
    bool refusalShownOnMove_ = false;
    // Shown, but not yet fitted with the window manager's real frame.
    bool fitPending_ = false;
    static constexpr int FramePollMs = 50;
    static constexpr int MaxFramePolls = 200;
    int framePolls_ = 0;
    QTimer* frameTimer_ = nullptr;
    QActionGroup* tools_ = nullptr;
};

// The program's one editor window, created at start.
extern TfrmModifyCapture* frmModifyCapture;
