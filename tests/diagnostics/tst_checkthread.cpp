#include "diagnostics/checkthread.h"
#include "platform/platform.h"
#include "support/fakeresolver.h"
#include "support/loopbackports.h"
#include "support/testenv.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWidget>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const QString kLocalHost = QStringLiteral("127.0.0.1");

// Records every result with the thread that delivered it.
class ResultSink : public QObject
{
    Q_OBJECT

public:
    struct Result
    {
        bool success;
        QString label;
        QThread *thread;
    };
    std::vector<Result> m_results;

public slots:
    void onConnectionResult(bool success, QString label_index)
    {
        m_results.push_back({success, label_index, QThread::currentThread()});
    }
};

} // namespace

// Owner and receiver in one, as the main window is for its checks. Outside the
// unnamed namespace, where MinGW's GCC calls its meta-object code unused.
class ResultWindow : public QWidget
{
    Q_OBJECT

public slots:
    void onConnectionResult(bool, QString) { ++g_resultsAfterClose; }

public:
    static int g_resultsAfterClose;
};
int ResultWindow::g_resultsAfterClose = 0;

class CheckThreadTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void openPort_reportsSuccessWithLabel();
    void closedPort_reportsFailureQuickly();
    void unusableTargets_reportFailure_data();
    void unusableTargets_reportFailure();
    void result_arrivesQueuedInReceiversThread();
    void manyThreads_eachReportOnceWithOwnLabel();
    void silentTarget_givesUpAfterFiveSeconds();
    void namedTargets_resolveWithinTheBound();
    void destroyedWhileRunning_waitsAndDropsResult();

private:
    std::unique_ptr<QTcpServer> m_server;
};

void CheckThreadTest::initTestCase()
{
    initTestEnvironment();
    m_server = std::make_unique<QTcpServer>();
    QVERIFY(m_server->listen(QHostAddress::LocalHost));
}

void CheckThreadTest::openPort_reportsSuccessWithLabel()
{
    CheckThread thread;
    thread.setTarget(kLocalHost, QString::number(m_server->serverPort()));
    thread.setLabelIndex(QStringLiteral("内网"));
    QSignalSpy spy(&thread, &CheckThread::connectionResult);

    QTest::ignoreMessage(
        QtDebugMsg,
        QStringLiteral("开始检测 127.0.0.1:%1").arg(m_server->serverPort()).toUtf8().constData());
    QElapsedTimer clock;
    clock.start();
    thread.start();
    QVERIFY(spy.wait(6000));
    QVERIFY2(clock.elapsed() < 2000, "an open port answers at once");
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    QCOMPARE(spy.at(0).at(1).toString(), QStringLiteral("内网"));

    // The peer saw a real connection, and it is closed again once the run ends.
    QTRY_VERIFY(m_server->hasPendingConnections());
    std::unique_ptr<QTcpSocket> peer(m_server->nextPendingConnection());
    QVERIFY(thread.wait(2000));
    if (peer->state() == QAbstractSocket::ConnectedState) {
        QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
    }
    QCOMPARE(peer->bytesAvailable(), 0);

    // Exactly one report per run.
    QTest::qWait(50);
    QCOMPARE(spy.count(), 1);
}

void CheckThreadTest::closedPort_reportsFailureQuickly()
{
    const RefusingPort refusing;
    const quint16 port = refusing.port();
    QVERIFY(port != 0);
    CheckThread thread;
    thread.setTarget(kLocalHost, QString::number(port));
    thread.setLabelIndex(QStringLiteral("外网"));
    QSignalSpy spy(&thread, &CheckThread::connectionResult);

    QElapsedTimer clock;
    clock.start();
    thread.start();
    QVERIFY(spy.wait(6000));
    QVERIFY2(clock.elapsed() < 2000, "a refused connection is not waited out");
    QCOMPARE(spy.at(0).at(0).toBool(), false);
    QCOMPARE(spy.at(0).at(1).toString(), QStringLiteral("外网"));
}

void CheckThreadTest::unusableTargets_reportFailure_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("logged");
    // The listener's port with a mangled text: the text counts as port 0.
    const QString open = QString::number(m_server->serverPort());
    QTest::newRow("port text abc") << kLocalHost << "abc"
                                   << "开始检测 127.0.0.1:0";
    QTest::newRow("port with suffix") << kLocalHost << open + "x"
                                      << "开始检测 127.0.0.1:0";
    QTest::newRow("hex port") << kLocalHost << "0x50"
                              << "开始检测 127.0.0.1:0";
    QTest::newRow("empty port") << kLocalHost << ""
                                << "开始检测 127.0.0.1:0";
    QTest::newRow("empty host") << "" << open << QStringLiteral("开始检测 :") + open;
}

void CheckThreadTest::unusableTargets_reportFailure()
{
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QString, logged);
    CheckThread thread;
    thread.setTarget(host, port);
    thread.setLabelIndex(QStringLiteral("x"));
    QSignalSpy spy(&thread, &CheckThread::connectionResult);
    QTest::ignoreMessage(QtDebugMsg, logged.toUtf8().constData());
    thread.start();
    // The verdict, not its speed, is checked here: under Wine on a busy
    // machine the thread alone takes seconds to start.
    QVERIFY(spy.wait(20000));
    QCOMPARE(spy.at(0).at(0).toBool(), false);
    QCOMPARE(spy.at(0).at(1).toString(), QStringLiteral("x"));
}

