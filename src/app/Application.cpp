#include "Application.h"

#include "ErrorReport.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    // Handlers run through platform::Guarded; this is the net for anything
    // that still escapes an event.
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        platform::ReportCurrentException();
    }
    return false;
}
