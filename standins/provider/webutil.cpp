#include "webutil.h"

#include <httplib.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <QByteArray>

namespace webutil {

namespace {
constexpr int kHashIterations = 20000;
constexpr int kSaltBytes = 16;
constexpr int kHashBytes = 32;
const char kHashScheme[] = "pbkdf2-sha256";

QByteArray pbkdf2(const QByteArray &password, const QByteArray &salt, int iterations)
{
    QByteArray out(kHashBytes, '\0');
    const int ok = PKCS5_PBKDF2_HMAC(password.constData(), password.size(),
                                     reinterpret_cast<const unsigned char *>(salt.constData()),
                                     salt.size(), iterations, EVP_sha256(), out.size(),
                                     reinterpret_cast<unsigned char *>(out.data()));
    return ok == 1 ? out : QByteArray();
}

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), count) != 1) {
        // Without a working secure generator no secret can be made safely.
        qFatal("secure random generator failed");
    }
    return bytes;
}

bool hasControlCharacters(const std::string &bytes)
{
    for (unsigned char c : bytes) {
        if (c < 0x20 || c == 0x7f) {
            return true;
        }
    }
    return false;
}
} // namespace

bool readValues(const httplib::Request &request, const QStringList &required,
                const QStringList &optional, QHash<QString, QString> *values, QString *error)
{
    auto readOne = [&](const QString &key, bool mandatory) {
        const std::string name = key.toStdString();
        const size_t count = request.get_param_value_count(name);
        if (count == 0) {
            if (mandatory) {
                *error = QStringLiteral("缺少参数：") + key;
                return false;
            }
            return true;
        }
        if (count > 1) {
            *error = QStringLiteral("参数重复：") + key;
            return false;
        }
        const std::string value = request.get_param_value(name);
        if (value.size() > size_t(kMaxValueBytes)) {
            *error = QStringLiteral("参数过长：") + key;
            return false;
        }
        if (!isValidUtf8(value) || hasControlCharacters(value)) {
            *error = QStringLiteral("参数含有无效字符：") + key;
            return false;
        }
        values->insert(key, QString::fromStdString(value));
        return true;
    };
    for (const QString &key : required) {
        if (!readOne(key, true)) {
            return false;
        }
    }
    for (const QString &key : optional) {
        if (!readOne(key, false)) {
            return false;
        }
    }
    return true;
}

bool isValidUtf8(const std::string &bytes)
{
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        const unsigned char c = bytes[i];
        int extra = 0;
        unsigned int codePoint = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xe0) == 0xc0) {
            extra = 1;
            codePoint = c & 0x1f;
        } else if ((c & 0xf0) == 0xe0) {
            extra = 2;
            codePoint = c & 0x0f;
        } else if ((c & 0xf8) == 0xf0) {
            extra = 3;
            codePoint = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n) {
            return false;
        }
        for (int k = 1; k <= extra; ++k) {
            const unsigned char next = bytes[i + k];
            if ((next & 0xc0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (next & 0x3f);
        }
        static const unsigned int minimum[] = {0, 0x80, 0x800, 0x10000};
        if (codePoint < minimum[extra] || codePoint > 0x10ffff ||
            (codePoint >= 0xd800 && codePoint <= 0xdfff)) {
            return false; // overlong, out of range or a lone surrogate
        }
        i += extra + 1;
    }
    return true;
}

QString htmlEscape(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            out += QLatin1String("&#39;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString randomToken(int bytes)
{
    return QString::fromLatin1(randomBytes(bytes).toHex());
}

QString hashPassword(const QString &password)
{
    const QByteArray salt = randomBytes(kSaltBytes);
    const QByteArray hash = pbkdf2(password.toUtf8(), salt, kHashIterations);
    return QStringLiteral("%1$%2$%3$%4")
        .arg(QLatin1String(kHashScheme))
        .arg(kHashIterations)
        .arg(QString::fromLatin1(salt.toHex()), QString::fromLatin1(hash.toHex()));
}

bool verifyPassword(const QString &password, const QString &stored)
{
    const QStringList parts = stored.split(QLatin1Char('$'));
    if (parts.size() != 4 || parts.at(0) != QLatin1String(kHashScheme)) {
        return false;
    }
    bool ok = false;
    const int iterations = parts.at(1).toInt(&ok);
    if (!ok || iterations <= 0) {
        return false;
    }
    const QByteArray salt = QByteArray::fromHex(parts.at(2).toLatin1());
    const QByteArray expected = QByteArray::fromHex(parts.at(3).toLatin1());
    const QByteArray actual = pbkdf2(password.toUtf8(), salt, iterations);
    return actual.size() == expected.size() && !actual.isEmpty() &&
           CRYPTO_memcmp(actual.constData(), expected.constData(), actual.size()) == 0;
}

QString cookieValue(const httplib::Request &request, const QString &name)
{
    const size_t headers = request.get_header_value_count("Cookie");
    for (size_t h = 0; h < headers; ++h) {
        const QString header = QString::fromStdString(request.get_header_value("Cookie", h));
        for (const QString &pair : header.split(QLatin1Char(';'))) {
            const int equals = pair.indexOf(QLatin1Char('='));
            if (equals > 0 && pair.left(equals).trimmed() == name) {
                return pair.mid(equals + 1).trimmed();
            }
        }
    }
    return QString();
}

} // namespace webutil
