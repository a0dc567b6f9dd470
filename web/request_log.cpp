#include "web/request_log.h"

#include <mutex>

#include "platform/log_file.h"
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
                             std::uint32_t client_address_network_order, std::uint16_t client_port,
                             unsigned status) {
  std::string line = stamped_line_start(now);
  append_escaped(line, method);
  line += ' ';
  append_escaped(line, url.substr(0, kLoggedUrlLimit));
  if (url.size() > kLoggedUrlLimit) append_format(line, " [URL cut, %zu bytes]", url.size());
  append_format(line, " from %s:%u -> ", dotted_quad(client_address_network_order).c_str(),
                static_cast<unsigned>(client_port));
  if (status == 0) {
    line += "no answer\n";
  } else {
    append_format(line, "%u\n", status);
  }
  return line;
}

std::string request_log_note(std::time_t now, std::string_view text) {
  std::string line = stamped_line_start(now);
  append_escaped(line, text);
  return line + "\n";
}

void request_log_append(const std::string& path, std::string_view line) {
  if (path.empty()) return;
  // The server answers on several threads; only one of them may rotate the file.
  static std::mutex writing;
  const std::lock_guard lock(writing);
  log_file_append(path, line, {kRequestLogSizeLimit, kRequestLogArchives});
}

}  // namespace vx
