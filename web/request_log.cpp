#include "web/request_log.h"

#include <fcntl.h>

#include "platform/file_io.h"
#include "platform/unique_fd.h"
#include "vocabulary/ascii.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

void append_escaped(std::string& line, std::string_view text) {
  for (const char c : text) {
    if (ascii_is_control(c)) {
      append_format(line, "\\x%02x", static_cast<unsigned char>(c));
    } else {
      line += c;
    }
  }
}

std::string stamped_line_start(std::time_t now) {
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", &local);
  return "[" + std::string(stamp) + "] ";
}

}  // namespace

std::string request_log_line(std::time_t now, std::string_view method, std::string_view url,
                             std::uint32_t client_address_network_order,
                             std::uint16_t client_port) {
  std::string line = stamped_line_start(now);
  append_escaped(line, method);
  line += ' ';
  append_escaped(line, url);
  append_format(line, " from %s:%u\n", dotted_quad(client_address_network_order).c_str(),
                static_cast<unsigned>(client_port));
  return line;
}

std::string request_log_note(std::time_t now, std::string_view text) {
  std::string line = stamped_line_start(now);
  append_escaped(line, text);
  return line + "\n";
}

void request_log_append(const std::string& path, std::string_view line) {
  if (path.empty()) return;
  // One write on an O_APPEND descriptor, so lines never interleave.
  const UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (file) write_all(file.get(), line);
}

}  // namespace vx
