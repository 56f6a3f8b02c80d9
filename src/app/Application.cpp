#include "Application.h"

#include "Dialogs.h"

#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        platform::dialogs().MessageBox(e.what());
    } catch (...) {
        platform::dialogs().MessageBox("Unknown error");
    }
    return false;
}
