#include "engine/command_line.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "engine/session_description.h"
#include "vocabulary/ascii.h"
#include "vocabulary/input_switch_report.h"
#include "vocabulary/product.h"
#include "vocabulary/text_format.h"
#include "vocabulary/transcoder_protocol.h"
#include "vocabulary/url_predicates.h"

namespace vx {
namespace {

// ---------------------------------------------------------------------------------------------
// Encoder rules: how each video encoder is given its preset, quality and constant bit rate.

enum class DefaultQuality {
  qmin,  // "-qmin:v 2" when neither quality nor bit rate is set
  crf,   // "-crf:v <default_crf>"
  none,  // the encoder's own default
};

struct EncoderRules {
  CodecId id;
  // Default preset: the option (the stream suffix follows it) and its value, written unless the
  // target's options already hold `preset_suppressed_by`.
  const char* preset_option = nullptr;
  const char* preset_value = nullptr;
  const char* preset_suppressed_by = nullptr;
  bool quality_as_crf = false;  // quality as "-crf" rather than "-qmin/-qmax"
  DefaultQuality default_quality = DefaultQuality::qmin;
  const char* default_crf = nullptr;
  const char* cbr_switch = nullptr;  // written after the bit-rate options
  bool maxrate = true;
  // FFmpeg's own encoders (MPEG-1/2/4, H.261/263, FLV, MJPEG) run at a fixed quantiser when
  // given one; a quantiser floor alone changes nothing under their default bit rate.
  bool quality_as_quantiser = false;
};

constexpr DefaultQuality kCrf = DefaultQuality::crf;
constexpr DefaultQuality kNone = DefaultQuality::none;
constexpr DefaultQuality kQmin = DefaultQuality::qmin;

// clang-format off
constexpr std::array<EncoderRules, 22> kEncoderRules = {{
    // id  preset option  value      suppressed by  quality  default crf      cbr switch
    //                                               as crf   quality
    {135, "-preset:v",   "faster",  "-preset:v",   true,  kCrf,  "23",    "-nal-hrd cbr "},
    {136, "-preset:v",   "faster",  "-preset:v",   true,  kCrf,  "28",    nullptr},
    {137, "-preset:v",   "default", "-preset:v",   false, kNone, nullptr, "-cbr 1 "},
    {138, "-preset:v",   "default", "-preset:v",   false, kNone, nullptr, "-cbr 1 "},
    {139, "-preset:v",   "default", "-preset:v",   false, kNone, nullptr, nullptr},
    {140, "-preset:v",   "medium",  "-preset:v",   false, kNone, nullptr, nullptr},
    {141, "-preset:v",   "medium",  "-preset:v",   false, kNone, nullptr, nullptr},
    {144, nullptr,       nullptr,   nullptr,       false, kNone, nullptr, nullptr},
    {147, nullptr,       nullptr,   nullptr,       false, kNone, nullptr, nullptr},
    {148, nullptr,       nullptr,   nullptr,       false, kCrf,  "23",  nullptr},
    {149, nullptr,       nullptr,   nullptr,       false, kCrf,  "28",  nullptr},
    {156, "-cpu-used:v", "3",       "-cpu-used",   true,  kCrf,  "32",  nullptr},
    {157, "-cpu-used:v", "3",       "-cpu-used",   true,  kCrf,  "32",  nullptr},
    {158, "-preset:v",   "13",      "-preset:v",   true,  kNone, nullptr,
     "-svtav1-params rc=2:pred-struct=1 ", /*maxrate=*/false},
    {128, nullptr, nullptr, nullptr, false, kQmin, nullptr, nullptr, true, true},
    {129, nullptr, nullptr, nullptr, false, kQmin, nullptr, nullptr, true, true},
    {130, nullptr, nullptr, nullptr, false, kQmin, nullptr, nullptr, true, true},
    {131, nullptr, nullptr, nullptr, false, kQmin, nullptr, nullptr, true, true},
    {132, nullptr, nullptr, nullptr, false, kQmin, nullptr, nullptr, true, true},
    {133, nullptr, nullptr, nullptr, false, kQmin, nullptr, nullptr, true, true},
    {134, nullptr, nullptr, nullptr, false, kQmin, nullptr, nullptr, true, true},
    {155, nullptr, nullptr, nullptr, false, kQmin, nullptr, nullptr, true, true},
}};
// clang-format on

EncoderRules encoder_rules(CodecId id) {
  for (const EncoderRules& rules : kEncoderRules) {
    if (rules.id == id) return rules;
  }
  return EncoderRules{.id = id};
}

bool is_plugin_encoder(CodecId id) {
  return codec_family(id) == CodecFamily::omx;
}

// ---------------------------------------------------------------------------------------------
// Shared pieces.

// The source's filters as one filter chain.
std::string joined_filters(const std::vector<std::string>& filters) {
  std::string chain;
  for (std::size_t k = 0; k < filters.size(); ++k) {
    if (k > 0) chain += ", ";
    chain += filters[k];
  }
  return chain;
}

void append_text_and_space(std::string& line, std::string_view text) {
  if (text.empty()) return;
  line += text;
  line += ' ';
}

std::string session_file_path(const CommandSettings& settings, const char* direction) {
  std::string path;
  append_format(path, "%smorv_%03d_%s.sdp", settings.session_folder.c_str(), settings.slot + 1,
                direction);
  return path;
}

// ---------------------------------------------------------------------------------------------
// Inputs.

// The device text names its devices in double quotes (video="USB Camera"); the device itself
// is named without them.
std::string device_name(std::string_view text) {
  std::string name;
  for (char c : text) {
    if (c != '"') name.push_back(c);
  }
  return name;
}

// A capture device text may carry options as a query ("video=Cam?rtbufsize=100M&framerate=25"):
// they become input options ("-rtbufsize 100M -framerate 25", each name and each value one
// argument) and the device is named without its query.
//
// The line says "-f dshow ... -i video=NAME:audio=NAME" on purpose, and morvi-transcoder turns it
// into "-f v4l2 -i /dev/videoN" and "-f alsa -i hw:C,D" when it starts (transcoder/
// capture_devices.*). Stored channels name their devices, and carry options, in that form; a
// device node's number changes between boots and when a camera is plugged in again, while its
// name does not; so the name is resolved on the machine that captures, at the moment it starts,
// and the engine never needs to look at /dev or /proc/asound.
void append_device_input(std::string& line, const std::string& url) {
  line += "-f dshow ";
  const std::size_t query = url.find('?');
  std::string_view options =
      query == std::string::npos ? std::string_view() : std::string_view(url).substr(query + 1);
  while (!options.empty()) {
    const std::string_view option = options.substr(0, options.find('&'));
    options.remove_prefix(std::min(options.size(), option.size() + 1));
    const std::size_t equals = option.find('=');
    append_argument(line, "-" + std::string(option.substr(0, equals)));
    if (equals != std::string_view::npos) append_argument(line, option.substr(equals + 1));
  }
  line += "-i ";
  append_argument(line, device_name(std::string_view(url).substr(0, query)));
}

int append_session_input(std::string& line, const EngineSource& source,
                         const CommandSettings& settings) {
  if (source.video.rtp.local_port == 0) return kErrorSessionFile;
  const std::string path = session_file_path(settings, "in");
  if (write_session_description(path, &source.video, &source.audio, SessionForm::input) != 0) {
    return kErrorSessionFile;
  }
  // The description names rtp and udp, which FFmpeg reads from a file only when allowed to.
  line += "-protocol_whitelist file,udp,rtp -i ";
  append_argument(line, path);
  return 0;
}

void append_url_input(std::string& line, const std::string& url) {
  if (!url_is_live_stream(url)) line += "-re ";
  if (istarts_with(url, "rtspt://")) {
    line += "-rtsp_transport tcp -i ";
    append_argument(line, "rtsp://" + url.substr(8));
  } else {
    line += "-i ";
    append_argument(line, url);
  }
}

int append_input_part(std::string& line, const EngineSource& source,
                      const CommandSettings& settings) {
  append_text_and_space(line, source.input_options);
  append_text_and_space(line, source.video.options);
  if (source.kind != FormatId::rtp_native && source.url.empty()) return kErrorEmptySourceUrl;
  switch (source.kind) {
    case FormatId::device:
      append_device_input(line, source.url);
      return 0;
    case FormatId::rtp_native:
      return append_session_input(line, source, settings);
    case FormatId::decklink:
      line += "-f decklink -i ";
      append_argument(line, source.url);
      return 0;
    case FormatId::ndi:
      line += "-f libndi_newtek -i ";
      append_argument(line, source.url);
      return 0;
    default:
      append_url_input(line, source.url);
      if (!source.sound_url.empty()) append_url_input(line, source.sound_url);
      return 0;
  }
}

// ---------------------------------------------------------------------------------------------
// Filter part: the source's filters, or in a failover line the inputs it may switch to and the
// graphs that switch.

constexpr std::string_view kSilentAudioInput = "-re -f lavfi -i aevalsrc=0 ";

bool copies_a_codec(const EngineTarget& target) {
  return target.audio.codec == kCodecCopy || target.video.codec == kCodecCopy;
}

void append_source_filters(std::string& line, const EngineSource& source,
                           const EngineTarget& target) {
  if (copies_a_codec(target)) return;
  if (target.video.enable && !source.filters.empty()) {
    line += "-filter:v ";
    append_argument(line, joined_filters(source.filters));
  }
}

// "-standby [its input options] -i URL", the input written as a first source of its kind is.
int append_standby_input(std::string& line, const EngineSource& standby,
                         const CommandSettings& settings) {
  line += kStandbyInputOption;
  line += ' ';
  return append_input_part(line, standby, settings);
}

void append_alternate_inputs(std::string& line, const EngineSource& source,
                             const EngineTarget& target) {
  if (source.alternate_input == "default") {
    if (target.video.enable) line += "-re -f lavfi -i pal100bars ";
    if (target.audio.enable) line += kSilentAudioInput;
  } else {
    line += "-re -stream_loop -1 -i ";
    append_argument(line, source.alternate_input);
    line += kSilentAudioInput;
  }
}

// "-switch_on black=S:silence=S:frozen=S" with the limits that are on; nothing when none is.
void append_switch_limits(std::string& line, const SwitchOnLimits& limits) {
  std::string keys;
  for (std::size_t k = 0; k < kSwitchOnKeys.size(); ++k) {
    if (limits.at(k) > 0) {
      append_format(keys, "%s%s=%d", keys.empty() ? "" : ":", kSwitchOnKeys[k], limits.at(k));
    }
  }
  if (keys.empty()) return;
  line += kSwitchOnOption;
  line += ' ';
  append_argument(line, keys);
}

// The primary's filters stand before "[fv0]; "; the credit line is drawn on the slate, so a line
// without one has none.
void append_switch_video_graph(std::string& line, const EngineSource& source, bool slate,
                               bool hardware_decoding) {
  const bool filtered = !source.filters.empty();
  const char* primary = (hardware_decoding || filtered) ? "fv0" : "0:v";
  std::string graph;
  if (hardware_decoding && !filtered) graph += "hwdownload, format=nv12[fv0]; ";
  if (filtered) graph += joined_filters(source.filters) + "[fv0]; ";
  if (slate) {
    append_format(graph, "[1]drawtext=text=%s:fontsize=12:fontcolor=black:y=h-th[dt1]; ",
                  kCreditLine);
    append_format(graph, "[dt1][%s]scale=rw:rh[v1]; ", primary);
    append_format(graph, "[%s][v1]streamselect", primary);
  } else {
    append_format(graph, "[%s]streamselect", primary);
  }
  line += "-lavfi:v ";
  append_argument(line, graph);
}

int append_failover_part(std::string& line, const StartRequest& request,
                         const FailoverInputs& failover, const EngineTarget& target,
                         bool hardware_decoding, const CommandSettings& settings) {
  const EngineSource& primary = request.sources.front();
  for (int k = 0; k < failover.standby; ++k) {
    if (int code =
            append_standby_input(line, request.standby[static_cast<std::size_t>(k)], settings);
        code != 0) {
      return code;
    }
  }
  if (failover.slate) append_alternate_inputs(line, primary, target);
  if (failover.standby_left_out.empty()) append_switch_limits(line, request.switch_on);
  if (target.video.enable) {
    append_switch_video_graph(line, primary, failover.slate, hardware_decoding);
  }
  if (target.audio.enable) line += "-lavfi:a \"astreamselect\" ";
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Output part of one entry.

struct OutputEntry {
  const EngineTarget& target;
  std::size_t entry;        // j: the input this entry encodes
  std::size_t entry_count;  // n: entries in the group
  std::size_t group;        // i
  std::size_t group_count;  // M
  std::string suffix;       // stream suffix X
  bool hardware_decoding;   // an input is decoded on the GPU, whose decoder scales

  bool is_last_entry() const { return entry + 1 == entry_count; }
};

// The options of an entry name its own streams within the output: by input when several inputs
// share the output, by variant when the groups are the variants of one HLS output. An output of
// its own numbers nothing (a ":1" there would name a second stream it does not have).
std::string stream_suffix(std::size_t entry, std::size_t entry_count, std::size_t group,
                          bool hls_variants) {
  std::string suffix;
  if (entry_count > 1) {
    append_format(suffix, ":%zu", entry);
  } else if (hls_variants) {
    append_format(suffix, ":%zu", group);
  }
  return suffix;
}

void append_rtp_destination(std::string& line, const RtpEndpoint& rtp) {
  append_format(line, "rtp://%s:%d", dotted_quad(rtp.remote_address).c_str(), rtp.remote_port);
  if (rtp.local_port != 0) append_format(line, "?localport=%d", rtp.local_port);
  line += ' ';
}

int append_audio_section(std::string& line, const OutputEntry& out) {
  const EngineTarget& target = out.target;
  const MediaDescriptor& audio = target.audio;
  const char* x = out.suffix.c_str();
  const bool native_rtp = target.format == FormatId::rtp_native;
  if (!audio.enable) {
    if (!native_rtp) line += "-an ";
    return 0;
  }
  const char* encoder = codec_encoder_name(audio.codec);
  if (encoder == nullptr) return kErrorNoEncoder;
  if (native_rtp && (audio.rtp.remote_address == 0 || audio.rtp.remote_port == 0)) {
    line += "-an ";
    return 0;
  }
  if (target.format == FormatId::decklink) {
    append_format(line, "-ac%s 2 -ar 48000 ", x);
    return 0;
  }
  append_format(line, "-c:a%s %s ", x, encoder);
  if (audio.codec != kCodecCopy) {
    if (audio.channels > 0) append_format(line, "-ac:a%s %d ", x, audio.channels);
    if (audio.sample_rate > 0) append_format(line, "-ar:a%s %d ", x, audio.sample_rate);
    if (audio.bitrate_kbps > 0) append_format(line, "-b:a%s %dk ", x, audio.bitrate_kbps);
  }
  if (native_rtp) {
    line += "-vn -f rtp ";
    if (audio.codec == 8) line += "-flags:a +global_header -rtpflags +latm ";
    append_rtp_destination(line, audio.rtp);
  }
  return 0;
}

void append_preset(std::string& line, const OutputEntry& out, const EncoderRules& rules,
                   const CommandSettings& settings) {
  const MediaDescriptor& video = out.target.video;
  if (rules.preset_option != nullptr && !contains(video.options, rules.preset_suppressed_by)) {
    append_format(line, "%s%s %s ", rules.preset_option, out.suffix.c_str(), rules.preset_value);
  }
  if (is_plugin_encoder(video.codec) && !settings.plugin_core_path.empty()) {
    line += "-omx_core ";
    append_argument(line, settings.plugin_core_path);
  }
}

// The lowest quantiser an encoder takes on the "-qmin/-qmax" path: ffmpeg's own encoders
// (MPEG-1/2/4, H.261/263, FLV, MJPEG) refuse 0, the hardware ones count from 0.
double lowest_quantiser(CodecId codec) {
  return codec_family(codec) == CodecFamily::software ? 1.0 : 0.0;
}

// Quality 1..100 maps onto the 31..1 quantiser scale of FFmpeg's own encoders. Without a bit
// rate the quantiser is fixed; with one, the rate control keeps it at or above the mapped value.
void append_quantiser(std::string& line, const OutputEntry& out, std::int32_t quality) {
  const char* x = out.suffix.c_str();
  const std::string value =
      fixed_number_text(1.0 + static_cast<double>(100 - std::min(quality, 100)) * 30.0 / 99.0, 1);
  if (out.target.video.bitrate_kbps > 0) {
    append_format(line, "-qmin:v%s %s -qmax:v%s 31 ", x, value.c_str(), x);
  } else {
    // Their floor is 2 unless lowered, which would hold the best quality back.
    append_format(line, "-qmin:v%s 1 -q:v%s %s ", x, x, value.c_str());
  }
}

// Quality 1..100 maps onto the 51..0 scale of the encoders; with neither quality nor bit rate
// the encoder gets the system's default quality.
void append_rate_control(std::string& line, const OutputEntry& out, const EncoderRules& rules) {
  const EngineTarget& target = out.target;
  const MediaDescriptor& video = target.video;
  const char* x = out.suffix.c_str();
  const std::int32_t quality = video.quality;
  const std::int32_t bitrate = video.bitrate_kbps;
  if (quality > 0 && rules.quality_as_quantiser) {
    append_quantiser(line, out, quality);
  } else if (quality > 0) {
    const float value = static_cast<float>(100 - quality) * 51.0f / 99.0f;
    if (rules.quality_as_crf) {
      append_format(line, "-crf:v%s %s ", x,
                    fixed_number_text(static_cast<double>(value), 1).c_str());
    } else {
      const std::string qmin =
          fixed_number_text(std::max(static_cast<double>(value), lowest_quantiser(video.codec)), 1);
      if (out.suffix.empty()) {
        append_format(line, "-qmin %s -qmax 51.0 ", qmin.c_str());
      } else {
        // Several encoders share this output: the range must reach this stream only.
        append_format(line, "-qmin:v%s %s -qmax:v%s 51.0 ", x, qmin.c_str(), x);
      }
    }
  } else if (quality == 0 && bitrate == 0) {
    if (rules.default_quality == DefaultQuality::crf) {
      append_format(line, "-crf:v%s %s ", x, rules.default_crf);
    } else if (rules.default_quality == DefaultQuality::qmin) {
      append_format(line, "-qmin:v%s 2 ", x);
    }
  }
  if (bitrate <= 0) return;
  append_format(line, "-b:v%s %dk ", x, bitrate);
  if (rules.maxrate) append_format(line, "-maxrate:v%s %dk ", x, bitrate);
  if (rules.cbr_switch != nullptr) line += rules.cbr_switch;
  // Constant-rate multiplexing needs a tighter encoder buffer.
  const bool constant_mux_rate =
      target.mux_rate_kbps > 0 && contains(target.format_options, "-bitrate ");
  append_format(line, "-bufsize:v%s %dk ", x, constant_mux_rate ? bitrate / 5 : bitrate);
}

const char* frame_rate_name(float rate) {
  if (rate == 23.976f) return "ntsc-film";
  if (rate == 29.97f) return "ntsc";
  if (rate == 59.94f) return "60000/1001";
  return nullptr;
}

// HLS segments must start on key frames: the key-frame interval follows the segment length.
int hls_key_frame_seconds(const EngineTarget& target, int seconds) {
  const std::size_t at = target.format_options.find("-hls_time ");
  if (at != std::string::npos) {
    seconds = std::atoi(target.format_options.c_str() + at + std::string_view("-hls_time ").size());
  }
  return seconds <= 0 ? 5 : seconds;
}

// The operator's own key-frame options keep their meaning and replace ours.
bool sets_own_key_frames(const std::string& options) {
  return contains(" " + options, " -g ") || contains(" " + options, " -g:") ||
         contains(options, "-force_key_frames");
}

// The highest frame rate the operator can choose: with the source's own rate ("Original") the
// group of pictures is made long enough for it, and the forced key frames set the interval.
constexpr int kHighestFrameRate = 60;

// "keyFrameInterval" counts seconds. Encoders count frames ("-g"), so the key frames are forced
// on the clock ("-force_key_frames"), which holds whatever the rate, and the group of pictures
// is made exactly that long when the rate is known (no key frames in between).
void append_key_frames(std::string& line, const OutputEntry& out, int seconds) {
  const MediaDescriptor& video = out.target.video;
  const char* x = out.suffix.c_str();
  const double rate = video.frame_rate > 0 ? video.frame_rate : kHighestFrameRate;
  const long frames = std::lround(rate * seconds);
  append_format(line, "-g:v%s %ld -force_key_frames:v%s expr:gte(t,n_forced*%d) ", x, frames, x,
                seconds);
}

std::uint16_t at_least_eight(std::uint16_t size) {
  return (size >= 1 && size <= 7) ? 8 : size;
}

void append_picture_settings(std::string& line, const OutputEntry& out) {
  const EngineTarget& target = out.target;
  const MediaDescriptor& video = target.video;
  const char* x = out.suffix.c_str();
  const bool card_output = target.format == FormatId::decklink || target.format == FormatId::ndi;
  const std::uint16_t width = at_least_eight(video.width);
  const std::uint16_t height = at_least_eight(video.height);
  // With hardware decoding the decoder scales (its options say how).
  if (width != 0 && height != 0 && !out.hardware_decoding) {
    append_format(line, "-s:v%s %dx%d ", x, width, height);
  }
  if (video.frame_rate > 0) {
    const char* name = frame_rate_name(video.frame_rate);
    if (name != nullptr) {
      append_format(line, "-r:v%s %s ", x, name);
    } else {
      append_format(line, "-r:v%s %s ", x,
                    general_number_text(static_cast<double>(video.frame_rate)).c_str());
    }
  }
  int key_frame_seconds = video.key_frame_interval;
  if (target.format == FormatId::hls) {
    key_frame_seconds = hls_key_frame_seconds(target, key_frame_seconds);
  }
  if (!card_output && key_frame_seconds > 0 && !sets_own_key_frames(video.options)) {
    append_key_frames(line, out, key_frame_seconds);
  }
  const bool decklink = target.format == FormatId::decklink;
  if (video.scan_type == 2) {
    if (decklink) {
      line += "-field_order tt ";
    } else {
      append_format(line, "-flags:v%s +ilme+ildct -top:v%s 1 -x264opts:v%s tff=1 ", x, x, x);
    }
  } else if (video.scan_type == 3) {
    if (decklink) {
      line += "-field_order bb ";
    } else {
      append_format(line, "-flags:v%s +ilme+ildct -top:v%s 0 -x264opts:v%s bff=1 ", x, x, x);
    }
  }
}

int append_video_section(std::string& line, const OutputEntry& out,
                         const CommandSettings& settings) {
  const EngineTarget& target = out.target;
  const MediaDescriptor& video = target.video;
  if (!video.enable) {
    line += "-vn ";
    return 0;
  }
  const char* encoder = codec_encoder_name(video.codec);
  if (encoder == nullptr) return kErrorNoEncoder;
  const bool card_output = target.format == FormatId::decklink || target.format == FormatId::ndi;
  if (card_output) {
    line += "-pix_fmt uyvy422 ";
    if (video.codec != kCodecCopy) append_picture_settings(line, out);
  } else {
    append_format(line, "-c:v%s %s ", out.suffix.c_str(), encoder);
    if (video.codec != kCodecCopy) {
      append_text_and_space(line, video.options);
      const EncoderRules rules = encoder_rules(video.codec);
      append_preset(line, out, rules, settings);
      append_rate_control(line, out, rules);
      append_picture_settings(line, out);
    }
  }
  if (target.format == FormatId::rtp_native) {
    // Nowhere to send the picture: refused rather than sent to port 0.
    if (video.rtp.remote_port == 0) return kErrorEmptyFileTarget;
    append_format(line, "-an -f rtp -flags %cglobal_header ", video.global_header ? '+' : '-');
    if (video.codec == kCodecH263) line += "-rtpflags +rfc2190 ";
    append_text_and_space(line, target.format_options);
    append_rtp_destination(line, video.rtp);
  }
  return 0;
}

// The target's own options name its muxer ("-f ..."); another target's muxer earlier in the
// line is not this one's.
bool options_name_a_muxer(const EngineTarget& target) {
  return contains(" " + target.format_options, " -f ");
}

// A live playlist is a window over the last segments: what left it is deleted, or the folder
// grows by a file every few seconds for as long as the channel runs. A playlist that keeps
// every segment (a VOD or event type, an unlimited list) keeps its files too, and the operator's
// own "-hls_flags" stand as written.
bool deletes_old_segments(const std::string& options) {
  const std::string spaced = " " + options + " ";
  return !contains(spaced, " -hls_flags ") && !contains(spaced, " -hls_playlist_type ") &&
         !contains(spaced, " -hls_list_size 0 ");
}

// What the transcoder serves for a channel: "<url>/<channel number>.<extension>".
std::string served_path(const std::string& url, int channel_number, const char* extension) {
  std::string path = url;
  append_format(path, "/%d.%s", channel_number, extension);
  return path;
}

int append_destination(std::string& line, const EngineTarget& target,
                       const CommandSettings& settings) {
  const std::string& url = target.url;
  const int channel_number = settings.slot + 1;
  switch (target.format) {
    case FormatId::file:
      if (!url_has_scheme(url)) line += "-y ";
      break;
    case FormatId::rtmp:
      line += "-f flv ";
      break;
    case FormatId::udp:
    case FormatId::rtpts:
      line += url_is_rtp(url) ? "-c:s copy -f rtp_mpegts " : "-c:s copy -f mpegts ";
      break;
    case FormatId::http:
      line += "-c:s copy -f mpegts ";
      break;
    case FormatId::html5:
      // Fragments of half a second, so a viewer gets pictures at once, not one whole key-frame
      // interval later; frag_keyframe still cuts at every key frame, so that new viewers have
      // fragments to start from (the transcoder starts each at the latest such one).
      line += "-movflags dash+frag_keyframe -frag_duration 500000 -f mp4 ";
      append_argument(line, served_path(url, channel_number, "mp4"));
      return 0;
    case FormatId::omxts:
      line += "-c:s copy -f omx_ts_mux ";
      if (!settings.plugin_core_path.empty()) {
        line += "-omx_core ";
        append_argument(line, settings.plugin_core_path);
      }
      break;
    case FormatId::srt:
      if (!options_name_a_muxer(target)) line += "-f mpegts ";
      break;
    case FormatId::hls:
      line += "-f hls -y ";
      if (deletes_old_segments(target.format_options)) line += "-hls_flags delete_segments ";
      break;
    case FormatId::dash:
      line += "-f dash -y ";
      break;
    case FormatId::rtp_native:
      // The transcoder writes the description of what it sends; the URL itself is not used.
      line += "-sdp_file ";
      append_argument(line, session_file_path(settings, "out"));
      return 0;
    case FormatId::rtsp:
      line += "-f rtsp ";
      break;
    case FormatId::decklink:
      line += "-f decklink ";
      break;
    case FormatId::ndi:
      line += "-f libndi_newtek ";
      break;
    case FormatId::httpmjpg:
      line += "-f mjpeg ";
      append_argument(line, served_path(url, channel_number, "mjpg"));
      return 0;
    default:
      return kErrorNotAnOutput;
  }
  // ffmpeg reads an output that starts with '-' as an option; the same file as "./-name" is not.
  append_argument(line, url.starts_with('-') ? "./" + url : url);
  return 0;
}

bool can_be_output(FormatId format) {
  return format_name_from_id(format) != nullptr && format != FormatId::ytdlp &&
         format != FormatId::device;
}

int append_muxer_and_destination(std::string& line, const EngineTarget& target,
                                 const CommandSettings& settings) {
  if (!can_be_output(target.format)) return kErrorNotAnOutput;
  if (target.format == FormatId::file && target.url.empty()) return kErrorEmptyFileTarget;
  if (target.mux_rate_kbps > 0) append_format(line, "-muxrate %dk ", target.mux_rate_kbps);
  if (target.format != FormatId::rtp_native) append_text_and_space(line, target.format_options);
  if (target.url.empty()) return 0;
  return append_destination(line, target, settings);
}

int append_output_part(std::string& line, const OutputEntry& out, const CommandSettings& settings) {
  if (int code = append_audio_section(line, out); code != 0) return code;
  if (int code = append_video_section(line, out, settings); code != 0) return code;
  if (!out.is_last_entry()) return 0;
  return append_muxer_and_destination(line, out.target, settings);
}

}  // namespace

bool folds_into_multibitrate_hls(const std::vector<TargetGroup>& groups) {
  // A group is one target; its entries (a bound channel's) are muxed as the target is.
  std::vector<FormatId> formats;
  for (const TargetGroup& group : groups) {
    if (group.empty()) return false;
    const FormatId format = group.front().format;
    const bool one_format = std::all_of(group.begin(), group.end(),
                                        [format](const EngineTarget& e) { return e.format == format; });
    formats.push_back(one_format ? format : FormatId::unknown);
  }
  return targets_fold_into_multibitrate_hls(formats);
}

FailoverInputs failover_inputs(const StartRequest& request) {
  FailoverInputs inputs;
  if (request.sources.empty() || request.groups.empty() || request.groups.front().empty()) {
    return inputs;
  }
  const EngineSource& primary = request.sources.front();
  const bool one_target = request.groups.size() == 1;
  const bool encodes = std::none_of(
      request.groups.begin(), request.groups.end(),
      [](const TargetGroup& group) { return !group.empty() && copies_a_codec(group.front()); });
  const bool standby_asked = !request.standby.empty() || request.switch_on.any();
  if (standby_asked && request.sources.size() > 1) {
    inputs.standby_left_out = "the channel carries bound channels";
  } else if (standby_asked && !encodes) {
    inputs.standby_left_out = "a target copies its codec instead of encoding";
  } else if (standby_asked && folds_into_multibitrate_hls(request.groups)) {
    // The variants map the encoder's streams by the inputs' numbers, which the switch replaces.
    inputs.standby_left_out = "its HLS targets make one multi-bit-rate output";
  }
  const bool standby = standby_asked && inputs.standby_left_out.empty();
  // The slate alone keeps its old reach: one target. Standby sources feed every target from the
  // one encoder (the transcoder relays each network target on its own).
  const bool alternate =
      url_has_scheme(primary.url) && !primary.alternate_input.empty() && one_target;
  const bool one_entry = request.mode == 2 || request.sources.size() == 1;
  inputs.runs = one_entry && encodes && (standby || alternate);
  if (!inputs.runs) return inputs;
  inputs.slate = !primary.alternate_input.empty();
  if (standby) {
    inputs.standby = static_cast<int>(std::min<std::size_t>(
        request.standby.size(), static_cast<std::size_t>(kMaxStandbySources)));
  }
  return inputs;
}

namespace {

// The streams the failover switches: pictures when any target encodes them, sound likewise.
EngineTarget switched_streams(const StartRequest& request) {
  EngineTarget streams;
  for (const TargetGroup& group : request.groups) {
    if (group.empty()) continue;
    streams.video.enable = streams.video.enable || group.front().video.enable;
    streams.audio.enable = streams.audio.enable || group.front().audio.enable;
  }
  return streams;
}

// The thumbnail comes from the first input's pictures: those the line decodes anyway, or its key
// frames alone when every target copies the picture. A line without pictures makes none, and
// neither does one decoding on a GPU, whose pictures stay in the GPU's memory.
void append_thumbnail_option(std::string& line, const StartRequest& request,
                             const std::string& file, bool hardware_decoding) {
  if (file.empty() || hardware_decoding) return;
  bool pictures = false;
  bool decodes = false;
  for (const TargetGroup& group : request.groups) {
    if (group.empty() || !group.front().video.enable) continue;
    pictures = true;
    if (group.front().video.codec != kCodecCopy) decodes = true;
  }
  if (!pictures) return;
  line += decodes ? kThumbnailOption : kThumbnailKeyFramesOption;
  line += ' ';
  append_argument(line, file);
}

}  // namespace

int build_command_line(const StartRequest& request, const CommandSettings& settings,
                       std::string& line) {
  line.clear();
  if (request.sources.empty()) return kErrorEmptySourceUrl;
  if (request.groups.empty()) return kErrorNotAnOutput;
  if (settings.log_level != 0) append_format(line, "-v %d ", settings.log_level);
  for (const EngineSource& source : request.sources) {
    if (int code = append_input_part(line, source, settings); code != 0) return code;
  }
  const bool hardware_decoding = contains(line, "-hwaccel ");
  const FailoverInputs failover = failover_inputs(request);
  const std::size_t entry_count = request.mode == 2 ? 1 : request.sources.size();
  const std::size_t group_count = request.groups.size();
  const bool hls_variants = folds_into_multibitrate_hls(request.groups);
  for (std::size_t group = 0; group < group_count; ++group) {
    const TargetGroup& entries = request.groups[group];
    // Every group holds one entry per input; a shorter one cannot be written.
    if (entries.size() < entry_count) return kErrorNotAnOutput;
    for (std::size_t entry = 0; entry < entry_count; ++entry) {
      const EngineSource& source = request.sources[entry];
      const EngineTarget& target = entries[entry];
      if (failover.runs) {
        // One entry: the failover part comes once, before the first target's output, for all.
        if (group == 0) {
          if (int code = append_failover_part(line, request, failover, switched_streams(request),
                                              hardware_decoding, settings);
              code != 0) {
            return code;
          }
        }
      } else if (entry_count == 1) {
        append_source_filters(line, source, target);
      }
      append_text_and_space(line, source.map_options);
      std::string suffix = stream_suffix(entry, entry_count, group, hls_variants);
      const OutputEntry out{
          target, entry, entry_count, group, group_count, std::move(suffix), hardware_decoding};
      if (int code = append_output_part(line, out, settings); code != 0) return code;
    }
  }
  append_thumbnail_option(line, request, settings.thumbnail_file, hardware_decoding);
  return 0;
}

}  // namespace vx
