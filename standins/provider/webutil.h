#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <string>

namespace httplib {
struct Request;
}

// Small helpers shared by the API and the console: reading request values
// safely, escaping for HTML, secrets.
namespace webutil {

// Longest value accepted for any single request value, in bytes.
constexpr int kMaxValueBytes = 256;

// Reads the named values of a request (query string or form body). Each must be
// present at most once, be valid UTF-8 without control characters and not be
// longer than kMaxValueBytes. Missing optional keys are left out of the result.
// On failure returns false and sets a message for the user.
bool readValues(const httplib::Request &request, const QStringList &required,
                const QStringList &optional, QHash<QString, QString> *values, QString *error);

bool isValidUtf8(const std::string &bytes);

QString htmlEscape(const QString &text);

// Random hex text from the system's secure generator.
QString randomToken(int bytes);

// Salted, slow hash for storing passwords; verification runs in constant time.
QString hashPassword(const QString &password);
bool verifyPassword(const QString &password, const QString &stored);

// Value of one cookie from the request's Cookie headers, or empty.
QString cookieValue(const httplib::Request &request, const QString &name);

} // namespace webutil
