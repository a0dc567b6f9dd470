// The flat records that carry one channel start into the engine: what each input is, how each
// of its streams is encoded for each output, the standby sources and switching limits of a
// failover, and the saved copy of a start that waits for yt-dlp.
// Every text is owned by its record, so copying a record copies the whole start.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vocabulary/codecs.h"
#include "vocabulary/formats.h"

namespace vx {

// Addresses are IPv4 in network byte order; ports in host order. For an output the remote pair
// is the destination and the local port the sending port; for an input the local pair is where
// the stream arrives. Only "rtp_native" inputs and outputs use them.
struct RtpEndpoint {
  std::uint32_t local_address = 0;
  std::uint16_t local_port = 0;
  std::uint32_t remote_address = 0;
  std::uint16_t remote_port = 0;
};

// One stream (video or audio) of an input or an output. Video uses every field but channels and
// sample_rate; audio uses enable, codec, channels, sample_rate, bitrate_kbps, rtp and fmtp.
struct MediaDescriptor {
  bool enable = false;
  CodecId codec = kCodecUnknown;
  std::uint16_t width = 0;              // 0 keeps the input's size
  std::uint16_t height = 0;             // 0 keeps the input's size
  float frame_rate = 0;                 // 0 keeps the input's rate
  std::int32_t key_frame_interval = 0;  // 0: none given
  // 1..100 maps to a constant-quality value, 0 leaves the encoder's default, negative writes
  // nothing at all.
  std::int32_t quality = 0;
  std::int32_t bitrate_kbps = 0;  // 0: not set (video) or the encoder's default (audio)
  // 2 interlaced top field first, 3 bottom field first; anything else writes no interlacing.
  std::int32_t scan_type = 0;
  std::int32_t channels = 0;     // 0 keeps the input's layout
  std::int32_t sample_rate = 0;  // Hz, 0 keeps the input's rate
  std::string options;           // extra transcoder options, space separated; empty when absent
  RtpEndpoint rtp;
  bool global_header = false;  // parameter sets out of band
  std::string fmtp;            // RTP format parameters
};

// How one input's streams are encoded for one output. Only the last entry of a target group
// writes the muxer part and the URL.
struct EngineTarget {
  TargetFormat format = FormatId::unknown;
  MediaDescriptor video;
  MediaDescriptor audio;
  std::int32_t mux_rate_kbps = 0;  // 0: none
  std::string url;                 // for HTML5 and MJPEG outputs a folder-like prefix
  std::string format_options;      // muxer options, space separated
};

struct EngineSource {
  SourceKind kind = FormatId::unknown;
  MediaDescriptor video;  // input-side options; the rest only for "rtp_native"
  MediaDescriptor audio;  // only for "rtp_native"
  std::string url;        // as stored; for a folder the playlist's current file
  // The sound of a page whose site serves picture and sound apart (yt-dlp gives two URLs): a
  // second input after `url`, which ffmpeg's own stream choice takes the sound from.
  std::string sound_url;
  // "" (off), "default" (built-in test picture with silence) or the path of an alternate video.
  std::string alternate_input;
  std::string input_options;         // written before "-i"
  std::vector<std::string> filters;  // one video filter expression each
  std::string map_options;           // "-map" options; empty when absent
};

// Entry j of a group is how input j is encoded for that group's output.
using TargetGroup = std::vector<EngineTarget>;

// After how many seconds of a black, silent or frozen input the failover switches to its next
// input (the channel's "input.switchOn"); 0 does not watch for it.
struct SwitchOnLimits {
  std::int32_t black = 0;
  std::int32_t silence = 0;
  std::int32_t frozen = 0;

  bool any() const { return black > 0 || silence > 0 || frozen > 0; }
  // The limit named kSwitchOnKeys[k].
  std::int32_t& at(std::size_t k) { return k == 0 ? black : k == 1 ? silence : frozen; }
  std::int32_t at(std::size_t k) const { return k == 0 ? black : k == 1 ? silence : frozen; }
  bool operator==(const SwitchOnLimits&) const = default;
};
// The names of the limits: the keys of a channel's "input" "switchOn" and of the line's
// "-switch_on", in the order of at().
inline constexpr std::array<const char*, 3> kSwitchOnKeys = {"black", "silence", "frozen"};

// Everything engine_start_channel was given, kept while yt-dlp resolves the first source's URL.
struct StartRequest {
  std::vector<EngineSource> sources;
  std::vector<TargetGroup> groups;
  std::int32_t mode = 0;  // 2 would use only the first entry of each group
  bool preview = false;
  // The channel's own live standby sources, tried in order when its first source fails (kind,
  // URL and video options only), and when its input counts as failed besides a timeout.
  std::vector<EngineSource> standby;
  SwitchOnLimits switch_on;
};

}  // namespace vx
