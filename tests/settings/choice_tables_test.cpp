// The editor's choice tables: every name they write is one the engine
// knows, and the loading lookups land on the right entries.
#include "settings/choice_tables.h"

#include <gtest/gtest.h>

#include <string>

#include "vocabulary/codecs.h"
#include "vocabulary/formats.h"

namespace vx {
namespace {

TEST(ChoiceTables, EveryWrittenNameIsKnown) {
  for (const TargetFormatChoice& choice : kTargetFormatChoices)
    EXPECT_NE(format_id_from_name(choice.format), FormatId::unknown) << choice.text;
  for (const CodecChoice& choice : kVideoEncodingChoices) {
    const CodecId id = codec_id_from_name(choice.codec);
    EXPECT_TRUE(codec_is_video(id) || id == kCodecCopy) << choice.text;
  }
  for (const CodecChoice& choice : kAudioEncodingChoices) {
    const CodecId id = codec_id_from_name(choice.codec);
    EXPECT_TRUE(codec_is_audio(id) || id == kCodecCopy) << choice.text;
  }
  for (std::string_view codec : kPcmAudioCodecs)
    EXPECT_TRUE(codec_is_audio(codec_id_from_name(codec))) << codec;
  EXPECT_TRUE(codec_is_video(codec_id_from_name(kVideoCodecWhenNoneSelected)));
  EXPECT_TRUE(codec_is_audio(codec_id_from_name(kAudioCodecWhenNoneSelected)));
}

TEST(ChoiceTables, EntriesAreDistinct) {
  // Two entries with one codec number would make loading show the wrong one.
  for (std::size_t i = 0; i < kVideoEncodingChoices.size(); ++i)
    EXPECT_EQ(video_encoding_choice_for(kVideoEncodingChoices[i].codec), static_cast<int>(i))
        << kVideoEncodingChoices[i].text;
  for (std::size_t i = 0; i < kAudioEncodingChoices.size(); ++i)
    EXPECT_EQ(audio_encoding_choice_for(kAudioEncodingChoices[i].codec), static_cast<int>(i))
        << kAudioEncodingChoices[i].text;
  EXPECT_EQ(kTargetFormatChoices[kTargetFormatChoices.size() - 1].text, "MJPEG over HTTP");
  EXPECT_EQ(kFrameSizeChoices[kFrameSizeOther].text, "Other");
  EXPECT_EQ(kVideoEncodingChoices[1].text, "H.264 (NVENC) ");
}

TEST(ChoiceTables, LoadingLookups) {
  struct FormatCase {
    const char* format;
    int entry;
  };
  const FormatCase formats[] = {
      {"rtmp", 0},      {"mpegts", 1}, {"udp", 1},     {"http", 2},        {"html5", 3},
      {"rtp", 4},       {"omxts", 5},  {"hls", 6},     {"dash", 7},        {"SRT", 8},
      {"rtsp", 9},      {"file", 10},  {"ftp", 10},    {"decklink", 12},   {"ndi", 13},
      {"httpmjpg", 14}, {"ytdlp", -1}, {"device", -1}, {"rtp_native", -1}, {"", -1},
  };
  for (const FormatCase& c : formats)
    EXPECT_EQ(target_format_choice_for(c.format), c.entry) << c.format;

  struct CodecCase {
    const char* codec;
    int video;
    int audio;
  };
  const CodecCase codecs[] = {
      {"qsvmpg", 14, -1},   {"QSVMP2V", 14, -1}, {"h264", 0, -1},   {"copy", 28, 8},
      {"pcm16u", -1, 0},    {"g711a", -1, 0},    {"pcm24s", -1, 0}, {"heaac", -1, 4},
      {"nonsense", -1, -1}, {"", -1, -1},
  };
  for (const CodecCase& c : codecs) {
    EXPECT_EQ(video_encoding_choice_for(c.codec), c.video) << c.codec;
    EXPECT_EQ(audio_encoding_choice_for(c.codec), c.audio) << c.codec;
  }

  EXPECT_EQ(frame_size_choice_for(0, 0), 0);
  EXPECT_EQ(frame_size_choice_for(1920, 1080), 6);
  EXPECT_EQ(frame_size_choice_for(2048, 1080), 7);
  EXPECT_EQ(frame_size_choice_for(1920, 1081), kFrameSizeOther);
  EXPECT_EQ(frame_size_choice_for(-1, -1), kFrameSizeOther) << "Other's placeholder never matches";

  struct ChannelCase {
    std::int32_t channels;
    int entry;
  };
  const ChannelCase channels[] = {{0, 0}, {2, 2}, {6, 6}, {7, 6}, {8, 7}, {9, -1}, {-1, -1}};
  for (const ChannelCase& c : channels)
    EXPECT_EQ(audio_channel_choice_for(c.channels), c.entry) << c.channels;
  for (std::size_t i = 0; i < kAudioChannelChoices.size(); ++i)
    EXPECT_EQ(audio_channel_choice_for(kAudioChannelChoices[i].channels), static_cast<int>(i))
        << "saving and loading agree for " << kAudioChannelChoices[i].text;
}

}  // namespace
}  // namespace vx
