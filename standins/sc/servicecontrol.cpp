#include "servicecontrol.h"

#include "serviceprocess.h"
#include "serviceregistry.h"
#include "servicesecurity.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>

namespace {

// Windows error codes and the texts the tool prints for them.
const int g_errorFileNotFound = 2;
const int g_errorAccessDenied = 5;
const int g_errorInvalidParameter = 87;
const int g_errorInvalidName = 123;
const int g_errorAlreadyRunning = 1056;
const int g_errorDisabled = 1058;
const int g_errorDoesNotExist = 1060;
const int g_errorCannotAcceptControl = 1061;
const int g_errorNotActive = 1062;
const int g_errorExists = 1073;
const int g_errorInvalidCommandLine = 1639;

const char *const g_textDoesNotExist =
    "The specified service does not exist as an installed service.";
const char *const g_textAccessDenied = "Access is denied.";
const char *const g_textAlreadyRunning = "An instance of the service is already running.";

enum State
{
    Stopped = 1,
    StartPending = 2,
    StopPending = 3,
    Running = 4
};

const char *stateName(int state)
{
    switch (state) {
    case Stopped:
        return "STOPPED";
    case StartPending:
        return "START_PENDING";
    case StopPending:
        return "STOP_PENDING";
    default:
        return "RUNNING";
    }
}

const char *const g_flagsStoppable = "(STOPPABLE, NOT_PAUSABLE, ACCEPTS_SHUTDOWN)";
const char *const g_flagsNotStoppable = "(NOT_STOPPABLE, NOT_PAUSABLE, IGNORES_SHUTDOWN)";

// Grace period between the request to end and the kill, and the wait hint
// announcing it.
const int g_stopGraceMs = 5000;
const char *const g_stopWaitHint = "0x1388";

bool isStartType(const QString &word)
{
    return word == QLatin1String("auto") || word == QLatin1String("demand") ||
           word == QLatin1String("disabled") || word == QLatin1String("delayed-auto");
}

// Options come as "key=" followed by the value as a separate argument; keys
// are case-insensitive. Returns false on a malformed list.
bool parseOptions(const QStringList &options, QHash<QString, QString> *values)
{
    if (options.size() % 2 != 0)
        return false;
    for (int i = 0; i < options.size(); i += 2) {
        const QString key = options.at(i).toLower();
        if (!key.endsWith(QLatin1Char('=')) || key.size() < 2)
            return false;
        values->insert(key.chopped(1), options.at(i + 1));
    }
    return true;
}

// The inverse of QProcess::splitCommand.
QString joinCommand(const QStringList &command)
{
    QStringList quoted;
    for (QString part : command) {
        if (part.isEmpty() || part.contains(QLatin1Char(' ')) || part.contains(QLatin1Char('\t')) ||
            part.contains(QLatin1Char('"'))) {
            part.replace(QLatin1String("\""), QLatin1String("\"\"\""));
            part = QLatin1Char('"') + part + QLatin1Char('"');
        }
        quoted.append(part);
    }
    return quoted.join(QLatin1Char(' '));
}

ProcessIdentity identityOf(const ServiceEntry &entry)
{
    ProcessIdentity process;
    process.pid = entry.pid;
    process.startTicks = entry.startTicks;
    process.exe = entry.exe;
    return process;
}

} // namespace

ServiceControl::ServiceControl(ServiceRegistry &registry, const QStringList &callerSids)
    : m_registry(registry), m_callerSids(callerSids)
{
}

int ServiceControl::currentState(ServiceEntry &entry)
{
    const ProcessIdentity process = identityOf(entry);
    // A stopping service is followed until its process is gone: on its way
    // out it lets go of its executable, by which isRunning recognises it.
    const bool alive = entry.stopRequested ? !serviceprocess::hasEnded(process)
                                           : serviceprocess::isRunning(process);
    if (!alive) {
        if (entry.pid != 0 || entry.stopRequested) {
            QFile::remove(m_registry.readyPath(entry.name));
            entry.pid = 0;
            entry.startTicks = 0;
            entry.exe.clear();
            entry.stopRequested = false;
            m_registry.save(entry);
        }
        return Stopped;
    }
    if (entry.stopRequested)
        return StopPending;
    // As under Windows' service manager: START_PENDING from the start until
    // the service reports that it is up.
    return QFile::exists(m_registry.readyPath(entry.name)) ? Running : StartPending;
}

