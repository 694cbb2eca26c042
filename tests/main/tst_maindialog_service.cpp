// The main window and the background service: the state query, the start and
// restart at sign-in, the restart buttons, the DNS flush, the clipboard copy,
// logout and exit. The service tool and the flush command are fakes.
#include "app/globals.h"
#include "app/myoperatorutil.h"
#include "dialogs/msgtipwidget.h"
#include "login/logindialog.h"
#include "main/maindialog.h"
#include "main/servicestate.h"
#include "platform/platform.h"
#include "support/browsersink.h"
#include "support/fakecommand.h"
#include "support/fakehttpserver.h"
#include "support/modalanswer.h"
#include "support/testenv.h"
#include "support/windowfixture.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

const QStringList kQuery{"query", "tessarosvc"};
const QStringList kStart{"start", "tessarosvc"};
const QStringList kStop{"stop", "tessarosvc"};

// What the tool prints on a Windows machine, line ends included.
QByteArray scOutput(const char *state)
{
    return QByteArray("\r\nSERVICE_NAME: tessarosvc \r\n"
                      "        TYPE               : 10  WIN32_OWN_PROCESS  \r\n"
                      "        STATE              : ") +
           state +
           " \r\n"
           "                                (STOPPABLE, NOT_PAUSABLE, ACCEPTS_SHUTDOWN)\r\n"
           "        WIN32_EXIT_CODE    : 0  (0x0)\r\n"
           "        SERVICE_EXIT_CODE  : 0  (0x0)\r\n"
           "        CHECKPOINT         : 0x0\r\n"
           "        WAIT_HINT          : 0x0\r\n";
}

const QByteArray kNotInstalled = "[SC] EnumQueryServicesStatus:OpenService FAILED 1060:\r\n\r\n"
                                 "The specified service does not exist as an installed "
                                 "service.\r\n\r\n";

// The icon a tip of this kind shows, as a user would see it.
QImage tipIcon(int kind)
{
    MsgTipWidget reference;
    reference.showTip(kind, QStringLiteral("x"));
    return reference.findChild<QLabel *>("label")->pixmap(Qt::ReturnByValue).toImage();
}

struct Tip
{
    QString text;
    QImage icon;
    QPoint pos;
};

Tip tipOf(MsgTipWidget *tip)
{
    const QLabel *icon = tip->findChild<QLabel *>("label");
    return {tip->findChild<QLabel *>("label_2")->text(), icon->pixmap(Qt::ReturnByValue).toImage(),
            tip->pos()};
}

QList<Tip> tipsOf(QWidget *window)
{
    QList<Tip> tips;
    for (MsgTipWidget *tip : window->findChildren<MsgTipWidget *>())
        tips.append(tipOf(tip));
    return tips;
}

// Every tip a window has shown, also those gone since: a tip frees itself
// once hidden, and is taken just before.
class TipLog : public QObject
{
public:
    explicit TipLog(QWidget *window) : m_window(window) { window->installEventFilter(this); }
    QList<Tip> shown() const { return m_gone + tipsOf(m_window); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::ChildAdded)
            static_cast<QChildEvent *>(event)->child()->installEventFilter(this);
        if (event->type() == QEvent::DeferredDelete) {
            if (auto *tip = qobject_cast<MsgTipWidget *>(watched))
                m_gone.append(tipOf(tip));
        }
        return false;
    }

private:
    QWidget *m_window;
    QList<Tip> m_gone;
};

QList<LoginDialog *> loginDialogs()
{
    QList<LoginDialog *> found;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *login = dynamic_cast<LoginDialog *>(widget))
            found.append(login);
    return found;
}

