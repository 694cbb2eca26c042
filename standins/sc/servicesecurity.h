#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// Access lists of services as Windows' service manager keeps them: a security
// descriptor in SDDL, of which the DACL decides who may do what.
namespace servicesecurity {

// Access rights of a service object, with Windows' values.
enum Right : quint32
{
    QueryConfig = 0x0001,  // CC
    ChangeConfig = 0x0002, // DC
    QueryStatus = 0x0004,  // LC
    Start = 0x0010,        // RP
    Stop = 0x0020,         // WP
    Delete = 0x00010000,   // SD
    ReadControl = 0x00020000,
    WriteDac = 0x00040000,
};

// What a service gets from "sc create" when nobody sets a list of its own.
extern const char *const g_defaultDescriptor;

struct AccessEntry
{
    bool allow = true;
    bool inheritOnly = false; // applies to child objects only, never to the service
    quint32 mask = 0;         // generic rights already mapped to the service's own
    QString sid;              // S-1-… form
};

struct AccessList
{
    // No DACL at all ("D:" missing or NO_ACCESS_CONTROL) lets everyone do
    // everything, as on Windows; an empty one lets nobody do anything.
    bool present = false;
    QVector<AccessEntry> entries;
};

// The DACL of a security descriptor string; nothing when the string is not
// valid SDDL.
std::optional<AccessList> parseDescriptor(const QString &sddl);

// Windows' check: the entries in order, skipping those for groups the caller
// is not in; a deny entry for any wanted right not yet granted refuses, the
// wanted rights all granted allow, running out of entries refuses.
bool isGranted(const AccessList &list, const QStringList &callerSids, quint32 wanted);

// The groups of a caller named by TESSARO_SC_CALLER: "admin" is an elevated
// administrator, anything else (or nothing) a standard interactive user.
QStringList callerSids(const QByteArray &caller);
bool isAdministrator(const QStringList &callerSids);

} // namespace servicesecurity
