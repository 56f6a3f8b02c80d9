// Drawing over a capture in the editor window with the mouse and keys: each
// tool, what is saved, picking and moving objects, and undo / redo of every
// kind of edit.
#include "CaptureTestUtil.h"
#include "ScriptedDialogs.h"
#include "modifyCaptureUnit.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

using namespace capture;
using namespace capturetest;
using dibtest::PixelAt;

namespace {

constexpr uint32_t White = 0xFFFFFF;
constexpr uint32_t Red = 0xFF0000;

// A 200 x 150 picture, white on the left and black on the right of x = 100,
// with a grey band at the top so that crops and flips show.
BmpBuilder Halves(int bits = 24, bool bottomUp = true) {
    BmpBuilder b;
    b.width = 200;
    b.height = bottomUp ? 150 : -150;
    b.bits = uint16_t(bits);
    b.pixels = PackPixels(200, 150, bits, bottomUp, [](int x, int y) -> uint32_t {
        if (y < 6) return 0x808080;
        return x < 100 ? White : 0;
    });
    return b;
}

class DrawingTest : public ::testing::Test {
protected:
    ScriptedDialogsScope dialogs;
    dibtest::ScratchDir dir;
    std::string file = dir.File("brindlewick_temp.bmp");
    TfrmModifyCapture form;
    const TCaptureEditor& editor = form.Editor();

    std::string original = dir.File("original.bmp");

