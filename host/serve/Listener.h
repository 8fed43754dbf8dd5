// The listening socket of the live page.
#pragma once

#include <string>

namespace live {

// "[HOST:]PORT" (HOST a name or IPv4 address, or [IPv6]); false when it does not parse.
bool parseListenAddress(const std::string& text, std::string& host, int& port);

// A non-blocking socket listening on host:port (port 0: a free one), its port
// in `bound`; -1 with `error` when it cannot listen.
int openListener(const std::string& host, int port, int& bound, std::string& error);

}  // namespace live
