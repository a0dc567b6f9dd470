#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/channel_state.h"
#include "engine/codecs.h"
#include "engine/formats.h"

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

// Every configuration name, in the order name lookups walk them.
const CodecRow kExpectedCodecs[] = {
    {0, "g711u", "pcm_mulaw", "g711u"},
    {1, "g711a", "pcm_alaw", "g711a"},
    {2, "pcm16s", "pcm_s16le", "pcm16s"},
    {3, "pcm24s", "pcm_s24le", "pcm24s"},
    {4, "pcm16u", "pcm_u16le", "pcm16u"},
    {5, "pcm24u", "pcm_u24le", "pcm24u"},
    {6, "mp2a", "mp2", "MPA"},
    {7, "mp3", "libmp3lame", "MPA"},
    {8, "aac", "aac", "MP4A-LATM"},
    {9, "heaac", "libfdk_aac", "heaac"},
    {10, "opus", "libopus", "opus"},
    {11, "ac3", "ac3", "ac3"},
    {12, "eac3", "eac3", "eac3"},
    {128, "h261", "h261", "h261"},
    {129, "h263", "h263", "h263"},
    {130, "h263+", "h263p -flags +aic -umv 1 -aiv 1", "H263-1998"},
    {131, "mp1v", "mpeg1video", "MPV"},
    {132, "mp2v", "mpeg2video", "MPV"},
    {133, "mp4v", "mpeg4", "MP4V-ES"},
    {134, "flv", "flv", "flv"},
    {135, "h264", "libx264", "h264"},
    {136, "h265", "libx265", "h265"},
    {137, "nv264", "h264_nvenc", "nv264"},
    {138, "nv265", "hevc_nvenc", "nv265"},
    {139, "nvav1", "av1_nvenc", "nvav1"},
    {140, "qsv264", "h264_qsv", "qsv264"},
    {141, "qsv265", "hevc_qsv", "qsv265"},
    {142, "qsvvp9", "vp9_qsv", "qsvvp9"},
    {143, "qsvmp2v", "mpeg2_qsv", "qsvmp2v"},
    {143, "qsvmpg", "mpeg2_qsv", "qsvmp2v"},
    {144, "qsvav1", "av1_qsv", "qsvav1"},
    {145, "amf264", "h264_amf", "amf264"},
    {146, "amf265", "hevc_amf", "amf265"},
    {147, "amfav1", "av1_amf", "amfav1"},
    {148, "omx264", "omx_enc_avc", "omx264"},
    {149, "omx265", "omx_enc_hevc", "omx265"},
    {151, "ni264", "h264_ni_quadra_enc", "ni264"},
    {152, "ni265", "h265_ni_quadra_enc", "ni265"},
    {153, "niav1", "av1_ni_quadra_enc", "niav1"},
    {150, "omxmp2v", "omx_enc_mp2v", "omxmp2v"},
    {154, "prores", "prores_ks", "prores"},
    {155, "mjpeg", "mjpeg", "mjpeg"},
    {156, "vp8", "libvpx", "vp8"},
    {157, "vp9", "libvpx-vp9", "vp9"},
    {158, "av1", "libsvtav1", "av1"},
    {224, "copy", "copy", nullptr},
};

TEST(CodecTable, EveryNameMapsToItsIdEncoderAndRtpName) {
  std::set<CodecId> ids;
  for (const CodecRow& row : kExpectedCodecs) {
    SCOPED_TRACE(row.name);
    ids.insert(row.id);
    EXPECT_EQ(codec_id_from_name(row.name), row.id);
    EXPECT_EQ(text_or_none(codec_encoder_name(row.id)), row.encoder);
    EXPECT_EQ(text_or_none(codec_rtp_name(row.id)), text_or_none(row.rtp));
  }
  EXPECT_EQ(std::size(kExpectedCodecs), 46u);
  EXPECT_EQ(ids.size(), 45u);

  // No id outside the table has a name, an encoder or an RTP name.
  int named = 0;
  for (CodecId id = -300; id < 300; ++id) {
    if (codec_name_from_id(id) == nullptr) {
      EXPECT_EQ(codec_encoder_name(id), nullptr) << id;
      EXPECT_EQ(codec_rtp_name(id), nullptr) << id;
    } else {
      ++named;
      EXPECT_TRUE(ids.count(id)) << id;
    }
  }
  EXPECT_EQ(named, 45);
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
