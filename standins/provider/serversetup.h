#pragma once

namespace httplib {
class Server;
}

// What every request meets before and besides the handlers: the body limit,
// the guard against unbounded bodies and Range replies, the answers to
// requests no handler takes, and the answer to a handler that throws.
void configureServer(httplib::Server &server);
