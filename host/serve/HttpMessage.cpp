#include "HttpMessage.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

namespace live {

namespace {

const char* reasonOf(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 431: return "Request Header Fields Too Large";
    case 505: return "HTTP Version Not Supported";
    default: return status < 400 ? "OK" : status < 500 ? "Bad Request" : "Internal Server Error";
  }
}

bool isToken(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
    return std::isalnum(c) || std::strchr("!#$%&'*+-.^_`|~", c);
  });
}

std::string lowered(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = char(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// %XX as the byte it names; a '%' not followed by two hex digits stays as it is.
std::string percentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const int high = text[i] == '%' && i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
    const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
    if (low >= 0) {
      out += char(high * 16 + low);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

size_t headEnd(const std::string& bytes) {
  const size_t crlf = bytes.find("\r\n\r\n"), lf = bytes.find("\n\n");
  if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) return crlf + 4;
  return lf == std::string::npos ? std::string::npos : lf + 2;
}

int parseHead(const std::string& bytes, RequestHead& head) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) break;
    lines.push_back(line);
  }
  if (lines.empty()) return 400;
  const std::string& first = lines.front();
  const size_t a = first.find(' '), b = a == std::string::npos ? a : first.find(' ', a + 1);
  if (b == std::string::npos || first.find(' ', b + 1) != std::string::npos) return 400;
  head.method = first.substr(0, a);
  const std::string target = first.substr(a + 1, b - a - 1), version = first.substr(b + 1);
  if (!isToken(head.method) || target.empty() || target[0] != '/') return 400;
  if (version.compare(0, 5, "HTTP/") != 0) return 400;
  if (version != "HTTP/1.1" && version != "HTTP/1.0") return 505;
  head.path = percentDecoded(target.substr(0, target.find_first_of("?#")));
  for (size_t i = 1; i < lines.size(); ++i) {
    const size_t colon = lines[i].find(':');
    if (colon == std::string::npos || !isToken(lines[i].substr(0, colon))) return 400;
    if (lowered(lines[i].substr(0, colon)) == "upgrade" &&
        lowered(lines[i].substr(colon + 1)).find("websocket") != std::string::npos)
      head.webSocket = true;
  }
  return 0;
}

std::string responseText(const Answer& a, bool headOnly) {
  std::string text = "HTTP/1.1 " + std::to_string(a.status) + " " + reasonOf(a.status) + "\r\n";
  text += "Content-Type: " + a.type + "\r\n";
  text += "Content-Length: " + std::to_string(a.body.size()) + "\r\n";
  text += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n";
  if (a.status == 405) text += "Allow: GET, HEAD\r\n";
  text += "\r\n";
  if (!headOnly) text += a.body;
  return text;
}

Answer refusal(int status, const std::string& why) {
  return Answer{status, "text/plain; charset=utf-8", why + "\n"};
}

}  // namespace live
