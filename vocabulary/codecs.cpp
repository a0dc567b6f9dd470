#include "vocabulary/codecs.h"

#include <array>

#include "vocabulary/ascii.h"

namespace vx {
namespace {

struct CodecEntry {
  CodecId id;
  const char* name;     // as stored in the configuration
  const char* encoder;  // as written to the transcoder
  const char* rtp;      // RTP encoding name; nullptr where there is none
};

// Order matters: name lookups walk it from the top, and id 143 answers with its first name.
const std::array<CodecEntry, 46> kCodecs = {{
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
    {kCodecCopy, "copy", "copy", nullptr},
}};

const CodecEntry* find_codec(CodecId id) {
  for (const CodecEntry& entry : kCodecs) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

}  // namespace

CodecId codec_id_from_name(std::string_view name) {
  for (const CodecEntry& entry : kCodecs) {
    if (iequals(name, entry.name)) return entry.id;
  }
  return kCodecUnknown;
}

const char* codec_name_from_id(CodecId id) {
  const CodecEntry* entry = find_codec(id);
  return entry != nullptr ? entry->name : nullptr;
}

const char* codec_encoder_name(CodecId id) {
  const CodecEntry* entry = find_codec(id);
  return entry != nullptr ? entry->encoder : nullptr;
}

const char* codec_rtp_name(CodecId id) {
  const CodecEntry* entry = find_codec(id);
  return entry != nullptr ? entry->rtp : nullptr;
}

bool encoder_is_available(const std::set<std::string>& encoders, std::string_view encoder) {
  return encoder == "copy" || encoders.empty() || encoders.count(std::string(encoder)) != 0;
}

bool codec_is_nvenc(CodecId id) {
  return id >= 137 && id < 140;
}
bool codec_is_qsv(CodecId id) {
  return id >= 140 && id <= 144;
}

CodecFamily codec_family(CodecId id) {
  if (codec_is_nvenc(id)) return CodecFamily::nvenc;
  if (codec_is_qsv(id)) return CodecFamily::qsv;
  if (id >= 145 && id <= 147) return CodecFamily::amf;
  if (id >= 148 && id <= 150) return CodecFamily::omx;
  if (id >= 151 && id <= 153) return CodecFamily::netint;
  return CodecFamily::software;
}

}  // namespace vx
