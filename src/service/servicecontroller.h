#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QByteArray;
class QProcess;

// The pure parts of ServiceController, open to direct checks.
namespace servicecontrol {

// Arguments of "sc VERB NAME".
QStringList commandArguments(const QString &verb, const QString &serviceName);
// Arguments of "sc config NAME start= X" for the start types 0 (auto),
// 1 (demand), 2 (disabled) and 3 (delayed-auto); empty for any other type.
QStringList startTypeArguments(const QString &serviceName, int type);
// The prefix of a result debug line, from the compiler's __DATE__ and
// __TIME__, the source file (a path is cut to its name) and the line number:
// "Debug   Dec..7.2026 09:05:00 servicecontroller.cpp readReult 42>>".
QString debugStamp(const char *date, const char *time, const char *file, int line);
// The tool's console output as text (the GBK code page of Chinese Windows).
QString decodeOutput(const QByteArray &output);
// The Windows error number of a command that did not succeed: the one after
// "FAILED" in its output ("[SC] OpenService FAILED 5:"), else its exit code
// (sc exits with the error number; a POSIX stand-in keeps only its low byte).
// 0 for exit code 0.
int commandError(int exitCode, const QString &output);

} // namespace servicecontrol

// Runs the service control tool on one background service and passes its
// console output on as text. Commands run one after another on one process
// object and block until the tool ends or the command wait runs out.
class ServiceController : public QObject
{
    Q_OBJECT
public:
    explicit ServiceController(const QString &serviceName);
    ~ServiceController() override;

    // Each returns whether the tool finished within the wait.
    bool startService();
    bool stopService();
    bool createService();
    bool deleteService();
    // 0 auto, 1 demand, 2 disabled, 3 delayed-auto; any other type runs
    // nothing and returns false.
    bool setStartType(int type);

    // How the last command ended: 0 when the tool accepted it, its Windows
    // error number when it refused, -1 when it did not run or did not finish.
    int lastError() const;
    // Everything the last command printed, decoded.
    QString lastOutput() const;

signals:
    void sendServiceResult(QString info);

public slots:
    void readReult();

private:
    bool runCommand(const QStringList &arguments);

    QString m_serviceName;
    QProcess *m_process;
    QString m_lastOutput;
    int m_lastError = -1;
};
