#include "config/legacy.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <iterator>
#include <random>
#include <string>

#include "config/document.h"
#include "config/json.h"
#include "config/normalise.h"

namespace vx {
namespace {

// One channel block around the given input and output lines.
std::string block(int number, const std::string& input, const std::string& output) {
  const std::string n = std::to_string(number);
  return "<Channel" + n + ">\n<Input>\n" + input + "</Input>\n<Output>\n" + output +
         "</Output>\n</Channel" + n + ">\n";
}

const std::string kInput = "Format file\nFile \"/media/a.mp4\"\n";
const std::string kOutput = "Format udp\nFile \"udp://127.0.0.1:1234\"\nVideoCodec h264\n";

struct ParseCase {
  const char* name;
  std::string text;
  std::function<void(const LegacyRecords&)> check;
};

const LegacyChannel& only_channel(const LegacyRecords& records) {
  static const LegacyChannel none;
  EXPECT_EQ(records.channels.size(), 1u);
  return records.channels.empty() ? none : records.channels[0];
}

TEST(LegacyRead, BlocksAndTheirNumbers) {
  std::string seventeen;
  for (int i = 1; i <= 17; ++i) {
    seventeen += block(i, kInput, kOutput);
  }
  const ParseCase cases[] = {
      {"misnumbered second block is read as global lines",
       block(1, kInput, kOutput) + block(3, kInput, "Memo \"three\"\n") + "HTTPPort 8000\n",
       [](const LegacyRecords& r) {
         EXPECT_EQ(only_channel(r).memo, "");
         EXPECT_EQ(r.global.http_port, 8000);
       }},
      {"Slot tags and case", "<slot1>\nENABLE 1\n</SLOT1>\n<Channel2>\n</Channel2>\n",
       [](const LegacyRecords& r) {
         ASSERT_EQ(r.channels.size(), 2u);
         EXPECT_EQ(r.channels[0].enable, 1);
       }},
      {"seventeen blocks read sixteen", seventeen,
       [](const LegacyRecords& r) { EXPECT_EQ(r.channels.size(), 16u); }},
      {"global lines inside a block are not global",
       "<Channel1>\nHTTPPort 1\nLoginPass inside\n</Channel1>\nLoginPass outside words\n",
       [](const LegacyRecords& r) {
         EXPECT_EQ(r.global.http_port, 9527);
         EXPECT_EQ(r.global.login_pass, "outside");
       }},
      {"missing closing tags",
       "<Channel1>\n<Input>\n" + kInput + "<Output>\n" + kOutput + "Memo \"one\"\n" +
           "<Channel2>\n<Input>\n" + kInput + "<Output>\n" + kOutput + "Memo \"two\"\n",
       [](const LegacyRecords& r) {
         ASSERT_EQ(r.channels.size(), 2u);
         EXPECT_EQ(r.channels[0].memo, "one");
         EXPECT_EQ(r.channels[1].memo, "two");
         EXPECT_EQ(r.channels[1].num_inputs, 1);
         EXPECT_EQ(r.channels[1].targets[0].video_codec, kCodecH264);
       }},
      {"globals",
       "  log 32\n\tAutoStart 1\nAutoRestart 0\nFolderRecur 1\nFolderShuffle 1\n"
       "HTTPPort x\nRTSPPort 554\nStreamTimeLimit 9\n",
       [](const LegacyRecords& r) {
         EXPECT_EQ(r.global.log, 32);
         EXPECT_EQ(r.global.auto_start, 1);
         EXPECT_EQ(r.global.auto_restart, 0);
         EXPECT_EQ(r.global.folder_recur, 1);
         EXPECT_EQ(r.global.folder_shuffle, 1);
         EXPECT_EQ(r.global.http_port, 9527);  // not a number: unchanged
         EXPECT_EQ(r.global.rtsp_port, 554);
       }},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    c.check(legacy_parse(c.text));
  }
}

TEST(LegacyRead, ChannelLines) {
  const ParseCase cases[] = {
      {"TimeShift then TimeShiftSec", block(1, kInput, "TimeShift 2\nTimeShiftSec 30\n"),
       [](const LegacyRecords& r) { EXPECT_EQ(only_channel(r).time_shift_seconds, 30); }},
      {"TimeShiftSec then TimeShift", block(1, kInput, "TimeShiftSec 30\nTimeShift 2\n"),
       [](const LegacyRecords& r) { EXPECT_EQ(only_channel(r).time_shift_seconds, 120); }},
      {"NumOutputs 9",
       block(1, kInput,
             "NumOutputs 9\n<Output5>\nMemo \"m\"\nVideoWidth 5\n</Output5>\n"
             "<Output6>\nVideoWidth 6\n</Output6>\n"),
       [](const LegacyRecords& r) {
         EXPECT_EQ(only_channel(r).num_outputs, 5);
         EXPECT_EQ(only_channel(r).targets[4].width, 5);
         EXPECT_EQ(only_channel(r).memo, "m");
       }},
      {"NumInputs 25 and numbered sources",
       block(1,
             "NumInputs 25\n<Input1>\nFormat udp\nFile udp://1.2.3.4:5 \n</Input1>\n"
             "<Input2>\nFile \"/b.mp4\"\nFormat file\n</Input2>\n<Input21>\nFile x\n</Input21>\n"
             "VideoParam \"-hwaccel cuda\"\nSourceParam \"-re\"\n",
             kOutput),
       [](const LegacyRecords& r) {
         const LegacyChannel& c = only_channel(r);
         EXPECT_EQ(c.num_inputs, 20);
         EXPECT_EQ(c.sources[0].kind, FormatId::udp);
         EXPECT_EQ(c.sources[0].url, "udp://1.2.3.4:5");
         EXPECT_EQ(c.sources[1].url, "/b.mp4");
         EXPECT_EQ(c.sources[19].url, "");
         EXPECT_EQ(c.input_video_options, "-hwaccel cuda");
         EXPECT_EQ(c.input_custom_options, "-re");
       }},
      {"rtp source",
       block(1,
             "Format rtp_native\nVideoCodec H264\nVideoIP 239.1.1.1\nVideoPort 5004\n"
             "VideoPort 70000\nAudioIP not.an.ip\nAudioCodec aac\nVideoFmtp \"a=b;c\"\n",
             kOutput),
       [](const LegacyRecords& r) {
         const LegacySource& s = only_channel(r).sources[0];
         EXPECT_EQ(s.video_codec, kCodecH264);
         EXPECT_TRUE(s.video_enable);
         EXPECT_TRUE(s.audio_enable);
         EXPECT_EQ(s.video_ip, "239.1.1.1");
         EXPECT_EQ(s.video_port, 5004);
         EXPECT_EQ(s.audio_ip, "0.0.0.0");
         EXPECT_EQ(s.video_fmtp, "a=b;c");
       }},
      {"target lines",
       block(1, kInput,
             "VideoQuality 20\nVideoBitRate 3000\nVideoFrameRate 29.97\n"
             "VideoGlobalHeader outofband\nAudioGlobalHeader InBand\nRTMPPubUser me now\n"
             "Filters 2\nFilter[2] \"yadif\"\nFilter[40] \"x\"\nCustomParam \"-f mpegts\"\n"
             "FormatParam \"-muxrate 1\"\nMapParam \"-map p:1 -map 0:a\"\n"),
       [](const LegacyRecords& r) {
         const LegacyChannel& c = only_channel(r);
         EXPECT_EQ(c.targets[0].quality, 0);
         EXPECT_EQ(c.targets[0].video_bit_rate, 3000);
         EXPECT_DOUBLE_EQ(c.targets[0].frame_rate, 29.97);
         EXPECT_TRUE(c.targets[0].video_out_of_band);
         EXPECT_FALSE(c.targets[0].audio_out_of_band);
         EXPECT_EQ(c.targets[0].rtmp_user, "me");
         EXPECT_EQ(c.num_filters, 2);
         EXPECT_EQ(c.filters[1], "yadif");
         EXPECT_EQ(c.output_custom_options, "-f mpegts");
         EXPECT_EQ(c.map_text, "-map p:1 -map 0:a");
       }},
      {"quality stays without a bit rate", block(1, kInput, "VideoBitRate 0\nVideoQuality 20\n"),
       [](const LegacyRecords& r) { EXPECT_EQ(only_channel(r).targets[0].quality, 20); }},
      {"-map removed from target video options",
       block(1, kInput,
             "<Output1>\nVideoParam \"-map 0:v -preset:v faster\"\n</Output1>\n"
             "NumOutputs 3\n<Output2>\nVideoParam \"-g 50 -map 0:v\"\n</Output2>\n"
             "<Output3>\nVideoParam \"-maps 1 x-map 2 -map  0:a -tune zerolatency\"\n"),
       [](const LegacyRecords& r) {
         const LegacyChannel& c = only_channel(r);
         EXPECT_EQ(c.targets[0].video_options, "-preset:v faster");
         EXPECT_EQ(c.targets[1].video_options, "-g 50");
         EXPECT_EQ(c.targets[2].video_options, "-maps 1 x-map 2 -tune zerolatency");
       }},
      {"Windows-1252 text becomes UTF-8",
       block(1, kInput, "Memo \"caf\xe9 \x80 \x81\"\nRTMPPubPass \"p\xe4ss\n"),
       [](const LegacyRecords& r) {
         EXPECT_EQ(only_channel(r).memo, "caf\xc3\xa9 \xe2\x82\xac \xc2\x81");
         EXPECT_EQ(only_channel(r).targets[0].rtmp_pass, "\"p\xc3\xa4ss");
       }},
      {"UTF-8 text stays", "\xEF\xBB\xBF" + block(1, kInput, "Memo \"caf\xc3\xa9\"\n"),
       [](const LegacyRecords& r) { EXPECT_EQ(only_channel(r).memo, "caf\xc3\xa9"); }},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    c.check(legacy_parse(c.text));
  }
}

TEST(LegacyRead, OverlongLinesAreSkippedWhole) {
  // Cut at the line limit, the tail of this line would read as a line of its own.
  const std::string long_line = std::string(kLegacyLineLimit, 'x') + "Memo \"tail\"\n";
  const LegacyRecords records = legacy_parse(block(1, kInput, "Memo \"kept\"\n" + long_line));
  EXPECT_EQ(only_channel(records).memo, "kept");
  const LegacyRecords exact =
      legacy_parse(block(1, kInput, "Memo \"" + std::string(kLegacyLineLimit - 7, 'y') + "\"\n"));
  EXPECT_EQ(only_channel(exact).memo.size(), kLegacyLineLimit - 7);
}

TEST(LegacyRead, GarbageGivesStartValues) {
  std::mt19937 random(1234);
  for (int round = 0; round < 20; ++round) {
    std::string garbage(65536, '\0');
    for (char& c : garbage)
      c = static_cast<char>(random());
    const LegacyRecords records = legacy_parse(garbage);
    EXPECT_EQ(records.global.http_port, 9527);
    EXPECT_TRUE(records.channels.empty());
    EXPECT_TRUE(json_parse(legacy_write(records)));
  }
  EXPECT_FALSE(legacy_read("/nonexistent/morvi.conf"));
}

const cJSON* path(const cJSON* root, std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    root = cJSON_IsArray(root) ? cJSON_GetArrayItem(root, std::atoi(key))
                               : cJSON_GetObjectItemCaseSensitive(root, key);
  }
  return root;
}

TEST(LegacyWrite, ChannelsBecomeValidJson) {
  const std::string text =
      "FolderShuffle 1\nLoginPass se\"cret\n" +
      block(1, "Format rtmp\nFile rtmp://h/app/s?a=\"b\"\nVideoParam \"-hwaccel cuda\"\n",
            kOutput + "VideoFrameRate 29.97\nMapParam \"-map p:1 -map 0:a\"\n" +
                "Filters 3\nFilter[1] \"yadif\"\nFilter[3] \"scale=1280:-2\"\n" +
                "Memo \"say 'hi'\tC:\\media\\\"\n") +
      "<Channel2>\n<Output>\n" + kOutput + "</Output>\n</Channel2>\n" +
      block(3, "Format rtp_native\nVideoCodec h264\nAudioCodec aac\nAudioChannel 2\n",
            kOutput + "AudioCodec aac\nFormatParam \"-muxrate 1\"\n");
  const std::string written = legacy_write(legacy_parse(text));
  const JsonPtr root = json_parse(written);
  ASSERT_TRUE(root) << written;

  struct Case {
    std::initializer_list<const char*> at;
    std::string expected;  // unformatted JSON
  };
  const Case cases[] = {
      {{"name"}, R"("Vantorix Configuration File")"},
      {{"global", "folderShuffle"}, "true"},
      {{"global", "loginPass"}, R"("se\"cret")"},
      {{"channels", "0", "input"},
       R"({"sources":[{"format":"rtmp","url":"rtmp://h/app/s?a=\"b\"","video":{"options":)"
       R"(["-hwaccel cuda"]},"audio":{}}],"formatOptions":[],"customOptions":"","map":)"
       R"(["p:1","0:a"],"filters":["yadif","scale=1280:-2"]})"},
      {{"channels", "0", "output", "targets", "0", "video", "frameRate"}, "29.97"},
      {{"channels", "0", "output", "formatOptions"}, "[]"},
      {{"channels", "0", "memo"}, R"("say 'hi'\tC:\\media\\")"},
      // The channel without inputs is left out; the one after it keeps its place behind.
      {{"channels", "1", "input", "sources", "0", "video"},
       R"({"enable":true,"codec":"h264","IP":"0.0.0.0","port":0,"fmtp":"","options":[]})"},
      {{"channels", "1", "input", "sources", "0", "audio"},
       R"({"enable":true,"codec":"aac","sampleRate":0,"channels":2,"IP":"0.0.0.0","port":0,)"
       R"("fmtp":""})"},
      {{"channels", "1", "output", "formatOptions"}, R"(["-muxrate 1"])"},
      {{"channels", "2"}, "<none>"},
  };
  for (const Case& c : cases) {
    const cJSON* item = path(root.get(), c.at);
    EXPECT_EQ(item ? json_print_unformatted(item).value_or("") : "<none>", c.expected)
        << *std::prev(c.at.end());
  }

  // Every converted channel stays through normalisation, the network source's too.
  ASSERT_TRUE(normalise_document(root.get()));
  EXPECT_EQ(cJSON_GetArraySize(path(root.get(), {"channels"})), 2);
}

int occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST(LegacyWrite, TwoSpaceLayoutOneMemberPerLine) {
  const std::string written = legacy_write(legacy_parse(block(1, kInput, kOutput)));
  ASSERT_TRUE(json_parse(written));
  EXPECT_EQ(written.find('\t'), std::string::npos);
  std::size_t start = 0;
  while (start < written.size()) {
    const std::size_t end = written.find('\n', start);
    const std::string line = written.substr(start, end - start);
    const std::size_t spaces = line.find_first_not_of(' ');
    EXPECT_EQ(spaces % 2, 0u) << line;
    // No line holds two members of an object.
    EXPECT_LE(occurrences(line, "\": "), 1) << line;
    start = end + 1;
  }
}

}  // namespace
}  // namespace vx
