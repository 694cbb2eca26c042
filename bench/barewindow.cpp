// The floor of the start-up figure: a widgets application with the client's
// platform settings, showing the kind of content the login dialog shows (a
// line edit, a button and a line of Chinese text in the client's font) in a
// frameless window of its size, and nothing else.
#include "platform/platform.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

int main(int argc, char *argv[])
{
    platform::prepareApplication();
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.setWindowTitle(QStringLiteral("Tessaro登录"));
    window.resize(800, 550);
    auto *caption = new QLabel(QStringLiteral("账号登录"), &window);
    caption->setStyleSheet(QStringLiteral("font: 16px \"微软雅黑\"; color: rgb(90, 90, 90);"));
    caption->setGeometry(330, 140, 200, 30);
    auto *name = new QLineEdit(&window);
    name->setPlaceholderText(QStringLiteral("请输入用户名"));
    name->setStyleSheet(QStringLiteral("font: 14px \"微软雅黑\";"));
    name->setGeometry(250, 200, 300, 36);
    auto *button = new QPushButton(QStringLiteral("登录"), &window);
    button->setStyleSheet(QStringLiteral("font: 14px \"微软雅黑\";"));
    button->setGeometry(250, 260, 300, 36);
    window.show();
    return app.exec();
}
