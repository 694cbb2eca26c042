#include "support/clientprocess.h"

#include "support/testenv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QTest>

ClientProcess::~ClientProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool ClientProcess::start(const Setup &setup, int timeoutMs)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TESSARO_TEST_API"), setup.apiBaseUrl);
    environment.insert(QStringLiteral("TESSARO_TEST_SC"), setup.serviceTool);
    environment.insert(QStringLiteral("TESSARO_TEST_STORE"), setup.credentialStore);
    environment.insert(QStringLiteral("TESSARO_TEST_WEB_PORT"), QString::number(setup.webPort));
    for (const QString &entry : m_environment)
        environment.insert(entry.section(QLatin1Char('='), 0, 0),
                           entry.section(QLatin1Char('='), 1));
    const QByteArray sanitizer = windowSanitizerOptions();
    if (!sanitizer.isEmpty())
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QString::fromLatin1(sanitizer));
    m_process.setProcessEnvironment(environment);
    m_process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tessaro-testclient"),
                    QStringList());
    return !nextLine("ready", timeoutMs).isNull();
}

QByteArray ClientProcess::command(const QByteArray &line, int timeoutMs)
{
    send(line);
    const QByteArray ok = nextLine("ok " + line.left(line.indexOf(' ')), timeoutMs);
    return ok.isNull() ? QByteArray("no answer") : ok;
}

void ClientProcess::send(const QByteArray &line)
{
    m_process.write(line + '\n');
}

QJsonObject ClientProcess::state(int timeoutMs)
{
    send("state");
    const QByteArray line = nextLine("state ", timeoutMs);
    return QJsonDocument::fromJson(line.mid(6)).object();
}

bool ClientProcess::shows(const QString &className)
{
    for (const QJsonValue window : state().value(QStringLiteral("windows")).toArray())
        if (window[QStringLiteral("class")].toString() == className &&
            window[QStringLiteral("visible")].toBool())
            return true;
    return false;
}

bool ClientProcess::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

bool ClientProcess::waitForExit(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (isRunning() && clock.elapsed() < timeoutMs)
        QTest::qWait(20);
    return !isRunning();
}

int ClientProcess::exitCode() const
{
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QByteArray ClientProcess::log()
{
    m_log += m_process.readAllStandardError();
    return m_log;
}

QByteArray ClientProcess::nextLine(const QByteArray &prefix, int timeoutMs)
{
    // Lines of other kinds ("ok ..." of an earlier command, an error) are
    // passed over; an error line ends the wait.
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        m_output += m_process.readAllStandardOutput();
        int end;
        while ((end = m_output.indexOf('\n')) >= 0) {
            QByteArray line = m_output.left(end);
            m_output.remove(0, end + 1);
            if (line.endsWith('\r'))
                line.chop(1); // a Windows client's text output ends lines in CR LF

            if (line.startsWith(prefix))
                return line;
            if (line.startsWith("error")) {
                qWarning("client: %s", line.constData());
                return QByteArray();
            }
        }
        if (!isRunning() || clock.elapsed() >= timeoutMs)
            return QByteArray();
        // Keep reading the debug lines, so the client never blocks on a full pipe.
        m_log += m_process.readAllStandardError();
        QTest::qWait(10);
    }
}
