#include "HistoryWindow.h"

#include "Dialogs.h"
#include "ErrorReport.h"
#include "HistoryDialogs.h"
#include "Screen.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

namespace {

enum { colThumbnail, colTime, colName, colUrl, colCount };
const QSize IconSize(64, 48);

} // namespace

THistoryWindow::THistoryWindow(QWidget* parent, std::string path)
    : QDialog(parent), path_(std::move(path)) {
    setWindowTitle("History");
    resize(760, 440);
    edtFilter = new QLineEdit(this);
    edtFilter->setPlaceholderText("Type part of a name or URL");
    edtFilter->setClearButtonEnabled(true);
    grdRows = new QTableWidget(0, colCount, this);
    grdRows->setHorizontalHeaderLabels({"", "Time", "Name", "URL"});
    grdRows->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdRows->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grdRows->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdRows->setIconSize(IconSize);
    grdRows->verticalHeader()->hide();
    grdRows->verticalHeader()->setDefaultSectionSize(IconSize.height() + 4);
    grdRows->horizontalHeader()->setSectionResizeMode(colThumbnail, QHeaderView::Fixed);
    grdRows->setColumnWidth(colThumbnail, IconSize.width() + 8);
    grdRows->horizontalHeader()->setStretchLastSection(true);
    grdRows->installEventFilter(this);
    connect(grdRows->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { ShowVisibleThumbnails(); });

    auto button = [this](const char* caption, void (THistoryWindow::*action)()) {
        auto* b = new QPushButton(caption, this);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this,
                [this, action] { platform::Guarded([&] { (this->*action)(); }); });
        return b;
    };
    btnCopyUrl = button("Copy URL", &THistoryWindow::CopyUrls);
    btnOpen = button("Open", &THistoryWindow::OpenSelected);
    btnDelete = button("Delete from server", &THistoryWindow::DeleteSelected);
    btnRemove = button("Remove from list", &THistoryWindow::RemoveSelected);
    btnClose = new QPushButton("Close", this);
    btnClose->setAutoDefault(false);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {btnCopyUrl, btnOpen, btnDelete, btnRemove}) buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(edtFilter);
    layout->addWidget(grdRows);
    layout->addLayout(buttons);

    connect(edtFilter, &QLineEdit::textChanged, this,
            [this] { platform::Guarded([this] { Reload(); }); });
    connect(grdRows, &QTableWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    connect(grdRows, &QTableWidget::cellDoubleClicked, this, [this](int row) {
        if (row >= 0 && size_t(row) < rows_.size() && OnOpenUrl)
            platform::Guarded([&] { OnOpenUrl(rows_[size_t(row)].Url); });
    });
    OnOpenUrl = [](const std::string& url) {
        QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(url)));
    };
    UpdateButtons();
}

THistoryWindow::~THistoryWindow() = default;

void THistoryWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    storeFailed_ = false;
    platform::Guarded([this] { Reload(); });
    edtFilter->setFocus();
}

THistoryStore* THistoryWindow::Store() {
    if (!store_ && !storeFailed_) {
        try {
            store_ = std::make_unique<THistoryStore>(path_);
        } catch (const EHistory& e) {
            // Said once, not at every key typed in the filter.
            storeFailed_ = true;
            platform::dialogs().MessageBox(std::string("The history cannot be read: ") + e.what());
        }
    }
    return store_.get();
}

