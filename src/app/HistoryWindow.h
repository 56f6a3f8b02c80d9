// The History window: every published picture with its thumbnail, time,
// name and URL, newest first, a filter over name and URL, and the actions on
// the selected rows (copy the URLs, open, delete from the server, remove
// from the list), by buttons and keys.
#pragma once

#include "HistoryStore.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLineEdit;
class QPushButton;
class QTableWidget;

class THistoryWindow : public QDialog {
    Q_OBJECT
public:
    // path: the history database; by default the user's own.
    explicit THistoryWindow(QWidget* parent = nullptr,
                            std::string path = THistoryStore::DefaultPath());
    ~THistoryWindow() override;

    // Reads the rows again with the current filter.
    void Reload();
    // The rows shown, in their order.
    const std::vector<THistoryEntry>& Rows() const { return rows_; }
    std::vector<THistoryEntry> Selected() const;

    void CopyUrls();
    void OpenSelected();
    // Asks first; then each selected picture, until one is cancelled.
    void DeleteSelected();
    void RemoveSelected();

    // Opens a URL in the default browser; tests put their own here.
    std::function<void(const std::string& url)> OnOpenUrl;

    QLineEdit* edtFilter;
    QTableWidget* grdRows;
    QPushButton* btnCopyUrl;
    QPushButton* btnOpen;
    QPushButton* btnDelete;
    QPushButton* btnRemove;
    QPushButton* btnClose;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The store, opened on first use; a failure is told and nothing is shown.
    THistoryStore* Store();
    void UpdateButtons();
    // Thumbnails are read for the rows in view only: a long history would
    // otherwise decode thousands of pictures at every key typed in the filter.
    void ShowVisibleThumbnails();

    std::string path_;
    std::unique_ptr<THistoryStore> store_;
    bool storeFailed_ = false;
    std::vector<bool> thumbnailShown_;
    std::vector<THistoryEntry> rows_;
};
