#include "ProgressWindow.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace platform {
namespace {

std::string SizeText(uint64_t bytes) {
    char text[32];
    if (bytes < 1024)
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    else if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f KB", double(bytes) / 1024);
    else
        std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / (1024 * 1024));
    return text;
}

} // namespace

// A rate over a few milliseconds says nothing.
constexpr uint64_t MinRateTimeMs = 200;

std::string ProgressText(uint64_t sent, uint64_t total, uint64_t recentBytes, uint64_t recentMs) {
    std::string text = SizeText(sent) + " of " + SizeText(total);
    if (recentMs >= MinRateTimeMs) text += ", " + SizeText(recentBytes * 1000 / recentMs) + "/s";
    return text;
}

std::string ProgressText(uint64_t sent, uint64_t total, uint64_t elapsedMs) {
    return ProgressText(sent, total, sent, elapsedMs);
}

std::string TransferRate::Report(int64_t nowMs, uint64_t sent, uint64_t total) {
    // The rate starts with the first bytes: the time spent connecting before
    // them is no part of it. A count that goes back is a new transfer.
    if (!recent_.empty() && sent < recent_.back().second) recent_.clear();
    if (recent_.empty() && sent == 0) {
        rate_ = 0;
        return ProgressText(sent, total, 0, 0);
    }
    constexpr int64_t SpanMs = 5000;
    recent_.emplace_back(nowMs, sent);
    while (recent_.size() > 2 && nowMs - recent_[1].first >= SpanMs) recent_.pop_front();
    const auto [since, before] = recent_.front();
    const uint64_t ms = uint64_t(nowMs - since);
    rate_ = ms >= MinRateTimeMs ? (sent - before) * 1000 / ms : 0;
    return ProgressText(sent, total, sent - before, ms);
}

namespace {

class ProgressWindow : public Progress {
public:
    explicit ProgressWindow(const std::string& caption) {
        window_.setWindowTitle(QString::fromStdString(caption));
        window_.setMinimumWidth(320);
        auto* layout = new QVBoxLayout(&window_);
        layout->addWidget(step_);
        layout->addWidget(bar_);
        layout->addWidget(bytes_);
        layout->addWidget(cancel_, 0, Qt::AlignRight);
        bar_->setRange(0, 0);
        bar_->setTextVisible(false);
        cancel_->setAutoDefault(false);
        QObject::connect(cancel_, &QPushButton::clicked, [this] { Cancel(); });
        // Closing the window is a cancel too: the transfer must not go on
        // with nothing to show it.
        QObject::connect(&window_, &QDialog::rejected, [this] { Cancel(); });
        window_.show();
    }

    void SetStep(const std::string& step) override { step_->setText(QString::fromStdString(step)); }

    void SetBytes(uint64_t sent, uint64_t total) override {
        if (!clock_.isValid()) clock_.start();
        if (total > 0) {
            bar_->setRange(0, 1000);
            bar_->setValue(int(std::min(sent, total) * 1000 / total));
        }
        bytes_->setText(QString::fromStdString(rate_.Report(clock_.elapsed(), sent, total)));
    }

private:
    void Cancel() {
        cancel_->setEnabled(false);
        step_->setText("Cancelling");
        FireCancel();
    }

    QDialog window_{QApplication::activeWindow()};
    QLabel* step_ = new QLabel(&window_);
    QProgressBar* bar_ = new QProgressBar(&window_);
    QLabel* bytes_ = new QLabel(&window_);
    QPushButton* cancel_ = new QPushButton("Cancel", &window_);
    QElapsedTimer clock_;
    TransferRate rate_;
};

} // namespace

std::unique_ptr<Progress> CreateProgressWindow(const std::string& caption) {
    return std::make_unique<ProgressWindow>(caption);
}

} // namespace platform
