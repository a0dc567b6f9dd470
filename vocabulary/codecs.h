// The codec numbering shared by the configuration, the engine and the dialogs: audio codecs
// below 128, video codecs from 128, 224 for stream copy, 255 for "not recognised".
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace vx {

using CodecId = std::int32_t;

inline constexpr CodecId kCodecFirstVideo = 128;
inline constexpr CodecId kCodecH263 = 129;
inline constexpr CodecId kCodecH263Plus = 130;
inline constexpr CodecId kCodecMpeg1Video = 131;
inline constexpr CodecId kCodecMpeg2Video = 132;
inline constexpr CodecId kCodecMpeg4Video = 133;
inline constexpr CodecId kCodecH264 = 135;
inline constexpr CodecId kCodecCopy = 224;
inline constexpr CodecId kCodecUnknown = 255;

// Hardware and plug-in encoder families; the synthesis and the dialogs choose options by them.
enum class CodecFamily { software, nvenc, qsv, amf, omx, netint };

// Case-insensitive search of the configuration names in table order; kCodecUnknown for an
// empty or unrecognised name.
CodecId codec_id_from_name(std::string_view name);

// The first configuration name carrying the id ("qsvmp2v" for 143), or nullptr.
const char* codec_name_from_id(CodecId id);

// The transcoder's encoder text written after "-c:a"/"-c:v" (for h263+ it carries the encoder's
// own flags), or nullptr for an id outside the table.
const char* codec_encoder_name(CodecId id);

// The encoding name used in RTP session descriptions, or nullptr (copy has none).
const char* codec_rtp_name(CodecId id);

// Whether the ffmpeg whose "-encoders" list is `encoders` can run `encoder` (an encoder text as
// codec_encoder_name gives it): stream copy always; an empty list means the list is unknown and
// nothing is refused.
bool encoder_is_available(const std::set<std::string>& encoders, std::string_view encoder);

bool codec_is_nvenc(CodecId id);
bool codec_is_qsv(CodecId id);
CodecFamily codec_family(CodecId id);

inline bool codec_is_audio(CodecId id) {
  return id >= 0 && id < kCodecFirstVideo;
}
inline bool codec_is_video(CodecId id) {
  return id >= kCodecFirstVideo && id < kCodecCopy;
}

}  // namespace vx
