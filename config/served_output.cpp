#include "config/served_output.h"

#include "config/document.h"
#include "vocabulary/ascii.h"
#include "vocabulary/product.h"
#include "vocabulary/url_predicates.h"

namespace vx {
namespace {

constexpr int kHighestPort = 65535;

bool names_only_this_machine(std::string_view host) {
  return host.empty() || host == "0.0.0.0" || iequals(host, "localhost") ||
         host.substr(0, 4) == "127." || host == "::" || host == "::1";
}

// A host as it stands in a URL: an IPv6 address in brackets.
std::string url_host(std::string_view host) {
  if (host.find(':') != std::string_view::npos && host.front() != '[') {
    return "[" + std::string(host) + "]";
  }
  return std::string(host);
}

std::string address(std::string_view scheme, std::string_view host, int port) {
  return std::string(scheme) + "://" + url_host(host) + ":" + std::to_string(port);
}

}  // namespace

bool served_by_transcoder(FormatId format) {
  return format == FormatId::http || format == FormatId::html5 || format == FormatId::httpmjpg;
}

int channel_served_port(const cJSON* document, int channel) {
  const long port =
      static_cast<long>(config_int(config_object(document, "global"), "httpPort",
                                   kDefaultHttpPort)) +
      channel + 1;
  return port >= 1 && port <= kHighestPort ? static_cast<int>(port) : 0;
}

std::string with_served_port(const std::string& url, int port) {
  const std::size_t scheme = url.find("://");
  const std::size_t host = scheme == std::string::npos ? 0 : scheme + 3;
  // The host ends at its port or at the path (a URL without a port keeps no path either).
  const std::size_t end = url.find_first_of(":/", host);
  return url.substr(0, end) + ":" + std::to_string(port);
}

std::optional<std::string> channel_served_url(const cJSON* document, int channel,
                                              std::string_view reached_host) {
  const cJSON* channel_object = cJSON_GetArrayItem(config_array(document, "channels"), channel);
  const cJSON* target = cJSON_GetArrayItem(
      config_array(config_object(channel_object, "output"), "targets"), 0);
  if (!served_by_transcoder(format_id_from_name(config_string(target, "format")))) {
    return std::nullopt;
  }
  const std::string url = config_string(target, "url");
  const int port = channel_served_port(document, channel);
  const std::optional<UrlHostPort> parts = url_host_and_port(url);
  if (!parts || port == 0) return std::nullopt;
  std::string scheme = url.substr(0, url.find("://"));
  for (char& c : scheme)
    c = ascii_lower(c);
  const std::string_view host = names_only_this_machine(parts->host) ? reached_host : parts->host;
  return address(scheme, host, port);
}

std::optional<std::string> channel_preview_url(const cJSON* document, int channel,
                                               std::string_view reached_host) {
  const int port = channel_served_port(document, channel);
  if (port == 0) return std::nullopt;
  const bool tls = config_bool(config_object(document, "global"), "sslEnable");
  return address(tls ? "https" : "http", reached_host, port);
}

}  // namespace vx
