#pragma once

#include <QList>
#include <QPair>
#include <QString>

using QueryPairs = QList<QPair<QString, QString>>;

// Percent-encodes one query value as UTF-8. Unreserved characters stay as they
// are, so plain values go on the wire unchanged while "&", "=", "+", "#" and
// blanks can no longer add or split query keys.
QString encodeQueryValue(const QString &value);

// "k1=v1&k2=v2" with every value encoded, in the given order.
QString buildQuery(const QueryPairs &pairs);

// The path of one API call, relative to the API base URL:
// action + "?method=" + method + "&" + the pairs in order.
QString buildApiPath(const QString &action, const QString &method, const QueryPairs &pairs);

// The path with the value of every password= pair replaced by "***", for logs.
QString redactPasswords(const QString &path);
