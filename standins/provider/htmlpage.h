#pragma once

#include <QString>

namespace httplib {
struct Response;
}

// The shared frame of every HTML page on the provider's web site.
namespace htmlpage {

// A complete document; body is trusted HTML, title is escaped here.
QString document(const QString &title, const QString &body);

// Sends a page with headers that keep it out of caches and stop the
// credential-bearing console address from leaking through the Referer.
void send(httplib::Response &response, int status, const QString &html);

// Shorthand for webutil::htmlEscape.
QString esc(const QString &text);

} // namespace htmlpage
