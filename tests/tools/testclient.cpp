// The whole client, as its users start it, with its event loop running, for
// the suites that watch the program's life from outside. The suite names its
// surroundings in the environment and drives the windows through the lines
// it writes to this program's standard input:
//   answer <button>            the next modal dialog gets <button> clicked
//   click <class> <object>     clicks the widget (a button, or a label with
//                              a click handler) in the newest such window
//   type <class> <object> <text>  sets the text of a line edit
//   text <class> <object>      prints "text <the label's or button's text>"
//   tips <class>               prints "tips <json>": the texts of the window's
//                              tips still shown
//   tray <entry>               chooses an entry of the tray icon's menu
//   action <text>              triggers a window's menu entry of that text
//   geometry <class>           prints "geometry W H DPR": the window's size in
//                              device-independent pixels and its pixel ratio
//   fit <class>                prints "fit <json>": the labels whose text is
//                              larger than they are, on every page
//   blurred <class>            prints "blurred <json>": the labels showing a
//                              picture enlarged where its @2x version is due
//   state                      prints "state <json>": the windows (shown,
//                              minimised, active), the open
//                              question's title, the main windows alive, the
//                              tray icons alive and the widgets alive
#include "app/client.h"
#include "app/globals.h"
#include "diagnostics/httpserverthread.h"
#include "dialogs/msgtipwidget.h"
#include "platform/platform.h"
#include "support/modalanswer.h"
#include "support/testenv.h"
#include "support/textfit.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