bool ServiceControl::isAllowed(const ServiceEntry &entry, quint32 right) const
{
    const QString descriptor = entry.securityDescriptor.isEmpty()
                                   ? QLatin1String(servicesecurity::g_defaultDescriptor)
                                   : entry.securityDescriptor;
    // A stored list that no longer parses protects the service: nobody passes.
    const std::optional<servicesecurity::AccessList> list =
        servicesecurity::parseDescriptor(descriptor);
    return list && servicesecurity::isGranted(*list, m_callerSids, right);
}

void ServiceControl::line(const QByteArray &text)
{
    m_output += text;
    m_output += "\r\n";
}

int ServiceControl::failure(const char *operation, int code, const char *message)
{
    line(QByteArray("[SC] ") + operation + " FAILED " + QByteArray::number(code) + ':');
    line();
    line(message);
    line();
    return code;
}

int ServiceControl::usage()
{
    line("DESCRIPTION:");
    line("        Controls the services registered with this tool.");
    line("USAGE:");
    line("        tessaro-sc query NAME");
    line("        tessaro-sc start NAME");
    line("        tessaro-sc stop NAME");
    line("        tessaro-sc create NAME binPath= PATH [start= TYPE]");
    line("        tessaro-sc delete NAME");
    line("        tessaro-sc config NAME start= TYPE");
    line("        tessaro-sc sdshow NAME");
    line("        tessaro-sc sdset NAME SDDL");
    line("TYPE is one of auto, demand, disabled, delayed-auto.");
    return g_errorInvalidCommandLine;
}

void ServiceControl::stateBlock(const QString &name, int state, const char *flags,
                                const QByteArray &waitHint)
{
    const auto field = [this](const char *label, const QByteArray &value) {
        line(QByteArray("        ") + QByteArray(label).leftJustified(19, ' ') + ": " + value);
    };
    line();
    line("SERVICE_NAME: " + name.toLatin1());
    field("TYPE", "10  WIN32_OWN_PROCESS");
    field("STATE", QByteArray::number(state) + "  " + stateName(state));
    if (flags)
        line(QByteArray(32, ' ') + flags);
    field("WIN32_EXIT_CODE", "0  (0x0)");
    field("SERVICE_EXIT_CODE", "0  (0x0)");
    field("CHECKPOINT", "0x0");
    field("WAIT_HINT", waitHint);
}

int ServiceControl::run(const QStringList &arguments)
{
    if (arguments.size() < 2)
        return usage();
    const QString verb = arguments.at(0).toLower();
    const QString name = arguments.at(1);
    const QStringList options = arguments.mid(2);
    const bool bare = options.isEmpty();
    if (verb == QLatin1String("query") && bare)
        return query(name);
    if (verb == QLatin1String("start") && bare)
        return start(name);
    if (verb == QLatin1String("stop") && bare)
        return stop(name);
    if (verb == QLatin1String("delete") && bare)
        return remove(name);
    if (verb == QLatin1String("create"))
        return create(name, options);
    if (verb == QLatin1String("config"))
        return config(name, options);
    if (verb == QLatin1String("sdshow") && bare)
        return showSecurity(name);
    if (verb == QLatin1String("sdset") && options.size() == 1)
        return setSecurity(name, options.first());
    return usage();
}

int ServiceControl::query(const QString &name)
{
    std::optional<ServiceEntry> entry = m_registry.load(name);
    if (!entry)
        return failure("EnumQueryServicesStatus:OpenService", g_errorDoesNotExist,
                       g_textDoesNotExist);
    if (!isAllowed(*entry, servicesecurity::QueryStatus))
        return failure("EnumQueryServicesStatus:OpenService", g_errorAccessDenied,
                       g_textAccessDenied);
    switch (currentState(*entry)) {
    case Stopped:
        stateBlock(entry->name, Stopped, nullptr);
        break;
    case Running:
        stateBlock(entry->name, Running, g_flagsStoppable);
        break;
    case StopPending:
        stateBlock(entry->name, StopPending, g_flagsNotStoppable, g_stopWaitHint);
        break;
    default:
        stateBlock(entry->name, StartPending, g_flagsNotStoppable, "0x7d0");
        break;
    }
    line();
    return 0;
}

