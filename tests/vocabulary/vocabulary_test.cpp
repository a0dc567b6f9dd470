#include <gtest/gtest.h>

#include <set>
#include <string>

#include "vocabulary/channel_state.h"
#include "vocabulary/codecs.h"
#include "vocabulary/formats.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

std::string text_or_none(const char* text) {
  return text != nullptr ? text : "<none>";
}

struct CodecRow {
  CodecId id;
  const char* name;
  const char* encoder;
  const char* rtp;
};

// Rows where a slip is easy: names that differ from their encoder, RTP names that are not the
// configuration name, the id with two names, the ids out of numeric order, and copy.
const CodecRow kCheckedCodecs[] = {
    {0, "g711u", "pcm_mulaw", "g711u"},
    {6, "mp2a", "mp2", "MPA"},
    {7, "mp3", "libmp3lame", "MPA"},
    {8, "aac", "aac", "MP4A-LATM"},
    {9, "heaac", "libfdk_aac", "heaac"},
    {12, "eac3", "eac3", "eac3"},
    {128, "h261", "h261", "h261"},
    {130, "h263+", "h263p -flags +aic -umv 1 -aiv 1", "H263-1998"},
    {131, "mp1v", "mpeg1video", "MPV"},
    {132, "mp2v", "mpeg2video", "MPV"},
    {133, "mp4v", "mpeg4", "MP4V-ES"},
    {135, "h264", "libx264", "h264"},
    {138, "nv265", "hevc_nvenc", "nv265"},
    {143, "qsvmp2v", "mpeg2_qsv", "qsvmp2v"},
    {143, "qsvmpg", "mpeg2_qsv", "qsvmp2v"},
    {149, "omx265", "omx_enc_hevc", "omx265"},
    {150, "omxmp2v", "omx_enc_mp2v", "omxmp2v"},
    {151, "ni264", "h264_ni_quadra_enc", "ni264"},
    {154, "prores", "prores_ks", "prores"},
    {157, "vp9", "libvpx-vp9", "vp9"},
    {158, "av1", "libsvtav1", "av1"},
    {224, "copy", "copy", nullptr},
};

// Numbers reach ffmpeg and the document as the C locale writes them, whatever the window's
// language (the test cannot switch to a comma locale on a machine that has none; the writers
// use no locale at all).
TEST(NumberText, WritesWhatPrintfWritesInTheCLocale) {
  struct Case {
    double value;
    const char* general;
    const char* one_decimal;
  };
  const Case cases[] = {{29.97, "29.97", "30.0"}, {25, "25", "25.0"},
                        {0.05, "0.05", "0.1"},    {1234567, "1.23457e+06", "1234567.0"},
                        {-2.5, "-2.5", "-2.5"},   {1e-07, "1e-07", "0.0"}};
  for (const Case& c : cases) {
    EXPECT_EQ(general_number_text(c.value), c.general) << c.value;
    EXPECT_EQ(fixed_number_text(c.value, 1), c.one_decimal) << c.value;
    std::string printed;
    append_format(printed, "%g|%.1f", c.value, c.value);
    EXPECT_EQ(printed, std::string(c.general) + "|" + c.one_decimal) << c.value;
  }
}

TEST(CodecTable, NamesMapToIdsEncodersAndRtpNames) {
  for (const CodecRow& row : kCheckedCodecs) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(codec_id_from_name(row.name), row.id);
    EXPECT_EQ(text_or_none(codec_encoder_name(row.id)), row.encoder);
    EXPECT_EQ(text_or_none(codec_rtp_name(row.id)), text_or_none(row.rtp));
  }
}

// 45 ids (143 has two names); every id has an encoder and its first name leads back to it.
TEST(CodecTable, HasFortyFiveIdsAndNothingOutsideThem) {
  int ids = 0;
  for (CodecId id = -300; id < 300; ++id) {
    const char* name = codec_name_from_id(id);
    if (name == nullptr) {
      EXPECT_EQ(codec_encoder_name(id), nullptr) << id;
      EXPECT_EQ(codec_rtp_name(id), nullptr) << id;
      continue;
    }
    ++ids;
    EXPECT_NE(codec_encoder_name(id), nullptr) << id;
    EXPECT_EQ(codec_id_from_name(name), id) << name;
  }
  EXPECT_EQ(ids, 45);
  EXPECT_EQ(codec_rtp_name(kCodecCopy), nullptr);
}