QByteArray storeBytes()
{
    QFile file(platform::credentialStorePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestMainDialogService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void parseQueryOutput_data();
    void parseQueryOutput();
    void queryServiceStateRunsTheTool();
    void signInStartsAStoppedServiceThenRestartsIt();
    void signInRestartsARunningServiceWithoutStartingIt();
    void restartButtonsRestartOncePerPress();
    void restartWaitsWhileTheServiceStarts();
    void serviceThatTakesItsTimeToStop_data();
    void serviceThatTakesItsTimeToStop();
    void refusedCommandsAreNoSuccess_data();
    void refusedCommandsAreNoSuccess();
    void flushDns_data();
    void flushDns();
    void copyToClipboard();
    void logoutDeclinedChangesNothing();
    void logoutConfirmed_data();
    void logoutConfirmed();
    void signedOutWindowGoesOnceItsWaitsEnd();
    void exitClosesOnlyTheWindow();

private:
    void makeWindow();
    QPushButton *button(const char *name) { return m_window->findChild<QPushButton *>(name); }
    void writeAccount();

    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<FakeCommand> m_sc;
    std::unique_ptr<FakeCommand> m_dns;
    std::unique_ptr<MainDialog> m_window;
    platform::Overrides m_overrides;
    BrowserSink m_browser;
};

void TestMainDialogService::initTestCase()
{
    initTestEnvironment();
    // No browser or file manager may open from here.
    m_browser.install();
}

void TestMainDialogService::init()
{
    m_server = startFakeProvider();
    QVERIFY(m_server);

    m_sc = std::make_unique<FakeCommand>(QStringLiteral("sc"));
    m_sc->setServiceState("RUNNING");
    m_dns = std::make_unique<FakeCommand>(QStringLiteral("flushdns"));
    m_overrides = platform::Overrides();
    m_overrides.serviceControlProgram = m_sc->program();
    m_overrides.dnsFlushCommand = {m_dns->program(), {QStringLiteral("/flushdns")}};
    m_overrides.commandWaitMs = 1500;
    platform::setOverrides(m_overrides);
    QFile::remove(platform::credentialStorePath());
}

void TestMainDialogService::cleanup()
{
    m_window.reset();
    qDeleteAll(loginDialogs());
    platform::clearOverrides();
}

void TestMainDialogService::makeWindow()
{
    m_window = std::make_unique<MainDialog>(nullptr);
}

void TestMainDialogService::writeAccount()
{
    MyOperatorUtil store;
    store.setValue(QStringLiteral("server/user"), QStringLiteral("alice"));
    store.setValue(QStringLiteral("server/pass"), QStringLiteral("secret"));
    store.setValue(QStringLiteral("server/userId"), QStringLiteral("42"));
}

void TestMainDialogService::parseQueryOutput_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("state");
    QTest::newRow("running") << scOutput("4  RUNNING") << "4  RUNNING";
    QTest::newRow("stopped") << scOutput("1  STOPPED") << "1  STOPPED";
    QTest::newRow("start pending") << scOutput("2  START_PENDING") << "2  START_PENDING";
    QTest::newRow("line feeds only")
        << scOutput("4  RUNNING").replace("\r\n", "\n") << "4  RUNNING";
    QTest::newRow("not installed") << kNotInstalled << "";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("no colon, later STATE line ignored")
        << QByteArray("        STATE              4  RUNNING\r\n"
                      "        STATE              : 4  RUNNING\r\n")
        << "";
    static const char beforeNul[] = "SERVICE_NAME: tessarosvc\r\n\0";
    QTest::newRow("NUL before the STATE line")
        << QByteArray(beforeNul, sizeof beforeNul - 1) + scOutput("4  RUNNING") << "";
    QTest::newRow("tab indentation") << QByteArray("\tSTATE              : 4  RUNNING\r\n") << "";
    QTest::newRow("four blanks") << QByteArray("    STATE              : 4  RUNNING\r\n") << "";
    QTest::newRow("nine blanks") << QByteArray("         STATE              : 4  RUNNING\r\n")
                                 << "";
    QTest::newRow("lower case") << QByteArray("        state              : 4  RUNNING\r\n") << "";
    QTest::newRow("nothing after the colon")
        << QByteArray("        STATE              :   \r\n") << "";
}

void TestMainDialogService::parseQueryOutput()
{
    QFETCH(QByteArray, output);
    QFETCH(QString, state);
    QCOMPARE(servicestate::parseQueryOutput(output), state);
}

