#include "web/request_origin.h"

#include <algorithm>
#include <arpa/inet.h>

#include <cctype>

#include "vocabulary/ascii.h"
#include "web/acl.h"

namespace vx {
namespace {

int default_port(std::string_view scheme) {
  return scheme == "https" ? 443 : 80;
}

std::optional<int> parse_port(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  int port = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port < 1 || port > 65535) return std::nullopt;
  return port;
}

bool is_host_character(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

bool is_ipv6_literal(std::string_view host) {
  if (host.size() < 3 || host.front() != '[' || host.back() != ']') return false;
  return std::all_of(host.begin() + 1, host.end() - 1, [](char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
  });
}

// "host[:port]" with the scheme's port when none is written; the host must be a name, an IPv4
// address or a bracketed IPv6 literal.
std::optional<Authority> parse_host_port(std::string_view text, std::string_view scheme) {
  std::string_view host = text;
  std::optional<int> port = default_port(scheme);
  const std::size_t bracket = text.rfind(']');
  const std::size_t colon = text.rfind(':');
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    host = text.substr(0, colon);
    port = parse_port(text.substr(colon + 1));
  }
  if (!port || host.empty()) return std::nullopt;
  if (!is_ipv6_literal(host) && !std::all_of(host.begin(), host.end(), is_host_character)) {
    return std::nullopt;
  }
  return Authority{std::string(scheme), std::string(host), *port};
}

std::string_view without_trailing_dot(std::string_view host) {
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  return host;
}

}  // namespace

bool same_authority(const Authority& a, const Authority& b) {
  return a.scheme == b.scheme && a.port == b.port &&
         iequals(without_trailing_dot(a.host), without_trailing_dot(b.host));
}

std::optional<Authority> origin_authority(std::string_view text) {
  const std::size_t separator = text.find("://");
  if (separator == std::string_view::npos) return std::nullopt;
  const std::string_view scheme = text.substr(0, separator);
  std::string_view rest = text.substr(separator + 3);
  rest = rest.substr(0, std::min(rest.find_first_of("/?#"), rest.size()));
  if (rest.find('@') != std::string_view::npos) return std::nullopt;
  if (iequals(scheme, "http")) return parse_host_port(rest, "http");
  if (iequals(scheme, "https")) return parse_host_port(rest, "https");
  return std::nullopt;
}

std::optional<Authority> host_authority(std::string_view host_header, bool tls) {
  return parse_host_port(host_header, tls ? "https" : "http");
}

bool request_changes_state(std::string_view method, std::string_view path) {
  if (!iequals(method, "GET") && !iequals(method, "HEAD")) return true;
  return istarts_with(path, "/channel");
}

std::string cross_origin_refusal(const BrowserSignals& signals) {
  if (!signals.sec_fetch_site.empty()) {
    if (iequals(signals.sec_fetch_site, "same-origin") || iequals(signals.sec_fetch_site, "none")) {
      return "";
    }
    return "the browser says this request comes from another site or port (Sec-Fetch-Site: " +
           std::string(signals.sec_fetch_site) + ")";
  }
  const std::string_view named = !signals.origin.empty() ? signals.origin : signals.referer;
  if (named.empty()) return "";
  const char* header = !signals.origin.empty() ? "Origin" : "Referer";
  const std::optional<Authority> own = host_authority(signals.host, signals.tls);
  const std::optional<Authority> sender = origin_authority(named);
  if (own && sender && same_authority(*own, *sender)) return "";
  return std::string("this request comes from another origin (") + header +
         " is not this "
         "server's own address)";
}

namespace {

constexpr std::size_t kLongestName = 253;
constexpr std::size_t kLongestLabel = 63;

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_dns_name(std::string_view name) {
  if (name.empty() || name.size() > kLongestName) return false;
  std::string_view last;
  while (true) {
    const std::size_t dot = name.find('.');
    const std::string_view label = name.substr(0, dot);
    if (label.empty() || label.size() > kLongestLabel) return false;
    if (label.front() == '-' || label.back() == '-') return false;
    const bool letters_digits_hyphens = std::all_of(label.begin(), label.end(), [](char c) {
      return std::isalnum(static_cast<unsigned char>(c)) || c == '-';
    });
    if (!letters_digits_hyphens) return false;
    last = label;
    if (dot == std::string_view::npos) break;
    name.remove_prefix(dot + 1);
  }
  // "10.1.2" or "300.1.1.1" is a mistyped address, not a name.
  return !std::all_of(last.begin(), last.end(), is_digit);
}

bool is_dotted_quad(std::string_view host) {
  in_addr address{};
  return host.size() <= INET_ADDRSTRLEN && std::all_of(host.begin(), host.end(), [](char c) {
           return is_digit(c) || c == '.';
         }) && inet_pton(AF_INET, std::string(host).c_str(), &address) == 1;
}

bool is_bracketed_ipv6(std::string_view host) {
  if (host.size() < 3 || host.front() != '[' || host.back() != ']') return false;
  in6_addr address{};
  return inet_pton(AF_INET6, std::string(host.substr(1, host.size() - 2)).c_str(), &address) == 1;
}

}  // namespace

std::optional<std::string> reached_host(std::string_view host_header) {
  const std::optional<Authority> named = host_authority(host_header, false);
  if (!named) return std::nullopt;
  const std::string_view host = named->host;
  if (is_bracketed_ipv6(host) || is_dotted_quad(host)) return std::string(host);
  const std::string_view name = without_trailing_dot(host);
  if (is_dns_name(name)) return std::string(name);
  return std::nullopt;
}

bool host_is_known(std::string_view host_header, std::string_view machine_name) {
  if (host_header.empty()) return true;
  const std::optional<Authority> named = host_authority(host_header, false);
  if (!named) return false;
  const std::string_view host = without_trailing_dot(named->host);
  if (is_ipv6_literal(host) || parse_ipv4(host)) return true;
  if (iequals(host, "localhost")) return true;
  const std::string_view own = without_trailing_dot(machine_name);
  return !own.empty() && iequals(host, own);
}

}  // namespace vx