    void Open(const BmpBuilder& picture) {
        picture.WriteTo(file);
        picture.WriteTo(original);
        form.CaptureFile = file;
        form.show();
        QCoreApplication::processEvents();
    }
    QPoint At(int px, int py) {
        auto [x, y] = MouseFor(editor, px, py);
        return {x, y};
    }
    void Drag(QPoint from, QPoint to, Qt::KeyboardModifiers mods = {}) {
        QWidget* c = form.Canvas();
        QTest::mousePress(c, Qt::LeftButton, mods, At(from.x(), from.y()));
        QTest::mouseMove(c, At((from.x() * 2 + to.x()) / 3, (from.y() + to.y() * 2) / 3));
        QTest::mouseMove(c, At(to.x(), to.y()));
        // A mouse move carries no modifiers in QTest; the release does.
        QTest::mouseRelease(c, Qt::LeftButton, mods, At(to.x(), to.y()));
    }
    void Click(QPoint at) {
        QTest::mouseClick(form.Canvas(), Qt::LeftButton, {}, At(at.x(), at.y()));
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers mods = {}) { QTest::keyClick(&form, key, mods); }
    // Types each character as a key carrying it, as an input method does for
    // characters no key has.
    void Type(const QString& text) {
        for (QChar c : text)
            QTest::sendKeyEvent(QTest::Click, &form, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
    // Closes with Yes and reads what was saved.
    std::unique_ptr<TFastDIB> CloseAndSave() {
        dialogs->confirmAnswers = {true};
        EXPECT_TRUE(form.close());
        return Loaded(file);
    }
    // The capture as opened, with objects burnt in by the editor's painter.
    std::unique_ptr<TFastDIB> Reference(const std::vector<TAnnotation>& objects) {
        auto ref = Loaded(original);
        FlattenInto(*ref, objects);
        return ref;
    }
};

struct ToolCase {
    const char* name;
    QAction* TfrmModifyCapture::*action;
    TShapeKind kind;
    QPoint from, to; // picture points of the drag or click
    // Checks on the saved picture with the object as drawn.
    std::function<void(const TFastDIB&, const TAnnotation&)> check;
};

void PrintTo(const ToolCase& c, std::ostream* os) {
    *os << c.name;
}

class EachTool : public DrawingTest, public ::testing::WithParamInterface<ToolCase> {};

uint32_t Tint(uint32_t c) {
    return HighlighterTint(c) & 0xFFFFFF;
}

const ToolCase ToolCases[] = {
    {"Arrow",
     &TfrmModifyCapture::ArrowTool,
     TShapeKind::skArrow,
     {30, 60},
     {90, 60},
     [](const TFastDIB& saved, const TAnnotation& a) {
         // The head: a point just behind the tip, on the shaft and off to
         // either side of it wider than the shaft, is painted.
         const QPoint tip = a.points.back();
         EXPECT_EQ(PixelAt(saved, tip.x() - 5, tip.y()), Red);
         EXPECT_EQ(PixelAt(saved, tip.x() - 12, tip.y() - 4), Red);
         EXPECT_EQ(PixelAt(saved, tip.x() - 12, tip.y() + 4), Red);
         EXPECT_EQ(PixelAt(saved, tip.x() - 40, tip.y() + 5), White) << "the shaft is narrow";
         EXPECT_EQ(PixelAt(saved, tip.x() - 40, tip.y()), Red);
     }},
    {"Rectangle",
     &TfrmModifyCapture::RectangleTool,
     TShapeKind::skRectangle,
     {30, 40},
     {90, 80},
     [](const TFastDIB& saved, const TAnnotation&) {
         EXPECT_EQ(PixelAt(saved, 30, 60), Red);
         EXPECT_EQ(PixelAt(saved, 60, 40), Red);
         EXPECT_EQ(PixelAt(saved, 60, 60), White) << "an outline only";
     }},
    {"Ellipse",
     &TfrmModifyCapture::EllipseTool,
     TShapeKind::skEllipse,
     {30, 40},
     {90, 80},
     [](const TFastDIB& saved, const TAnnotation&) {
         EXPECT_EQ(PixelAt(saved, 31, 40), White) << "the box's corner stays clear";
         EXPECT_EQ(PixelAt(saved, 30, 60), Red);
     }},
    {"Line",
     &TfrmModifyCapture::LineTool,
     TShapeKind::skLine,
     {30, 40},
     {90, 80},
     [](const TFastDIB& saved, const TAnnotation&) { EXPECT_EQ(PixelAt(saved, 60, 60), Red); }},
    {"Pen",
     &TfrmModifyCapture::PenTool,
     TShapeKind::skPen,
     {30, 40},
     {90, 80},
     [](const TFastDIB&, const TAnnotation& a) { EXPECT_GE(a.points.size(), 3u); }},
    {"Highlighter",
     &TfrmModifyCapture::HighlighterTool,
     TShapeKind::skHighlighter,
     {30, 40},
     {160, 80},
     [](const TFastDIB& saved, const TAnnotation& a) {
         // Drawn across both halves: white takes the tint, black stays black.
         ASSERT_GE(a.width, 10);
         EXPECT_EQ(PixelAt(saved, 60, 60), Tint(Red));
         EXPECT_EQ(PixelAt(saved, 130, 75), 0u);
     }},
    {"Step",
     &TfrmModifyCapture::StepTool,
     TShapeKind::skStep,
     {60, 60},
     {60, 60},
     [](const TFastDIB& saved, const TAnnotation& a) {
         EXPECT_EQ(a.number, 1);
         const QPoint c = a.points.front();
         EXPECT_EQ(PixelAt(saved, c.x() - a.size / 2 + 3, c.y()), Red) << "a filled circle";
         int number = 0;
         for (int y = c.y() - 5; y <= c.y() + 5; ++y)
             for (int x = c.x() - 5; x <= c.x() + 5; ++x) number += PixelAt(saved, x, y) != Red;
         EXPECT_GT(number, 5) << "with its number on it";
     }},
    {"Text",
     &TfrmModifyCapture::TextTool,
     TShapeKind::skText,
     {30, 40},
     {30, 40},
     [](const TFastDIB& saved, const TAnnotation& a) {
         EXPECT_EQ(a.text, QString::fromUtf8("Grüße ✓ 日本"));
         int red = 0;
         const QRect r = AnnotationBounds(a);
         for (int y = r.top(); y <= r.bottom(); ++y)
             for (int x = r.left(); x <= r.right(); ++x) red += PixelAt(saved, x, y) == Red;
         EXPECT_GT(red, 40);
     }},
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Tools, EachTool, ::testing::ValuesIn(ToolCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(EachTool, DrawnWithTheMouseAndSavedAsTheEditorShowedIt) {
    const ToolCase& c = GetParam();
    Open(Halves());
    (form.*c.action)->trigger();
    EXPECT_NE(editor.Tool(), TTool::tkSelect);
    if (c.kind == TShapeKind::skText) {
        Click(c.from);
        Type(QString::fromUtf8("Grüße ✓ 日本x"));
        Key(Qt::Key_Backspace);
        Key(Qt::Key_Return);
    } else if (c.kind == TShapeKind::skStep) {
        Click(c.from);
    } else {
        Drag(c.from, c.to);
    }
    ASSERT_EQ(editor.Objects().size(), 1u);
    const TAnnotation drawn = editor.Objects()[0];
    EXPECT_EQ(drawn.kind, c.kind);
    EXPECT_EQ(drawn.points.front(), c.from);
    EXPECT_EQ(drawn.points.back(), c.to);
    // On its way to the menu the mouse crosses the picture; before any press
    // the selection's corner follows it, but that is no crop.
    QTest::mouseMove(form.Canvas(), At(150, 120));
    QTest::mouseMove(form.Canvas(), At(160, 130));
    EXPECT_EQ(editor.SelEnd, (TSelPoint{160, 130}));
    auto saved = CloseAndSave();
    auto before = Loaded(original);
    EXPECT_EQ(dibtest::Colors(*saved), dibtest::Colors(*Reference({drawn})));
    c.check(*saved, drawn);
    // Nothing outside the object changed.
    const QRect bounds = AnnotationBounds(drawn);
    int outside = 0;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x)
            if (!bounds.contains(x, y) && PixelAt(*saved, x, y) != PixelAt(*before, x, y))
                ++outside;
    EXPECT_EQ(outside, 0);
}

// The same objects burnt into every layout of picture the editor keeps, in
// either row order, give the colours the painter draws (to the nearest
// palette entry for a paletted picture).
TEST_F(DrawingTest, ObjectsAreBurntIntoEveryLayoutInEitherRowOrder) {
    TAnnotation box{TShapeKind::skRectangle, {{4, 3}, {20, 12}}, qRgb(255, 0, 0), 3, 0, {}, 0};
    TAnnotation text{TShapeKind::skText, {{6, 14}}, qRgb(0, 0, 255), 1, 10, "Ab", 0};
    for (const Layout& l : Layouts())
        for (bool bottomUp : {true, false}) {
            SCOPED_TRACE(std::string(l.name) + (bottomUp ? " bottom-up" : " top-down"));
            Picture(l, 30, 28, bottomUp).WriteTo(file);
            auto before = Loaded(file);
            auto dib = Loaded(file);
            FlattenInto(*dib, {box, text});
            // The box's corner takes its colour (the nearest palette entry in a
            // paletted picture); inside it the picture shows through.
            EXPECT_EQ(PixelAt(*dib, 4, 3), l.bits == 8 ? Colors4()[1] : Red);
            EXPECT_EQ(PixelAt(*dib, 10, 8), PixelAt(*before, 10, 8));
            EXPECT_EQ(PixelAt(*dib, 25, 3), PixelAt(*before, 25, 3));
            int changed = 0;
            for (int y = 14; y < 28; ++y)
                for (int x = 6; x < 26; ++x)
                    changed += PixelAt(*dib, x, y) != PixelAt(*before, x, y);
            EXPECT_GT(changed, 10) << "the text is there";
        }
}

TEST_F(DrawingTest, ShiftKeepsLinesAt45DegreesAndBoxesSquare) {
    Open(Halves());
    form.LineTool->trigger();
    Drag({20, 20}, {90, 27}, Qt::ShiftModifier);
    Drag({20, 50}, {80, 106}, Qt::ShiftModifier);
    form.RectangleTool->trigger();
    Drag({120, 20}, {150, 80}, Qt::ShiftModifier);
    ASSERT_EQ(editor.Objects().size(), 3u);
    EXPECT_EQ(editor.Objects()[0].points.back().y(), 20) << "level";
    const QPoint d = editor.Objects()[1].points.back() - editor.Objects()[1].points.front();
    EXPECT_EQ(d.x(), d.y()) << "diagonal";
    const QPoint box = editor.Objects()[2].points.back() - editor.Objects()[2].points.front();
    EXPECT_EQ(box, QPoint(60, 60));
}

TEST_F(DrawingTest, ColourAndWidthChosenInTheMenuGoToNewObjects) {
    Open(Halves());
    form.LineTool->trigger();
    Drag({10, 20}, {90, 20});
    form.Colour1->actions().at(3)->trigger(); // Blue
    form.Width1->actions().at(2)->trigger();  // Thick
    Drag({10, 60}, {90, 60});
    ASSERT_EQ(editor.Objects().size(), 2u);
    EXPECT_EQ(editor.Objects()[0].color, qRgb(255, 0, 0)) << "red to start with";
    EXPECT_EQ(editor.Objects()[1].color, qRgb(0, 0x5A, 0xE6));
    EXPECT_EQ(editor.Objects()[1].width, 2 * editor.Objects()[0].width);
}

TEST_F(DrawingTest, ObjectsArePickedMovedAndDeletedAndTheCropStillWorksBesideThem) {
    Open(Halves());
    form.RectangleTool->trigger();
    Drag({20, 20}, {60, 50});
    form.SelectTool->trigger();
    // A press on the outline picks the box and drags it along.
    Drag({20, 35}, {50, 45});
    ASSERT_EQ(editor.Objects().size(), 1u);
    EXPECT_EQ(editor.Objects()[0].points, (std::vector<QPoint>{{50, 30}, {90, 60}}));
    EXPECT_EQ(editor.SelectedObject(), 0u);
    EXPECT_FALSE(editor.Selecting) << "no crop was started";
    Key(Qt::Key_Delete);
    EXPECT_TRUE(editor.Objects().empty());
    Key(Qt::Key_Z, Qt::ControlModifier);
    ASSERT_EQ(editor.Objects().size(), 1u);
    EXPECT_EQ(editor.Objects()[0].points.front(), QPoint(50, 30));
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(editor.Objects()[0].points.front(), QPoint(20, 20)) << "the move is undone";
    // A press away from any object starts the designed crop.
    Drag({100, 80}, {180, 140});
    EXPECT_TRUE(editor.SelectionDone);
    EXPECT_EQ(editor.Selection(), (TSelRect{100, 80, 180, 140}));
}

// Objects are burnt in before the crop: one outside it leaves no trace, one
// across its edge is cut exactly there.
TEST_F(DrawingTest, ObjectsOutsideACropAreCutAway) {
    Open(Halves());
    form.RectangleTool->trigger();
    Drag({10, 10}, {40, 30});   // outside
    Drag({90, 70}, {150, 120}); // across the crop's left and top edges
    const std::vector<TAnnotation> objects = editor.Objects();
    form.SelectTool->trigger();
    Drag({100, 80}, {180, 140});
    auto saved = CloseAndSave();
    ASSERT_EQ(saved->Width(), 80);
    ASSERT_EQ(saved->RowCount, 60);
    auto ref = Reference(objects);
    EXPECT_EQ(Block(*saved, 0, 0, 80, 60), Block(*ref, 100, 80, 80, 60));
    EXPECT_EQ(PixelAt(*saved, 30, 39), Red) << "the bottom of the box that crosses the edge";
}

TEST_F(DrawingTest, AnEmptyTextIsNoObjectAndEscapeDropsATextBeingTyped) {
    Open(Halves());
    form.TextTool->trigger();
    Click({20, 20});
    EXPECT_EQ(editor.DrawState(), TDrawState::dsTyping);
    Key(Qt::Key_Return);
    Click({20, 60});
    QTest::keyClicks(&form, "gone");
    Key(Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible()) << "Escape while typing does not close the window";
    EXPECT_TRUE(editor.Objects().empty());
    EXPECT_FALSE(editor.CanUndo());
    form.close();
    EXPECT_TRUE(dialogs->shown.empty()) << "nothing to save";
}

TEST_F(DrawingTest, StepNumbersContinueAndFollowUndo) {
    Open(Halves());
    form.StepTool->trigger();
    for (int x : {30, 60, 90}) Click({x, 40});
    Key(Qt::Key_Z, Qt::ControlModifier);
    Click({120, 40});
    std::vector<int> numbers;
    for (const TAnnotation& a : editor.Objects()) numbers.push_back(a.number);
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3}));
}

// Every kind of edit is undone to the exact pixels, objects and flags it
// started from, and redone to the exact ones it made.
TEST_F(DrawingTest, UndoAndRedoRestoreExactPicturesAcrossEveryKindOfEdit) {
    Open(Halves());
    struct Snapshot {
        std::vector<uint8_t> bytes;
        TExtent size;
        std::vector<TAnnotation> objects;
        TSelRect selection;
        bool selectionDone, resized, filled;
        bool operator==(const Snapshot&) const = default;
    };
    auto snap = [&] {
        return Snapshot{dibtest::MemoryBytes(editor.Image()),
                        editor.PictureSize(),
                        editor.Objects(),
                        editor.Selection(),
                        editor.SelectionDone,
                        editor.Resized,
                        editor.Filled};
    };
    std::vector<Snapshot> states{snap()};
    form.RectangleTool->trigger();
    Drag({20, 20}, {70, 60});
    states.push_back(snap());
    form.SelectTool->trigger();
    Drag({40, 30}, {140, 100});
    states.push_back(snap());
    form.FillBlack->trigger();
    states.push_back(snap());
    form.ArrowTool->trigger();
    Drag({150, 120}, {60, 20});
    states.push_back(snap());
    form.Resizeby501->trigger();
    states.push_back(snap());
    form.PenTool->trigger();
    Drag({10, 10}, {60, 50});
    states.push_back(snap());
    ASSERT_EQ(states.size(), 7u);
    for (size_t i = 1; i < states.size(); ++i) ASSERT_NE(states[i], states[i - 1]) << i;

    for (size_t i = states.size() - 1; i-- > 0;) {
        Key(Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(snap(), states[i]) << "undo to " << i;
    }
    EXPECT_EQ(form.size(), QSize(270, 220)) << "the window is the full picture's again";
    for (size_t i = 1; i < states.size(); ++i) {
        if (i % 2)
            Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        else
            Key(Qt::Key_Y, Qt::ControlModifier);
        EXPECT_EQ(snap(), states[i]) << "redo to " << i;
    }
    // A new edit after an undo drops what could have been redone.
    Key(Qt::Key_Z, Qt::ControlModifier);
    Drag({5, 5}, {30, 30});
    EXPECT_FALSE(editor.CanRedo());
    // All undone: closing asks nothing.
    while (editor.CanUndo()) Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(snap(), states[0]);
    form.close();
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(DrawingTest, FiveHundredObjectsAreShownSavedAndUndone) {
    Open(Halves());
    form.LineTool->trigger();
    for (int i = 0; i < 500; ++i) Drag({i % 190, i % 140}, {i % 190 + 9, i % 140 + 9});
    ASSERT_EQ(editor.Objects().size(), 500u);
    const std::vector<TAnnotation> objects = editor.Objects();
    for (int i = 0; i < 499; ++i) Key(Qt::Key_Z, Qt::ControlModifier);
    ASSERT_EQ(editor.Objects().size(), 1u);
    for (int i = 0; i < 499; ++i) Key(Qt::Key_Y, Qt::ControlModifier);
    ASSERT_EQ(editor.Objects(), objects);
    auto saved = CloseAndSave();
    EXPECT_EQ(dibtest::Colors(*saved), dibtest::Colors(*Reference(objects)));
}
