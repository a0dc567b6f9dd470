#include "engine/channel_log.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/log_file.h"

namespace vx {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Slot + 1 must fit the three digits of the file name.
constexpr int kHighestNamedSlot = 998;

struct LogSettings {
  bool open = false;
  int level = 0;
  std::string folder;  // ends with '/'
  // Whether the slot's file ends within a line (ffmpeg's progress ends in a carriage return):
  // a time-stamped record then starts on a line of its own.
  std::array<bool, kHighestNamedSlot + 1> within_line{};
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
  return log_archive_path(current_path(settings().folder, slot), number);
}

int engine_log(int slot, bool time_stamped, std::string_view text) {
  std::lock_guard guard(log_lock());
  LogSettings& current = settings();
  if (current.level == 0) return 0;
  if (slot < 0 || slot > kHighestNamedSlot) return -1;
  if (text.empty() && !time_stamped) return 0;

  std::string record;
  bool& within_line = current.within_line[static_cast<std::size_t>(slot)];
  if (time_stamped) {
    if (within_line) record.push_back('\n');
    record.append(time_stamp_now());
    record.append(text);
    if (text.find('\n') == std::string_view::npos) record.push_back('\n');
  } else {
    record.append(text);
  }
  within_line = record.back() != '\n';
  return log_file_append(current_path(current.folder, slot), record,
                         {kChannelLogSizeLimit, kChannelLogArchives}, kByteOrderMark)
             ? 0
             : -1;
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
