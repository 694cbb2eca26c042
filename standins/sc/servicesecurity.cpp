#include "servicesecurity.h"

#include <QRegularExpression>

namespace servicesecurity {

const char *const g_defaultDescriptor =
    "D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCSWLOCRRC;;;IU)"
    "(A;;CCLCSWLOCRRC;;;SU)S:(AU;FA;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;WD)";

namespace {

const quint32 g_enumerateDependents = 0x0008;
const quint32 g_pauseContinue = 0x0040;
const quint32 g_interrogate = 0x0080;
const quint32 g_userDefinedControl = 0x0100;
const quint32 g_writeOwner = 0x00080000;
const quint32 g_allAccess = 0x000F01FF;

const quint32 g_genericAll = 0x10000000;
const quint32 g_genericExecute = 0x20000000;
const quint32 g_genericWrite = 0x40000000;
const quint32 g_genericRead = 0x80000000;

struct Letters
{
    const char *code;
    quint32 mask;
};

const Letters g_rights[] = {
    {"GA", g_genericAll},
    {"GR", g_genericRead},
    {"GW", g_genericWrite},
    {"GX", g_genericExecute},
    {"RC", ReadControl},
    {"SD", Delete},
    {"WD", WriteDac},
    {"WO", g_writeOwner},
    {"CC", QueryConfig},
    {"DC", ChangeConfig},
    {"LC", QueryStatus},
    {"SW", g_enumerateDependents},
    {"RP", Start},
    {"WP", Stop},
    {"DT", g_pauseContinue},
    {"LO", g_interrogate},
    {"CR", g_userDefinedControl},
};

struct Alias
{
    const char *code;
    const char *sid;
};

// The well-known SIDs that have an SDDL alias on every machine (the domain
// ones need a domain and are left out).
const Alias g_aliases[] = {
    {"WD", "S-1-1-0"},      {"CO", "S-1-3-0"},      {"CG", "S-1-3-1"},      {"OW", "S-1-3-4"},
    {"NU", "S-1-5-2"},      {"IU", "S-1-5-4"},      {"SU", "S-1-5-6"},      {"AN", "S-1-5-7"},
    {"PS", "S-1-5-10"},     {"AU", "S-1-5-11"},     {"RC", "S-1-5-12"},     {"SY", "S-1-5-18"},
    {"LS", "S-1-5-19"},     {"NS", "S-1-5-20"},     {"WR", "S-1-5-33"},     {"BA", "S-1-5-32-544"},
    {"BU", "S-1-5-32-545"}, {"BG", "S-1-5-32-546"}, {"PU", "S-1-5-32-547"}, {"AO", "S-1-5-32-548"},
    {"SO", "S-1-5-32-549"}, {"PO", "S-1-5-32-550"}, {"BO", "S-1-5-32-551"}, {"RE", "S-1-5-32-552"},
    {"RU", "S-1-5-32-554"}, {"RD", "S-1-5-32-555"}, {"NO", "S-1-5-32-556"}, {"MU", "S-1-5-32-558"},
    {"LU", "S-1-5-32-559"}, {"IS", "S-1-5-32-568"}, {"CY", "S-1-5-32-569"}, {"ER", "S-1-5-32-573"},
    {"AC", "S-1-15-2-1"},   {"LW", "S-1-16-4096"},  {"ME", "S-1-16-8192"},  {"HI", "S-1-16-12288"},
    {"SI", "S-1-16-16384"},
};

const char *const g_sidEveryone = "S-1-1-0";
const char *const g_sidInteractive = "S-1-5-4";
const char *const g_sidAuthenticatedUsers = "S-1-5-11";
const char *const g_sidUsers = "S-1-5-32-545";
const char *const g_sidAdministrators = "S-1-5-32-544";

// A SID in S-1-… form, numbers without leading zeros; empty when invalid.
QString sidOf(const QString &text)
{
    for (const Alias &alias : g_aliases) {
        if (text == QLatin1String(alias.code))
            return QLatin1String(alias.sid);
    }
    static const QRegularExpression form(
        QStringLiteral("\\A[sS]-1-([0-9]{1,15})((-[0-9]{1,10}){0,15})\\z"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return QString();
    QString sid = QStringLiteral("S-1-") + QString::number(match.captured(1).toULongLong());
    const QStringList parts = match.captured(2).split(QLatin1Char('-'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        const qulonglong value = part.toULongLong();
        if (value > 0xFFFFFFFFull)
            return QString();
        sid += QLatin1Char('-') + QString::number(value);
    }
    return sid;
}

// Generic rights stand for the service's own ones.
quint32 mapGeneric(quint32 mask)
{
    if (mask & g_genericAll)
        mask |= g_allAccess;
    if (mask & g_genericRead)
        mask |= ReadControl | QueryConfig | QueryStatus | g_interrogate | g_enumerateDependents;
    if (mask & g_genericWrite)
        mask |= ReadControl | ChangeConfig;
    if (mask & g_genericExecute)
        mask |= ReadControl | Start | Stop | g_pauseContinue | g_userDefinedControl;
    return mask & ~(g_genericAll | g_genericRead | g_genericWrite | g_genericExecute);
}

bool parseRights(const QString &text, quint32 *mask)
{
    *mask = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        bool ok = false;
        *mask = text.mid(2).toUInt(&ok, 16);
        return ok && text.size() > 2;
    }
    if (text.size() % 2 != 0)
        return false;
    for (int i = 0; i < text.size(); i += 2) {
        const QStringRef pair = text.midRef(i, 2);
        bool known = false;
        for (const Letters &right : g_rights) {
            if (pair == QLatin1String(right.code)) {
                *mask |= right.mask;
                known = true;
                break;
            }
        }
        if (!known)
            return false;
    }
    return true;
}

// One "(type;flags;rights;object;inherited object;sid)" without its
// parentheses.
std::optional<AccessEntry> parseEntry(const QString &text, bool discretionary)
{
    const QStringList fields = text.split(QLatin1Char(';'));
    if (fields.size() != 6 || !fields.at(3).isEmpty() || !fields.at(4).isEmpty())
        return std::nullopt;
    AccessEntry entry;
    const QString &type = fields.at(0);
    if (discretionary && (type == QLatin1String("A") || type == QLatin1String("D")))
        entry.allow = type == QLatin1String("A");
    else if (discretionary || (type != QLatin1String("AU") && type != QLatin1String("AL")))
        return std::nullopt;

    const QString &flags = fields.at(1);
    if (flags.size() % 2 != 0)
        return std::nullopt;
    static const QStringList knownFlags = {"CI", "OI", "NP", "IO", "ID", "SA", "FA"};
    for (int i = 0; i < flags.size(); i += 2) {
        const QString flag = flags.mid(i, 2);
        if (!knownFlags.contains(flag))
            return std::nullopt;
        if (flag == QLatin1String("IO"))
            entry.inheritOnly = true;
    }

    quint32 mask = 0;
    if (!parseRights(fields.at(2), &mask))
        return std::nullopt;
    entry.mask = mapGeneric(mask);
    entry.sid = sidOf(fields.at(5));
    if (entry.sid.isEmpty())
        return std::nullopt;
    return entry;
}

bool startsPart(const QString &text, int at)
{
    return at + 1 < text.size() && text.at(at + 1) == QLatin1Char(':') &&
           QStringLiteral("OGDS").contains(text.at(at));
}

} // namespace

std::optional<AccessList> parseDescriptor(const QString &sddl)
{
    AccessList list;
    QString seen;
    int at = 0;
    if (sddl.isEmpty())
        return std::nullopt;
    while (at < sddl.size()) {
        if (!startsPart(sddl, at) || seen.contains(sddl.at(at)))
            return std::nullopt;
        const QChar part = sddl.at(at);
        seen += part;
        at += 2;
        int end = at;
        while (end < sddl.size() && !startsPart(sddl, end) && sddl.at(end) != QLatin1Char('('))
            ++end;
        const QString head = sddl.mid(at, end - at);
        at = end;

        if (part == QLatin1Char('O') || part == QLatin1Char('G')) {
            if (sidOf(head).isEmpty())
                return std::nullopt;
            continue;
        }

        // Control flags before the entries: protected, inheritance, or no
        // DACL at all.
        bool noList = false;
        QString flags = head;
        while (!flags.isEmpty()) {
            if (flags.startsWith(QLatin1String("NO_ACCESS_CONTROL"))) {
                noList = true;
                flags.remove(0, 17);
            } else if (flags.startsWith(QLatin1String("AI")) ||
                       flags.startsWith(QLatin1String("AR"))) {
                flags.remove(0, 2);
            } else if (flags.startsWith(QLatin1Char('P'))) {
                flags.remove(0, 1);
            } else {
                return std::nullopt;
            }
        }
        const bool discretionary = part == QLatin1Char('D');
        QVector<AccessEntry> entries;
        while (at < sddl.size() && sddl.at(at) == QLatin1Char('(')) {
            const int close = sddl.indexOf(QLatin1Char(')'), at);
            if (close < 0)
                return std::nullopt;
            const std::optional<AccessEntry> entry =
                parseEntry(sddl.mid(at + 1, close - at - 1), discretionary);
            if (!entry)
                return std::nullopt;
            entries.append(*entry);
            at = close + 1;
        }
        if (noList && !entries.isEmpty())
            return std::nullopt;
        if (discretionary) {
            list.present = !noList;
            list.entries = entries;
        }
    }
    return list;
}

bool isGranted(const AccessList &list, const QStringList &callerSids, quint32 wanted)
{
    if (!list.present)
        return true;
    quint32 missing = wanted;
    for (const AccessEntry &entry : list.entries) {
        if (entry.inheritOnly || !callerSids.contains(entry.sid))
            continue;
        if (!entry.allow) {
            if (entry.mask & missing)
                return false;
            continue;
        }
        missing &= ~entry.mask;
        if (missing == 0)
            return true;
    }
    return missing == 0;
}

QStringList callerSids(const QByteArray &caller)
{
    QStringList sids = {QLatin1String(g_sidInteractive), QLatin1String(g_sidAuthenticatedUsers),
                        QLatin1String(g_sidUsers), QLatin1String(g_sidEveryone)};
    // Elevated: the token carries the Administrators group enabled.
    if (caller == "admin")
        sids.prepend(QLatin1String(g_sidAdministrators));
    return sids;
}

bool isAdministrator(const QStringList &callerSids)
{
    return callerSids.contains(QLatin1String(g_sidAdministrators));
}

} // namespace servicesecurity