TEST(CodecTable, NameLookupIgnoresCaseAndAnswersFirstName) {
  EXPECT_EQ(codec_id_from_name("H264"), 135);
  EXPECT_EQ(codec_id_from_name("QsvMpg"), 143);
  EXPECT_EQ(codec_id_from_name("H263+"), 130);
  EXPECT_STREQ(codec_name_from_id(143), "qsvmp2v");
  EXPECT_STREQ(codec_name_from_id(224), "copy");
  EXPECT_STREQ(codec_name_from_id(150), "omxmp2v");
  for (const char* unknown : {"", "xyz", "h264 ", " h264", "h26", "copyx", "qsvmp"}) {
    EXPECT_EQ(codec_id_from_name(unknown), kCodecUnknown) << '"' << unknown << '"';
  }
  EXPECT_EQ(codec_name_from_id(kCodecUnknown), nullptr);
  EXPECT_EQ(codec_name_from_id(13), nullptr);
  EXPECT_EQ(codec_name_from_id(159), nullptr);
}

TEST(CodecTable, FamiliesFollowTheIdRanges) {
  struct Case {
    CodecId id;
    CodecFamily family;
  };
  const Case cases[] = {
      {136, CodecFamily::software}, {137, CodecFamily::nvenc},   {139, CodecFamily::nvenc},
      {140, CodecFamily::qsv},      {144, CodecFamily::qsv},     {145, CodecFamily::amf},
      {147, CodecFamily::amf},      {148, CodecFamily::omx},     {150, CodecFamily::omx},
      {151, CodecFamily::netint},   {153, CodecFamily::netint},  {154, CodecFamily::software},
      {8, CodecFamily::software},   {224, CodecFamily::software}};
  for (const Case& c : cases) {
    EXPECT_EQ(codec_family(c.id), c.family) << c.id;
    EXPECT_EQ(codec_is_nvenc(c.id), c.family == CodecFamily::nvenc) << c.id;
    EXPECT_EQ(codec_is_qsv(c.id), c.family == CodecFamily::qsv) << c.id;
  }
  EXPECT_TRUE(codec_is_audio(12));
  EXPECT_FALSE(codec_is_audio(128));
  EXPECT_TRUE(codec_is_video(158));
  EXPECT_FALSE(codec_is_video(kCodecCopy));
  EXPECT_FALSE(codec_is_audio(kCodecUnknown) || codec_is_video(kCodecUnknown));
}

TEST(FormatTable, AcceptedNamesMapToOneNumberAndBackToTheCanonicalName) {
  struct Case {
    const char* name;
    FormatId id;
    const char* canonical;
  };
  const Case cases[] = {
      {"file", FormatId::file, "file"},       {"FTP", FormatId::file, "file"},
      {"rtmp", FormatId::rtmp, "rtmp"},       {"mpegts", FormatId::udp, "udp"},
      {"udp", FormatId::udp, "udp"},          {"UdpTs", FormatId::udp, "udp"},
      {"http", FormatId::http, "http"},       {"httpts", FormatId::http, "http"},
      {"ytdlp", FormatId::ytdlp, "ytdlp"},    {"html5", FormatId::html5, "html5"},
      {"rtp", FormatId::rtpts, "rtpts"},      {"RTPTS", FormatId::rtpts, "rtpts"},
      {"omxts", FormatId::omxts, "omxts"},    {"srt", FormatId::srt, "srt"},
      {"hls", FormatId::hls, "hls"},          {"dash", FormatId::dash, "dash"},
      {"device", FormatId::device, "device"}, {"Rtp_Native", FormatId::rtp_native, "rtp_native"},
      {"rtsp", FormatId::rtsp, "rtsp"},       {"decklink", FormatId::decklink, "decklink"},
      {"ndi", FormatId::ndi, "ndi"},          {"httpmjpg", FormatId::httpmjpg, "httpmjpg"},
  };
  std::set<FormatId> seen;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(format_id_from_name(c.name), c.id);
    EXPECT_STREQ(format_name_from_id(c.id), c.canonical);
    seen.insert(c.id);
  }
  EXPECT_EQ(seen.size(), 17u);
}

TEST(FormatTable, UnknownNamesAndNumbersHaveNoCounterpart) {
  for (const char* name : {"", "rtspt", "mms", "mmst", "udp ", "fil", "rtp_nativex"}) {
    EXPECT_EQ(format_id_from_name(name), FormatId::unknown) << '"' << name << '"';
  }
  for (std::int32_t id : {-1, 17, 100, 255, 256}) {
    EXPECT_EQ(format_name_from_id(id), nullptr) << id;
  }
}

TEST(ChannelStateWords, NameEveryStateAndNothingElse) {
  EXPECT_STREQ(channel_state_word(ChannelState::idle), "IDLE");
  EXPECT_STREQ(channel_state_word(ChannelState::extract), "EXTRACT");
  EXPECT_STREQ(channel_state_word(ChannelState::running), "RUNNING");
  EXPECT_STREQ(channel_state_word(ChannelState::preview), "PREVIEW");
  EXPECT_STREQ(channel_state_word(ChannelState::no_signal), "NO SIGNAL");
  EXPECT_STREQ(channel_state_word(ChannelState::stopping), "STOPPING");
  EXPECT_STREQ(channel_state_word(static_cast<ChannelState>(6)), "");
}

}  // namespace
}  // namespace vx
