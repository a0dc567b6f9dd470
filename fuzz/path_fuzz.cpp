// Fuzzes the reading of a request URL: its path, the channel number after "/channel" and in a
// polled picture's or history's path, the joined argument text built from its query pairs, and
// the values read back from it; and an "If-None-Match" value against a picture's tag.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "web/request_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view url(reinterpret_cast<const char*>(data), size);
  const std::string_view path = vx::path_without_query(url);
  const int channel = vx::channel_number(path);
  if (channel < 0 || channel > vx::kMaxChannelNumber) std::abort();
  // A picture's number is the whole segment between the prefix and the suffix.
  const int pictured = vx::numbered_path(path, "/thumbnails/", ".jpg");
  const std::string digits = std::to_string(pictured);
  if (pictured < 0 || pictured > 999 ||
      (pictured != 0 && (path.size() != 16 + digits.size() || path.substr(12, digits.size()) != digits))) {
    std::abort();
  }
  if (vx::entity_tag_matches(url, "\"1-2-3\"") && url.find("\"1-2-3\"") == std::string_view::npos &&
      url.find('*') == std::string_view::npos) {
    std::abort();  // a match names the tag, or is "*"
  }

  // Query pairs as libmicrohttpd hands them over: NUL-terminated names and values.
  const std::string_view query = url.substr(path.size());
  std::string arguments;
  std::size_t pos = query.empty() ? 0 : 1;
  while (pos < query.size()) {
    const std::size_t end = std::min(query.find('&', pos), query.size());
    const std::string_view pair = query.substr(pos, end - pos);
    const std::size_t equals = pair.find('=');
    const std::string name(pair.substr(0, equals));
    const std::string value(equals == std::string_view::npos ? "" : pair.substr(equals + 1));
    vx::append_pair(arguments, name, equals == std::string_view::npos ? nullptr : value.c_str());
    if (arguments.size() > vx::kMaxPairText) std::abort();
    pos = end + 1;
  }
  // The endpoints' numbers are read from the joined text.
  for (const std::string_view name : {"output", "timeout"}) {
    const std::optional<std::string> value = vx::query_value(arguments, name);
    if (value &&
        (value->find('&') != std::string::npos || arguments.find(*value) == std::string::npos)) {
      std::abort();
    }
  }
  return 0;
}
