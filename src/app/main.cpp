#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle("Brindlewick!");
    window.setFixedSize(159, 354);
    window.show();
    return app.exec();
}
