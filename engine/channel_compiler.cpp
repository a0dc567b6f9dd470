#include "engine/channel_compiler.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "config/document.h"
#include "config/served_output.h"
#include "config/standby_sources.h"
#include "config/store.h"
#include "engine/channel_slot.h"
#include "engine/command_line.h"
#include "engine/engine.h"
#include "engine/engine_clock.h"
#include "engine/playlist.h"
#include "platform/file_io.h"
#include "vocabulary/ascii.h"
#include "vocabulary/input_switch_report.h"
#include "vocabulary/text_format.h"
#include "vocabulary/transcoder_protocol.h"
#include "vocabulary/url_predicates.h"

namespace vx {
namespace {

const cJSON* channel_at(const cJSON* document, int channel) {
  return cJSON_GetArrayItem(config_array(document, "channels"), channel);
}

const cJSON* global_of(const cJSON* document) {
  return config_object(document, "global");
}

// A non-zero scalar "timeShift" moves the channel's transcoder into the time-shift companion's
// slot; the object form ({"cacheTime", "cacheFolder"}) moves nothing.
bool runs_time_shifted(const cJSON* channel) {
  return config_int(config_object(channel, "output"), "timeShift") != 0;
}

// Each string entry of the array followed by one space; empty entries too unless skipped.
std::string joined_options(const cJSON* array, bool skip_empty) {
  std::string text;
  const cJSON* item = nullptr;
  cJSON_ArrayForEach(item, array) {
    if (!cJSON_IsString(item) || item->valuestring == nullptr) continue;
    if (skip_empty && item->valuestring[0] == '\0') continue;
    text += item->valuestring;
    text += ' ';
  }
  return text;
}

// A folder source plays its playlist's current file; the playlist is rebuilt each start.
int resolve_folder_source(const cJSON* document, int supplier, std::string& url) {
  if (!is_existing_folder(url)) return 0;
  FolderPlaylist* playlist = channel_playlist_at(supplier);
  const cJSON* global = global_of(document);
  if (playlist == nullptr || playlist->build(url, config_bool(global, "folderRecur"),
                                             config_bool(global, "folderShuffle")) == 0) {
    return kErrorFolderUnplayable;
  }
  url = playlist->current().value_or(std::string());
  return url.empty() ? kErrorFolderUnplayable : 0;
}

// "-preset:v faster" -> "-preset:v:1 faster": with several inputs an option names its input's
// streams. Options that are not a name and a value stay as they are.
std::string tagged_option(std::string_view option, int entry) {
  const std::size_t space = option.find(' ');
  if (option.empty() || option.front() != '-' || space == std::string_view::npos || space == 1) {
    return std::string(option);
  }
  std::string_view value = option.substr(space + 1);
  value = value.substr(0, value.find(' '));
  if (value.empty()) return std::string(option);
  std::string tagged;
  append_format(tagged, "%.*s:%d %.*s", static_cast<int>(space), option.data(), entry,
                static_cast<int>(value.size()), value.data());
  return tagged;
}

std::string target_option_text(const cJSON* target, int entry, bool several_inputs) {
  const cJSON* video_options = config_array(config_object(target, "video"), "options");
  const cJSON* audio_options = config_array(config_object(target, "audio"), "options");
  std::string text;
  const cJSON* item = nullptr;
  cJSON_ArrayForEach(item, video_options) {
    if (!cJSON_IsString(item) || item->valuestring == nullptr || item->valuestring[0] == '\0') {
      continue;
    }
    text += several_inputs ? tagged_option(item->valuestring, entry) : item->valuestring;
    text += ' ';
  }
  text += joined_options(audio_options, true);
  return text;
}

void read_media(const cJSON* target, EngineTarget& record) {
  const cJSON* video = config_object(target, "video");
  record.video.enable = config_bool(video, "enable");
  record.video.codec = codec_id_from_name(config_string(video, "codec"));
  record.video.width = static_cast<std::uint16_t>(config_int(video, "width"));
  record.video.height = static_cast<std::uint16_t>(config_int(video, "height"));
  record.video.frame_rate = static_cast<float>(config_float(video, "frameRate"));
  record.video.key_frame_interval = config_int(video, "keyFrameInterval");
  record.video.quality = config_int(video, "quality");
  record.video.bitrate_kbps = config_int(video, "bitRate");
  record.video.scan_type = config_int(video, "scanType");
  const cJSON* audio = config_object(target, "audio");
  record.audio.enable = config_bool(audio, "enable");
  record.audio.codec = codec_id_from_name(config_string(audio, "codec"));
  record.audio.sample_rate = config_int(audio, "sampleRate");
  record.audio.channels = config_int(audio, "channels");
  record.audio.bitrate_kbps = config_int(audio, "bitRate");
}

// ----- elementary RTP ------------------------------------------------------------------------

// "rtp://address:port" (the address may be empty or "@" for every local address).
std::optional<std::pair<std::uint32_t, std::uint16_t>> rtp_url_endpoint(std::string_view url) {
  if (!istarts_with(url, "rtp://")) return std::nullopt;
  url.remove_prefix(6);
  url = url.substr(0, url.find_first_of("/?"));
  const std::size_t colon = url.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string host(url.substr(0, colon));
  if (host.empty() || host == "@") host = "0.0.0.0";
  in_addr address{};
  const int port = std::atoi(std::string(url.substr(colon + 1)).c_str());
  if (::inet_pton(AF_INET, host.c_str(), &address) != 1 || port <= 0 || port > 65535) {
    return std::nullopt;
  }
  return std::make_pair(address.s_addr, static_cast<std::uint16_t>(port));
}

// One elementary stream's address, port and format parameters ("IP", "port", "fmtp",
// "globalHeader" of its object). A source receives on them, a target sends to them.
void read_rtp_stream(const cJSON* stream, bool receives, MediaDescriptor& media) {
  in_addr address{};
  const std::string ip = config_string(stream, "IP");
  const std::uint32_t parsed =
      !ip.empty() && ::inet_pton(AF_INET, ip.c_str(), &address) == 1 ? address.s_addr : 0;
  const int port = config_int(stream, "port");
  const auto port16 = static_cast<std::uint16_t>(port > 0 && port <= 65535 ? port : 0);
  (receives ? media.rtp.local_address : media.rtp.remote_address) = parsed;
  (receives ? media.rtp.local_port : media.rtp.remote_port) = port16;
  media.fmtp = config_string(stream, "fmtp");
  media.global_header = config_bool(stream, "globalHeader");
}

// Where a stream's keys name no port, the URL names the picture's ("rtp://address:port"), and
// the sound follows two ports above it, as RTP streams pair their RTCP port in between.
void fill_rtp_from_url(const std::string& url, bool receives, MediaDescriptor& video,
                       MediaDescriptor& audio) {
  const auto endpoint = rtp_url_endpoint(url);
  if (!endpoint) return;
  const auto fill = [&](MediaDescriptor& media, std::uint16_t port) {
    std::uint16_t& own_port = receives ? media.rtp.local_port : media.rtp.remote_port;
    if (own_port != 0) return;
    (receives ? media.rtp.local_address : media.rtp.remote_address) = endpoint->first;
    own_port = port;
  };
  fill(video, endpoint->second);
  if (audio.enable && endpoint->second <= 65533) {
    fill(audio, static_cast<std::uint16_t>(endpoint->second + 2));
  }
}

// An "rtp_native" source: the streams it receives, described to the transcoder by a session
// file.
void read_rtp_source(const cJSON* source, EngineSource& record) {
  const cJSON* video = config_object(source, "video");
  const cJSON* audio = config_object(source, "audio");
  record.video.enable = config_bool(video, "enable");
  record.video.codec = codec_id_from_name(config_string(video, "codec"));
  record.audio.enable = config_bool(audio, "enable");
  record.audio.codec = codec_id_from_name(config_string(audio, "codec"));
  record.audio.sample_rate = config_int(audio, "sampleRate");
  record.audio.channels = config_int(audio, "channels");
  read_rtp_stream(video, true, record.video);
  if (record.audio.enable) read_rtp_stream(audio, true, record.audio);
  fill_rtp_from_url(record.url, true, record.video, record.audio);
}

// ----- target URLs ---------------------------------------------------------------------------

std::string with_rtmp_credentials(const std::string& url, const cJSON* rtmp) {
  const std::string user = config_string(rtmp, "user");
  const std::size_t scheme = url.find("://");
  if (user.empty() || scheme == std::string::npos) return url;
  std::string credentials = user;
  const std::string password = config_string(rtmp, "passwd");
  if (!password.empty()) credentials += ":" + password;
  return url.substr(0, scheme + 3) + credentials + "@" + url.substr(scheme + 3);
}

// Each start records into a new file: show.ts becomes show-YYYYMMDD-hhmmss.ts.
std::string with_start_time(const std::string& url) {
  const std::size_t dot = url.rfind('.');
  const std::size_t slash = url.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return url;
  const std::time_t now = static_cast<std::time_t>(engine_now());
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "-%Y%m%d-%H%M%S", &local);
  return url.substr(0, dot) + stamp + url.substr(dot);
}

// The RTMP application: the URL up to the second '/' after "//".
std::string rtmp_application(const std::string& url) {
  const std::size_t start = url.find("//");
  if (start == std::string::npos) return {};
  const std::size_t first = url.find('/', start + 2);
  const std::size_t second = first == std::string::npos ? first : url.find('/', first + 1);
  return second == std::string::npos ? std::string() : url.substr(0, second);
}

std::string target_format_options(const cJSON* document, const cJSON* output, const cJSON* target,
                                  const std::string& configured_url, const std::string& url,
                                  int mux_rate) {
  std::string options = joined_options(config_array(output, "formatOptions"), true);
  const cJSON* mux = config_object(target, "mux");
  if (mux_rate != 0 && config_bool(mux, "cbr")) append_format(options, "-bitrate %dk ", mux_rate);
  if (url_is_rtmp(configured_url)) {
    const cJSON* rtmp = config_object(target, "rtmp");
    // A flash version usually holds blanks ("FMLE/3.0 (compatible; FMSc/1.0)").
    const std::string flash_version = config_string(rtmp, "flashVer");
    if (!flash_version.empty()) {
      options += "-rtmp_flashver ";
      append_argument(options, flash_version);
    }
    std::string swf_url = config_string(rtmp, "swfUrl");
    if (swf_url.empty()) swf_url = rtmp_application(configured_url);
    if (!swf_url.empty()) {
      options += "-rtmp_swfurl ";
      append_argument(options, swf_url);
    }
  }
  const std::string custom = config_string(output, "customOptions");
  if (!custom.empty()) options += custom + " ";
  if (istarts_with(url, "https://")) {
    const cJSON* global = global_of(document);
    options +=
        served_tls_options(config_string(global, "sslCert"), config_string(global, "sslKey"));
  }
  return options;
}

// ----- sources -------------------------------------------------------------------------------

struct Supplier {
  int channel = -1;  // the channel whose source, options and targets this entry brings
  const cJSON* object = nullptr;
  bool bound = false;
};

// An entry without "bind" (or below 1) is the compiled channel's own source; one that names
// the compiled channel is skipped, and so is one whose channel has no source.
bool resolve_supplier(const cJSON* document, int channel, const cJSON* entry, Supplier& supplier) {
  const int bind = config_int(entry, "bind");
  supplier.channel = bind < 1 ? channel : bind - 1;
  if (bind >= 1 && supplier.channel == channel) return false;
  supplier.bound = supplier.channel != channel;
  supplier.object = channel_at(document, supplier.channel);
  return channel_first_source(supplier.object) != nullptr;
}

int fill_source(const cJSON* document, const Supplier& supplier, int entry, bool several_entries,
                EngineSource& source) {
  const cJSON* first = channel_first_source(supplier.object);
  const cJSON* input = config_object(supplier.object, "input");
  const cJSON* global = global_of(document);
  source.kind = format_id_from_name(config_string(first, "format"));
  source.url = config_string(first, "url");
  const bool folder = is_existing_folder(source.url);
  if (int code = resolve_folder_source(document, supplier.channel, source.url); code != 0) {
    return code;
  }
  source.alternate_input = config_string(global, "altInput");
  if (source.kind == FormatId::rtp_native) read_rtp_source(first, source);
  const cJSON* video = config_object(first, "video");
  if (video != nullptr && video->child != nullptr) {
    source.video.options = joined_options(config_array(video, "options"), false);
  }
  // A single local file loops while auto-restart is on.
  if (source.kind == FormatId::file && !url_has_scheme(source.url) && !folder &&
      cJSON_GetObjectItemCaseSensitive(global, "autoRestart") != nullptr &&
      config_int(global, "autoRestart") > 0) {
    source.input_options = "-stream_loop -1 ";
  }
  source.input_options += joined_options(config_array(input, "formatOptions"), true);
  source.input_options += config_string(input, "customOptions");
  const cJSON* filter = nullptr;
  cJSON_ArrayForEach(filter, config_array(input, "filters")) {
    if (cJSON_IsString(filter) && filter->valuestring != nullptr) {
      source.filters.emplace_back(filter->valuestring);
    }
  }
  if (input != nullptr && input->child != nullptr) {
    const cJSON* map = nullptr;
    cJSON_ArrayForEach(map, config_array(input, "map")) {
      if (cJSON_IsString(map) && map->valuestring != nullptr && map->valuestring[0] != '\0') {
        std::string stream;
        append_format(stream, "%d:%s", entry, map->valuestring);
        source.map_options += "-map ";
        append_argument(source.map_options, stream);
      }
    }
    if (source.map_options.empty() && several_entries) {
      append_format(source.map_options, "-map %d", entry);
    }
  }
  return 0;
}

// The compiled channel's own standby sources, in order, the first kMaxStandbySources of them:
// each opened as a first source of its kind would be, with its own video options. They get no
// channel filters and none of the input's "formatOptions" or "customOptions": those are the
// first source's, written for its format. An entry that could not be opened (a file loaded with
// it reported it) is left out.
std::vector<EngineSource> standby_sources(const cJSON* channel) {
  std::vector<EngineSource> standby;
  const cJSON* entries = config_array(config_object(channel, "input"), "standby");
  if (!cJSON_IsArray(entries)) return standby;
  int position = 0;
  const cJSON* entry = nullptr;
  cJSON_ArrayForEach(entry, entries) {
    if (position++ == kMaxStandbySources) break;
    if (!standby_source_problem(entry).empty()) continue;
    EngineSource source;
    source.kind = format_id_from_name(config_string(entry, "format"));
    source.url = config_string(entry, "url");
    source.video.options =
        joined_options(config_array(config_object(entry, "video"), "options"), false);
    standby.push_back(std::move(source));
  }
  return standby;
}

int fill_targets(const cJSON* document, int channel, const Supplier& supplier, int entry,
                 bool several_entries, std::vector<TargetGroup>& groups) {
  const cJSON* output = config_object(supplier.object, "output");
  const cJSON* targets = config_array(output, "targets");
  std::size_t filled = 0;
  const cJSON* target = nullptr;
  cJSON_ArrayForEach(target, targets) {
    if (filled == groups.size()) break;
    EngineTarget record;
    record.format = format_id_from_name(config_string(target, "format"));
    read_media(target, record);
    record.video.options = target_option_text(target, entry, several_entries);
    if (supplier.bound && !groups[filled].empty()) {
      // A bound channel's streams join the master's output, muxed as the master's target is.
      record.format = groups[filled].front().format;
      record.url = groups[filled].front().url;
      record.format_options = groups[filled].front().format_options;
    } else {
      record.mux_rate_kbps = config_int(config_object(target, "mux"), "bitRate");
      build_target_options(document, channel, output, target, record);
      if (record.format == FormatId::rtp_native) {
        read_rtp_stream(config_object(target, "video"), false, record.video);
        read_rtp_stream(config_object(target, "audio"), false, record.audio);
        fill_rtp_from_url(record.url, false, record.video, record.audio);
      }
    }
    groups[filled].push_back(std::move(record));
    ++filled;
  }
  return filled < groups.size() ? kErrorBoundTargetsMissing : 0;
}

std::size_t bounded_size(const cJSON* array, int limit) {
  const int size = cJSON_GetArraySize(array);
  return static_cast<std::size_t>(size < limit ? size : limit);
}

}  // namespace

