// The HTTP/1.x the live page speaks: a request head read from the bytes a
// client sent, and an answer written as a whole response.
#pragma once

#include <string>

#include "Site.h"

namespace live {

struct RequestHead {
  std::string method;
  std::string path;  // percent-decoded as sent: no dot segments removed, no query
  bool webSocket = false;  // asks to upgrade the connection to a WebSocket
};

// Just past the blank line that ends the head in `bytes`; npos while it has not come.
size_t headEnd(const std::string& bytes);

// 0 with `head` filled, or the status that refuses it (400, or 505 for a
// version other than HTTP/1.0 and 1.1).
int parseHead(const std::string& bytes, RequestHead& head);

// Status line, headers and (unless `headOnly`) the body; the connection closes after it.
std::string responseText(const Answer& answer, bool headOnly);

// A refusal the server makes itself: text/plain with a line saying why.
Answer refusal(int status, const std::string& why);

}  // namespace live
