#include "serversetup.h"

#include <httplib.h>

#include <cstddef>
#include <string>

namespace {

constexpr size_t kMaxBodyBytes = 64 * 1024;

// Client mistakes that never reach a handler (unknown path, oversized request)
// still get an answer in the form the caller understands.
void describeError(const httplib::Request &request, httplib::Response &response)
{
    if (!response.body.empty()) {
        return;
    }
    const std::string &path = request.path;
    const bool page = path == "/" || path == "/ClientAction" ||
                      (path.size() > 5 && path.compare(path.size() - 5, 5, ".html") == 0);
    const bool picture = path.rfind("/images/", 0) == 0;
    const std::string status = std::to_string(response.status);
    if (picture) {
        response.set_content("not found\n", "text/plain; charset=utf-8");
    } else if (page) {
        response.set_content("<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                             "<title>Tessaro</title></head><body><h1>" +
                                 status +
                                 "</h1><p>页面不存在或请求无效。<a href=\"/\">返回首页"
                                 "</a></p></body></html>\n",
                             "text/html; charset=utf-8");
    } else {
        // Same envelope as the API; the code reads as failure for every call.
        response.set_content("{\"code\":" + status + ",\"msg\":\"请求无效或接口不存在\"}",
                             "application/json; charset=utf-8");
    }
}

// cpp-httplib 0.11 keeps a chunked body, or a body without any length (read
// until the client closes), in memory with no limit, and answers a Range
// header with the ranges of any reply, even many copies of it, under status
// 200. Runs before routing, that is before a body is read.
httplib::Server::HandlerResponse guardRequest(const httplib::Request &request,
                                              httplib::Response &response)
{
    // The request object is the server's own, not a constant; the hook only
    // hands it out read-only. Replies are small and made afresh, so any Range
    // header is ignored, as HTTP allows, and every answer is complete.
    auto &mutableRequest = const_cast<httplib::Request &>(request);
    mutableRequest.ranges.clear();

    const bool mayHaveBody =
        request.method == "POST" || request.method == "PUT" || request.method == "PATCH";
    if (!request.has_header("Transfer-Encoding") &&
        (!mayHaveBody || request.has_header("Content-Length"))) {
        return httplib::Server::HandlerResponse::Unhandled;
    }
    // Whatever body follows is left unread, so the connection cannot carry
    // another request: the server closes it after this answer.
    mutableRequest.headers.erase("Connection");
    mutableRequest.headers.emplace("Connection", "close");
    response.status = 411; // Length Required; the error handler writes the body
    return httplib::Server::HandlerResponse::Handled;
}

} // namespace

void configureServer(httplib::Server &server)
{
    server.set_payload_max_length(kMaxBodyBytes);
    server.set_pre_routing_handler(guardRequest);
    server.set_error_handler(describeError);
    server.set_exception_handler(
        [](const httplib::Request &, httplib::Response &response, std::exception_ptr) {
            response.status = 500;
            response.set_content("{\"code\":500,\"msg\":\"服务器内部错误\"}",
                                 "application/json; charset=utf-8");
        });
}
