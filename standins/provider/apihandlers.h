#pragma once

#include "database.h"

#include <QJsonObject>
#include <QString>

#include <optional>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// The client's HTTP API: four actions, each dispatching on its `method` value.
// Every answer is a JSON envelope with HTTP status 200; `code` follows the
// convention of the call (1 = success for login, coupons, messages,
// announcements, create and update; 0 = success for the three lists).
class ApiHandlers
{
public:
    // baseUrl ends in "/"; picture and page links in replies start with it.
    ApiHandlers(Database &database, const QString &baseUrl);

    void install(httplib::Server &server);

    // Code of a failure whose call convention is unknown (unknown action or
    // method); it reads as failure under both conventions.
    static constexpr int kBadRequest = 400;

private:
    using Handler = QJsonObject (ApiHandlers::*)(const httplib::Request &);

    void dispatch(const httplib::Request &request, httplib::Response &response,
                  const QString &action);

    QJsonObject login(const httplib::Request &request);
    QJsonObject couponCount(const httplib::Request &request);
    QJsonObject nextMessage(const httplib::Request &request);
    QJsonObject announcement(const httplib::Request &request);
    QJsonObject tunnelList(const httplib::Request &request);
    QJsonObject tunnelCreate(const httplib::Request &request);
    QJsonObject tunnelUpdate(const httplib::Request &request);
    QJsonObject sceneList(const httplib::Request &request);
    QJsonObject addonList(const httplib::Request &request);

    // Checks username and password of a call made after login.
    std::optional<Account> signedIn(const httplib::Request &request, QString *error);
    QString absoluteUrl(const QString &path) const;

    Database &m_database;
    QString m_baseUrl;
};
