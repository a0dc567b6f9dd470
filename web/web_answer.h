// What the dispatcher works on and what it hands back: one request reduced to its method, path,
// joined argument and cookie texts, the headers that tell where it comes from, the client's
// address and its body, and one answer as status, headers and bytes. The libmicrohttpd glue
// turns the answer into a response; nothing here knows the library.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vx {

struct WebRequest {
  std::string method = "GET";
  std::string path;           // the URL without its query
  std::string argument_text;  // "name=value&name..." (web/request_text.h)
  std::string cookie_text;
  std::string authorization;  // the "Authorization" header, for scripts that cannot log in
  // Where the request says it comes from and which name it was sent to (web/request_origin.h).
  std::string host;
  std::string origin;
  std::string sec_fetch_site;
  std::string referer;
  std::string if_none_match;  // the entity tags of the copy the client holds
  std::optional<std::uint32_t> client;  // the client's IPv4 address, host order
  bool tls = false;                     // the connection is HTTPS
  std::optional<std::string> body;      // present for a POST, after its multipart cut
};

using WebHeader = std::pair<std::string, std::string>;

struct WebAnswer {
  unsigned status = 200;
  std::vector<WebHeader> headers;
  std::string body;
  // The server's own settings changed: it restarts once this answer has gone out (a restart
  // before that would drop the answer).
  bool restart_server_after = false;

  const std::string* header(std::string_view name) const;
};

// A copy the browser may keep but must ask about each time it uses it ("/thumbnails"); every
// other answer leaves with "no-store" (web/gate.h).
inline constexpr const char* kRevalidatedPrivately = "private, no-cache";

// The header sets the answers share.
std::vector<WebHeader> json_headers();
std::vector<WebHeader> keep_alive_headers();

inline WebAnswer empty_answer(unsigned status) {
  return WebAnswer{status, {}, {}};
}

// A plain text for people (a refusal with its reason), and an HTML page.
WebAnswer text_answer(unsigned status, std::string text);
WebAnswer html_answer(unsigned status, std::string page);

}  // namespace vx
