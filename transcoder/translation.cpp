#include "transcoder/translation.h"

#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>

#include "transcoder/capture_devices.h"
#include "vocabulary/ascii.h"
#include "vocabulary/codecs.h"
#include "vocabulary/transcoder_protocol.h"
#include "vocabulary/url_predicates.h"

namespace vx {
namespace {

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

struct Refused {
  std::string_view format;
  std::string_view what;
};

// Formats of the original platform that this system's ffmpeg does not have.
constexpr std::array<Refused, 3> kRefusedFormats = {{
    {"omx_ts_mux", "the MainConcept MPEG-TS muxer"},
    {"libndi_newtek", "NDI"},
    {"decklink", "DeckLink cards"},
}};

std::string refusal(std::string_view what, std::string_view option) {
  return "morvi-transcoder: " + std::string(what) + " cannot be used on this system (" +
         std::string(option) + "); nothing started";
}

bool is_codec_option(std::string_view option) {
  return option == "-c" || option == "-codec" || option == "-vcodec" || option == "-acodec" ||
         starts_with(option, "-c:") || starts_with(option, "-codec:");
}

bool is_served_muxer(std::string_view muxer, StreamKind& kind) {
  if (muxer == "mpegts") {
    kind = StreamKind::mpegts;
  } else if (muxer == "mp4") {
    kind = StreamKind::fragmented_mp4;
  } else if (muxer == "mjpeg") {
    kind = StreamKind::mjpeg;
  } else {
    return false;
  }
  return true;
}

// "http://0.0.0.0:9528/3.mp4" -> host "0.0.0.0", port 9528.
bool parse_listen_address(std::string_view url, bool secure, FanoutConfig& config) {
  const std::optional<UrlHostPort> address = url_host_and_port(url);
  if (!address) return false;
  config.host = address->host;
  const std::string& port_text = address->port;
  if (port_text.empty()) {
    config.port = secure ? 443 : 80;
    return true;
  }
  unsigned port = 0;
  for (char c : port_text) {
    if (c < '0' || c > '9') return false;
    port = port * 10 + static_cast<unsigned>(c - '0');
    if (port > 65535) return false;
  }
  if (port == 0) return false;
  config.port = static_cast<std::uint16_t>(port);
  return true;
}

// The engine's count of connections one address may hold: digits only, within range.
bool parse_viewers_per_address(std::string_view text, FanoutConfig& config) {
  if (text.empty() || text.size() > 9) return false;
  long long count = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    count = count * 10 + (c - '0');
  }
  if (!viewers_per_address_in_range(count)) return false;
  config.viewers_per_address = static_cast<std::size_t>(count);
  return true;
}

// Takes the nearest "-name value" pair at or after `from` out of the arguments.
bool take_option(std::vector<std::string>& arguments, std::size_t from, std::string_view name,
                 std::string& value) {
  for (std::size_t k = arguments.size(); k-- > from;) {
    if (arguments[k] == name && k + 1 < arguments.size()) {
      value = arguments[k + 1];
      arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(k),
                      arguments.begin() + static_cast<std::ptrdiff_t>(k + 2));
      return true;
    }
  }
  return false;
}

// The options of ffmpeg's that the engine's lines (and operators' own options) use without a
// value; every other option takes the argument after it.
bool is_flag_without_value(const std::string& option) {
  static const std::set<std::string> kFlags = {
      "-y",           "-n",       "-an",       "-vn",          "-sn",
      "-dn",          "-re",      "-shortest", "-copyts",      "-start_at_zero",
      "-nostdin",     "-nostats", "-stats",    "-hide_banner", "-ignore_unknown",
      "-copy_unknown"};
  return kFlags.count(option) != 0;
}

// The options that end an output before its inputs end.
bool ends_an_output(std::string_view option) {
  return option == "-t" || option == "-to" || option == "-fs" || option == "-shortest" ||
         option == "-vframes" || option == "-aframes" || option == "-dframes" ||
         starts_with(option, "-frames");
}

