// The older tag-format configuration ("morvi.conf"): its records, the reader that fills them and
// the writer that turns them into a JSON configuration (also the first file of a new
// installation, written from the records' start values).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vocabulary/codecs.h"
#include "vocabulary/formats.h"
#include "vocabulary/product.h"

namespace vx {

inline constexpr std::size_t kLegacyLineLimit = 2000;
inline constexpr int kLegacyMaxFilters = 32;

struct LegacyGlobal {
  int http_port = kDefaultHttpPort;
  int rtsp_port = 0;
  int log = 0;
  int auto_start = 0;
  int auto_restart = 1;
  int stream_time_limit = 0;
  int folder_recur = 0;
  int folder_shuffle = 0;
  std::string login_pass;
};

struct LegacySource {
  FormatId kind = FormatId::file;
  CodecId video_codec = kCodecUnknown;
  CodecId audio_codec = kCodecUnknown;
  bool video_enable = false;  // set by a recognised codec line: the file has no enable lines
  bool audio_enable = false;
  std::string video_ip = "0.0.0.0";
  std::string audio_ip = "0.0.0.0";
  int video_port = 0;
  int audio_port = 0;
  std::string video_fmtp;
  std::string audio_fmtp;
  int audio_sample_rate = 0;
  int audio_channels = 0;
  std::string url;
};

struct LegacyTarget {
  FormatId kind = FormatId::file;
  int video_enable = 0;
  CodecId video_codec = kCodecUnknown;
  int width = 0;
  int height = 0;
  double frame_rate = 0;
  int key_frame_interval = 0;
  int quality = 0;
  int video_bit_rate = 0;
  int scan_type = 0;
  std::string video_ip = "0.0.0.0";
  int video_port = 0;
  bool video_out_of_band = false;
  std::string video_options;
  int audio_enable = 0;
  CodecId audio_codec = kCodecUnknown;
  int audio_sample_rate = 0;
  int audio_channels = 0;
  int audio_bit_rate = 0;
  std::string audio_ip = "0.0.0.0";
  int audio_port = 0;
  bool audio_out_of_band = false;
  int mux_bit_rate = 0;
  std::string rtmp_flash_ver;
  std::string rtmp_swf_url;
  std::string rtmp_user;
  std::string rtmp_pass;
  std::string url;
};

struct LegacyChannel {
  int enable = 0;
  int num_inputs = 0;
  std::array<LegacySource, 20> sources;
  int num_outputs = 0;
  std::array<LegacyTarget, 5> targets;
  std::string input_video_options;
  std::string input_custom_options;
  std::string map_text;
  std::string output_format_options;
  int num_filters = 0;
  std::array<std::string, kLegacyMaxFilters> filters;
  int time_shift_seconds = 0;
  std::string time_shift_cache_folder;
  std::string output_custom_options;
  std::string memo;
};

struct LegacyRecords {
  LegacyGlobal global;
  std::vector<LegacyChannel> channels;  // channel blocks 1, 2, ... in file order; at most 16
};

// Reads the tag format. Every text comes out as UTF-8: a line that is not valid UTF-8 is taken
// as Windows-1252, the code page such files were written in. Lines longer than
// kLegacyLineLimit are skipped whole, never split into a second line.
LegacyRecords legacy_parse(std::string_view text);

// The records of the file at path, or none when it cannot be read.
std::optional<LegacyRecords> legacy_read(const std::string& path);

// The records as a JSON configuration text: two-space indentation, one member per line, every
// text escaped. Channels without sources or without targets are left out.
std::string legacy_write(const LegacyRecords& records);

}  // namespace vx
