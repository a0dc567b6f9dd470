#include "settings/advanced_format.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <tuple>
#include <utility>

#include "config/document.h"
#include "config/json.h"
#include "settings/json_fields.h"
#include "vocabulary/formats.h"

namespace vx {
namespace {

constexpr std::size_t kMaxStoredBytes = 1000;

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && is_space(text[begin]))
    ++begin;
  while (end > begin && is_space(text[end - 1]))
    --end;
  return std::string(text.substr(begin, end - begin));
}

bool equals_no_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string without_char(std::string_view text, char gone) {
  std::string kept;
  for (char c : text)
    if (c != gone) kept.push_back(c);
  return kept;
}

// The word after key ("%s" reading); empty when the key is absent or nothing follows it.
std::string token_after(std::string_view entry, std::string_view key) {
  return word_after(entry, key);
}

// A leading integer in strtol's manner: base 0 is C integer syntax (0x hex, leading 0 octal),
// base 10 is plain decimal. Saturates at the 32-bit limits; nullopt when there are no digits.
std::optional<std::int64_t> leading_integer(std::string_view text, int base) {
  const std::string copy(text);
  char* end = nullptr;
  long long value = std::strtoll(copy.c_str(), &end, base);
  if (end == copy.c_str()) return std::nullopt;
  value = std::clamp<long long>(value, std::numeric_limits<std::int32_t>::min(),
                                std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int64_t>(value);
}

std::int32_t to_int32(std::int64_t value) {
  return static_cast<std::int32_t>(value);
}

// The number after key in C integer syntax, when the key is present and a number follows.
std::optional<std::int64_t> number_after(std::string_view entry, std::string_view key) {
  const std::size_t at = entry.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  return leading_integer(entry.substr(at + key.size()), 0);
}

// atoi of a list cell: a leading decimal number, 0 for anything else.
std::int64_t cell_number(std::string_view text) {
  return leading_integer(text, 10).value_or(0);
}

// A MPEG-TS PID typed by the operator counts only inside the range the muxer accepts.
bool pid_in_range(std::string_view text, std::int64_t* value) {
  const std::optional<std::int64_t> parsed = leading_integer(text, 0);
  *value = parsed.value_or(0);
  return parsed && *value >= 32 && *value <= 8186;
}

FormatId format_of(const cJSON* item) {
  return format_id_from_name(config_string(item, "format"));
}

// The target at the index, a position outside the targets clamped to the nearest one.
const cJSON* target_of(const cJSON* channel, int target_index) {
  const cJSON* targets = config_array(config_object(channel, "output"), "targets");
  if (!cJSON_IsArray(targets)) return nullptr;
  const int count = cJSON_GetArraySize(targets);
  if (count <= 0) return nullptr;
  const cJSON* target = cJSON_GetArrayItem(targets, std::clamp(target_index, 0, count - 1));
  return cJSON_IsObject(target) ? target : nullptr;
}

const cJSON* first_source_of(const cJSON* channel) {
  const cJSON* sources = config_array(config_object(channel, "input"), "sources");
  const cJSON* source = cJSON_IsArray(sources) ? cJSON_GetArrayItem(sources, 0) : nullptr;
  return cJSON_IsObject(source) ? source : nullptr;
}

int target_count(const cJSON* channel) {
  const cJSON* targets = config_array(config_object(channel, "output"), "targets");
  return cJSON_IsArray(targets) ? cJSON_GetArraySize(targets) : 0;
}

// The tabs write into trees they only read through const lookups; cJSON has no const split.
cJSON* writable(const cJSON* item) {
  return const_cast<cJSON*>(item);
}

// channel[key] as an object to write into: created when absent, but never in place of a value of
// another type (that would throw away what the operator cannot see here).
cJSON* side_object(cJSON* channel, const char* key) {
  if (!cJSON_IsObject(channel)) return nullptr;
  cJSON* member = cJSON_GetObjectItemCaseSensitive(channel, key);
  if (member == nullptr) return object_member(channel, key);
  return cJSON_IsObject(member) ? member : nullptr;
}

bool store_options(cJSON* channel, const char* side, const std::vector<std::string>& options) {
  cJSON* object = side_object(channel, side);
  return object != nullptr && set_string_array(object, "formatOptions", options);
}

std::vector<std::string> split_colons(std::string_view entry) {
  std::vector<std::string> tokens;
  std::size_t at = 0;
  while (at < entry.size()) {
    const std::size_t next = std::min(entry.find(':', at), entry.size());
    if (next > at) tokens.emplace_back(entry.substr(at, next - at));
    at = next + 1;
  }
  return tokens;
}

// The text between "'" after key and the next "'" (or the end); nullopt when nothing is there.
std::optional<std::string> quoted_after(std::string_view text, std::string_view key) {
  const std::size_t at = text.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = text.substr(at + key.size());
  if (rest.empty() || rest.front() != '\'') return std::nullopt;
  rest.remove_prefix(1);
  const std::string_view value = rest.substr(0, rest.find('\''));
  if (value.empty()) return std::nullopt;
  return std::string(value);
}

// Reads "=l=%d:d=%d" the way a scanf would: whatever matched before the first mismatch counts.
void read_fec_matrix(std::string_view text, std::int32_t* columns, std::int32_t* rows) {
  if (text.substr(0, 3) != "=l=") return;
  text.remove_prefix(3);
  const std::optional<std::int64_t> first = leading_integer(text, 10);
  if (!first) return;
  *columns = to_int32(*first);
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return;
  const std::string_view after = text.substr(colon);
  if (after.substr(0, 3) != ":d=") return;
  if (const std::optional<std::int64_t> second = leading_integer(after.substr(3), 10))
    *rows = to_int32(*second);
}

// Where the host part of a URL lies: after "://" (or from the start) up to the next ":", or,
// for a bracketed IPv6 address, through its "]".
std::pair<std::size_t, std::size_t> url_host_span(std::string_view url) {
  const std::size_t scheme = url.find("://");
  const std::size_t begin = scheme == std::string_view::npos ? 0 : scheme + 3;
  std::size_t end = url.find(':', begin);
  if (begin < url.size() && url[begin] == '[') {
    const std::size_t bracket = url.find(']', begin);
    if (bracket != std::string_view::npos) end = url.find(':', bracket);
  }
  return {begin, end == std::string_view::npos ? url.size() : end};
}

std::string url_host(std::string_view url) {
  const auto [begin, end] = url_host_span(url);
  return std::string(url.substr(begin, end - begin));
}

std::string url_with_host(std::string_view url, std::string_view host) {
  const auto [begin, end] = url_host_span(url);
  std::string rebuilt(url.substr(0, begin));
  rebuilt += host;
  rebuilt += url.substr(end);
  return rebuilt;
}

bool is_mpegts_target(FormatId format) {
  switch (format) {
    case FormatId::udp:
    case FormatId::http:
    case FormatId::rtpts:
    case FormatId::omxts:
    case FormatId::srt:
    case FormatId::hls:
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---- MPEG-TS input ----

void MpegTsInputSettings::add_row() {
  SourceStreamList.push_back({std::to_string(SourceStreamList.size() + 1), ""});
}

void MpegTsInputSettings::remove_row(std::size_t position) {
  if (position < SourceStreamList.size())
    SourceStreamList.erase(SourceStreamList.begin() + static_cast<std::ptrdiff_t>(position));
}

void MpegTsInputSettings::load(const cJSON* channel) {
  SourceStreamList.clear();
  for (const std::string& entry : string_array(config_object(channel, "input"), "map")) {
    const std::vector<std::string> tokens = split_colons(entry);
    if (tokens.empty()) continue;
    std::optional<Row> row;
    std::size_t following = 1;
    if (tokens[0] != "p") {
      const std::string pid = without_char(entry, '#');
      if (!pid.empty()) row = Row{"", pid};
    } else {
      if (tokens.size() > 1) row = Row{tokens[1], ""};
      following = 2;
    }
    if (following < tokens.size()) {
      const std::string pid = without_char(tokens[following], '#');
      if (!pid.empty()) {
        if (!row) row = Row{};
        row->pid = pid;
      }
    }
    if (row) SourceStreamList.push_back(*row);
  }
}

bool MpegTsInputSettings::save(cJSON* channel) const {
  std::vector<std::string> map;
  for (const Row& row : SourceStreamList) {
    // A PID names one stream exactly, so it wins over the program.
    if (!row.pid.empty())
      map.push_back("#" + row.pid);
    else if (!row.program.empty())
      map.push_back("p:" + row.program);
  }
  cJSON* input = side_object(channel, "input");
  if (input != nullptr) set_string_array(input, "map", map);
  return true;
}

// ---- MPEG-TS output ----

void MpegTsOutputSettings::add_program() {
  const std::size_t number = ProgramList.size() + 1;
  char name[32];
  std::snprintf(name, sizeof name, "Program%02zu", number);
  ProgramList.push_back({std::to_string(number), name, std::to_string(number)});
}

void MpegTsOutputSettings::remove_row(std::size_t position) {
  if (position < ProgramList.size())
    ProgramList.erase(ProgramList.begin() + static_cast<std::ptrdiff_t>(position));
}

void MpegTsOutputSettings::load(const cJSON* channel, int target_index) {
  *this = MpegTsOutputSettings{};
  const FormatId format = format_of(target_of(channel, target_index));
  if (!is_mpegts_target(format)) return;  // every control stays disabled
  enabled = true;
  for (const std::string& entry : string_array(config_object(channel, "output"), "formatOptions")) {
    const std::string_view text = entry;
    if (text.find("-mpegts_pmt_start_pid ") != text.npos) {
      if (std::string pid = token_after(text, "-mpegts_pmt_start_pid "); !pid.empty())
        pmt_pid = pid;
    }
    const std::pair<const char*, std::string*> stream_ids[] = {{"-streamid 0:", &video_pid},
                                                               {"-streamid 1:", &audio_pid},
                                                               {"-streamid 2:", &subtitle_pid}};
    for (const auto& [key, field] : stream_ids) {
      if (text.find(key) == text.npos) continue;
      if (std::string pid = token_after(text, key); !pid.empty()) *field = pid;
    }
    if (text.find("-metadata ") != text.npos && text.size() > 10) {
      // The provider is read from where "-metadata " ends in the entries this tab writes.
      const std::string_view rest = text.substr(10);
      constexpr std::string_view kKey = "service_provider=";
      if (rest.substr(0, kKey.size()) == kKey)
        if (std::optional<std::string> value = quoted_after(rest, kKey)) provider = *value;
    }
    if (text.find("-fec ") != text.npos) {
      const std::string token = token_after(text, "-fec ");
      if (token.size() >= 7 && equals_no_case(std::string_view(token).substr(0, 7), "prompeg")) {
        fec_on = true;
        read_fec_matrix(std::string_view(token).substr(7), &fec_columns, &fec_rows);
      }
    }
    if (text.find("-program ") != text.npos && text.size() > 9) {
      const std::string_view rest = text.substr(9);
      const std::int64_t program = number_after(rest, "program_num=").value_or(-1);
      const std::int64_t input = number_after(rest, "if=").value_or(-1);
      if (program >= 1 && input >= 0) {
        ProgramList.push_back({std::to_string(program), quoted_after(rest, "title=").value_or(""),
                               std::to_string(input + 1)});
      }
    }
  }
  if (ProgramList.empty()) add_program();
  fec_enabled = format == FormatId::rtpts;
}

bool MpegTsOutputSettings::save(cJSON* channel, int /*target_index*/) const {
  if (!enabled) return true;
  std::vector<std::string> options;
  for (const Row& row : ProgramList) {
    const std::int64_t program = cell_number(row.program);
    const std::int64_t source = cell_number(row.source);
    if (program == 0 || source == 0) continue;
    std::string entry = "-program program_num=" + std::to_string(program) + ":";
    if (!row.name.empty()) entry += "title='" + row.name + "':";
    entry += "if=" + std::to_string(source - 1);
    options.push_back(entry);
  }
  std::int64_t value = 0;
  // 0x1000 is the muxer's own first PMT PID, so naming it changes nothing.
  if (pid_in_range(pmt_pid, &value) && value != 0x1000)
    options.push_back("-mpegts_pmt_start_pid " + pmt_pid);
  if (!provider.empty()) options.push_back("-metadata service_provider='" + provider + "'");
  const std::tuple<const std::string*, std::int64_t, const char*> pids[] = {
      {&video_pid, 0x100, "-streamid 0:"},
      {&audio_pid, 0x101, "-streamid 1:"},
      {&subtitle_pid, 0x102, "-streamid 2:"}};
  for (const auto& [text, initial, key] : pids) {
    if (pid_in_range(*text, &value) && value != initial) options.push_back(key + *text);
  }
  if (fec_on) {
    options.push_back("-fec prompeg=l=" + std::to_string(fec_columns) +
                      ":d=" + std::to_string(fec_rows));
  }
  store_options(channel, "output", options);
  return true;
}

// ---- RTMP ----

void RtmpSettings::load(const cJSON* channel, int target_index) {
  // A tab that does not apply shows empty boxes rather than another channel's credentials.
  *this = RtmpSettings{};
  const cJSON* target = target_of(channel, target_index);
  if (format_of(target) != FormatId::rtmp) return;
  enabled = true;
  const cJSON* rtmp_object = config_object(target, "rtmp");
  flash_ver = config_string(rtmp_object, "flashVer");
  swf_url = config_string(rtmp_object, "swfUrl");
  user = config_string(rtmp_object, "user");
  passwd = config_string(rtmp_object, "passwd");
}

bool RtmpSettings::save(cJSON* channel, int target_index) const {
  const cJSON* target = target_of(channel, target_index);
  if (format_of(target) != FormatId::rtmp) return true;
  cJSON* rtmp_object = writable(config_object(target, "rtmp"));
  if (rtmp_object == nullptr) return true;  // a target without the object gets none
  const std::pair<const char*, const std::string*> fields[] = {
      {"flashVer", &flash_ver}, {"swfUrl", &swf_url}, {"user", &user}, {"passwd", &passwd}};
  for (const auto& [key, text] : fields)
    config_set_string(rtmp_object, key, cut_to_bytes(trim(*text), kMaxStoredBytes));
  return true;
}

// ---- HLS ----

void HlsSettings::load(const cJSON* channel, int target_index) {
  *this = HlsSettings{};
  if (format_of(target_of(channel, target_index)) != FormatId::hls) return;
  enabled = true;
  for (const std::string& entry : string_array(config_object(channel, "output"), "formatOptions")) {
    const std::string_view text = entry;
    if (text.find("-hls_segment_type ") != text.npos &&
        equals_no_case(token_after(text, "-hls_segment_type "), "fmp4"))
      segment_format = 1;
    // A negative count cannot be shown by the unsigned boxes, so it leaves the initial value.
    if (const auto value = number_after(text, "-hls_time "); value && *value >= 0)
      segment_length = static_cast<std::uint32_t>(*value);
    if (const auto value = number_after(text, "-hls_list_size "); value && *value >= 0)
      playlist_size = static_cast<std::uint32_t>(*value);
    if (const auto value = number_after(text, "-start_number "))
      index_start =
          to_int32(std::min<std::int64_t>(*value + 1, std::numeric_limits<std::int32_t>::max()));
    const std::pair<const char*, std::string*> texts[] = {{"-hls_base_url ", &base_url},
                                                          {"-hls_key_info_file ", &key_info_file},
                                                          {"-master_pl_name ", &master_name}};
    for (const auto& [key, field] : texts) {
      if (text.find(key) == text.npos) continue;
      if (std::string token = token_after(text, key); !token.empty()) *field = token;
    }
  }
  master_enabled = target_count(channel) > 1;
}

bool HlsSettings::save(cJSON* channel, int target_index, DialogMessage* message) const {
  if (format_of(target_of(channel, target_index)) != FormatId::hls) return true;
  const char* problem = segment_length == 0  ? "HLS segment length invalid!"
                        : playlist_size == 0 ? "m3u8 playlist entry size invalid!"
                                             : nullptr;
  if (problem != nullptr) {
    if (message != nullptr) *message = DialogMessage{"Setting Error", problem, MessageIcon::error};
    return false;
  }
  std::vector<std::string> options;
  if (segment_format == 1) options.push_back("-hls_segment_type fmp4");
  if (segment_length != 2) options.push_back("-hls_time " + std::to_string(segment_length));
  if (playlist_size != 5) options.push_back("-hls_list_size " + std::to_string(playlist_size));
  // The operator counts segments from 1, the muxer from 0.
  if (index_start != 1)
    options.push_back("-start_number " +
                      std::to_string(static_cast<std::int64_t>(index_start) - 1));
  if (!base_url.empty()) options.push_back("-hls_base_url " + base_url);
  if (!key_info_file.empty()) options.push_back("-hls_key_info_file " + key_info_file);
  if (target_count(channel) > 1 && !master_name.empty())
    options.push_back("-master_pl_name " + master_name);
  store_options(channel, "output", options);
  return true;
}

// ---- SRT ----

void SrtSettings::load(const cJSON* channel, int target_index) {
  std::vector<std::string> choices = std::move(local_address_choices);
  *this = SrtSettings{};
  local_address_choices = std::move(choices);
  const cJSON* source = first_source_of(channel);
  const cJSON* target = target_of(channel, target_index);
  // An SRT input is the one the operator most often tunes, so it wins over an SRT target.
  const cJSON* url_owner = nullptr;
  if (format_of(source) == FormatId::srt) {
    side = Side::input;
    url_owner = source;
  } else if (format_of(target) == FormatId::srt) {
    side = Side::output;
    url_owner = target;
  } else {
    return;
  }
  enabled = true;
  mode = side == Side::input ? 0 : 1;
  remote1 = url_host(config_string(url_owner, "url"));
  const char* side_key = side == Side::input ? "input" : "output";
  for (const std::string& entry : string_array(config_object(channel, side_key), "formatOptions")) {
    const std::string_view text = entry;
    if (text.find("-mode ") != text.npos)
      mode = equals_no_case(token_after(text, "-mode "), "listener") ? 1 : 0;
    const std::pair<const char*, std::string*> texts[] = {
        {"-localaddr ", &local1}, {"-backup_remote ", &remote2}, {"-backup_local ", &local2}};
    for (const auto& [key, field] : texts) {
      if (text.find(key) == text.npos) continue;
      if (std::string token = token_after(text, key); !token.empty()) *field = token;
    }
    if (text.find("-grouptype ") != text.npos)
      bonding = equals_no_case(token_after(text, "-grouptype "), "broadcast") ? 1 : 0;
    if (const auto value = number_after(text, "-minstable_timeout "); value && *value >= 0)
      minstable_timeout = static_cast<std::uint32_t>(*value);
  }
}

bool SrtSettings::save(cJSON* channel, int target_index) const {
  if (!enabled) return true;
  const cJSON* source = first_source_of(channel);
  const bool input_side = format_of(source) == FormatId::srt;
  const cJSON* url_owner = input_side ? source : target_of(channel, target_index);
  std::vector<std::string> options;
  const std::int32_t side_default = input_side ? 0 : 1;
  if (mode != side_default) options.push_back(mode == 1 ? "-mode listener" : "-mode caller");
  if (mode != 1) {
    if (!remote1.empty() && cJSON_IsObject(url_owner)) {
      const std::string url = url_with_host(config_string(url_owner, "url"), remote1);
      config_set_string(writable(url_owner), "url", url);
    }
    if (!local1.empty()) options.push_back("-localaddr " + local1);
    if (!remote2.empty()) options.push_back("-backup_remote " + remote2);
    if (!local2.empty()) options.push_back("-backup_local " + local2);
    // Bonding settings mean something only with a second connection.
    if (!remote2.empty() || !local2.empty()) {
      if (bonding == 1) options.push_back("-grouptype broadcast");
      if (minstable_timeout != 200)
        options.push_back("-minstable_timeout " + std::to_string(minstable_timeout));
    }
  }
  store_options(channel, input_side ? "input" : "output", options);
  return true;
}

// ---- Custom parameters ----

void CustomFormatSettings::load(const cJSON* channel) {
  source_params = trim(config_string(config_object(channel, "input"), "customOptions"));
  target_params = trim(config_string(config_object(channel, "output"), "customOptions"));
}

bool CustomFormatSettings::save(cJSON* channel) const {
  const std::pair<const char*, const std::string*> sides[] = {{"input", &source_params},
                                                              {"output", &target_params}};
  for (const auto& [side, text] : sides) {
    cJSON* object = config_object(channel, side);
    // Only channels that carry the key get it: every channel made here starts with both.
    if (cJSON_GetObjectItemCaseSensitive(object, "customOptions") == nullptr) continue;
    std::string cleaned;
    // The parameters end up inside one command line, where quotes and line breaks would split it.
    for (char c : *text)
      if (c != '"' && c != '\r' && c != '\n') cleaned.push_back(c);
    config_set_string(object, "customOptions", cut_to_bytes(trim(cleaned), kMaxStoredBytes));
  }
  return true;
}

// ---- Host ----

void AdvancedFormatSettings::load_channel(cJSON* channel, int target) {
  editingChannel = channel;
  target_index = target;
  mpegts_in.load(channel);
  mpegts_out.load(channel, target);
  rtmp.load(channel, target);
  hls.load(channel, target);
  srt.local_address_choices = local_addresses;
  srt.load(channel, target);
  custom.load(channel);
}

bool AdvancedFormatSettings::save_channel() {
  rejection.reset();
  if (!cJSON_IsObject(editingChannel)) return false;
  DialogMessage message;
  if (!mpegts_in.save(editingChannel)) return false;
  if (!mpegts_out.save(editingChannel, target_index)) return false;
  if (!rtmp.save(editingChannel, target_index)) return false;
  if (!hls.save(editingChannel, target_index, &message)) {
    rejection = message;
    return false;
  }
  if (!srt.save(editingChannel, target_index)) return false;
  return custom.save(editingChannel);
}

}  // namespace vx
