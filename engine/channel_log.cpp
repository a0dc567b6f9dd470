#include "engine/channel_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace vx {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Slot + 1 must fit the three digits of the file name.
constexpr int kHighestNamedSlot = 998;

struct LogSettings {
  bool open = false;
  int level = 0;
  std::string folder;  // ends with '/'
};

std::mutex& log_lock() {
  static std::mutex lock;
  return lock;
}

// Guarded by log_lock().
LogSettings& settings() {
  static LogSettings value;
  return value;
}

std::string base_path(const std::string& folder, int slot) {
  char name[32];
  std::snprintf(name, sizeof name, "morv_%03d", slot + 1);
  return folder + name;
}

std::string current_path(const std::string& folder, int slot) {
  return base_path(folder, slot) + ".log";
}

std::string archive_path(const std::string& folder, int slot, int number) {
  return base_path(folder, slot) + "-" + std::to_string(number) + ".log";
}

bool file_exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// Makes room for a fresh current log: archives are numbered from 1 (oldest) upward, at most
// nine are kept, and the current log becomes the newest archive.
void rotate_logs(const std::string& folder, int slot) {
  int next = 1;
  while (file_exists(archive_path(folder, slot, next)))
    ++next;
  if (next > kChannelLogArchives - 1) {
    const int surplus = next - kChannelLogArchives;
    for (int number = 1; number <= surplus; ++number) {
      ::unlink(archive_path(folder, slot, number).c_str());
    }
    for (int number = 1; number < kChannelLogArchives; ++number) {
      ::rename(archive_path(folder, slot, surplus + number).c_str(),
               archive_path(folder, slot, number).c_str());
    }
  }
  const int target = next < kChannelLogArchives ? next : kChannelLogArchives;
  ::rename(current_path(folder, slot).c_str(), archive_path(folder, slot, target).c_str());
}

std::string time_stamp_now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  const std::size_t length = std::strftime(text, sizeof text, "[%Y/%m/%d %H:%M:%S] ", &local);
  return std::string(text, length);
}

}  // namespace

void channel_log_open(std::string_view folder, int level) {
  std::lock_guard guard(log_lock());
  LogSettings& current = settings();
  current.folder.assign(folder);
  if (current.folder.empty() || current.folder.back() != '/') current.folder.push_back('/');
  current.level = level;
  current.open = true;
}

void channel_log_set_level(int level) {
  std::lock_guard guard(log_lock());
  settings().level = level;
}

void channel_log_close() {
  std::lock_guard guard(log_lock());
  settings() = LogSettings{};
}

std::string channel_log_path(int slot) {
  std::lock_guard guard(log_lock());
  return current_path(settings().folder, slot);
}

std::string channel_log_archive_path(int slot, int number) {
  std::lock_guard guard(log_lock());
  return archive_path(settings().folder, slot, number);
}

int engine_log(int slot, bool time_stamped, std::string_view text) {
  std::lock_guard guard(log_lock());
  const LogSettings& current = settings();
  if (current.level == 0) return 0;
  if (slot < 0 || slot > kHighestNamedSlot) return -1;

  const std::string path = current_path(current.folder, slot);
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 &&
      static_cast<std::uint64_t>(info.st_size) > kChannelLogSizeLimit) {
    rotate_logs(current.folder, slot);
  }

  const UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
  if (!file) return -1;

  std::string record;
  if (::fstat(file.get(), &info) == 0 && info.st_size == 0) record.append(kByteOrderMark);
  if (time_stamped) {
    record.append(time_stamp_now());
    record.append(text);
    if (text.find('\n') == std::string_view::npos) record.push_back('\n');
  } else {
    record.append(text);
  }
  return write_all(file.get(), record) ? 0 : -1;
}

int engine_log_printf(int slot, bool time_stamped, const char* format, ...) {
  {
    std::lock_guard guard(log_lock());
    if (!settings().open) return -1;
  }
  char text[kChannelLogLineLimit + 1];
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  if (length < 0) return -1;
  return engine_log(slot, time_stamped, text);
}

}  // namespace vx
