// The whole client, as its users start it, with its event loop running, for
// the suites that watch the program's life from outside. The suite names its
// surroundings in the environment and drives the windows through the lines
// it writes to this program's standard input:
//   answer <button>            the next modal dialog gets <button> clicked
//   click <class> <object>     clicks the widget (a button, or a label with
//                              a click handler) in the newest such window
//   type <class> <object> <text>  sets the text of a line edit
//   tray <entry>               chooses an entry of the tray icon's menu
//   state                      prints "state <json>": the windows, the open
//                              question's title, the main windows alive and
//                              the tray icons alive
#include "app/client.h"
#include "app/globals.h"
#include "diagnostics/httpserverthread.h"
#include "login/logindialog.h"
#include "platform/platform.h"
#include "support/modalanswer.h"
#include "support/testenv.h"

#include <QAbstractButton>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

void reply(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The window's class; the login dialog has no meta-object of its own.
QString className(const QWidget *widget)
{
    if (dynamic_cast<const LoginDialog *>(widget))
        return QStringLiteral("LoginDialog");
    return QString::fromLatin1(widget->metaObject()->className());
}

// A top-level window of the class, a visible one if there is one (hidden
// login dialogs stay behind after each sign-in).
QWidget *window(const QString &className)
{
    QWidget *found = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (::className(widget) != className)
            continue;
        if (widget->isVisible())
            return widget;
        found = widget;
    }
    return found;
}

QWidget *widget(const QString &className, const QString &objectName)
{
    QWidget *top = window(className);
    if (!top)
        return nullptr;
    return top->objectName() == objectName ? top : top->findChild<QWidget *>(objectName);
}

QList<QSystemTrayIcon *> trayIcons()
{
    QList<QSystemTrayIcon *> icons = qApp->findChildren<QSystemTrayIcon *>();
    for (QWidget *top : QApplication::topLevelWidgets())
        icons += top->findChildren<QSystemTrayIcon *>();
    return icons;
}

QByteArray state()
{
    QJsonArray windows;
    int mainWindows = 0;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (className(top) == QLatin1String("MainDialog"))
            ++mainWindows;
        if (top->windowType() == Qt::Popup || top->windowType() == Qt::ToolTip)
            continue;
        windows.append(QJsonObject{{"class", className(top)}, {"visible", top->isVisible()}});
    }
    QWidget *modal = QApplication::activeModalWidget();
    const QJsonObject object{{"windows", windows},
                             {"modal", modal ? modal->windowTitle() : QString()},
                             {"mainWindows", mainWindows},
                             {"trayIcons", trayIcons().size()}};
    return "state " + QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void run(const QStringList &words)
{
    const QString command = words.value(0);
    if (command == QLatin1String("state")) {
        reply(state());
        return;
    }
    if (command == QLatin1String("answer")) {
        answerNextModal(words.value(1).toLatin1().constData());
        reply("ok answer");
        return;
    }
    if (command == QLatin1String("tray")) {
        const QString entry = words.mid(1).join(QLatin1Char(' '));
        for (QSystemTrayIcon *icon : trayIcons()) {
            if (!icon->contextMenu())
                continue;
            for (QAction *action : icon->contextMenu()->actions())
                if (action->text() == entry) {
                    action->trigger();
                    reply("ok tray");
                    return;
                }
        }
        reply("error no tray entry " + entry.toUtf8());
        return;
    }
    QWidget *target = widget(words.value(1), words.value(2));
    if (!target) {
        reply("error no widget " + words.mid(1, 2).join(QLatin1Char(' ')).toUtf8());
        return;
    }
    if (command == QLatin1String("type")) {
        if (auto *edit = qobject_cast<QLineEdit *>(target))
            edit->setText(words.mid(3).join(QLatin1Char(' ')));
        reply("ok type");
        return;
    }
    if (command == QLatin1String("click")) {
        if (auto *button = qobject_cast<QAbstractButton *>(target))
            button->click();
        else
            QTest::mouseClick(target, Qt::LeftButton);
        reply("ok click");
        return;
    }
    reply("error unknown command " + command.toUtf8());
}

// Reads the suite's lines. Each command runs from the event loop, so one that
// opens a modal dialog leaves the next lines still read.
class ControlSeam : public QObject
{
public:
    explicit ControlSeam(QObject *parent)
        : QObject(parent), m_notifier(STDIN_FILENO, QSocketNotifier::Read, this)
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, &ControlSeam::readInput);
    }

private:
    void readInput()
    {
        char chunk[4096];
        const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (count <= 0) {
            // The suite is gone: nothing drives this client any more.
            m_notifier.setEnabled(false);
            std::_Exit(3);
        }
        m_pending.append(chunk, static_cast<int>(count));
        int end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QStringList words =
                QString::fromUtf8(m_pending.left(end)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            m_pending.remove(0, end + 1);
            QTimer::singleShot(0, this, [words] { run(words); });
        }
    }

    QSocketNotifier m_notifier;
    QByteArray m_pending;
};

} // namespace

int main(int argc, char *argv[])
{
    initTestEnvironment();
    g_apiBaseUrl = g_webBaseUrl = qEnvironmentVariable("TESSARO_TEST_API");
    platform::Overrides overrides;
    overrides.serviceControlProgram = qEnvironmentVariable("TESSARO_TEST_SC");
    overrides.credentialStorePath = qEnvironmentVariable("TESSARO_TEST_STORE");
    overrides.serviceLogPath = testHomePath() + QStringLiteral("/service-logs");
    overrides.commandWaitMs = 3000;
    platform::setOverrides(overrides);
    HttpServerThread::setDefaultEndpoint(
        static_cast<quint16>(qEnvironmentVariableIntValue("TESSARO_TEST_WEB_PORT")),
        QHostAddress(QHostAddress::LocalHost));

    return runClient(argc, argv, [] {
        new ControlSeam(qApp);
        reply("ready");
    });
}
