#include "engine/session_description.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <string_view>

#include "platform/file_io.h"
#include "platform/unique_fd.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

struct ChosenEndpoint {
  std::uint32_t address;
  std::uint16_t port;
};

ChosenEndpoint chosen_endpoint(const MediaDescriptor& stream, SessionForm form) {
  if (form == SessionForm::input) return {stream.rtp.local_address, stream.rtp.local_port};
  return {stream.rtp.remote_address, stream.rtp.remote_port};
}

int audio_clock_rate(const MediaDescriptor& audio) {
  switch (audio.codec) {
    case 6:  // mp2a
    case 7:  // mp3
      return 90000;
    case 8:  // aac
      return audio.sample_rate;
    default:
      return 8000;
  }
}

}  // namespace

int compose_session_description(const MediaDescriptor* video, const MediaDescriptor* audio,
                                SessionForm form, std::string& text) {
  text = "v=0\no=- 0 0 IN IPV4 0.0.0.0\ns=Zentravia\nt=0 0\n";
  if (video != nullptr) {
    const ChosenEndpoint endpoint = chosen_endpoint(*video, form);
    if (endpoint.port != 0) {
      const char* name = codec_rtp_name(video->codec);
      if (name == nullptr) return -1;
      const int payload = video->codec == kCodecH263 ? kVideoPayloadH263 : kVideoPayloadDynamic;
      // Each section carries its own connection line, after its media line.
      append_format(text, "m=video %d RTP/AVP %d\n", endpoint.port, payload);
      append_format(text, "c=IN IP4 %s\n", dotted_quad(endpoint.address).c_str());
      append_format(text, "a=rtpmap:%d %s/90000\n", payload, name);
      if (!video->fmtp.empty()) append_format(text, "a=fmtp:%d %s\n", payload, video->fmtp.c_str());
    }
  }
  if (audio != nullptr) {
    const ChosenEndpoint endpoint = chosen_endpoint(*audio, form);
    if (endpoint.port != 0) {
      const char* name = codec_rtp_name(audio->codec);
      if (name == nullptr) return -1;
      const int clock = audio_clock_rate(*audio);
      const int channels = audio->channels < 2 ? 1 : audio->channels;
      append_format(text, "m=audio %d RTP/AVP %d\n", endpoint.port, kAudioPayload);
      append_format(text, "c=IN IP4 %s\n", dotted_quad(endpoint.address).c_str());
      append_format(text, "a=rtpmap:%d %s/%d/%d\n", kAudioPayload, name, clock, channels);
      if (audio->codec == 8) {
        append_format(text, "a=rtpmap:%d MP4A-LATM/%d/%d\n", kAudioPayload, clock, channels);
      }
      if (!audio->fmtp.empty()) {
        append_format(text, "a=fmtp:%d %s\n", kAudioPayload, audio->fmtp.c_str());
      }
    }
  }
  text.push_back('\n');
  return 0;
}

int write_session_description(const std::string& path, const MediaDescriptor* video,
                              const MediaDescriptor* audio, SessionForm form) {
  std::string text;
  if (compose_session_description(video, audio, form, text) != 0) return -1;
  UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!file) return -1;
  return write_all(file.get(), text) ? 0 : -1;
}

}  // namespace vx
