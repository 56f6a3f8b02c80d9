#include "LogWindow.h"

#include <QApplication>
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace platform {
namespace {

class LogWindow : public Log {
public:
    explicit LogWindow(const std::string& caption) {
        window_.setWindowTitle(QString::fromStdString(caption));
        window_.resize(560, 340);
        auto* layout = new QVBoxLayout(&window_);
        layout->addWidget(text_);
        layout->addWidget(button_, 0, Qt::AlignRight);
        text_->setReadOnly(true);
        text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        button_->setAutoDefault(false);
        QObject::connect(button_, &QPushButton::clicked, [this] { Press(); });
        QObject::connect(&window_, &QDialog::rejected, [this] { Press(); });
        // Nothing else may start while the check runs on the event loop.
        window_.setWindowModality(Qt::ApplicationModal);
        window_.show();
    }

    void Add(const std::string& line) override {
        text_->appendPlainText(QString::fromStdString(line));
    }

    void Finish() override {
        finished_ = true;
        button_->setText("Close");
        button_->setEnabled(true);
        button_->setDefault(true);
        if (window_.isVisible()) window_.exec();
    }

private:
    void Press() {
        if (finished_) {
            window_.accept();
            return;
        }
        button_->setEnabled(false);
        Add("Cancelling...");
        FireCancel();
    }

    QDialog window_{QApplication::activeWindow()};
    QPlainTextEdit* text_ = new QPlainTextEdit(&window_);
    QPushButton* button_ = new QPushButton("Cancel", &window_);
    bool finished_ = false;
};

} // namespace

std::unique_ptr<Log> CreateLogWindow(const std::string& caption) {
    return std::make_unique<LogWindow>(caption);
}

} // namespace platform
