// The floor of the start-up figure: a widgets application showing one empty
// window of the login dialog's size, and nothing else.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.resize(800, 550);
    window.show();
    return app.exec();
}