void CheckThreadTest::result_arrivesQueuedInReceiversThread()
{
    ResultSink sink;
    CheckThread thread;
    connect(&thread, &CheckThread::connectionResult, &sink, &ResultSink::onConnectionResult);
    thread.setTarget(kLocalHost, QString::number(m_server->serverPort()));
    thread.setLabelIndex(QStringLiteral("内网"));
    thread.start();

    // Without an event loop on this thread the slot cannot have run, even once
    // the worker has finished.
    QVERIFY(thread.wait(6000));
    QVERIFY(sink.m_results.empty());

    QTRY_COMPARE(sink.m_results.size(), size_t(1));
    QCOMPARE(sink.m_results[0].thread, QThread::currentThread());
    QCOMPARE(sink.m_results[0].success, true);
    QCOMPARE(sink.m_results[0].label, QStringLiteral("内网"));
    delete m_server->nextPendingConnection();
}

void CheckThreadTest::manyThreads_eachReportOnceWithOwnLabel()
{
    const RefusingPort refusing;
    const quint16 refused = refusing.port();
    QVERIFY(refused != 0);
    ResultSink sink;
    QObject owner;
    const int count = 24;
    QList<QPointer<CheckThread>> threads;
    for (int i = 0; i < count; ++i) {
        auto *thread = new CheckThread(&owner);
        connect(thread, &CheckThread::connectionResult, &sink, &ResultSink::onConnectionResult);
        const quint16 port = (i % 2 == 0) ? m_server->serverPort() : refused;
        thread->setTarget(kLocalHost, QString::number(port));
        thread->setLabelIndex(QStringLiteral("t%1").arg(i));
        threads << thread;
    }
    for (CheckThread *thread : threads) {
        thread->start();
    }
    QTRY_COMPARE_WITH_TIMEOUT(sink.m_results.size(), size_t(count), 10000);

    QSet<QString> seen;
    for (const ResultSink::Result &result : sink.m_results) {
        QVERIFY2(!seen.contains(result.label), qPrintable(result.label));
        seen.insert(result.label);
        const int index = result.label.mid(1).toInt();
        QCOMPARE(result.success, index % 2 == 0);
        QCOMPARE(result.thread, QThread::currentThread());
    }

    // Finished threads can be released one by one.
    for (CheckThread *thread : threads) {
        QVERIFY(thread->wait(2000));
        delete thread;
    }
    QVERIFY(owner.children().isEmpty());
    while (m_server->hasPendingConnections()) {
        delete m_server->nextPendingConnection();
    }
}

void CheckThreadTest::silentTarget_givesUpAfterFiveSeconds()
{
    SilentPort listener;
    if (!listener.port()) {
        QFAIL("could not fill a loopback accept queue here");
    }
    CheckThread thread;
    thread.setTarget(kLocalHost, QString::number(listener.port()));
    thread.setLabelIndex(QStringLiteral("外网"));
    QSignalSpy spy(&thread, &CheckThread::connectionResult);
    QElapsedTimer clock;
    clock.start();
    thread.start();
    QVERIFY(spy.wait(9000));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 4900, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < 7000, qPrintable(QString::number(elapsed)));
    QCOMPARE(spy.at(0).at(0).toBool(), false);
    QCOMPARE(spy.at(0).at(1).toString(), QStringLiteral("外网"));
}

void CheckThreadTest::namedTargets_resolveWithinTheBound()
{
    // A name that resolves is connected to; one whose resolver never answers
    // ends the check at the same bound as a silent port.
    FakeResolver resolver;
    resolver.add(QStringLiteral("nas.test"), QHostAddress(QHostAddress::LocalHost));
    resolver.silence(QStringLiteral("slow.test"));
    resolver.install();
    CheckThread named;
    CheckThread slow;
    platform::clearOverrides();
    const QString port = QString::number(m_server->serverPort());
    named.setTarget(QStringLiteral("nas.test"), port);
    named.setLabelIndex(QStringLiteral("内网"));
    slow.setTarget(QStringLiteral("slow.test"), port);
    slow.setLabelIndex(QStringLiteral("外网"));
    QSignalSpy namedSpy(&named, &CheckThread::connectionResult);
    QSignalSpy slowSpy(&slow, &CheckThread::connectionResult);

    QElapsedTimer clock;
    clock.start();
    named.start();
    slow.start();
    QVERIFY(namedSpy.wait(6000));
    QCOMPARE(namedSpy.at(0).at(0).toBool(), true);
    QTRY_VERIFY(m_server->hasPendingConnections());
    delete m_server->nextPendingConnection();

    QVERIFY(slowSpy.count() == 1 || slowSpy.wait(9000));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 4900 && elapsed < 7000, qPrintable(QString::number(elapsed)));
    QCOMPARE(slowSpy.at(0).at(0).toBool(), false);
    QCOMPARE(slowSpy.at(0).at(1).toString(), QStringLiteral("外网"));
    QCOMPARE(resolver.lookups(), 2);
}

void CheckThreadTest::destroyedWhileRunning_waitsAndDropsResult()
{
    SilentPort listener;
    if (!listener.port()) {
        QFAIL("could not fill a loopback accept queue here");
    }
    // The window that owns and listens to a check closes in the middle of it:
    // the check must neither abort the program nor reach the gone window.
    auto *window = new ResultWindow;
    auto *thread = new CheckThread(window);
    connect(thread, &CheckThread::connectionResult, window, &ResultWindow::onConnectionResult);
    thread->setTarget(kLocalHost, QString::number(listener.port()));
    thread->setLabelIndex(QStringLiteral("内网"));
    thread->start();
    QTest::qWait(200);
    QVERIFY(thread->isRunning());

    QPointer<CheckThread> guard(thread);
    delete window;
    QVERIFY(guard.isNull());
    QTest::qWait(50); // any stray queued delivery would run here
    QCOMPARE(ResultWindow::g_resultsAfterClose, 0);
}

QTEST_MAIN(CheckThreadTest)
#include "tst_checkthread.moc"
