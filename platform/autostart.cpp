#include "platform/autostart.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/file_io.h"
#include "platform/host.h"
#include "platform/unique_fd.h"

namespace vx {
namespace {

// Leaves room for the ".desktop" ending and the temporary name's decoration within the
// 255 bytes a file name may have.
constexpr std::size_t kFileNameLimit = 200;

bool is_control(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

bool usable_file_name(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > kFileNameLimit) return false;
  for (const char c : name) {
    if (c == '/' || is_control(c)) return false;
  }
  return true;
}

std::string default_folder() {
  const std::string config = xdg_base_folder("XDG_CONFIG_HOME", "/.config");
  return config.empty() ? "" : config + "/autostart";
}

// A value of string type in a desktop entry: the readers undo these escapes first, before
// any quoting rule of the key applies.
std::string escape_value(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '\\') {
      escaped += "\\\\";
    } else {
      escaped += c;
    }
  }
  if (!escaped.empty() && escaped.front() == ' ') escaped.replace(0, 1, "\\s");
  return escaped;
}

// The program as the single quoted argument of Exec: within the quotes '"', '`', '$' and '\'
// take a backslash, and '%' is doubled since it would start a field code. The result is then
// a string value, whose own escaping doubles every one of those backslashes.
std::string exec_argument(const std::string& path) {
  std::string quoted = "\"";
  for (const char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
    if (c == '%') quoted += '%';
  }
  quoted += '"';
  return escape_value(quoted);
}

std::string entry_text(const std::string& name, const std::string& executable) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" +
         escape_value(name) +
         "\n"
         "Exec=" +
         exec_argument(executable) +
         " -quiet\n"
         "X-GNOME-Autostart-enabled=true\n"
         "Terminal=false\n";
}

bool write_replacing(const std::string& folder, const std::string& path, const std::string& text) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return false;
  std::string temporary = path + ".XXXXXX";
  std::vector<char> pattern(temporary.begin(), temporary.end());
  pattern.push_back('\0');
  UniqueFd fd(::mkostemp(pattern.data(), O_CLOEXEC));
  if (!fd) return false;
  temporary = pattern.data();
  // mkostemp makes the file private; an autostart entry is as readable as any other.
  const bool written = ::fchmod(fd.get(), 0644) == 0 && write_all(fd.get(), text) &&
                       ::fsync(fd.get()) == 0 && ::close(fd.release()) == 0 &&
                       ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!written) {
    ::unlink(temporary.c_str());
    return false;
  }
  // The entry is in place; a failed folder flush only weakens the power-cut guarantee.
  UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory) ::fsync(directory.get());
  return true;
}

}  // namespace

std::string app_display_name(const std::string& program_folder) {
  UniqueFd fd(::open((program_folder + "/morvoem.txt").c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return std::string(kDefaultAppDisplayName);
  }
  // The name is cut far below this; the rest of a long first line is never needed.
  char buffer[1024];
  ssize_t got = -1;
  do {
    got = ::read(fd.get(), buffer, sizeof buffer);
  } while (got < 0 && errno == EINTR);
  std::string line(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
  line = line.substr(0, line.find('\n'));
  // Windows editors often begin a UTF-8 file with a byte order mark; it is not part of the name.
  if (line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
  if (line.size() > kAppDisplayNameLimit) {
    std::size_t cut = kAppDisplayNameLimit;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
      --cut;
    line.resize(cut);
  }
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
    line.pop_back();
  return line.empty() ? std::string(kDefaultAppDisplayName) : line;
}

bool autostart_apply(bool enabled, const std::string& display_name,
                     const std::string& executable_path, const std::string& autostart_folder) {
  const std::string folder = autostart_folder.empty() ? default_folder() : autostart_folder;
  if (folder.empty()) return false;
  const std::string name =
      usable_file_name(display_name) ? display_name : std::string(kDefaultAppDisplayName);
  const std::string path = folder + "/" + name + ".desktop";
  if (!enabled) return ::unlink(path.c_str()) == 0 || errno == ENOENT;

  // A relative Exec would be looked up in PATH, and a control character would end the line
  // and start another key.
  if (!executable_path.starts_with('/')) return false;
  for (const char c : executable_path) {
    if (is_control(c)) return false;
  }
  return write_replacing(folder, path, entry_text(name, executable_path));
}

}  // namespace vx
