// The few toolkit controls the configuration form is built from that Qt does
// not have as such: an edit box with its label to the left, a check box that
// reports every mouse-button release, and a radio group with an item index.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include <memory>
#include <vector>

class QButtonGroup;
class QRadioButton;

// An edit box whose label stands to its left, right-aligned, 3 pixels away,
// centred on the edit. A caption too wide for the room left of the edit
// wraps onto more lines. The label is enabled with the edit.
class TLabeledEdit : public QLineEdit {
public:
    TLabeledEdit(QWidget* parent, const QString& caption, const QString& hint);
    void SetBounds(int left, int top, int width, int height);

    std::unique_ptr<QLabel> EditLabel;

protected:
    void changeEvent(QEvent* event) override;
};

// A check box that signals each release of a mouse button over it, after the
// box has handled the release (so a click has already toggled it). A click
// anywhere on its area toggles it, not only on the indicator and the text.
class TMouseUpCheckBox : public QCheckBox {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;

signals:
    void mouseUp(QMouseEvent* event);

protected:
    bool hitButton(const QPoint& pos) const override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A group box of exclusive radio items, one below the other. ItemIndex is -1
// while no item is selected, which is how a new group starts.
class TRadioGroup : public QGroupBox {
public:
    TRadioGroup(QWidget* parent, const QString& caption, const QStringList& items);
    ~TRadioGroup() override;
    int ItemIndex() const;
    void SetItemIndex(int index);
    QRadioButton* Item(int index) const { return Items.at(size_t(index)).get(); }
    int Count() const { return int(Items.size()); }

private:
    std::vector<std::unique_ptr<QRadioButton>> Items;
    // Declared after the items, so it goes first and never sees a dead button.
    std::unique_ptr<QButtonGroup> Buttons;
};