// Outputs pushed over a connection to a peer that may go away on its own.
bool is_relayed_scheme(const std::string& url) {
  if (url_is_rtmp(url)) return true;
  for (const char* scheme : {"srt://", "rtsp://", "rtsps://", "tcp://"}) {
    if (istarts_with(url, scheme)) return true;
  }
  return false;
}

class Translator {
 public:
  Translator(const std::vector<std::string>& arguments, const TranslationContext& context)
      : in_(arguments), context_(context) {}

  Translation run() {
    for (i_ = 0; i_ < in_.size() && result_.error.empty(); ++i_)
      take(in_[i_]);
    if (result_.error.empty()) renumber_maps();
    if (result_.error.empty()) name_program_streams();
    if (result_.error.empty()) number_served_outputs();
    if (result_.error.empty()) relay_network_outputs();
    if (result_.error.empty()) {
      result_.output_count = destinations().size();
      result_.outputs_end_on_their_own = every_output_has(ends_an_output);
      result_.outputs_without_picture =
          every_output_has([](std::string_view option) { return option == "-vn"; });
    }
    if (!result_.error.empty()) {
      result_.arguments.clear();
      result_.served.clear();
      result_.relayed.clear();
    }
    return std::move(result_);
  }

 private:
  bool has_value() const { return i_ + 1 < in_.size(); }
  const std::string& value() const { return in_[i_ + 1]; }
  std::vector<std::string>& out() { return result_.arguments; }

  void take(const std::string& argument) {
    if (argument == "-lavfi:v" || argument == "-lavfi:a") {
      result_.error = refusal("Continuous streaming on input failure", argument);
    } else if (argument == "-omx_core") {
      result_.error = refusal("The MainConcept plug-in", argument);
    } else if (argument == "-f" && has_value() && value() == "dshow") {
      take_device_input();
    } else if (argument == "-f" && has_value() && refuse_format(value())) {
    } else if (is_codec_option(argument) && has_value() && refuse_encoder(argument, value())) {
    } else if (argument == "-bitrate" && has_value()) {
      // The constant multiplex rate is the MPEG-TS muxer's own option.
      out().insert(out().end(), {"-muxrate", value()});
      ++i_;
    } else if (argument == "-i" && has_value()) {
      out().insert(out().end(), {argument, value()});
      input_numbers_.push_back(next_input_++);
      ++i_;
      segment_start_ = out().size();
    } else if (starts_with(argument, "http://") || starts_with(argument, "https://")) {
      if (!take_served_output(argument)) out().push_back(argument);
    } else {
      out().push_back(argument);
    }
  }

  bool refuse_format(const std::string& format) {
    for (const Refused& refused : kRefusedFormats) {
      if (format == refused.format) {
        result_.error = refusal(refused.what, "-f " + format);
        return true;
      }
    }
    return false;
  }

  bool refuse_encoder(const std::string& option, const std::string& encoder) {
    if (starts_with(encoder, "omx_enc_")) {
      result_.error = refusal("The MainConcept encoder", option + " " + encoder);
      return true;
    }
    if (!encoder_is_available(context_.encoders, encoder)) {
      result_.error = "morvi-transcoder: ffmpeg on this system has no encoder \"" + encoder +
                      "\" (" + option + "); nothing started";
      return true;
    }
    return false;
  }

  // "-f dshow [options] -i video=NAME:audio=NAME"
  void take_device_input() {
    std::size_t k = i_ + 2;
    std::vector<std::string> options;
    while (k < in_.size() && in_[k] != "-i")
      options.push_back(in_[k++]);
    if (k + 1 >= in_.size()) {
      result_.error = "morvi-transcoder: a capture device input without a device; nothing started";
      return;
    }
    const DeviceInputs inputs = map_device_input(options, in_[k + 1], context_.devices);
    if (!inputs.error.empty()) {
      result_.error = inputs.error + "; nothing started";
      return;
    }
    out().insert(out().end(), inputs.arguments.begin(), inputs.arguments.end());
    input_numbers_.push_back(next_input_);
    next_input_ += inputs.input_count;
    i_ = k + 1;
    segment_start_ = out().size();
  }

