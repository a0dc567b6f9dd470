#include "engine/session_description.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace vx {
namespace {

const std::string kHeader = "v=0\no=- 0 0 IN IPV4 0.0.0.0\ns=Zentravia\nt=0 0\n";

MediaDescriptor stream(CodecId codec, const char* address, std::uint16_t port) {
  MediaDescriptor descriptor;
  descriptor.enable = true;
  descriptor.codec = codec;
  descriptor.rtp.local_address = inet_addr(address);
  descriptor.rtp.local_port = port;
  descriptor.rtp.remote_address = inet_addr("10.9.9.9");
  descriptor.rtp.remote_port = static_cast<std::uint16_t>(port + 1000);
  return descriptor;
}

std::string describe(const MediaDescriptor* video, const MediaDescriptor* audio,
                     SessionForm form = SessionForm::input) {
  std::string text;
  EXPECT_EQ(compose_session_description(video, audio, form, text), 0);
  return text;
}

TEST(SessionDescription, VideoAndAudioSections) {
  MediaDescriptor video = stream(kCodecH264, "239.1.1.1", 5000);
  video.fmtp = "packetization-mode=1";
  MediaDescriptor audio = stream(8, "239.1.1.1", 5002);
  audio.sample_rate = 48000;
  audio.channels = 2;
  EXPECT_EQ(describe(&video, &audio),
            kHeader +
                "m=video 5000 RTP/AVP 96\nc=IN IP4 239.1.1.1\na=rtpmap:96 h264/90000\n"
                "a=fmtp:96 packetization-mode=1\n"
                "m=audio 5002 RTP/AVP 97\nc=IN IP4 239.1.1.1\n"
                "a=rtpmap:97 MP4A-LATM/48000/2\na=rtpmap:97 MP4A-LATM/48000/2\n\n");

  // The output form describes the destinations.
  EXPECT_EQ(describe(&video, nullptr, SessionForm::output),
            kHeader +
                "m=video 6000 RTP/AVP 96\nc=IN IP4 10.9.9.9\na=rtpmap:96 h264/90000\n"
                "a=fmtp:96 packetization-mode=1\n\n");
}

TEST(SessionDescription, PayloadTypesClockRatesAndChannels) {
  const MediaDescriptor h263 = stream(kCodecH263, "127.0.0.1", 4000);
  EXPECT_NE(describe(&h263, nullptr)
                .find("m=video 4000 RTP/AVP 34\nc=IN IP4 127.0.0.1\na=rtpmap:34 h263/90000\n"),
            std::string::npos);

  struct Case {
    CodecId codec;
    int sample_rate, channels;
    std::string rtpmap;
  };
  const Case cases[] = {
      {7, 44100, 2, "a=rtpmap:97 MPA/90000/2\n"},  // mp3: 90 kHz whatever its rate
      {6, 48000, 1, "a=rtpmap:97 MPA/90000/1\n"},
      {1, 8000, 0, "a=rtpmap:97 g711a/8000/1\n"},  // mono below two channels
      {10, 48000, 6, "a=rtpmap:97 opus/8000/6\n"},
  };
  for (const Case& c : cases) {
    MediaDescriptor audio = stream(c.codec, "127.0.0.1", 4002);
    audio.sample_rate = c.sample_rate;
    audio.channels = c.channels;
    EXPECT_EQ(describe(nullptr, &audio),
              kHeader + "m=audio 4002 RTP/AVP 97\nc=IN IP4 127.0.0.1\n" + c.rtpmap + "\n")
        << c.codec;
  }
}

TEST(SessionDescription, StreamsWithoutPortOrNameAreLeftOutOrRefused) {
  MediaDescriptor video = stream(kCodecH264, "127.0.0.1", 0);
  MediaDescriptor audio = stream(8, "127.0.0.1", 0);
  EXPECT_EQ(describe(&video, &audio), kHeader + "\n");
  EXPECT_EQ(describe(nullptr, nullptr), kHeader + "\n");

  std::string text;
  const MediaDescriptor copy = stream(kCodecCopy, "127.0.0.1", 5000);
  EXPECT_EQ(compose_session_description(&copy, nullptr, SessionForm::input, text), -1);
  const MediaDescriptor unknown = stream(kCodecUnknown, "127.0.0.1", 5000);
  EXPECT_EQ(compose_session_description(nullptr, &unknown, SessionForm::input, text), -1);
}

TEST(SessionDescription, FileIsReplacedWholeOrReportedUnwritable) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("vx-sdp-file-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "morv_001_in.sdp").string();
  std::ofstream(path) << std::string(5000, 'x');
  const MediaDescriptor video = stream(kCodecH264, "127.0.0.1", 5000);
  ASSERT_EQ(write_session_description(path, &video, nullptr, SessionForm::input), 0);
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), describe(&video, nullptr));
  EXPECT_EQ(write_session_description((folder / "no" / "x.sdp").string(), &video, nullptr,
                                      SessionForm::input),
            -1);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace vx