void reply(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The window's class.
QString className(const QWidget *widget)
{
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

// Labels of the window that show one of the client's small pictures although
// the display is scaled and a twice-as-large version exists.
QStringList blurredPictures(const QWidget *top)
{
    QList<QImage> small;
    QDirIterator it(QStringLiteral(":/images/icon"));
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.contains(QLatin1String("@2x")) &&
            QFile::exists(path.chopped(4) + QStringLiteral("@2x.png")))
            small << QImage(path).convertToFormat(QImage::Format_ARGB32);
    }
    QStringList blurred;
    for (const QLabel *label : top->findChildren<QLabel *>()) {
        const QPixmap shown = label->pixmap(Qt::ReturnByValue);
        if (shown.isNull() || shown.devicePixelRatioF() >= top->devicePixelRatioF())
            continue;
        if (small.contains(shown.toImage().convertToFormat(QImage::Format_ARGB32)))
            blurred << label->objectName();
    }
    return blurred;
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
        windows.append(QJsonObject{{"class", className(top)},
                                   {"visible", top->isVisible()},
                                   {"minimized", top->isMinimized()},
                                   {"active", top->isActiveWindow()}});
    }
    QWidget *modal = QApplication::activeModalWidget();
    const QJsonObject object{{"windows", windows},
                             {"modal", modal ? modal->windowTitle() : QString()},
                             {"mainWindows", mainWindows},
                             {"trayIcons", trayIcons().size()},
                             {"widgets", QApplication::allWidgets().size()}};
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
    if (command == QLatin1String("tips")) {
        QJsonArray texts;
        if (QWidget *top = window(words.value(1)))
            for (MsgTipWidget *tip : top->findChildren<MsgTipWidget *>()) {
                const QLabel *label = tip->findChild<QLabel *>(QStringLiteral("label_2"));
                // A tip hides itself after a while and stays behind hidden.
                if (label && tip->isVisible())
                    texts.append(label->text());
            }
        reply("tips " + QJsonDocument(texts).toJson(QJsonDocument::Compact));
        return;
    }
    if (command == QLatin1String("tray") || command == QLatin1String("action")) {
        const QString entry = words.mid(1).join(QLatin1Char(' '));
        QList<QAction *> actions;
        if (command == QLatin1String("tray")) {
            for (QSystemTrayIcon *icon : trayIcons())
                if (icon->contextMenu())
                    actions += icon->contextMenu()->actions();
        } else {
            for (QWidget *top : QApplication::topLevelWidgets())
                actions += top->findChildren<QAction *>();
        }
        for (QAction *action : actions)
            if (action->text() == entry) {
                action->trigger();
                reply("ok " + command.toUtf8());
                return;
            }
        reply("error no " + command.toUtf8() + " entry " + entry.toUtf8());
        return;
    }
    if (command == QLatin1String("geometry") || command == QLatin1String("fit") ||
        command == QLatin1String("blurred")) {
        QWidget *top = window(words.value(1));
        if (!top || !top->isVisible()) {
            reply("error no window " + words.value(1).toUtf8());
            return;
        }
        if (command == QLatin1String("blurred")) {
            reply("blurred " + QJsonDocument(QJsonArray::fromStringList(blurredPictures(top)))
                                   .toJson(QJsonDocument::Compact));
            return;
        }
        if (command == QLatin1String("fit")) {
            reply("fit " + QJsonDocument(QJsonArray::fromStringList(clippedLabels(top)))
                               .toJson(QJsonDocument::Compact));
            return;
        }
        reply(QStringLiteral("geometry %1 %2 %3")
                  .arg(top->width())
                  .arg(top->height())
                  .arg(top->devicePixelRatioF())
                  .toUtf8());
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
    if (command == QLatin1String("text")) {
        QString shown;
        if (auto *label = qobject_cast<QLabel *>(target))
            shown = label->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(target))
            shown = button->text();
        reply("text " + shown.toUtf8());
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

// Reads the suite's lines on a thread of its own (a pipe cannot be watched by
// the event loop on every system). Each command runs from the event loop, so
// one that opens a modal dialog leaves the next lines still read.
void readCommands()
{
    std::thread([] {
        QByteArray line;
        char chunk[4096];
        for (;;) {
            // fgets returns at each line's end, not only once the chunk is full.
            if (!std::fgets(chunk, sizeof chunk, stdin)) {
                // The suite is gone: nothing drives this client any more.
                std::_Exit(3);
            }
            line.append(chunk);
            if (!line.endsWith('\n'))
                continue;
            const QStringList words =
                QString::fromUtf8(line.trimmed()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            line.clear();
            QMetaObject::invokeMethod(
                qApp, [words] { run(words); }, Qt::QueuedConnection);
        }
    }).detach();
}

} // namespace

int main(int argc, char *argv[])
{
    // The suite's runtime folder, where a running client is found by a later
    // start: a second test client of the same suite meets the first there.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    initTestEnvironment();
    if (!runtime.isEmpty())
        qputenv("XDG_RUNTIME_DIR", runtime);
    g_apiBaseUrl = g_webBaseUrl = qEnvironmentVariable("TESSARO_TEST_API");
    // What the suite leaves unnamed stays as the client has it: the run on
    // Windows uses the system's own sc, ProgramData and port 18000.
    platform::Overrides overrides;
    overrides.serviceControlProgram = qEnvironmentVariable("TESSARO_TEST_SC");
    if (!overrides.serviceControlProgram.isEmpty())
        overrides.commandWaitMs = 3000;
    overrides.credentialStorePath = qEnvironmentVariable("TESSARO_TEST_STORE");
    if (!overrides.credentialStorePath.isEmpty())
        overrides.serviceLogPath = testHomePath() + QStringLiteral("/service-logs");
    // NAME=ADDRESS,...: names the machine's resolver does not know (the
    // provider's public names on loopback).
    const QStringList hosts =
        qEnvironmentVariable("TESSARO_TEST_HOSTS").split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (!hosts.isEmpty()) {
        overrides.hostLookup = [hosts](const QString &name) {
            for (const QString &entry : hosts) {
                if (entry.section(QLatin1Char('='), 0, 0).compare(name, Qt::CaseInsensitive) != 0)
                    continue;
                QHostInfo info;
                info.setHostName(name);
                info.setAddresses({QHostAddress(entry.section(QLatin1Char('='), 1))});
                return info;
            }
            return QHostInfo::fromName(name);
        };
    }
    platform::setOverrides(overrides);
    if (qEnvironmentVariableIsSet("TESSARO_TEST_WEB_PORT"))
        HttpServerThread::setDefaultEndpoint(
            static_cast<quint16>(qEnvironmentVariableIntValue("TESSARO_TEST_WEB_PORT")),
            QHostAddress(QHostAddress::LocalHost));
    else
        HttpServerThread::setDefaultEndpoint(HttpServerThread::DefaultPort,
                                             QHostAddress(QHostAddress::Any));

    return runClient(argc, argv, [] {
        readCommands();
        reply("ready");
    });
}
