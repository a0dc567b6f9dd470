// Where a request says it comes from, and whether the administration takes it: the browser's
// cross-origin signals on requests that change something (another site's page, or a page on
// another port of this host, changes nothing here), and the names the server answers by while
// no password is set (a DNS name an attacker points at this machine is refused). Pure text rules;
// the server hands them the headers.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vx {

// An origin: scheme, host and port, the three that must all match. The host is kept as written
// (IPv6 literals with their brackets) and compared without regard to case.
struct Authority {
  std::string scheme;  // "http" or "https", lower case
  std::string host;
  int port = 0;
};

bool same_authority(const Authority& a, const Authority& b);

// "scheme://host[:port]" and whatever path follows, as an Origin or a Referer carries it; the
// scheme's own port when none is written. nullopt for "null", another scheme, user information,
// a port that is not a number from 1 to 65535, or anything else unreadable.
std::optional<Authority> origin_authority(std::string_view text);

// The server's own origin as the Host header names it, with the scheme the connection uses.
std::optional<Authority> host_authority(std::string_view host_header, bool tls);

// Requests that change something: every method but GET and HEAD (the login, the logout and the
// configuration are POSTs), and the channel actions ("/channel" and a number), which are GETs.
bool request_changes_state(std::string_view method, std::string_view path);

// What a browser tells about a request's origin, and where it was sent.
struct BrowserSignals {
  std::string_view sec_fetch_site;
  std::string_view origin;
  std::string_view referer;
  std::string_view host;
  bool tls = false;
};

// Why a request that changes something is refused as coming from another origin, "" when it may
// go on. Decided as browsers allow: "Sec-Fetch-Site" when sent ("same-origin" and "none" pass,
// "same-site" is another port or a sibling name and is refused); else "Origin" against the Host
// header (scheme, host and port); else, for browsers that send neither, "Referer" the same way.
// A request with none of the three (curl, scripts) passes.
std::string cross_origin_refusal(const BrowserSignals& signals);

// While no password is set the server answers only by names no one else can point at it: an IP
// address, "localhost", or the machine's own host name (any case, a trailing dot allowed). A
// request without a Host header (HTTP/1.0) passes; a browser always sends one.
bool host_is_known(std::string_view host_header, std::string_view machine_name);

// The host a request reached this server by, when its Host header is well formed: a DNS name
// (labels of letters, digits and inner hyphens, at most 63 characters each and 253 in all, a
// trailing dot dropped, not all digits at the end), a dotted-quad IPv4 address or a bracketed
// IPv6 address, then at most a port from 1 to 65535. The host is returned without the port, an
// IPv6 one with its brackets, so it can stand in a URL as it is. nullopt for anything else (the
// header is the client's to write): the caller then uses its own idea of this machine's address.
std::optional<std::string> reached_host(std::string_view host_header);

}  // namespace vx