void TestMainDialogService::queryServiceStateRunsTheTool()
{
    makeWindow();
    const int before = m_sc->runCount();
    m_sc->setOutput(scOutput("1  STOPPED"));
    QCOMPARE(m_window->queryServiceState(), QStringLiteral("1  STOPPED"));
    QCOMPARE(m_sc->invocations().mid(before), QList<QStringList>{kQuery});

    m_sc->setOutput(kNotInstalled);
    m_sc->setExitCode(1060);
    QCOMPARE(m_window->queryServiceState(), QString());

    // A tool that never ends is given up after the command wait.
    m_sc->setOutput(QByteArray());
    m_sc->setExitCode(0);
    m_sc->setHang(true);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(m_window->queryServiceState(), QString());
    QVERIFY(clock.elapsed() < m_overrides.commandWaitMs + 1500);

    // A tool that cannot be started reads the same as no state.
    m_overrides.serviceControlProgram = QStringLiteral("/nonexistent/sc");
    platform::setOverrides(m_overrides);
    QCOMPARE(m_window->queryServiceState(), QString());
}

void TestMainDialogService::signInStartsAStoppedServiceThenRestartsIt()
{
    m_sc->setServiceState("STOPPED");
    makeWindow();
    QCOMPARE(m_sc->invocations(), (QList<QStringList>{kQuery, kStart}));
    QPushButton *fresh = button("btn_fresh");
    QCOMPARE(fresh->text(), QStringLiteral("正在重启中"));
    QVERIFY(!fresh->isEnabled());
    QVERIFY(fresh->styleSheet().contains(QLatin1String("#fc5531")));
    QVERIFY(button("btn_fresh_2")->isEnabled());

    // Nothing more until two seconds have passed; then the stop is seen
    // through to STOPPED before the start.
    QTest::qWait(1500);
    QCOMPARE(m_sc->runCount(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(m_sc->runCount(), 6, 3000);
    QCOMPARE(m_sc->invocations(),
             (QList<QStringList>{kQuery, kStart, kStop, kQuery, kStart, kQuery}));
    QTRY_VERIFY(fresh->isEnabled());
    QCOMPARE(fresh->text(), QStringLiteral("重启服务"));

    const QList<Tip> tips = tipsOf(m_window.get());
    QCOMPARE(tips.size(), 1);
    QCOMPARE(tips[0].text, QStringLiteral("服务重启成功!"));
    QCOMPARE(tips[0].icon, tipIcon(1));
    QCOMPARE(tips[0].pos, QPoint(300, 2));
}

void TestMainDialogService::signInRestartsARunningServiceWithoutStartingIt()
{
    makeWindow();
    QCOMPARE(m_sc->invocations(), QList<QStringList>{kQuery});
    QVERIFY(!button("btn_fresh")->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(tipsOf(m_window.get()).size(), 1, 4000);
    QCOMPARE(m_sc->invocations(), (QList<QStringList>{kQuery, kStop, kQuery, kStart, kQuery}));
    for (const char *name : {"btn_fresh", "btn_fresh_2"}) {
        QVERIFY(button(name)->isEnabled());
        QCOMPARE(button(name)->text(), QStringLiteral("重启服务"));
        QVERIFY(button(name)->styleSheet().contains(QLatin1String("rgb(90, 90, 90)")));
    }
    const QList<Tip> tips = tipsOf(m_window.get());
    QCOMPARE(tips[0].text, QStringLiteral("服务重启成功!"));
    QCOMPARE(tips[0].icon, tipIcon(1));
}

void TestMainDialogService::restartButtonsRestartOncePerPress()
{
    makeWindow();
    TipLog log(m_window.get());
    QTRY_COMPARE_WITH_TIMEOUT(m_sc->runCount(), 5, 4000); // the sign-in restart
    QPushButton *fresh = button("btn_fresh");
    QPushButton *fresh2 = button("btn_fresh_2");

    // Two presses within two seconds: one restart.
    QTest::mouseClick(fresh, Qt::LeftButton);
    QCOMPARE(fresh->text(), QStringLiteral("正在重启中"));
    QTest::qWait(300);
    QTest::mouseClick(fresh, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_sc->runCount(), 9, 4000);
    QTest::qWait(2500);
    QCOMPARE(m_sc->runCount(), 9);

    // One press on each button: two restarts; the first restores both.
    QTest::mouseClick(fresh, Qt::LeftButton);
    QTest::qWait(1500);
    QTest::mouseClick(fresh2, Qt::LeftButton);
    QVERIFY(!fresh->isEnabled());
    QVERIFY(!fresh2->isEnabled());
    QCOMPARE(fresh2->text(), QStringLiteral("正在重启中"));
    QTRY_COMPARE_WITH_TIMEOUT(m_sc->runCount(), 13, 4000);
    QTRY_VERIFY(fresh->isEnabled());
    QVERIFY(fresh2->isEnabled());
    QCOMPARE(fresh->text(), QStringLiteral("重启服务"));
    QCOMPARE(fresh2->text(), QStringLiteral("重启服务"));
    QTRY_COMPARE_WITH_TIMEOUT(m_sc->runCount(), 17, 4000);
    QCOMPARE(m_sc->invocations().mid(13), (QList<QStringList>{kStop, kQuery, kStart, kQuery}));
    QTRY_COMPARE(log.shown().size(), 4);
}

void TestMainDialogService::restartWaitsWhileTheServiceStarts()
{
    // Windows' answer to a start: pending, for a while.
    m_sc->setServiceState("RUNNING", 6);
    makeWindow();
    TipLog log(m_window.get());
    QTRY_VERIFY_WITH_TIMEOUT(m_sc->runCount() >= 7, 5000); // ... start, query, query, ...
    QVERIFY(log.shown().isEmpty());
    QVERIFY(!button("btn_fresh")->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(log.shown().size(), 1, 4000);
    QCOMPARE(log.shown()[0].text, QStringLiteral("服务重启成功!"));
    QVERIFY(button("btn_fresh")->isEnabled());

    // A start that stays pending fails once the wait is over, looked at
    // every quarter second meanwhile.
    m_sc->setServiceState("RUNNING", 1000);
    const int before = m_sc->runCount();
    QElapsedTimer clock;
    clock.start();
    m_window->restartService();
    QTRY_COMPARE_WITH_TIMEOUT(log.shown().size(), 2, 15000);
    QVERIFY2(clock.elapsed() >= MainDialog::RestartWaitMs - 500,
             qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(log.shown()[1].text, QStringLiteral("服务重启失败，请检查后台服务"));
    const int queries = m_sc->runCount() - before - 3; // stop, query (stopped), start
    QVERIFY2(queries >= 20 && queries <= 42, qPrintable(QString::number(queries)));
}

void TestMainDialogService::serviceThatTakesItsTimeToStop_data()
{
    // Windows answers a stop at once with STOP_PENDING and refuses a start
    // until the service has reached STOPPED.
    QTest::addColumn<QByteArray>("state");
    QTest::newRow("restart of a running service") << QByteArray("RUNNING");
    QTest::newRow("sign-in while the last account's service stops") << QByteArray("STOP_PENDING");
}

void TestMainDialogService::serviceThatTakesItsTimeToStop()
{
    QFETCH(QByteArray, state);
    m_sc->setServiceState(state, 0, 8); // two seconds of STOP_PENDING
    makeWindow();
    QTRY_COMPARE_WITH_TIMEOUT(tipsOf(m_window.get()).size(), 1, 12000);
    QCOMPARE(tipsOf(m_window.get())[0].text, QStringLiteral("服务重启成功!"));
    // Each start came once the service had stopped, so none was refused, and
    // the service runs.
    QCOMPARE(m_sc->invocations().count(kStart), state == "RUNNING" ? 1 : 2);
    QCOMPARE(m_window->queryServiceState(), QStringLiteral("4  RUNNING"));
}

void TestMainDialogService::refusedCommandsAreNoSuccess_data()
{
    QTest::addColumn<QByteArrayList>("refused");
    QTest::addColumn<QString>("cause");
    // A standard user under the default access list: the old service goes
    // on with the previous account while sc query says RUNNING.
    QTest::newRow("stop and start refused") << QByteArrayList{"stop", "start"} << "sc stop";
    QTest::newRow("start refused") << QByteArrayList{"start"} << "sc start";
}

void TestMainDialogService::refusedCommandsAreNoSuccess()
{
    QFETCH(QByteArrayList, refused);
    QFETCH(QString, cause);
    for (const QByteArray &verb : refused)
        m_sc->refuseServiceCommand(verb, 5);
    // The log names the cause; the test fails if it does not come.
    QTest::ignoreMessage(
        QtDebugMsg,
        qPrintable(
            QStringLiteral("Service restart failed: \"%1 was refused (error 5)\"").arg(cause)));
    makeWindow();
    QTRY_COMPARE_WITH_TIMEOUT(tipsOf(m_window.get()).size(), 1, 4000);
    QCOMPARE(tipsOf(m_window.get())[0].text, QStringLiteral("服务重启失败，请检查后台服务"));
    QCOMPARE(tipsOf(m_window.get())[0].icon, tipIcon(-1));
}

void TestMainDialogService::flushDns_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("hang");
    QTest::addColumn<bool>("missing");
    QTest::addColumn<QString>("tip");
    QTest::newRow("flushed") << 0 << false << false << "DNS缓存已清除！";
    QTest::newRow("command fails") << 1 << false << false << "DNS缓存清除失败";
    QTest::newRow("command hangs") << 0 << true << false << "DNS缓存清除失败";
    QTest::newRow("command missing") << 0 << false << true << "DNS缓存清除失败";
    // The system's own tool. Wine's ipconfig refuses /flushdns (exit code 1,
    // "Unknown or invalid command line parameters"): a failure, not a success.
    if (runsUnderWine())
        QTest::newRow("Wine's ipconfig") << 1 << false << false << "DNS缓存清除失败";
}

void TestMainDialogService::flushDns()
{
    QFETCH(int, exitCode);
    QFETCH(bool, hang);
    QFETCH(bool, missing);
    QFETCH(QString, tip);
    makeWindow();
    m_dns->setExitCode(exitCode);
    m_dns->setHang(hang);
    const bool systemTool = QByteArray(QTest::currentDataTag()) == "Wine's ipconfig";
    if (missing || systemTool) {
        m_overrides.dnsFlushCommand.program =
            systemTool ? QString() : QStringLiteral("/nonexistent/flush");
        if (systemTool)
            m_overrides.commandWaitMs = 10000; // refused, not ended by the wait
        platform::setOverrides(m_overrides);
    }
    QElapsedTimer clock;
    clock.start();
    m_window->flushDns();
    QVERIFY(clock.elapsed() < m_overrides.commandWaitMs + 1500);
    QCOMPARE(m_dns->runCount(), missing || systemTool ? 0 : 1);
    const QList<Tip> tips = tipsOf(m_window.get());
    QCOMPARE(tips.size(), 1);
    QCOMPARE(tips[0].text, tip);
    QCOMPARE(tips[0].icon, tipIcon(exitCode == 0 && !hang && !missing ? 1 : -1));
}

void TestMainDialogService::copyToClipboard()
{
    makeWindow();
    m_window->copyToClipboard(QStringLiteral("demo.example.test:40012"));
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("demo.example.test:40012"));
    const QList<Tip> tips = tipsOf(m_window.get());
    QCOMPARE(tips.size(), 1);
    QCOMPARE(tips[0].text, QStringLiteral("已复制到剪切板"));
    QCOMPARE(tips[0].icon, tipIcon(1));
    QCOMPARE(tips[0].pos, QPoint(300, 2));
}

void TestMainDialogService::logoutDeclinedChangesNothing()
{
    writeAccount();
    makeWindow();
    m_window->show();
    QTRY_COMPARE_WITH_TIMEOUT(m_sc->runCount(), 5, 4000);
    const QByteArray store = storeBytes();
    answerNextModal("btn_cance");
    button("exit_login_btn")->click();
    QVERIFY(m_window->isVisible());
    QCOMPARE(m_sc->runCount(), 5);
    QCOMPARE(storeBytes(), store);
    QVERIFY(loginDialogs().isEmpty());
}

void TestMainDialogService::logoutConfirmed_data()
{
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("hangs");
    QTest::addColumn<bool>("storeLocked");
    QTest::addColumn<QString>("notice");
    const QString stopped = QStringLiteral("退出账号，内网穿透服务已停止!");
    const QString running = QStringLiteral("退出账号，内网穿透服务未能停止，请检查后台服务");
    QTest::newRow("service stops") << QByteArray("RUNNING") << false << false << false << stopped;
    QTest::newRow("already stopped") << QByteArray("STOPPED") << false << false << false << stopped;
    // Only what happened is told: the service goes on serving the account.
    QTest::newRow("stop refused") << QByteArray("RUNNING") << true << false << false << running;
    QTest::newRow("stop hangs") << QByteArray("RUNNING") << false << true << false << running;
    QTest::newRow("store cannot be emptied")
        << QByteArray("RUNNING") << false << false << true
        << QStringLiteral("退出账号，但保存的账户信息未能清除，内网穿透服务已停止!");
}

void TestMainDialogService::logoutConfirmed()
{
    QFETCH(QByteArray, state);
    QFETCH(bool, refused);
    QFETCH(bool, hangs);
    QFETCH(bool, storeLocked);
    QFETCH(QString, notice);
    writeAccount();
    makeWindow();
    m_window->show();
    QTRY_COMPARE_WITH_TIMEOUT(m_sc->runCount(), 5, 4000);
    const QString path = platform::credentialStorePath();
    if (storeLocked) {
        QFile::remove(path);
        QVERIFY(QDir().mkpath(path)); // nothing can be written there now
    }
    m_sc->setServiceState(state);
    if (refused)
        m_sc->refuseServiceCommand("stop", 5);
    m_sc->setHang(hangs);

    QString question;
    answerNextModal("btn_ok", [&question](QWidget *dialog) {
        question = dialog->windowTitle() + QLatin1Char('|') +
                   dialog->findChild<QLabel *>("label_2")->text();
    });
    button("exit_login_btn")->click();
    QCOMPARE(question, QStringLiteral("退出提示|确定停止服务并注销退出当前账号?"));
    // The signed-out window goes for good, on its own.
    QPointer<MainDialog> window(m_window.release());

    QCOMPARE(m_sc->invocations().value(5), kStop);
    if (storeLocked) {
        QDir(path).removeRecursively();
    } else {
        MyOperatorUtil store;
        for (const char *key : {"server/user", "server/pass", "server/userId"})
            QCOMPARE(store.getValue(QLatin1String(key)), QString());
    }
    QVERIFY(!window || !window->isVisible());

    const QList<LoginDialog *> logins = loginDialogs();
    QCOMPARE(logins.size(), 1);
    QVERIFY(logins[0]->isVisible());
    QVERIFY(!logins[0]->parentWidget());
    QCOMPARE(logins[0]->findChild<QLineEdit *>("lineEdit")->text(), QString());
    QCOMPARE(logins[0]->findChild<QLineEdit *>("lineEdit_2")->text(), QString());

    // Without a tray (as here) the new login dialog says how the stop went,
    // once it is known.
    QTRY_COMPARE_WITH_TIMEOUT(tipsOf(logins[0]).size(), 1, 5000);
    QCOMPARE(tipsOf(logins[0])[0].text, notice);

    QTRY_VERIFY(window.isNull());
}

// A window signed out from inside a wait (a question, a page load) goes as
// soon as that wait has ended and the event loop is idle again; not before,
// and without waiting for a timer.
void TestMainDialogService::signedOutWindowGoesOnceItsWaitsEnd()
{
    writeAccount();
    makeWindow();
    m_window->show();
    QPointer<MainDialog> window(m_window.release());
    bool aliveInsideTheWait = false;
    QEventLoop wait;
    QTimer::singleShot(0, &wait, [&] {
        answerNextModal("btn_ok");
        window->logout();
        QTimer::singleShot(200, &wait, [&] {
            aliveInsideTheWait = !window.isNull();
            wait.quit();
        });
    });
    wait.exec();
    QVERIFY(aliveInsideTheWait);
    QVERIFY(window);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(window.isNull());
}

void TestMainDialogService::exitClosesOnlyTheWindow()
{
    writeAccount();
    makeWindow();
    m_window->show();
    QTRY_COMPARE_WITH_TIMEOUT(m_sc->runCount(), 5, 4000);
    const QByteArray store = storeBytes();

    answerNextModal("btn_cance");
    m_window->confirmExit();
    QVERIFY(m_window->isVisible());

    answerNextModal("btn_ok");
    m_window->confirmExit();
    QVERIFY(!m_window->isVisible());
    QTest::qWait(100);
    QCOMPARE(m_sc->runCount(), 5);
    QCOMPARE(storeBytes(), store);
    QVERIFY(loginDialogs().isEmpty());
}

QTEST_MAIN(TestMainDialogService)
#include "tst_maindialog_service.moc"
