// Fuzzes where a request says it comes from: the input is split at its first two newlines into a
// Host header, an Origin (or Referer) and a Sec-Fetch-Site value. An Origin built from the Host
// itself always passes; any origin read from the text names a port from 1 to 65535.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "web/request_origin.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::size_t first = text.find('\n');
  const std::string_view host = text.substr(0, first);
  const std::string_view rest = first == std::string_view::npos ? "" : text.substr(first + 1);
  const std::size_t second = rest.find('\n');
  const std::string_view origin = rest.substr(0, second);
  const std::string_view fetch = second == std::string_view::npos ? "" : rest.substr(second + 1);

  for (const bool tls : {false, true}) {
    (void)vx::cross_origin_refusal({fetch, origin, "", host, tls});
    (void)vx::cross_origin_refusal({"", "", origin, host, tls});
    if (vx::host_authority(host, tls)) {
      const std::string own = std::string(tls ? "https://" : "http://") + std::string(host);
      if (!vx::cross_origin_refusal({"", own, "", host, tls}).empty()) std::abort();
    }
  }
  if (const auto read = vx::origin_authority(origin)) {
    if (read->port < 1 || read->port > 65535 || read->host.empty()) std::abort();
  }
  (void)vx::host_is_known(host, "studio");
  return 0;
}
