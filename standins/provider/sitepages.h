#pragma once

#include "database.h"
#include "pictures.h"

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// The public part of the provider's web site: home page, sign-up, password
// recovery, announcement and product pages, and the pictures.
class SitePages
{
public:
    SitePages(Database &database, const Pictures &pictures);

    void install(httplib::Server &server);

private:
    void home(httplib::Response &response);
    void signUpForm(httplib::Response &response, const QString &error, const QString &username);
    void signUp(const httplib::Request &request, httplib::Response &response);
    void recovery(httplib::Response &response);
    void notices(httplib::Response &response);
    void privateLine(httplib::Response &response);
    void picture(const httplib::Request &request, httplib::Response &response);

    Database &m_database;
    const Pictures &m_pictures;
};
