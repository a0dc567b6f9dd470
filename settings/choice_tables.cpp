#include "settings/choice_tables.h"

#include "vocabulary/codecs.h"

namespace vx {
namespace {

template <std::size_t N>
int codec_choice_for(const std::array<CodecChoice, N>& choices, std::string_view codec) {
  const CodecId id = codec_id_from_name(codec);
  if (id == kCodecUnknown) return -1;
  for (std::size_t i = 0; i < N; ++i) {
    if (codec_id_from_name(choices[i].codec) == id) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

int target_format_choice_for(std::string_view format) {
  const FormatId id = format_id_from_name(format);
  switch (id) {
    case FormatId::ytdlp:
    case FormatId::device:
    case FormatId::rtp_native:
    case FormatId::unknown:
      return -1;
    default:
      break;
  }
  // The first entry with the number: Local File comes before FTP/SFTP.
  for (std::size_t i = 0; i < kTargetFormatChoices.size(); ++i) {
    if (format_id_from_name(kTargetFormatChoices[i].format) == id) return static_cast<int>(i);
  }
  return -1;
}

int video_encoding_choice_for(std::string_view codec) {
  return codec_choice_for(kVideoEncodingChoices, codec);
}

int audio_encoding_choice_for(std::string_view codec) {
  const CodecId id = codec_id_from_name(codec);
  for (std::string_view pcm : kPcmAudioCodecs) {
    if (id != kCodecUnknown && codec_id_from_name(pcm) == id) return 0;
  }
  return codec_choice_for(kAudioEncodingChoices, codec);
}

int frame_size_choice_for(std::int32_t width, std::int32_t height) {
  for (std::size_t i = 0; i < kFrameSizeChoices.size(); ++i) {
    if (static_cast<int>(i) == kFrameSizeOther) continue;
    if (kFrameSizeChoices[i].width == width && kFrameSizeChoices[i].height == height)
      return static_cast<int>(i);
  }
  return kFrameSizeOther;
}

int audio_channel_choice_for(std::int32_t channels) {
  if (channels >= 0 && channels <= 6) return channels;
  if (channels == 7 || channels == 8) return channels - 1;
  return -1;
}

}  // namespace vx
