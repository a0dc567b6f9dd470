#include "settings/target_address.h"

#include <array>
#include <cctype>

#include "config/document.h"
#include "vocabulary/utf8.h"

namespace vx {
namespace {

// How a typed address is completed before it is stored.
enum class SchemeRule { none, add_when_missing, always_replace };

struct TargetAddressRule {
  // "{n}" stands for the channel number, "{served}" for the HTTP-served base, "{folder}" for the
  // folder of new recordings and playlists.
  std::string_view on_choice;
  std::string_view when_empty;
  std::string_view scheme;
  SchemeRule scheme_rule;
};

// In the order of kTargetFormatChoices.
constexpr std::array<TargetAddressRule, kTargetFormatChoices.size()> kAddressRules = {{
    {"rtmp://127.0.0.1/live/morv_ch{n}", "rtmp://127.0.0.1/live/stream", "rtmp://",
     SchemeRule::add_when_missing},
    {"udp://127.0.0.1:1234", "udp://127.0.0.1:1234", "udp://", SchemeRule::always_replace},
    {"{served}/morv_ch{n}", "", "", SchemeRule::none},
    {"{served}/morv_ch{n}", "", "", SchemeRule::none},
    {"rtp://127.0.0.1:1234", "rtp://127.0.0.1:1234", "rtp://", SchemeRule::add_when_missing},
    {"udp://127.0.0.1:1234", "udp://127.0.0.1:1234", "udp://", SchemeRule::always_replace},
    {"{folder}/morv_ch{n}.m3u8", "", "", SchemeRule::none},
    {"{folder}/morv_ch{n}.mpd", "", "", SchemeRule::none},
    // An SRT caller to 0.0.0.0 reaches nobody: the transcoder listens and the receiver calls it.
    {"srt://0.0.0.0:1234?mode=listener", "srt://127.0.0.1:1234", "", SchemeRule::none},
    {"rtsp://127.0.0.1:8554/morv_ch{n}", "", "", SchemeRule::none},
    {"{folder}/morv_ch{n}_recorded.mp4", "", "", SchemeRule::none},
    // MPEG-TS: an FTP upload cannot seek back, which MP4 needs to finish its file.
    {"ftp://127.0.0.1/stream.ts", "", "", SchemeRule::none},
    {"<DECKLINK NAME>", "", "", SchemeRule::none},
    {"morv_ch{n}", "", "", SchemeRule::none},
    {"{served}/morv_ch{n}", "", "", SchemeRule::none},
}};

constexpr std::size_t kLongestStreamName = 99;
constexpr std::string_view kSchemeEnd = "://";

const TargetAddressRule& rule_of(TargetFormatEntry format) {
  return kAddressRules.at(static_cast<std::size_t>(format));
}

void replace_all(std::string& text, std::string_view placeholder, std::string_view value) {
  for (std::size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + value.size())) {
    text.replace(at, placeholder.size(), value);
  }
}

std::string served_base(const ServedAddressBase& served) {
  const std::string host = served.host.empty() ? "127.0.0.1" : served.host;
  return std::string(served.tls ? "https" : "http") + "://" + host + ":" +
         std::to_string(served.http_port);
}

}  // namespace

std::string target_format_default_url(TargetFormatEntry format, int channel_number,
                                      const ServedAddressBase& served,
                                      std::string_view output_folder) {
  std::string url(rule_of(format).on_choice);
  replace_all(url, "{served}", served_base(served));
  replace_all(url, "{folder}", output_folder);
  replace_all(url, "{n}", std::to_string(channel_number));
  return url;
}

std::string_view empty_target_url_shown(TargetFormatEntry format) {
  return rule_of(format).when_empty;
}

std::string_view target_url_without_blanks(std::string_view typed) {
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!typed.empty() && blank(typed.front()))
    typed.remove_prefix(1);
  while (!typed.empty() && blank(typed.back()))
    typed.remove_suffix(1);
  return typed;
}

std::string normalised_target_url(TargetFormatEntry format, std::string_view typed) {
  std::string_view url = target_url_without_blanks(typed);
  const TargetAddressRule& rule = rule_of(format);
  const std::size_t scheme_end = url.find(kSchemeEnd);
  switch (rule.scheme_rule) {
    case SchemeRule::none:
      break;
    case SchemeRule::add_when_missing:
      if (scheme_end == std::string_view::npos) return std::string(rule.scheme) + std::string(url);
      break;
    case SchemeRule::always_replace:
      if (scheme_end != std::string_view::npos) url.remove_prefix(scheme_end + kSchemeEnd.size());
      return std::string(rule.scheme) + std::string(url);
  }
  return std::string(url);
}

std::string target_stream_name(std::string_view address) {
  std::size_t cut = address.rfind('\\');
  if (cut == std::string_view::npos) cut = address.rfind('/');
  std::string_view name = cut == std::string_view::npos ? address : address.substr(cut + 1);
  name = name.substr(0, name.find('?'));
  return std::string(utf8_first_characters(name, kLongestStreamName));
}

bool target_address_has_stream_name(std::string_view address) {
  return address.find_first_of("\\/") != std::string_view::npos;
}

ServedAddressBase served_address_base(const cJSON* global, std::string host) {
  return ServedAddressBase{config_bool(global, "sslEnable"), std::move(host),
                           config_int(global, "httpPort", kDefaultHttpPort)};
}

}  // namespace vx
