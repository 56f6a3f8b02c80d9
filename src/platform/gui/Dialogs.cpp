#include "Dialogs.h"

#include "LogWindow.h"
#include "ProgressWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>

#include <algorithm>

namespace platform {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The input dialog's edit box is as wide as on the designed platform, or
// wider where its text needs the room (frame and inner margins).
constexpr int MinEditWidth = 250;
constexpr int EditTextMargin = 16;

QWidget* Owner() {
    return QApplication::activeWindow();
}

class QtDialogs : public Dialogs {
public:
    void MessageBox(const std::string& text) override {
        QMessageBox box(QMessageBox::NoIcon, Q(ApplicationTitle()), Q(text), QMessageBox::Ok,
                        Owner());
        box.exec();
    }

    bool InputQuery(const std::string& caption, const std::string& prompt,
                    std::string& value) override {
        QInputDialog dialog(Owner());
        dialog.setWindowTitle(Q(caption));
        dialog.setLabelText(Q(prompt));
        dialog.setTextValue(Q(value));
        dialog.setOkButtonText("OK");
        dialog.setCancelButtonText("Cancel");
        if (auto* edit = dialog.findChild<QLineEdit*>()) {
            edit->setMaxLength(255);
            edit->selectAll();
            // Wide enough to show the whole text (a published URL is read
            // from here), within the screen.
            // The caption too: the window manager cuts a title that does
            // not fit (its own margins and buttons take about as much again).
            const int text = edit->fontMetrics().horizontalAdvance(edit->text());
            const int title = edit->fontMetrics().horizontalAdvance(Q(caption));
            int width = std::max({MinEditWidth, text + EditTextMargin, title * 2});
            if (const QScreen* screen = dialog.screen())
                width = std::min(width, screen->availableGeometry().width() * 3 / 4);
            edit->setMinimumWidth(width);
        }
        if (dialog.exec() != QDialog::Accepted) return false;
        value = dialog.textValue().toStdString();
        return true;
    }

    void InputBox(const std::string& caption, const std::string& prompt,
                  const std::string& text) override {
        std::string shown = text;
        InputQuery(caption, prompt, shown);
    }

    void MessageBoxWithDetails(const std::string& text, const std::string& details) override {
        QMessageBox box(QMessageBox::NoIcon, Q(ApplicationTitle()), Q(text), QMessageBox::Ok,
                        Owner());
        if (!details.empty()) box.setDetailedText(Q(details));
        box.exec();
    }

    std::unique_ptr<Progress> ShowProgress(const std::string& caption) override {
        return CreateProgressWindow(caption);
    }

    std::unique_ptr<Log> ShowLog(const std::string& caption) override {
        return CreateLogWindow(caption);
    }

    bool Confirm(const std::string& text) override {
        QMessageBox box(QMessageBox::Question, "Confirm", Q(text),
                        QMessageBox::Yes | QMessageBox::No, Owner());
        return box.exec() == QMessageBox::Yes;
    }

    bool SecretQuery(const std::string& caption, const std::string& prompt,
                     std::string& value) override {
        QInputDialog dialog(Owner());
        dialog.setWindowTitle(Q(caption));
        dialog.setLabelText(Q(prompt));
        dialog.setTextEchoMode(QLineEdit::Password);
        dialog.setOkButtonText("OK");
        dialog.setCancelButtonText("Cancel");
        if (dialog.exec() != QDialog::Accepted) return false;
        value = dialog.textValue().toStdString();
        return true;
    }
};

} // namespace

void Cancellable::FireCancel() {
    if (cancelFired_) return;
    cancelFired_ = true;
    if (OnCancel) OnCancel();
}

namespace {

std::unique_ptr<Dialogs>& Installed() {
    static std::unique_ptr<Dialogs> current;
    return current;
}

} // namespace

Dialogs& dialogs() {
    std::unique_ptr<Dialogs>& d = Installed();
    if (!d) d = std::make_unique<QtDialogs>();
    return *d;
}

void installDialogs(std::unique_ptr<Dialogs> replacement) {
    Installed() = std::move(replacement);
}

std::string ApplicationTitle() {
    return TitleFromFileName(
        QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString());
}

std::string TitleFromFileName(const std::string& fileName) {
    QString name = QString::fromStdString(fileName).section('.', 0, 0);
    if (name.size() > 1) name = name.left(1) + name.mid(1).toLower();
    return name.toStdString();
}

} // namespace platform
