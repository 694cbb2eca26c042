#pragma once

// The wire protocol between tessarosvc and the provider's tunnel login server.
//
// Every TCP connection to the login server (port 4568) starts with one line
// from the service: a JSON object in UTF-8 ending in "\n", at most
// kMaxLineBytes long. Its "type" makes the connection one of two kinds.
//
// Control connection, one per signed-in account:
//   service  -> {"type":"login","version":1,"user":U,"password":P}
//   provider -> {"type":"welcome","session":TOKEN,"tunnels":[{"id","name",
//               "public_address","public_port","dst_address","dst_port",
//               "open":bool,"error":TEXT}]}
//            or {"type":"error","reason":TEXT,"retry":bool}, then it closes.
//   Afterwards lines go both ways:
//   provider -> {"type":"connect","conn":N,"tunnel":ID}  a visitor arrived
//   service  -> {"type":"refused","conn":N,"reason":TEXT}  local end failed
//   service  -> {"type":"ping"}, provider -> {"type":"pong"}  keep-alive
//   provider -> {"type":"error","reason":TEXT,"retry":bool} before closing
//   A side that hears nothing for kSilenceLimitMs drops the connection.
//
// Data connection, one per visitor:
//   service  -> {"type":"data","session":TOKEN,"conn":N}
//   then raw bytes both ways, unframed. An end of stream on one side is passed
//   on as a half-close; a reset or an error ends both sides.

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace tunnelwire {

constexpr quint16 kDefaultPort = 4568;
constexpr int kVersion = 1;
constexpr int kMaxLineBytes = 4096;
// Time for the first line of a connection and for a refused/connected visitor.
constexpr int kHandshakeTimeoutMs = 10000;
constexpr int kPingIntervalMs = 10000;
constexpr int kSilenceLimitMs = 30000;

QByteArray encode(const QJsonObject &message);
// False with a reason for anything that is not one JSON object with a "type".
bool decode(const QByteArray &line, QJsonObject *message, QString *error);

// Splits a byte stream into lines and refuses overlong ones.
class LineBuffer
{
public:
    void append(const QByteArray &bytes) { m_data.append(bytes); }
    // True with the next line (without "\n") when one is complete.
    bool takeLine(QByteArray *line);
    bool overflowed() const;

private:
    QByteArray m_data;
};

} // namespace tunnelwire