  // An output URL right after "-f mpegts|mp4|mjpeg" is served by the transcoder: ffmpeg writes
  // into a pipe instead.
  bool take_served_output(const std::string& url) {
    const std::size_t count = out().size();
    StreamKind kind{};
    if (count < 2 || out()[count - 2] != "-f" || !is_served_muxer(out()[count - 1], kind)) {
      return false;
    }
    ServedOutput served;
    served.url = url;
    served.fanout = fanout_config_for(kind);
    const bool secure = starts_with(url, "https://");
    if (!parse_listen_address(url, secure, served.fanout)) {
      result_.error = "morvi-transcoder: cannot listen on \"" + url + "\"; nothing started";
      return true;
    }
    if (secure &&
        (!take_option(out(), segment_start_, kServedCertificateOption,
                      served.fanout.tls_cert_path) ||
         !take_option(out(), segment_start_, kServedKeyOption, served.fanout.tls_key_path))) {
      result_.error = "morvi-transcoder: the https output \"" + url +
                      "\" comes without its certificate and key; nothing started";
      return true;
    }
    std::string viewers;
    if (take_option(out(), segment_start_, kServedViewersPerAddressOption, viewers) &&
        !parse_viewers_per_address(viewers, served.fanout)) {
      result_.error = "morvi-transcoder: the output \"" + url +
                      "\" comes with an unusable number of viewers per address (\"" + viewers +
                      "\"); nothing started";
      return true;
    }
    served.fd = context_.first_pipe_fd + static_cast<int>(result_.served.size());
    out().push_back("pipe:" + std::to_string(served.fd));
    result_.served.push_back(std::move(served));
    segment_start_ = out().size();
    return true;
  }

  // A capture device that became two inputs moves every later input up by one.
  void renumber_maps() {
    std::vector<std::string>& arguments = out();
    for (std::size_t k = 0; k + 1 < arguments.size(); ++k) {
      if (arguments[k] != "-map") continue;
      std::string& map = arguments[k + 1];
      const std::size_t digits = map.find_first_not_of("0123456789");
      if (digits == 0 || map.empty()) continue;
      const std::size_t number = std::stoul(map.substr(0, std::min(digits, std::size_t{6})));
      if (number < input_numbers_.size()) {
        map = std::to_string(input_numbers_[number]) +
              (digits == std::string::npos ? std::string() : map.substr(digits));
      }
    }
  }

