#include "config/document_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/json.h"

namespace vx {
namespace {

// Channels written in short: a name, and what else the channel holds.
// `extra` may bring its own "output"; otherwise the channel sends to one UDP target.
std::string channel(const std::string& name, const std::string& extra = "") {
  const std::string output = extra.find("\"output\"") == std::string::npos
                                 ? R"(, "output": {"targets": [{"format": "udp", "url": "udp://h:1"}]})"
                                 : "";
  return R"({"name": ")" + name + "\"" + output + extra + "}";
}

std::string document(const std::vector<std::string>& channels) {
  std::string json = R"({"global": {}, "channels": [)";
  for (std::size_t i = 0; i < channels.size(); ++i) json += (i > 0 ? ", " : "") + channels[i];
  return json + "]}";
}

// A channel named "s" with the given members in its "input" (a first source unless they bring
// their own) and, when given, its own "output".
std::string with_input(const std::string& members, const std::string& output = "") {
  const std::string sources = members.find("\"sources\"") == std::string::npos
                                  ? R"("sources": [{"format": "udp", "url": "udp://h:9"}], )"
                                  : "";
  return channel("s", R"(, "input": {)" + sources + members + "}" + output);
}

// "standby" with `count` sources of the kinds a standby may be.
std::string standby(int count) {
  const char* kinds[] = {R"({"format": "file", "url": "rtmp://h/live/b"})",
                         R"({"format": "device", "url": "video=\"USB Cam\"", "video": {"options": ["-framerate 25"]}})",
                         R"({"format": "srt", "url": "srt://h:9000"})",
                         R"j({"format": "ndi", "url": "STUDIO (Cam 2)"})j"};
  std::string text = R"("standby": [)";
  for (int i = 0; i < count; ++i) text += std::string(i > 0 ? ", " : "") + kinds[i % 4];
  return text + "]";
}