void build_target_options(const cJSON* document, int channel, const cJSON* output,
                          const cJSON* target, EngineTarget& record) {
  const std::string configured_url = config_string(target, "url");
  std::string url = configured_url;
  if (served_by_transcoder(record.format)) {
    url = with_served_port(url, channel_served_port(document, channel));
  }
  if (url_is_rtmp(url)) url = with_rtmp_credentials(url, config_object(target, "rtmp"));
  if (record.format == FormatId::file && !url_has_scheme(url)) url = with_start_time(url);
  record.format_options =
      target_format_options(document, output, target, configured_url, url, record.mux_rate_kbps);
  if (served_by_transcoder(record.format)) {
    const std::string viewers = served_viewers_option(
        config_int(global_of(document), kViewersPerAddressKey, kDefaultViewersPerAddress));
    if (!viewers.empty() && !record.format_options.empty() && record.format_options.back() != ' ')
      record.format_options += ' ';
    record.format_options += viewers;
  }
  record.url = std::move(url);
}

void apply_multibitrate_hls(std::vector<TargetGroup>& groups) {
  if (groups.size() < 2 || groups.front().empty() || groups.back().empty()) return;
  const std::size_t count = groups.size();
  // The last entry of a group writes its muxer and destination: the result goes there.
  EngineTarget& result = groups.back().back();
  for (std::size_t i = 0; i < count; ++i)
    result.format_options += "-map 0:v -map 0:a ";
  std::string stream_map;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& url = groups[i].back().url;
    const std::size_t slash = url.rfind('/');
    std::string name = slash == std::string::npos ? url : url.substr(slash + 1);
    name = name.substr(0, name.rfind('.'));
    append_format(stream_map, "v:%zu,a:%zu,name:%s ", i, i, name.c_str());
  }
  result.format_options += "-var_stream_map ";
  result.format_options += quoted_argument(stream_map);
  // Players find the variants through the master playlist, named as the HLS dialog names it.
  if (!contains(result.format_options, "-master_pl_name ")) {
    result.format_options += " -master_pl_name master.m3u8";
  }
  const std::string& first_url = groups.front().back().url;
  const std::size_t slash = first_url.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : first_url.substr(0, slash + 1);
  for (std::size_t i = 0; i + 1 < count; ++i) {
    for (EngineTarget& entry : groups[i])
      entry.url.clear();
  }
  for (EngineTarget& entry : groups.back())
    entry.url = folder + "%v.m3u8";
}

