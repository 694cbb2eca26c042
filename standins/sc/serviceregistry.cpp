#include "serviceregistry.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const char *const g_keyName = "name";
const char *const g_keyBinPath = "binPath";
const char *const g_keyStart = "start";
const char *const g_keyPid = "pid";
const char *const g_keyStartTicks = "startTicks";
const char *const g_keyExe = "exe";
const char *const g_keyStopRequested = "stopRequested";
const char *const g_keySecurity = "sddl";

} // namespace

ServiceRegistry::ServiceRegistry()
    : m_dir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/tessaro/sc"))
{
}

ServiceRegistry::~ServiceRegistry() = default;

bool ServiceRegistry::lock()
{
    if (!QDir().mkpath(m_dir))
        return false;
    m_lock = std::make_unique<QLockFile>(m_dir + QStringLiteral("/registry.lock"));
    // A lock left by a crashed caller is recognised by its dead owner; age alone
    // must not break it, since "delete" may rightly hold it for seconds.
    m_lock->setStaleLockTime(0);
    return m_lock->lock();
}

bool ServiceRegistry::isValidName(const QString &name)
{
    if (name.isEmpty() || name.size() > 256)
        return false;
    for (const QChar c : name) {
        const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                        (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                        (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_') ||
                        c == QLatin1Char('-') || c == QLatin1Char('.');
        if (!ok)
            return false;
    }
    return name != QLatin1String(".") && name != QLatin1String("..");
}

QString ServiceRegistry::entryPath(const QString &name) const
{
    // Service names are case-insensitive, as on Windows.
    return m_dir + QLatin1Char('/') + name.toLower() + QStringLiteral(".ini");
}

QString ServiceRegistry::readyPath(const QString &name) const
{
    return m_dir + QLatin1Char('/') + name.toLower() + QStringLiteral(".ready");
}

std::optional<ServiceEntry> ServiceRegistry::load(const QString &name) const
{
    if (!isValidName(name))
        return std::nullopt;
    QFile file(entryPath(name));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    ServiceEntry entry;
    entry.name = name;
    while (!file.atEnd()) {
        QByteArray raw = file.readLine();
        if (raw.endsWith('\n'))
            raw.chop(1);
        const QString line = QString::fromUtf8(raw);
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq);
        const QString value = line.mid(eq + 1);
        if (key == QLatin1String(g_keyName))
            entry.name = value;
        else if (key == QLatin1String(g_keyBinPath))
            entry.binPath = value;
        else if (key == QLatin1String(g_keyStart))
            entry.startType = value;
        else if (key == QLatin1String(g_keyPid))
            entry.pid = value.toLongLong();
        else if (key == QLatin1String(g_keyStartTicks))
            entry.startTicks = value.toULongLong();
        else if (key == QLatin1String(g_keyExe))
            entry.exe = value;
        else if (key == QLatin1String(g_keyStopRequested))
            entry.stopRequested = value == QLatin1String("1");
        else if (key == QLatin1String(g_keySecurity))
            entry.securityDescriptor = value;
    }
    return entry;
}

bool ServiceRegistry::save(const ServiceEntry &entry) const
{
    // Values never hold line breaks: names are checked, create refuses such
    // paths and sdset such lists. Written to a temporary file and renamed, so a reader never sees
    // half an entry.
    QSaveFile file(entryPath(entry.name));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray text;
    const auto add = [&text](const char *key, const QString &value) {
        text += key;
        text += '=';
        text += value.toUtf8();
        text += '\n';
    };
    add(g_keyName, entry.name);
    add(g_keyBinPath, entry.binPath);
    add(g_keyStart, entry.startType);
    add(g_keyPid, QString::number(entry.pid));
    add(g_keyStartTicks, QString::number(entry.startTicks));
    add(g_keyExe, entry.exe);
    add(g_keyStopRequested, QLatin1String(entry.stopRequested ? "1" : "0"));
    add(g_keySecurity, entry.securityDescriptor);
    file.write(text);
    return file.commit();
}

bool ServiceRegistry::remove(const QString &name) const
{
    return QFile::remove(entryPath(name));
}