  // "-program program_num=1:title='News':if=0" names a program's streams by the input they come
  // from, which stock ffmpeg cannot read ("Unknown program key if."): it wants their numbers in
  // the output ("st=0:st=1"). Without any, the option goes, and the streams stay in the default
  // program.
  void name_program_streams() {
    const std::vector<std::size_t> outputs = destinations();
    std::vector<std::string>& arguments = out();
    for (std::size_t n = outputs.size(); n-- > 0;) {
      const std::size_t end = outputs[n];
      const std::size_t start = n == 0 ? first_output_option(end) : outputs[n - 1] + 1;
      for (std::size_t k = end; k-- > start;) {
        if (arguments[k] != "-program" || k + 1 >= end) continue;
        std::optional<std::string> spec = program_by_stream_numbers(arguments[k + 1], start, end);
        if (spec) {
          arguments[k + 1] = std::move(*spec);
        } else {
          arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(k),
                          arguments.begin() + static_cast<std::ptrdiff_t>(k + 2));
        }
      }
    }
  }

  // The program with "if=N" replaced by the numbers of the output's streams from that input; the
  // spec unchanged when it names none; nullopt when that input gives the output no stream.
  std::optional<std::string> program_by_stream_numbers(const std::string& spec, std::size_t start,
                                                       std::size_t end) const {
    std::vector<std::string> kept;
    std::optional<std::size_t> input;
    for (std::string& pair : program_pairs(spec)) {
      if (starts_with(pair, "if=")) {
        const std::string number = pair.substr(3);
        if (number.empty() || number.size() > 6 ||
            number.find_first_not_of("0123456789") != std::string::npos) {
          return spec;  // not this system's form: ffmpeg says what is wrong with it
        }
        input = std::stoul(number);
      } else {
        kept.push_back(std::move(pair));
      }
    }
    if (!input) return spec;
    const std::vector<std::size_t> streams = output_streams_of(*input, start, end);
    if (streams.empty()) return std::nullopt;
    std::string rewritten;
    for (const std::string& pair : kept)
      rewritten += pair + ":";
    for (std::size_t stream : streams)
      rewritten += "st=" + std::to_string(stream) + ":";
    rewritten.pop_back();
    return rewritten;
  }

  // A program's key=value pairs: ':' separates them except within single quotes, as ffmpeg reads
  // them (a title may hold a colon).
  static std::vector<std::string> program_pairs(const std::string& spec) {
    std::vector<std::string> pairs(1);
    bool quoted = false;
    for (char c : spec) {
      if (c == '\'') quoted = !quoted;
      if (c == ':' && !quoted) {
        pairs.emplace_back();
      } else {
        pairs.back().push_back(c);
      }
    }
    return pairs;
  }

  // The numbers of the output's streams that come from the line's input `input` (as the engine
  // numbered them), counted along the output's maps: a map of one stream ("0:v") gives one, a
  // map of a whole input ("0") its picture and its sound unless the output drops them, a map of
  // a graph's label one. Without maps ffmpeg picks the picture and the sound itself, which with
  // one input are that input's.
  std::vector<std::size_t> output_streams_of(std::size_t input, std::size_t start,
                                             std::size_t end) const {
    const std::vector<std::string>& arguments = result_.arguments;
    const auto has = [&](std::string_view option) {
      return std::find(arguments.begin() + static_cast<std::ptrdiff_t>(start),
                       arguments.begin() + static_cast<std::ptrdiff_t>(end),
                       option) != arguments.begin() + static_cast<std::ptrdiff_t>(end);
    };
    const std::size_t whole_input = (has("-vn") ? 0 : 1) + (has("-an") ? 0 : 1);
    if (input >= input_numbers_.size()) return {};
    const std::size_t first = input_numbers_[input];
    const std::size_t after =
        input + 1 < input_numbers_.size() ? input_numbers_[input + 1] : next_input_;
    std::vector<std::size_t> streams;
    std::size_t position = 0;
    bool mapped = false;
    for (std::size_t k = start; k + 1 < end; ++k) {
      if (arguments[k] != "-map") continue;
      mapped = true;
      const std::string& map = arguments[k + 1];
      if (map.empty() || map[0] == '-') continue;  // takes streams away, gives none
      const std::string number = map.substr(0, map.find_first_not_of("0123456789"));
      if (number.empty() || number.size() > 6) {
        ++position;  // a graph's output
        continue;
      }
      const std::size_t from = std::stoul(number);
      const std::size_t count = number.size() == map.size() ? whole_input : 1;
      for (std::size_t c = 0; c < count; ++c, ++position) {
        if (from >= first && from < after) streams.push_back(position);
      }
    }
    if (!mapped) {
      for (std::size_t c = 0; c < whole_input; ++c)
        streams.push_back(c);
    }
    return streams;
  }

  // Where the line's outputs are named: after the last input, every argument that is neither an
  // option nor an option's value, as ffmpeg itself reads the line.
  std::vector<std::size_t> destinations() const {
    const std::vector<std::string>& arguments = result_.arguments;
    std::size_t k = 0;
    for (std::size_t at = 0; at + 1 < arguments.size(); ++at) {
      if (arguments[at] == "-i") k = at + 2;
    }
    std::vector<std::size_t> found;
    while (k < arguments.size()) {
      const std::string& argument = arguments[k];
      if (argument.size() > 1 && argument[0] == '-') {
        k += is_flag_without_value(argument) ? 1 : 2;
      } else {
        found.push_back(k++);
      }
    }
    return found;
  }

  // Whether each output has an option that `matches` among its own.
  template <typename Match>
  bool every_output_has(Match matches) const {
    const std::vector<std::string>& arguments = result_.arguments;
    const std::vector<std::size_t> outputs = destinations();
    for (std::size_t n = 0; n < outputs.size(); ++n) {
      const auto start = static_cast<std::ptrdiff_t>(n == 0 ? first_output_option(outputs[0])
                                                            : outputs[n - 1] + 1);
      if (std::none_of(arguments.begin() + start,
                       arguments.begin() + static_cast<std::ptrdiff_t>(outputs[n]), matches)) {
        return false;
      }
    }
    return !outputs.empty();
  }

  // The engine knows a served output by its number among the line's outputs, as it knows a
  // relayed one.
  void number_served_outputs() {
    const std::vector<std::size_t> outputs = destinations();
    for (std::size_t n = 0; n < outputs.size(); ++n) {
      for (ServedOutput& served : result_.served) {
        if (result_.arguments[outputs[n]] == "pipe:" + std::to_string(served.fd))
          served.target = static_cast<int>(n) + 1;
      }
    }
  }

  // With more than one output, each that pushes to a network peer goes through a relay of its
  // own: the encoder writes it into a pipe in the muxer it had, the relay copies it to the peer.
  void relay_network_outputs() {
    const std::vector<std::size_t> outputs = destinations();
    if (outputs.size() < 2) return;
    std::vector<std::string>& arguments = out();
    // From the last output backwards, so the positions of the earlier ones stay right.
    std::vector<RelayedOutput> relayed;
    for (std::size_t n = outputs.size(); n-- > 0;) {
      const std::size_t at = outputs[n];
      const std::size_t segment = n == 0 ? first_output_option(outputs[0]) : outputs[n - 1] + 1;
      const int target = static_cast<int>(n) + 1;
      std::optional<RelayedOutput> output = relayed_output(arguments, segment, at, target);
      if (output) relayed.push_back(std::move(*output));
    }
    const int first_fd = context_.first_pipe_fd + static_cast<int>(result_.served.size());
    for (std::size_t k = relayed.size(); k-- > 0;) {
      RelayedOutput& output = relayed[k];
      output.fd = first_fd + static_cast<int>(result_.relayed.size());
      // The pipe's name stands where the relay left a placeholder.
      for (std::string& argument : arguments) {
        if (argument == relay_placeholder(output.target))
          argument = "pipe:" + std::to_string(output.fd);
      }
      result_.relayed.push_back(std::move(output));
    }
  }

  // The first option of the first output: right after the last input's name.
  std::size_t first_output_option(std::size_t first_destination) const {
    std::size_t start = 0;
    for (std::size_t at = 0; at + 1 < first_destination; ++at) {
      if (result_.arguments[at] == "-i") start = at + 2;
    }
    return start;
  }

  static std::string relay_placeholder(int target) {
    return "\x01relayed output " + std::to_string(target);
  }

  // The output named at `at`, whose options begin at `segment`, made a relayed one (its network
  // options moved to the relay, its muxer kept for the pipe); nullopt when it is not pushed to a
  // network peer or its muxer cannot go through a pipe.
  std::optional<RelayedOutput> relayed_output(std::vector<std::string>& arguments,
                                              std::size_t segment, std::size_t at,
                                              int target) const {
    const std::string url = arguments[at];
    if (!is_relayed_scheme(url)) return std::nullopt;
    std::size_t muxer_at = std::string::npos;
    for (std::size_t k = segment; k + 1 < at; ++k) {
      if (arguments[k] == "-f") muxer_at = k + 1;
    }
    if (muxer_at == std::string::npos) return std::nullopt;
    const std::string muxer = arguments[muxer_at];
    RelayedOutput output;
    output.target = target;
    if (muxer == "flv") {
      output.muxer = RelayMuxer::flv;
    } else if (muxer == "mpegts" || muxer == "rtsp") {
      output.muxer = RelayMuxer::mpegts;
    } else {
      return std::nullopt;
    }
    output.url = url;
    const char* pipe_muxer = output.muxer == RelayMuxer::flv ? "flv" : "mpegts";
    // The stream's headers and a key frame come first, so a moment of it tells the relay all it
    // needs; ffmpeg's default five seconds would hold a relay that comes back that long.
    output.relay_arguments = {"-analyzeduration", "300000", "-f", pipe_muxer, "-i",
                              "pipe:0",           "-map",   "0",  "-c",       "copy"};
    // The protocol's own options belong to the relay, which speaks it.
    std::vector<std::string> kept;
    for (std::size_t k = segment; k < at; ++k) {
      const std::string& argument = arguments[k];
      if ((starts_with(argument, "-rtmp_") || starts_with(argument, "-rtsp_")) && k + 1 < at) {
        output.relay_arguments.insert(output.relay_arguments.end(), {argument, arguments[k + 1]});
        ++k;
      } else {
        kept.push_back(k == muxer_at ? std::string(pipe_muxer) : argument);
      }
    }
    append_audio_for_global_headers(arguments, segment, at, muxer, output.relay_arguments);
    output.relay_arguments.insert(output.relay_arguments.end(), {"-f", muxer, url});
    kept.push_back(relay_placeholder(target));  // the pipe's name once its number is known
    arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(segment),
                    arguments.begin() + static_cast<std::ptrdiff_t>(at) + 1);
    arguments.insert(arguments.begin() + static_cast<std::ptrdiff_t>(segment), kept.begin(),
                     kept.end());
    return output;
  }

  // The RTSP muxer describes the AAC stream before its first packet, from the configuration
  // the encoder gives a muxer that asks for it; the ADTS stream of the MPEG-TS pipe has none,
  // and this ffmpeg's "aac_adtstoasc" makes one only at the first packet, too late. The relay
  // encodes the sound again (the same encoder at the same rate); the picture stays a copy.
  static void append_audio_for_global_headers(const std::vector<std::string>& arguments,
                                              std::size_t segment, std::size_t at,
                                              const std::string& muxer,
                                              std::vector<std::string>& relay) {
    if (muxer != "rtsp") return;
    std::string encoder;
    std::string rate;
    for (std::size_t k = segment; k + 1 < at; ++k) {
      if (arguments[k] == "-c:a" || starts_with(arguments[k], "-c:a:")) encoder = arguments[k + 1];
      if (arguments[k] == "-b:a" || starts_with(arguments[k], "-b:a:")) rate = arguments[k + 1];
    }
    if (encoder != "aac" && encoder != "libfdk_aac") return;
    relay.insert(relay.end(), {"-c:a", encoder});
    if (!rate.empty()) relay.insert(relay.end(), {"-b:a", rate});
  }

  const std::vector<std::string>& in_;
  const TranslationContext& context_;
  Translation result_;
  std::size_t i_ = 0;
  std::size_t segment_start_ = 0;   // where the options of the output being read begin
  std::vector<int> input_numbers_;  // the engine's input number -> ffmpeg's
  int next_input_ = 0;
};

}  // namespace

Translation translate_arguments(const std::vector<std::string>& arguments,
                                const TranslationContext& context) {
  return Translator(arguments, context).run();
}

}  // namespace vx