void THistoryWindow::Reload() {
    std::set<int64_t> selected;
    for (const THistoryEntry& e : Selected()) selected.insert(e.Id);
    rows_.clear();
    if (THistoryStore* store = Store()) {
        try {
            rows_ = store->List(edtFilter->text().trimmed().toStdString(), false);
        } catch (const EHistory& e) {
            platform::dialogs().MessageBox(std::string("The history cannot be read: ") + e.what());
        }
    }
    grdRows->setRowCount(0);
    grdRows->setRowCount(int(rows_.size()));
    for (int r = 0; r < int(rows_.size()); ++r) {
        const THistoryEntry& e = rows_[size_t(r)];
        grdRows->setItem(r, colThumbnail, new QTableWidgetItem);
        grdRows->setItem(r, colTime,
                         new QTableWidgetItem(QString::fromStdString(HistoryTimeText(e.Time))));
        const std::string name = e.Deleted ? e.Name + " (deleted from server)" : e.Name;
        grdRows->setItem(r, colName, new QTableWidgetItem(QString::fromStdString(name)));
        grdRows->setItem(r, colUrl, new QTableWidgetItem(QString::fromStdString(e.Url)));
        if (e.Deleted)
            for (int c = 0; c < colCount; ++c)
                grdRows->item(r, c)->setForeground(
                    palette().brush(QPalette::Disabled, QPalette::Text));
        if (selected.count(e.Id)) grdRows->selectRow(r);
    }
    thumbnailShown_.assign(rows_.size(), false);
    grdRows->resizeColumnToContents(colTime);
    grdRows->resizeColumnToContents(colName);
    ShowVisibleThumbnails();
    UpdateButtons();
}

void THistoryWindow::ShowVisibleThumbnails() {
    if (!store_ || rows_.empty()) return;
    const int first = std::max(0, grdRows->rowAt(0));
    int last = grdRows->rowAt(grdRows->viewport()->height() - 1);
    if (last < 0) last = int(rows_.size()) - 1;
    for (int r = first; r <= last && r < int(rows_.size()); ++r) {
        if (thumbnailShown_[size_t(r)]) continue;
        thumbnailShown_[size_t(r)] = true;
        QPixmap picture;
        try {
            if (!picture.loadFromData(store_->Thumbnail(rows_[size_t(r)].Id), "JPEG")) continue;
        } catch (const EHistory&) {
            continue; // a row without its picture is still a row
        }
        grdRows->item(r, colThumbnail)
            ->setIcon(picture.scaled(IconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
}

void THistoryWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    ShowVisibleThumbnails();
}

std::vector<THistoryEntry> THistoryWindow::Selected() const {
    std::vector<THistoryEntry> out;
    for (int r = 0; r < grdRows->rowCount() && r < int(rows_.size()); ++r)
        if (grdRows->item(r, colName) && grdRows->item(r, colName)->isSelected())
            out.push_back(rows_[size_t(r)]);
    return out;
}

void THistoryWindow::UpdateButtons() {
    const bool any = !Selected().empty();
    for (QPushButton* b : {btnCopyUrl, btnOpen, btnDelete, btnRemove}) b->setEnabled(any);
}

void THistoryWindow::CopyUrls() {
    std::string text;
    for (const THistoryEntry& e : Selected()) text += (text.empty() ? "" : "\n") + e.Url;
    if (!text.empty()) platform::SetClipboardText(text);
}

void THistoryWindow::OpenSelected() {
    for (const THistoryEntry& e : Selected())
        if (OnOpenUrl) OnOpenUrl(e.Url);
}

void THistoryWindow::DeleteSelected() {
    const std::vector<THistoryEntry> rows = Selected();
    if (rows.empty() || !Store()) return;
    const std::string question = rows.size() == 1 ? "Delete " + rows[0].Name + " from the server?"
                                                  : "Delete the " + std::to_string(rows.size()) +
                                                        " selected pictures from their servers?";
    if (!platform::dialogs().Confirm(question)) return;
    for (const THistoryEntry& e : rows)
        if (!DeleteWithDialogs(*store_, e, false)) break;
    Reload();
}

void THistoryWindow::RemoveSelected() {
    if (!Store()) return;
    try {
        for (const THistoryEntry& e : Selected()) store_->Remove(e.Id);
    } catch (const EHistory& e) {
        platform::dialogs().MessageBox(std::string("The history cannot be written: ") + e.what());
    }
    Reload();
}

bool THistoryWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == grdRows && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        void (THistoryWindow::*action)() = nullptr;
        if (key->matches(QKeySequence::Copy))
            action = &THistoryWindow::CopyUrls;
        else if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier)
            action = &THistoryWindow::DeleteSelected;
        else if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            action = &THistoryWindow::OpenSelected;
        if (action) {
            platform::Guarded([&] { (this->*action)(); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
