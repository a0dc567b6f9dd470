// What the engine and morvi-transcoder agree on: the program's file name, the token that opens
// the argument line on its standard input, the texts it prints that the engine reacts to, and
// how long it may stay silent.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vx {

inline constexpr std::string_view kTranscoderFileName = "morvi-transcoder";
inline constexpr std::string_view kYtdlpFileName = "yt-dlp";

// The first line on the transcoder's standard input: token, one space, argument line, "\n".
inline constexpr std::string_view kTranscoderToken = "xoTra_6142";

// Progress figures, looked for in every chunk of output.
inline constexpr std::string_view kProgressTime = " time=";
inline constexpr std::string_view kProgressFps = " fps=";
inline constexpr std::string_view kProgressBitrate = " bitrate=";

// Failures after which the engine stops the process so that supervision restarts it.
inline constexpr std::string_view kNoBufferedAudio =
    "There's no buffered audio. Audio will misbehave!";
inline constexpr std::string_view kVideoFrameFreezing = "output video frame freezing";

// The alternate-input switch.
inline constexpr std::string_view kPrimaryInputTimedOut =
    "primary input timed out, switching to secondary input";
inline constexpr std::string_view kPrimaryInputBack =
    "primary input available again, switching back";

// A failover line may name standby sources and ask for switching on what the input shows. Both
// stand between the primary's "-i URL" and the graphs, in this order:
//   -standby [its input options] -i URL      once per standby source, tried in that order
//   [the alternate inputs, as without standby sources; none when the channel has no slate]
//   -switch_on black=S:silence=S:frozen=S    seconds; a key left out (or 0) is not watched
// A failover line with no alternate inputs has no slate: when no live input delivers, the switch
// says "no input left" and the channel ends. See vocabulary/input_switch_report.h for the lines
// the switch writes.
inline constexpr std::string_view kStandbyInputOption = "-standby";
inline constexpr std::string_view kSwitchOnOption = "-switch_on";

// A line may end with one of these, naming the file the transcoder keeps the channel's latest
// thumbnail in (vocabulary/channel_glance.h): taken from the pictures the line decodes anyway, or,
// when every target copies the picture, from its key frames alone (decoded for it). The file is
// replaced whole, never written in place; the transcoder removes it when it ends. A line without
// either makes no thumbnail.
//   -thumbnail PATH
//   -thumbnail_key_frames PATH
inline constexpr std::string_view kThumbnailOption = "-thumbnail";
inline constexpr std::string_view kThumbnailKeyFramesOption = "-thumbnail_key_frames";

// Every line the transcoder writes itself (rather than passing on ffmpeg's text) opens with this,
// but for the two texts of the alternate-input switch.
inline constexpr std::string_view kOwnLinePrefix = "morvi-transcoder: ";

// A network target relayed through a process of its own, each report on a line of its own (N from
// 1, the URL without credentials):
//   "morvi-transcoder: target N relayed (URL)"         once per relayed target at the start
//   "morvi-transcoder: target N lost (URL): REASON"    its relay ended
//   "morvi-transcoder: target N back (URL)"            its relay delivers again
inline constexpr std::string_view kTargetLinePrefix = "morvi-transcoder: target ";
inline constexpr std::string_view kTargetRelayed = " relayed (";
inline constexpr std::string_view kTargetLost = " lost (";
inline constexpr std::string_view kTargetBack = " back (";

// An output the transcoder serves itself over HTTP (N its target number, K its viewers):
//   "morvi-transcoder: target N viewers K"   at the start, then whenever K changes, at most
//                                            once a second per output (the latest K always
//                                            follows)
inline constexpr std::string_view kTargetViewers = " viewers ";

// The argument line as argv. Outside double quotes, white space separates and every other byte
// stands for itself; a double quote opens a quoted stretch, which the next unescaped double quote
// closes (the quotes are dropped, and an argument may join quoted and plain stretches). Within
// quotes, a backslash escapes a double quote or a backslash, and "\xHH" (two hex digits) stands
// for that byte; any other backslash stands for itself. append_argument writes a text so that
// it comes back as exactly one argument, whatever bytes it holds: for any texts, appending each
// and splitting the line gives back the same texts. The line never holds a line feed or another
// control byte the writer wrote, so it stays one line on the transcoder's input and in a log.
std::vector<std::string> split_argument_line(std::string_view line);

// The text as one argument of the line: as it is when it holds nothing but printable bytes
// other than a blank and a double quote, else quoted and escaped.
std::string quoted_argument(std::string_view text);
// quoted_argument(text) and one space.
void append_argument(std::string& line, std::string_view text);

// An HTTPS output that the transcoder serves itself needs a certificate and a key, and ffmpeg's
// arguments have no place for them. They travel as the values of two HTTP client options that a
// served output has no use for: the engine writes them after the output's muxer options, the
// transcoder takes them out again before ffmpeg sees the line.
inline constexpr std::string_view kServedCertificateOption = "-user_agent";
inline constexpr std::string_view kServedKeyOption = "-referer";
// "-user_agent <certificate> -referer <key>" for the engine's line, each path one argument.
std::string served_tls_options(std::string_view certificate_path, std::string_view key_path);

// How many connections one client address may hold on an output the transcoder serves (the
// global "viewersPerAddress"): enough for an office behind one address, too few for one address
// to take every descriptor. It travels like the certificate, as the value of an HTTP client
// option a served output has no use for, written only when it is not the default.
inline constexpr const char* kViewersPerAddressKey = "viewersPerAddress";
inline constexpr int kDefaultViewersPerAddress = 300;
inline constexpr int kMinViewersPerAddress = 1;
inline constexpr int kMaxViewersPerAddress = 100'000;
inline constexpr std::string_view kServedViewersPerAddressOption = "-max_redirects";
inline constexpr bool viewers_per_address_in_range(long long count) {
  return count >= kMinViewersPerAddress && count <= kMaxViewersPerAddress;
}
inline constexpr int viewers_per_address_or_default(long long count) {
  return viewers_per_address_in_range(count) ? static_cast<int>(count) : kDefaultViewersPerAddress;
}
// "-max_redirects <count>" for the engine's line; "" for the default.
std::string served_viewers_option(int viewers_per_address);

// After its first output, a transcoder silent for longer than this is killed.
inline constexpr int kLivenessLimitSeconds = 30;

}  // namespace vx
