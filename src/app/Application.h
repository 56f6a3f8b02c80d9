// The application object. Its event dispatch is the program's general error
// handler: an exception escaping any event handler is shown in a message box
// and the program goes on.
#pragma once

#include <QApplication>

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