int ServiceControl::start(const QString &name)
{
    std::optional<ServiceEntry> entry = m_registry.load(name);
    if (!entry)
        return failure("OpenService", g_errorDoesNotExist, g_textDoesNotExist);
    if (!isAllowed(*entry, servicesecurity::Start))
        return failure("OpenService", g_errorAccessDenied, g_textAccessDenied);
    if (entry->startType == QLatin1String("disabled"))
        return failure("StartService", g_errorDisabled,
                       "The service cannot be started, either because it is disabled or "
                       "because it has no enabled devices associated with it.");
    // Also while the last run is still stopping: Windows starts a service
    // only from STOPPED.
    if (currentState(*entry) != Stopped)
        return failure("StartService", g_errorAlreadyRunning, g_textAlreadyRunning);

    QStringList command = QProcess::splitCommand(entry->binPath);
    if (command.isEmpty())
        return failure("StartService", g_errorFileNotFound,
                       "The system cannot find the file specified.");
    const QString program = command.takeFirst();
    // The service creates this file once it is up; a file left by an earlier
    // run must not read as this run's report.
    const QString ready = m_registry.readyPath(entry->name);
    QFile::remove(ready);
    qputenv("TESSARO_SERVICE_READY_FILE", QFile::encodeName(ready));
    ProcessIdentity started;
    int error = 0;
    if (!serviceprocess::launch(program, command, &started, &error)) {
        // Windows reports a missing or unusable image as "file not found" too.
        Q_UNUSED(error);
        return failure("StartService", g_errorFileNotFound,
                       "The system cannot find the file specified.");
    }
    entry->pid = started.pid;
    entry->startTicks = started.startTicks;
    entry->exe = started.exe;
    m_registry.save(*entry);

    stateBlock(entry->name, StartPending, g_flagsNotStoppable, "0x7d0");
    line("        PID                : " + QByteArray::number(started.pid));
    line("        FLAGS              :");
    line();
    return 0;
}

int ServiceControl::stop(const QString &name)
{
    std::optional<ServiceEntry> entry = m_registry.load(name);
    if (!entry)
        return failure("OpenService", g_errorDoesNotExist, g_textDoesNotExist);
    if (!isAllowed(*entry, servicesecurity::Stop))
        return failure("OpenService", g_errorAccessDenied, g_textAccessDenied);
    switch (currentState(*entry)) {
    case Stopped:
        return failure("ControlService", g_errorNotActive, "The service has not been started.");
    case Running:
        break;
    default:
        // The service accepts no control before it reports RUNNING, nor once
        // it is stopping.
        return failure("ControlService", g_errorCannotAcceptControl,
                       "The service cannot accept control messages at this time.");
    }
    // As Windows' sc, this returns at once; the next commands see the service
    // STOP_PENDING until it has ended. A watchdog ends it if it takes too long.
    serviceprocess::requestStop(identityOf(*entry), g_stopGraceMs);
    entry->stopRequested = true;
    m_registry.save(*entry);
    stateBlock(entry->name, StopPending, g_flagsNotStoppable, g_stopWaitHint);
    line();
    return 0;
}

