#include "tunnelwire.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace tunnelwire {

QByteArray encode(const QJsonObject &message)
{
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

bool decode(const QByteArray &line, QJsonObject *message, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        *error = QStringLiteral("not a JSON object");
        return false;
    }
    *message = document.object();
    if (!message->value(QStringLiteral("type")).isString()) {
        *error = QStringLiteral("message without a type");
        return false;
    }
    return true;
}

bool LineBuffer::takeLine(QByteArray *line)
{
    const int end = m_data.indexOf('\n');
    if (end < 0 || end >= kMaxLineBytes)
        return false;
    *line = m_data.left(end);
    m_data.remove(0, end + 1);
    return true;
}

bool LineBuffer::overflowed() const
{
    const int end = m_data.indexOf('\n');
    return end >= kMaxLineBytes || (end < 0 && m_data.size() >= kMaxLineBytes);
}

} // namespace tunnelwire
