#include "Controls.h"

#include <QButtonGroup>
#include <QEvent>
#include <QMouseEvent>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
constexpr int LabelSpacing = 3;
// Room kept free between a wrapped label and its parent's left edge.
constexpr int LabelMargin = 6;
} // namespace

TLabeledEdit::TLabeledEdit(QWidget* parent, const QString& caption, const QString& hint)
    : QLineEdit(parent), EditLabel(std::make_unique<QLabel>(caption, parent)) {
    EditLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    EditLabel->setBuddy(this);
    setToolTip(hint);
}

void TLabeledEdit::SetBounds(int left, int top, int width, int height) {
    setGeometry(left, top, width, height);
    const int room = left - LabelSpacing - LabelMargin;
    int labelWidth = EditLabel->sizeHint().width();
    int labelHeight = height;
    if (labelWidth > room) {
        EditLabel->setWordWrap(true);
        labelWidth = room;
        labelHeight = std::max(height, EditLabel->heightForWidth(room));
    }
    EditLabel->setGeometry(left - LabelSpacing - labelWidth, top + (height - labelHeight) / 2,
                           labelWidth, labelHeight);
}

void TLabeledEdit::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) EditLabel->setEnabled(isEnabled());
    QLineEdit::changeEvent(event);
}

// Qt counts only the indicator and the text as the box; a release beside
// the text would then clear the other box without checking this one, and
// publishing would quietly switch methods.
bool TMouseUpCheckBox::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

void TMouseUpCheckBox::mouseReleaseEvent(QMouseEvent* event) {
    QCheckBox::mouseReleaseEvent(event);
    emit mouseUp(event);
}

TRadioGroup::TRadioGroup(QWidget* parent, const QString& caption, const QStringList& items)
    : QGroupBox(caption, parent), Buttons(std::make_unique<QButtonGroup>()) {
    auto* column = new QVBoxLayout(this); // owned by the group box
    column->setContentsMargins(8, 0, 8, 0);
    column->setSpacing(0);
    for (int i = 0; i < items.size(); ++i) {
        Items.push_back(std::make_unique<QRadioButton>(items[i], this));
        Buttons->addButton(Items.back().get(), i);
        column->addWidget(Items.back().get());
    }
}

TRadioGroup::~TRadioGroup() = default;

int TRadioGroup::ItemIndex() const {
    return Buttons->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (index >= 0 && index < Count()) {
        Items[size_t(index)]->setChecked(true);
        return;
    }
    // An exclusive group cannot be emptied while exclusive.
    Buttons->setExclusive(false);
    for (auto& item : Items) item->setChecked(false);
    Buttons->setExclusive(true);
}