TEST(DocumentCheck, RunningChannelsStayAndOnlyChangedChannelsAreJudged) {
  const std::string a = channel("a"), b = channel("b"), c = channel("c");
  const std::string copying =
      R"(, "output": {"targets": [{"format": "udp", "url": "udp://h:1", "video": {"codec": "h264"}, "audio": {"codec": "copy"}}]})";
  const auto bad_mix_named = [](const std::string& name) {
    return channel(name,
                   R"(, "output": {"targets": [{"format": "udp", "url": "udp://h:1", "video": {"enable": true, "codec": "vp9"}}]})");
  };
  const std::string bad_mix = bad_mix_named("x");
  const std::string two_http = channel(
      "h", R"(, "output": {"targets": [{"format": "http", "url": "http://h:1/a"}, {"format": "http", "url": "http://h:1/b"}]})");
  const std::string two_dash = channel(
      "d", R"(, "output": {"targets": [{"format": "dash", "url": "/m/a/x.mpd"}, {"format": "dash", "url": "/m/b/x.mpd"}]})");
  const struct {
    const char* what;
    std::vector<std::string> current;
    std::vector<bool> busy;
    std::vector<std::string> proposed;
    int status;              // 0: accepted
    const char* reason_has;  // part of the reason
  } cases[] = {
      {"the running channel edited in place", {a, b}, {true, false}, {channel("a2"), b}, 0, ""},
      {"a later idle channel removed", {a, b, c}, {true, false, false}, {a, b}, 0, ""},
      {"a channel after the running one removed", {a, b}, {false, true}, {a}, 409, "channel 2 is running"},
      {"the channel before a running one removed", {a, b, c}, {false, false, true}, {b, c}, 409, "channel 3"},
      {"a channel put in front of a running one", {a, b}, {true, false}, {c, a, b}, 409, "channel 1 is running"},
      {"two channels swapped, one running", {a, b}, {false, true}, {b, a}, 409, "channel 2 is running"},
      {"a channel appended behind running ones", {a, b}, {true, true}, {a, b, c}, 0, ""},
      {"a single-target format with two targets", {a}, {}, {two_http}, 400, "takes one target"},
      {"DASH takes several targets", {a}, {}, {two_dash}, 0, ""},
      {"a bind to no channel", {a}, {}, {channel("a", R"(, "bind": 3)")}, 400, "which does not exist"},
      {"a bind to itself", {a, b}, {}, {a, channel("b", R"(, "bind": 2)")}, 400, "bound to itself"},
      {"a stored bind left dangling by a removal", {a, channel("b", R"(, "bind": 3)"), c}, {},
       {a, channel("b", R"(, "bind": 3)")}, 400, "channel 2 is bound to channel 3"},
      {"a new mix the container cannot carry", {a}, {}, {bad_mix}, 400, "channel 1"},
      {"a stored mix left as it is", {a, bad_mix}, {}, {channel("a2"), bad_mix}, 0, ""},
      {"a stored mix edited and still wrong", {a, bad_mix}, {}, {a, bad_mix_named("y")}, 400, "channel 2"},
      {"a control character in a new memo", {a}, {}, {channel("a", R"(, "memo": "x\n")")}, 400, "control character"},
      {"four standby sources and switchOn", {a}, {}, {with_input(standby(4) + R"(, "switchOn": {"black": 2, "silence": 0, "frozen": 3600})")}, 0, ""},
      {"switchOn without standby sources", {a}, {}, {with_input(R"("switchOn": {"frozen": 10})")}, 0, ""},
      {"switchOn all off with a copying target", {a}, {}, {with_input(R"("switchOn": {"black": 0})", copying)}, 0, ""},
      {"five standby sources", {a}, {}, {with_input(standby(5))}, 400, "channel 1: a channel takes at most 4 standby sources, this one lists 5"},
      {"standby not a list", {a}, {}, {with_input(R"("standby": {"url": "udp://h:2"})")}, 400, "input.standby must be a list"},
      {"a standby source without a URL", {a}, {}, {with_input(R"("standby": [{"format": "file", "url": " "}])")}, 400, "standby source 1 has no URL"},
      {"a standby URL with a line end", {a}, {}, {with_input(R"("standby": [{"format": "file", "url": "udp://h:2\r"}])")}, 400, "input.standby[0].url holds a control character (0x0d)"},
      {"an unknown standby format", {a}, {}, {with_input(R"("standby": [{"format": "udp", "url": "udp://h:2"}, {"format": "hls", "url": "/x"}])")}, 400, "standby source 2 has no source format"},
      {"a native RTP standby", {a}, {}, {with_input(R"("standby": [{"format": "rtp_native", "url": "rtp://h:5000"}])")}, 400, "cannot be native RTP"},
      {"a yt-dlp standby", {a}, {}, {with_input(R"("standby": [{"format": "ytdlp", "url": "https://h/watch"}])")}, 400, "only the first source is resolved"},
      {"switchOn past an hour", {a}, {}, {with_input(R"("switchOn": {"silence": 3601})")}, 400, "input.switchOn.silence must be whole seconds from 0 to 3600"},
      {"switchOn in fractions", {a}, {}, {with_input(R"("switchOn": {"black": 1.5})")}, 400, "input.switchOn.black must be whole"},
      {"switchOn as text", {a}, {}, {with_input(R"("switchOn": {"frozen": "5"})")}, 400, "input.switchOn.frozen"},
      {"switchOn not an object", {a}, {}, {with_input(R"("switchOn": 5)")}, 400, "input.switchOn must be an object"},
      {"standby with a copying target", {a}, {}, {with_input(standby(1), copying)}, 400, "must re-encode, but target 1 copies the audio codec"},
      {"switchOn with a copying target", {a}, {}, {with_input(R"("switchOn": {"black": 5})", copying)}, 400, "must re-encode"},
      {"standby carrying a bound channel", {a, b}, {}, {with_input(standby(1) + R"(, "sources": [{"format": "file", "url": "/m/a.ts"}, {"bind": 2}])"), b}, 400, "cannot carry bound channels (it lists 2 source entries)"},
      {"standby feeding two UDP targets", {a}, {}, {with_input(standby(1), R"(, "output": {"targets": [{"format": "udp", "url": "udp://h:1"}, {"format": "udp", "url": "udp://h:2"}]})")}, 0, ""},
      {"standby with HLS targets folding into one output", {a}, {}, {with_input(standby(1), R"(, "output": {"targets": [{"format": "hls", "url": "/h/a.m3u8"}, {"format": "hls", "url": "/h/b.m3u8"}]})")}, 400, "cannot fold its HLS targets into one multi-bit-rate output"},
      {"a stored standby problem left as it is", {a, with_input(standby(5))}, {}, {channel("a2"), with_input(standby(5))}, 0, ""},
  };
  for (const auto& item : cases) {
    const JsonPtr current = json_parse(document(item.current));
    const JsonPtr proposed = json_parse(document(item.proposed));
    ASSERT_TRUE(current && proposed) << item.what;
    const std::optional<DocumentRefusal> refusal =
        document_refusal(proposed.get(), current.get(), item.busy);
    if (item.status == 0) {
      EXPECT_FALSE(refusal) << item.what << ": " << (refusal ? refusal->reason : "");
      continue;
    }
    ASSERT_TRUE(refusal) << item.what;
    EXPECT_EQ(refusal->status, item.status) << item.what;
    EXPECT_NE(refusal->reason.find(item.reason_has), std::string::npos) << item.what << ": " << refusal->reason;
  }
}

}  // namespace
}  // namespace vx