int compile_channel(const cJSON* document, int channel, StartRequest& request) {
  const cJSON* compiled = channel_at(document, channel);
  if (compiled == nullptr) return kErrorNoSuchChannel;
  const cJSON* entries = config_array(config_object(compiled, "input"), "sources");
  const std::size_t source_limit = bounded_size(entries, kMaxChannelSources);
  const std::size_t group_count =
      bounded_size(config_array(config_object(compiled, "output"), "targets"), kMaxChannelTargets);
  const bool several_entries = cJSON_GetArraySize(entries) > 1;

  request = StartRequest{};
  request.groups.resize(group_count);
  const cJSON* entry_object = nullptr;
  cJSON_ArrayForEach(entry_object, entries) {
    if (request.sources.size() == source_limit) break;
    Supplier supplier;
    if (!resolve_supplier(document, channel, entry_object, supplier)) continue;
    const int entry = static_cast<int>(request.sources.size());
    EngineSource source;
    if (int code = fill_source(document, supplier, entry, several_entries, source); code != 0) {
      return code;
    }
    if (int code =
            fill_targets(document, channel, supplier, entry, several_entries, request.groups);
        code != 0) {
      return code;
    }
    request.sources.push_back(std::move(source));
  }
  if (folds_into_multibitrate_hls(request.groups)) apply_multibitrate_hls(request.groups);
  // The channel's own, never a bound channel's; the command line decides whether they run.
  request.standby = standby_sources(compiled);
  request.switch_on = switch_on_limits(compiled);
  return 0;
}

