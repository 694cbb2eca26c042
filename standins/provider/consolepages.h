#pragma once

#include "database.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <mutex>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// The signed-in web console behind "ClientAction". The client's links carry
// the account id and password in the query string; a valid pair starts a
// browser session (cookie), so links inside the console and its forms carry
// no password. State-changing forms post back with a per-session token.
class ConsolePages
{
public:
    explicit ConsolePages(Database &database);

    void install(httplib::Server &server);

    static const char *const kSessionCookie;

private:
    struct Session
    {
        qint64 accountId = 0;
        QString formToken;
        QDateTime expires;
    };
    struct PageContext
    {
        const Account &account;
        const Session &session;
        const httplib::Request &request;
    };
    using Renderer = QString (ConsolePages::*)(const PageContext &);
    struct PageInfo
    {
        const char *key;
        const char *title;
        Renderer render;
    };
    static const PageInfo kPages[];

    void showPage(const httplib::Request &request, httplib::Response &response);
    void changeTunnel(const httplib::Request &request, httplib::Response &response);

    Session startSession(qint64 accountId, QString *token);
    bool findSession(const httplib::Request &request, Session *session);
    void signInError(httplib::Response &response, const QString &reason);
    QString frame(const PageContext &context, const QString &pageKey, const QString &title,
                  const QString &content);

    QString homePage(const PageContext &context);
    QString tunnelPanel(const PageContext &context);
    QString scenePanel(const PageContext &context);
    QString customPage(const PageContext &context);
    QString invoicePage(const PageContext &context);
    QString ticketPage(const PageContext &context);
    QString tutorialPage(const PageContext &context);
    QString couponPage(const PageContext &context);
    QString deluxePage(const PageContext &context);
    QString pricePage(const PageContext &context);
    QString vipPage(const PageContext &context);
    QString devicePage(const PageContext &context);
    QString localCheckHelp(const PageContext &context);
    QString publicCheckHelp(const PageContext &context);
    QString serviceHelp(const PageContext &context);
    QString messagePage(const PageContext &context);

    Database &m_database;
    std::mutex m_mutex;
    QHash<QString, Session> m_sessions;
};
