// Arbitrary action, method and query values through the client's path builder
// and the provider's request parsing (cpp-httplib's, as the provider's
// handlers read it): every value must arrive byte for byte, and the log form
// of the path must not show a password.
//
// Input: lines separated by "\n": action, method, then key and value lines in
// turn. Keys keep only [A-Za-z0-9_] (the client's keys are fixed names; an
// empty key becomes "password"); values are taken as UTF-8, whatever they hold.

#include "net/apipath.h"
#include "app/globals.h"

#include <httplib.h>

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

using Expected = std::vector<std::pair<std::string, std::string>>;

void require(bool condition, const char *what, const std::string &detail = std::string())
{
    if (!condition) {
        std::fprintf(stderr, "api path: %s %s\n", what, detail.c_str());
        std::abort();
    }
}

QString identifier(const QByteArray &bytes)
{
    QString name;
    for (const char c : bytes) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')
            name += QLatin1Char(c);
    }
    return name;
}

// The query of a request target split as the provider's server splits it.
httplib::Params parseQuery(const std::string &query)
{
    httplib::Params params;
    httplib::detail::parse_query_text(query, params);
    return params;
}

void checkParams(const httplib::Params &params, const Expected &expected, bool redacted)
{
    require(params.size() == expected.size(), "pair count changed");
    for (const auto &[key, value] : expected) {
        require(params.count(key) == 1, "key lost or doubled:", key);
        const std::string &arrived = params.find(key)->second;
        if (redacted && key == "password")
            require(arrived == "***", "password readable in log form:", arrived);
        else
            require(arrived == value, "value changed:", key);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> lines =
        QByteArray(reinterpret_cast<const char *>(data), int(size)).split('\n');
    QString action = identifier(lines.value(0));
    if (action.isEmpty())
        action = QStringLiteral("ClientUserAction");
    const QString method = QString::fromUtf8(lines.value(1));

    Expected expected{{"method", method.toUtf8().toStdString()}};
    QueryPairs pairs;
    for (int i = 2; i < lines.size(); i += 2) {
        QString key = identifier(lines.at(i));
        if (key.isEmpty())
            key = QStringLiteral("password");
        const QString value = QString::fromUtf8(lines.value(i + 1));
        // The client never repeats a key in one call.
        bool repeated = false;
        for (const auto &pair : expected)
            repeated = repeated || pair.first == key.toStdString();
        if (repeated)
            continue;
        pairs.append({key, value});
        expected.emplace_back(key.toStdString(), value.toUtf8().toStdString());
    }

    const QString path = buildApiPath(action, method, pairs);

    // The request target as the network layer puts it on the wire.
    const QUrl url(g_apiBaseUrl + path);
    require(url.isValid(), "URL invalid:", url.errorString().toStdString());
    const std::string target =
        url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveUserInfo |
                      QUrl::RemoveFragment | QUrl::NormalizePathSegments)
            .toStdString();
    for (const char c : target)
        require(c > ' ' && c < 0x7f, "request target holds a byte that breaks the request line");
    const size_t question = target.find('?');
    require(question != std::string::npos && target.find('?', question + 1) == std::string::npos,
            "request target needs exactly one \"?\":", target);
    const std::string targetPath = httplib::detail::decode_url(target.substr(0, question), false);
    const std::string wantedPath = '/' + action.toStdString();
    require(targetPath.size() >= wantedPath.size() &&
                targetPath.compare(targetPath.size() - wantedPath.size(), wantedPath.size(),
                                   wantedPath) == 0,
            "path changed:", targetPath);
    checkParams(parseQuery(target.substr(question + 1)), expected, false);

    // The log form of the path.
    const std::string logged = redactPasswords(path).toStdString();
    const size_t logQuestion = logged.find('?');
    require(logQuestion != std::string::npos, "log form lost its query");
    checkParams(parseQuery(logged.substr(logQuestion + 1)), expected, true);
    return 0;
}