void attach_folder_playlists_to_config() {
  config_set_playlist_loader([](const std::vector<FolderPlaylistSetup>& playlists) {
    for (const FolderPlaylistSetup& entry : playlists) {
      FolderPlaylist* playlist = channel_playlist_at(entry.channel);
      if (playlist == nullptr) continue;
      playlist->load(playlist_file_path(config_folder(), entry.channel), entry.folder,
                     entry.recursive, entry.shuffle);
    }
  });
}

EngineSettings engine_settings_of(const cJSON* global) {
  EngineSettings settings;
  settings.log_level = config_int(global, "log");
  settings.plugin_core_path = config_string(global, "omxPath");
  settings.cookies_path = config_string(global, "ytdlpPath");
  return settings;
}

int compile_and_start_channel(const cJSON* document, int channel) {
  StartRequest request;
  if (int code = compile_channel(document, channel, request); code != 0) return code;
  return engine_start_channel(channel, request);
}

int compile_channel_preview(const cJSON* document, int channel, StartRequest& request) {
  const cJSON* compiled = channel_at(document, channel);
  const cJSON* first = channel_first_source(compiled);
  const cJSON* input = config_object(compiled, "input");
  request = StartRequest{};
  request.preview = true;
  EngineSource source;
  source.kind = format_id_from_name(config_string(first, "format"));
  source.url = config_string(first, "url");
  if (int code = resolve_folder_source(document, channel, source.url); code != 0) return code;
  source.input_options =
      "-stream_loop -1 " + joined_options(config_array(input, "formatOptions"), true);
  const cJSON* option = nullptr;
  // Hardware decoding would leave frames on the GPU that the preview's encoder cannot take.
  cJSON_ArrayForEach(option, config_array(config_object(first, "video"), "options")) {
    if (cJSON_IsString(option) && option->valuestring != nullptr &&
        option->valuestring[0] != '\0' && !istarts_with(option->valuestring, "-hwaccel")) {
      source.video.options += option->valuestring;
      source.video.options += ' ';
    }
  }
  cJSON_ArrayForEach(option, config_array(input, "map")) {
    if (cJSON_IsString(option) && option->valuestring != nullptr &&
        option->valuestring[0] != '\0') {
      source.map_options += "-map ";
      append_argument(source.map_options, option->valuestring);
    }
  }
  request.sources.push_back(std::move(source));

  EngineTarget target;
  target.format = FormatId::html5;
  target.video.enable = true;
  target.video.codec = kCodecH264;
  target.video.width = 320;
  target.video.height = 240;
  target.video.key_frame_interval = 1;  // a viewer that joins sees a picture within a second
  target.audio.enable = true;
  target.audio.codec = codec_id_from_name("aac");
  const cJSON* global = global_of(document);
  const bool secure = config_bool(global, "sslEnable");
  append_format(target.url, "%s://0.0.0.0:%d", secure ? "https" : "http",
                channel_served_port(document, channel));
  if (secure) {
    target.format_options +=
        served_tls_options(config_string(global, "sslCert"), config_string(global, "sslKey"));
  }
  request.groups.push_back(TargetGroup{std::move(target)});
  return 0;
}

int start_channel_preview(const cJSON* document, int channel) {
  StartRequest request;
  if (int code = compile_channel_preview(document, channel, request); code != 0) return code;
  return engine_start_channel(channel, request);
}

ChannelStatusSettings channel_status_settings(const cJSON* channel) {
  return ChannelStatusSettings{config_int(channel, "bind"), runs_time_shifted(channel),
                               config_string(channel_first_source(channel), "url")};
}

bool channel_plays_a_folder(const cJSON* channel) {
  return is_existing_folder(config_string(channel_first_source(channel), "url"));
}

void stop_compiled_channel(const cJSON* document, int channel, StopMode mode) {
  if (runs_time_shifted(channel_at(document, channel))) {
    engine_stop_channel(channel + kMaxChannels, mode);
  }
  engine_stop_channel(channel, mode);
}

}  // namespace vx
