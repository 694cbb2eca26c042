#include "net/apipath.h"

#include <QRegularExpression>
#include <QUrl>

QString encodeQueryValue(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

QString buildQuery(const QueryPairs &pairs)
{
    QString query;
    for (const auto &pair : pairs) {
        if (!query.isEmpty())
            query += QLatin1Char('&');
        query += pair.first + QLatin1Char('=') + encodeQueryValue(pair.second);
    }
    return query;
}

QString buildApiPath(const QString &action, const QString &method, const QueryPairs &pairs)
{
    QueryPairs all;
    all.append({QStringLiteral("method"), method});
    all.append(pairs);
    return action + QLatin1Char('?') + buildQuery(all);
}

QString redactPasswords(const QString &path)
{
    static const QRegularExpression pattern(QStringLiteral("(^|[?&])password=[^&]*"));
    QString redacted = path;
    redacted.replace(pattern, QStringLiteral("\\1password=***"));
    return redacted;
}