int ServiceControl::create(const QString &name, const QStringList &options)
{
    QHash<QString, QString> values;
    if (!parseOptions(options, &values) || !values.contains(QStringLiteral("binpath")))
        return usage();
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (it.key() != QLatin1String("binpath") && it.key() != QLatin1String("start"))
            return usage();
    }
    const QString startType = values.value(QStringLiteral("start"), QStringLiteral("demand"));
    const QString binPath = values.value(QStringLiteral("binpath"));
    if (!isStartType(startType) || binPath.trimmed().isEmpty() ||
        binPath.contains(QLatin1Char('\n')) || binPath.contains(QLatin1Char('\r')))
        return usage();
    if (!servicesecurity::isAdministrator(m_callerSids))
        return failure("OpenSCManager", g_errorAccessDenied, g_textAccessDenied);
    if (!ServiceRegistry::isValidName(name))
        return failure("CreateService", g_errorInvalidName,
                       "The filename, directory name, or volume label syntax is incorrect.");
    if (m_registry.load(name))
        return failure("CreateService", g_errorExists, "The specified service already exists.");

    ServiceEntry entry;
    entry.name = name;
    entry.startType = startType;
    // A relative program path means relative to where create was called, not
    // to wherever start happens to run.
    QStringList command = QProcess::splitCommand(binPath);
    if (command.isEmpty())
        return usage();
    command.first() = QDir::current().absoluteFilePath(command.first());
    entry.binPath = joinCommand(command);
    if (!m_registry.save(entry))
        return failure("CreateService", g_errorInvalidName,
                       "The filename, directory name, or volume label syntax is incorrect.");
    line("[SC] CreateService SUCCESS");
    return 0;
}

int ServiceControl::remove(const QString &name)
{
    const std::optional<ServiceEntry> entry = m_registry.load(name);
    if (!entry)
        return failure("OpenService", g_errorDoesNotExist, g_textDoesNotExist);
    if (!isAllowed(*entry, servicesecurity::Delete))
        return failure("OpenService", g_errorAccessDenied, g_textAccessDenied);
    // Windows would remove a running service once it stops; with no manager
    // left to do that later, it is stopped here instead of being orphaned.
    serviceprocess::terminate(identityOf(*entry), g_stopGraceMs);
    QFile::remove(m_registry.readyPath(entry->name));
    m_registry.remove(entry->name);
    line("[SC] DeleteService SUCCESS");
    return 0;
}

int ServiceControl::config(const QString &name, const QStringList &options)
{
    QHash<QString, QString> values;
    if (!parseOptions(options, &values) || values.size() != 1 ||
        !values.contains(QStringLiteral("start")) ||
        !isStartType(values.value(QStringLiteral("start"))))
        return usage();
    std::optional<ServiceEntry> entry = m_registry.load(name);
    if (!entry)
        return failure("OpenService", g_errorDoesNotExist, g_textDoesNotExist);
    if (!isAllowed(*entry, servicesecurity::ChangeConfig))
        return failure("OpenService", g_errorAccessDenied, g_textAccessDenied);
    entry->startType = values.value(QStringLiteral("start"));
    m_registry.save(*entry);
    line("[SC] ChangeServiceConfig SUCCESS");
    return 0;
}

int ServiceControl::showSecurity(const QString &name)
{
    const std::optional<ServiceEntry> entry = m_registry.load(name);
    if (!entry)
        return failure("OpenService", g_errorDoesNotExist, g_textDoesNotExist);
    if (!isAllowed(*entry, servicesecurity::ReadControl))
        return failure("OpenService", g_errorAccessDenied, g_textAccessDenied);
    line();
    line(entry->securityDescriptor.isEmpty() ? QByteArray(servicesecurity::g_defaultDescriptor)
                                             : entry->securityDescriptor.toLatin1());
    line();
    return 0;
}

int ServiceControl::setSecurity(const QString &name, const QString &descriptor)
{
    std::optional<ServiceEntry> entry = m_registry.load(name);
    if (!entry)
        return failure("OpenService", g_errorDoesNotExist, g_textDoesNotExist);
    if (!isAllowed(*entry, servicesecurity::WriteDac))
        return failure("OpenService", g_errorAccessDenied, g_textAccessDenied);
    if (!servicesecurity::parseDescriptor(descriptor))
        return failure("SetServiceObjectSecurity", g_errorInvalidParameter,
                       "The parameter is incorrect.");
    entry->securityDescriptor = descriptor;
    m_registry.save(*entry);
    line("[SC] SetServiceObjectSecurity SUCCESS");
    return 0;
}
