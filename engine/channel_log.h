// Per-slot channel logs: "morv_NNN.log" in the log folder (NNN = slot + 1), private to the user,
// rotated past 5000000 bytes into at most nine archives "morv_NNN-K.log" (1 the oldest), as
// platform/log_file.h keeps them. One lock serialises every write of every slot, from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vx {

inline constexpr std::uint64_t kChannelLogSizeLimit = 5000000;
inline constexpr int kChannelLogArchives = 9;
inline constexpr std::size_t kChannelLogLineLimit = 999;

// Starts logging into the folder (a trailing '/' is added when missing) at the level; level 0
// writes nothing and creates no file. Until this is called, and after channel_log_close(),
// engine_log_printf() writes nothing and returns -1.
void channel_log_open(std::string_view folder, int level);
void channel_log_set_level(int level);
void channel_log_close();

std::string channel_log_path(int slot);
std::string channel_log_archive_path(int slot, int number);

// Appends the text to the slot's log, after a "[%Y/%m/%d %H:%M:%S] " local time stamp and
// followed by "\n" (unless the text holds a line feed already) when time_stamped; raw otherwise.
// A time-stamped text always starts a line: after raw text that ended within one, a line feed
// comes first.
// A new or empty file first gets the UTF-8 byte-order mark. Returns -1 when logging is on and
// the file cannot be written (or the slot cannot name a file), else 0.
int engine_log(int slot, bool time_stamped, std::string_view text);

// Formats at most 999 characters (longer results are cut) and logs them like engine_log().
int engine_log_printf(int slot, bool time_stamped, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace vx
