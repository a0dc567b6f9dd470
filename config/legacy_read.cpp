#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "config/document.h"
#include "config/legacy.h"
#include "platform/atomic_file.h"
#include "vocabulary/ascii.h"
#include "vocabulary/utf8.h"

namespace vx {
namespace {

constexpr std::size_t kMaxLegacyChannels = kMaxChannels;

// ---- Text encoding ----

// Windows-1252 at 0x80..0x9F; its five unassigned bytes keep their own code point.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void append_utf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

std::string to_utf8(std::string_view line) {
  if (is_utf8(line)) return std::string(line);
  std::string out;
  out.reserve(line.size() * 2);
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    append_utf8(out, byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte);
  }
  return out;
}

// ---- Values ----

std::string_view skip_blanks(std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t");
  return start == std::string_view::npos ? std::string_view{} : text.substr(start);
}

std::string_view trim_trailing_blanks(std::string_view text) {
  const std::size_t end = text.find_last_not_of(" \t\r");
  return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

// The rest of the line after a key (compared without regard to case and followed by a blank).
std::optional<std::string_view> after_key(std::string_view line, std::string_view key) {
  if (line.size() <= key.size() || !istarts_with(line, key)) return std::nullopt;
  const char next = line[key.size()];
  if (next != ' ' && next != '\t') return std::nullopt;
  return line.substr(key.size() + 1);
}

int saturate(std::int64_t number) {
  return static_cast<int>(std::clamp<std::int64_t>(number, std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
}

// A leading decimal integer (blanks, optional sign, digits); none without a digit. Saturates.
std::optional<int> read_int(std::string_view value) {
  value = skip_blanks(value);
  bool negative = false;
  if (!value.empty() && (value[0] == '+' || value[0] == '-')) {
    negative = value[0] == '-';
    value.remove_prefix(1);
  }
  if (value.empty() || value[0] < '0' || value[0] > '9') return std::nullopt;
  std::int64_t number = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') break;
    number = std::min<std::int64_t>(number * 10 + (c - '0'), std::int64_t{1} << 32);
  }
  return saturate(negative ? -number : number);
}

std::optional<double> read_float(std::string_view value) {
  value = skip_blanks(value);
  if (!value.empty() && value[0] == '+') value.remove_prefix(1);
  double number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (error != std::errc{} || end == value.data() || !std::isfinite(number)) return std::nullopt;
  return number;
}

std::optional<std::string> read_word(std::string_view value) {
  value = skip_blanks(value);
  const std::size_t end = value.find_first_of(" \t\r");
  if (end == 0 || value.empty()) return std::nullopt;
  return std::string(value.substr(0, end));
}

// The text after the first double quote, up to the next one or the line end.
std::optional<std::string> read_quoted(std::string_view value) {
  const std::size_t open = value.find('"');
  if (open == std::string_view::npos) return std::nullopt;
  value.remove_prefix(open + 1);
  return std::string(value.substr(0, value.find('"')));
}

// File paths were written quoted and network addresses bare; either form is taken whatever the
// kind read so far, so the order of "Format" and "File" lines does not matter.
std::optional<std::string> read_location(std::string_view value) {
  value = skip_blanks(value);
  if (!value.empty() && value[0] == '"') return read_quoted(value);
  value = trim_trailing_blanks(value);
  if (value.empty()) return std::nullopt;
  return std::string(value);
}

void set_int(std::string_view value, int& field) {
  if (const auto number = read_int(value)) field = *number;
}

void set_port(std::string_view value, int& field) {
  const auto number = read_int(value);
  if (number && *number >= 0 && *number <= 65535) field = *number;
}

void set_quoted(std::string_view value, std::string& field) {
  if (auto text = read_quoted(value)) field = std::move(*text);
}

void set_word(std::string_view value, std::string& field) {
  if (auto word = read_word(value)) field = std::move(*word);
}

void set_ipv4(std::string_view value, std::string& field) {
  const auto word = read_word(value);
  in_addr address{};
  if (word && ::inet_pton(AF_INET, word->c_str(), &address) == 1) field = *word;
}

void set_codec(std::string_view value, CodecId& codec, bool* enable = nullptr) {
  const auto word = read_word(value);
  if (!word) return;
  codec = codec_id_from_name(*word);
  if (enable != nullptr) *enable = codec != kCodecUnknown;
}

void set_kind(std::string_view value, FormatId& kind) {
  if (const auto word = read_word(value)) kind = format_id_from_name(*word);
}

void set_header_flag(std::string_view value, bool& out_of_band) {
  if (const auto word = read_word(value)) out_of_band = iequals(*word, "OutOfBand");
}

void set_location(std::string_view value, std::string& field) {
  if (auto location = read_location(value)) field = std::move(*location);
}

// Stream selection belongs to the channel's "map"; a "-map" left among encoder options would
// select the streams a second time.
std::string without_map_options(std::string text) {
  bool removed = false;
  for (std::size_t at = text.find("-map "); at != std::string::npos; at = text.find("-map ", at)) {
    if (at > 0 && text[at - 1] != ' ' && text[at - 1] != '\t') {
      ++at;
      continue;
    }
    std::size_t end = text.find_first_not_of(' ', at + 5);
    end = end == std::string::npos ? text.size() : text.find(' ', end);
    end = end == std::string::npos ? text.size() : end + 1;
    text.erase(at, end - at);
    removed = true;
  }
  if (removed) text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// ---- Line rules ----

template <typename Record>
struct LineRule {
  const char* key;
  void (*apply)(Record&, std::string_view value);
};

template <typename Record, std::size_t N>
bool apply_rules(const LineRule<Record> (&rules)[N], Record& record, std::string_view line) {
  for (const LineRule<Record>& rule : rules) {
    if (const auto value = after_key(line, rule.key)) {
      rule.apply(record, *value);
      return true;
    }
  }
  return false;
}

using G = LegacyGlobal;
const LineRule<G> kGlobalRules[] = {
    {"log", [](G& g, std::string_view v) { set_int(v, g.log); }},
    {"HTTPPort", [](G& g, std::string_view v) { set_int(v, g.http_port); }},
    {"RTSPPort", [](G& g, std::string_view v) { set_int(v, g.rtsp_port); }},
    {"AutoStart", [](G& g, std::string_view v) { set_int(v, g.auto_start); }},
    {"AutoRestart", [](G& g, std::string_view v) { set_int(v, g.auto_restart); }},
    {"StreamTimeLimit", [](G& g, std::string_view v) { set_int(v, g.stream_time_limit); }},
    {"FolderRecur", [](G& g, std::string_view v) { set_int(v, g.folder_recur); }},
    {"FolderShuffle", [](G& g, std::string_view v) { set_int(v, g.folder_shuffle); }},
    {"LoginPass", [](G& g, std::string_view v) { set_word(v, g.login_pass); }},
};

using S = LegacySource;
const LineRule<S> kSourceRules[] = {
    {"Format", [](S& s, std::string_view v) { set_kind(v, s.kind); }},
    {"VideoCodec", [](S& s, std::string_view v) { set_codec(v, s.video_codec, &s.video_enable); }},
    {"VideoIP", [](S& s, std::string_view v) { set_ipv4(v, s.video_ip); }},
    {"VideoPort", [](S& s, std::string_view v) { set_port(v, s.video_port); }},
    {"VideoFmtp", [](S& s, std::string_view v) { set_quoted(v, s.video_fmtp); }},
    {"AudioCodec", [](S& s, std::string_view v) { set_codec(v, s.audio_codec, &s.audio_enable); }},
    {"AudioSampleRate", [](S& s, std::string_view v) { set_int(v, s.audio_sample_rate); }},
    {"AudioChannel", [](S& s, std::string_view v) { set_int(v, s.audio_channels); }},
    {"AudioIP", [](S& s, std::string_view v) { set_ipv4(v, s.audio_ip); }},
    {"AudioPort", [](S& s, std::string_view v) { set_port(v, s.audio_port); }},
    {"AudioFmtp", [](S& s, std::string_view v) { set_quoted(v, s.audio_fmtp); }},
    {"File", [](S& s, std::string_view v) { set_location(v, s.url); }},
};

using T = LegacyTarget;
const LineRule<T> kTargetRules[] = {
    {"Format", [](T& t, std::string_view v) { set_kind(v, t.kind); }},
    {"VideoEnable", [](T& t, std::string_view v) { set_int(v, t.video_enable); }},
    {"VideoCodec", [](T& t, std::string_view v) { set_codec(v, t.video_codec); }},
    {"VideoWidth", [](T& t, std::string_view v) { set_int(v, t.width); }},
    {"VideoHeight", [](T& t, std::string_view v) { set_int(v, t.height); }},
    {"VideoFrameRate",
     [](T& t, std::string_view v) {
       if (const auto rate = read_float(v)) t.frame_rate = *rate;
     }},
    {"VideoKeyFrameInterval", [](T& t, std::string_view v) { set_int(v, t.key_frame_interval); }},
    {"VideoQuality", [](T& t, std::string_view v) { set_int(v, t.quality); }},
    {"VideoBitRate", [](T& t, std::string_view v) { set_int(v, t.video_bit_rate); }},
    {"VideoDeinterlace", [](T& t, std::string_view v) { set_int(v, t.scan_type); }},
    {"VideoIP", [](T& t, std::string_view v) { set_ipv4(v, t.video_ip); }},
    {"VideoPort", [](T& t, std::string_view v) { set_port(v, t.video_port); }},
    {"VideoGlobalHeader",
     [](T& t, std::string_view v) { set_header_flag(v, t.video_out_of_band); }},
    {"VideoParam",
     [](T& t, std::string_view v) {
       if (auto text = read_quoted(v)) t.video_options = without_map_options(std::move(*text));
     }},
    {"AudioEnable", [](T& t, std::string_view v) { set_int(v, t.audio_enable); }},
    {"AudioCodec", [](T& t, std::string_view v) { set_codec(v, t.audio_codec); }},
    {"AudioSampleRate", [](T& t, std::string_view v) { set_int(v, t.audio_sample_rate); }},
    {"AudioChannel", [](T& t, std::string_view v) { set_int(v, t.audio_channels); }},
    {"AudioBitRate", [](T& t, std::string_view v) { set_int(v, t.audio_bit_rate); }},
    {"AudioIP", [](T& t, std::string_view v) { set_ipv4(v, t.audio_ip); }},
    {"AudioPort", [](T& t, std::string_view v) { set_port(v, t.audio_port); }},
    {"AudioGlobalHeader",
     [](T& t, std::string_view v) { set_header_flag(v, t.audio_out_of_band); }},
    {"MuxBitRate", [](T& t, std::string_view v) { set_int(v, t.mux_bit_rate); }},
    {"RTMPFlashVer", [](T& t, std::string_view v) { set_word(v, t.rtmp_flash_ver); }},
    {"RTMPSwfUrl", [](T& t, std::string_view v) { set_word(v, t.rtmp_swf_url); }},
    {"RTMPPubUser", [](T& t, std::string_view v) { set_word(v, t.rtmp_user); }},
    {"RTMPPubPass", [](T& t, std::string_view v) { set_word(v, t.rtmp_pass); }},
    {"File", [](T& t, std::string_view v) { set_location(v, t.url); }},
};

using C = LegacyChannel;
const LineRule<C> kChannelRules[] = {
    {"MapParam", [](C& c, std::string_view v) { set_quoted(v, c.map_text); }},
    {"FormatParam", [](C& c, std::string_view v) { set_quoted(v, c.output_format_options); }},
    {"Filters",
     [](C& c, std::string_view v) {
       if (const auto count = read_int(v)) c.num_filters = std::clamp(*count, 0, kLegacyMaxFilters);
     }},
    {"TimeShift",
     [](C& c, std::string_view v) {
       if (const auto minutes = read_int(v)) c.time_shift_seconds = saturate(*minutes * 60LL);
     }},
    {"TimeShiftSec", [](C& c, std::string_view v) { set_int(v, c.time_shift_seconds); }},
    {"TimeShiftCacheFolder",
     [](C& c, std::string_view v) {
       auto folder = read_quoted(v);
       if (!folder) return;
       if (folder->empty() || (folder->back() != '/' && folder->back() != '\\')) *folder += '/';
       c.time_shift_cache_folder = std::move(*folder);
     }},
    {"TargetParam", [](C& c, std::string_view v) { set_quoted(v, c.output_custom_options); }},
    {"CustomParam", [](C& c, std::string_view v) { set_quoted(v, c.output_custom_options); }},
    {"Memo", [](C& c, std::string_view v) { set_quoted(v, c.memo); }},
};

// "Filter[n]" with n from 1, followed by a quoted text.
bool apply_filter_line(LegacyChannel& channel, std::string_view line) {
  constexpr std::string_view kPrefix = "Filter[";
  if (!istarts_with(line, kPrefix)) return false;
  line.remove_prefix(kPrefix.size());
  const std::size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  int number = 0;
  const auto [end, error] = std::from_chars(line.data(), line.data() + close, number);
  if (error != std::errc{} || end != line.data() + close) return false;
  if (number >= 1 && number <= kLegacyMaxFilters) {
    set_quoted(line.substr(close + 1), channel.filters[static_cast<std::size_t>(number - 1)]);
  }
  return true;
}

// The number in "<Name%d>" (or "</Name%d>" when closing) for one of the names.
std::optional<int> numbered_tag(std::string_view line, bool closing,
                                std::initializer_list<std::string_view> names) {
  std::string_view opening = closing ? "</" : "<";
  if (!line.starts_with(opening)) return std::nullopt;
  line.remove_prefix(opening.size());
  for (const std::string_view name : names) {
    if (!istarts_with(line, name)) continue;
    const std::string_view rest = line.substr(name.size());
    int number = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), number);
    if (error == std::errc{} && end != rest.data() && end < rest.data() + rest.size() &&
        *end == '>') {
      return number;
    }
  }
  return std::nullopt;
}

bool is_tag(std::string_view line, std::string_view tag) {
  return istarts_with(line, tag);
}

class LegacyParser {
 public:
  explicit LegacyParser(LegacyRecords& records) : records_(records) {}

  void read_line(std::string_view line) {
    line = skip_blanks(trim_trailing_blanks(line));
    if (open_ == 0) {
      if (!open_block(line)) apply_rules(kGlobalRules, records_.global, line);
      return;
    }
    if (numbered_tag(line, true, {"Channel", "Slot"}) == open_) {
      open_ = 0;
      return;
    }
    // A block left without its closing tag ends where the next expected one begins.
    if (numbered_tag(line, false, {"Channel", "Slot"})) {
      const int open = open_;
      open_ = 0;
      if (!open_block(line)) open_ = open;
      return;
    }
    read_channel_line(records_.channels.back(), line);
  }

 private:
  enum class Section { none, input, output };

  bool open_block(std::string_view line) {
    const auto number = numbered_tag(line, false, {"Channel", "Slot"});
    const std::size_t expected = records_.channels.size() + 1;
    if (!number || static_cast<std::size_t>(*number) != expected || expected > kMaxLegacyChannels) {
      return false;
    }
    records_.channels.emplace_back();
    open_ = *number;
    section_ = Section::none;
    return true;
  }

  void read_channel_line(LegacyChannel& channel, std::string_view line) {
    if (const auto value = after_key(line, "Enable")) return set_int(*value, channel.enable);
    if (is_tag(line, "<Input>")) {
      section_ = Section::input;
      channel.num_inputs = 1;
      source_ = 0;
    } else if (is_tag(line, "<Output>")) {
      section_ = Section::output;
      channel.num_outputs = 1;
      target_ = 0;
    } else if (is_tag(line, "</Input>") || is_tag(line, "</Output>")) {
      section_ = Section::none;
    } else if (section_ == Section::input) {
      read_input_line(channel, line);
    } else if (section_ == Section::output) {
      read_output_line(channel, line);
      // Channel settings were written among the targets; every line there may carry one.
      if (!apply_filter_line(channel, line)) apply_rules(kChannelRules, channel, line);
    }
  }

  void read_input_line(LegacyChannel& channel, std::string_view line) {
    if (const auto value = after_key(line, "NumInputs")) {
      if (const auto count = read_int(*value)) {
        channel.num_inputs = std::clamp(*count, 0, kMaxChannelSources);
      }
    } else if (const auto number = numbered_tag(line, false, {"Input"})) {
      source_ = *number >= 1 && *number <= channel.num_inputs ? *number - 1 : -1;
    } else if (const auto options = after_key(line, "VideoParam")) {
      set_quoted(*options, channel.input_video_options);
    } else if (const auto custom = after_key(line, "SourceParam")) {
      set_quoted(*custom, channel.input_custom_options);
    } else if (source_ >= 0) {
      apply_rules(kSourceRules, channel.sources[static_cast<std::size_t>(source_)], line);
    }
  }

  void read_output_line(LegacyChannel& channel, std::string_view line) {
    if (const auto value = after_key(line, "NumOutputs")) {
      if (const auto count = read_int(*value)) {
        channel.num_outputs = std::clamp(*count, 0, kMaxChannelTargets);
      }
    } else if (const auto number = numbered_tag(line, false, {"Output"})) {
      target_ = *number >= 1 && *number <= channel.num_outputs ? *number - 1 : -1;
    } else if (target_ >= 0) {
      LegacyTarget& target = channel.targets[static_cast<std::size_t>(target_)];
      apply_rules(kTargetRules, target, line);
      if (target.video_bit_rate > 0) target.quality = 0;
    }
  }

  LegacyRecords& records_;
  int open_ = 0;  // number of the open channel block, 0 outside every block
  Section section_ = Section::none;
  int source_ = -1;
  int target_ = -1;
};

}  // namespace

LegacyRecords legacy_parse(std::string_view text) {
  LegacyRecords records;
  LegacyParser parser(records);
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.size() > kLegacyLineLimit) continue;
    parser.read_line(to_utf8(line));
  }
  return records;
}

std::optional<LegacyRecords> legacy_read(const std::string& path) {
  const std::optional<std::string> text = file_read_whole(path);
  if (!text) return std::nullopt;
  return legacy_parse(*text);
}

}  // namespace vx
