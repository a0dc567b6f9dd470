// Hand-made MPEG-TS for the framing and fan-out tests: a PAT, a PMT, and H.264/HEVC pictures as
// PES packets, with or without the random access flag, in exact 188-byte packets.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vx::testing_support {

inline constexpr std::uint16_t kPmtPid = 0x1000;
inline constexpr std::uint16_t kVideoPid = 0x100;
inline constexpr std::uint16_t kAudioPid = 0x101;

// Payload bytes after the 4-byte header; short ones are padded with adaptation-field stuffing,
// which also carries the random access flag (so then at most 182 bytes).
inline std::string ts_packet(std::uint16_t pid, bool unit_start, std::string_view payload,
                             bool random_access = false) {
  std::string packet = {'\x47', static_cast<char>((unit_start ? 0x40 : 0) | (pid >> 8)),
                        static_cast<char>(pid & 0xff), '\x10'};
  const std::size_t room = 184 - payload.size();
  if (room > 0 || random_access) {
    packet[3] = '\x30';
    packet.push_back(static_cast<char>(room - 1));
    if (room > 1) {
      packet.push_back(random_access ? '\x40' : '\x00');
      packet.append(room - 2, '\xff');
    }
  }
  return packet.append(payload);
}

// One PSI section in one packet, behind a zero pointer field; the CRC is not checked here.
inline std::string ts_section(std::uint16_t pid, std::uint8_t table_id, std::string_view body) {
  const std::size_t length = 5 + body.size() + 4;
  std::string section = {static_cast<char>(table_id),
                         static_cast<char>(0xb0 | (length >> 8)),
                         static_cast<char>(length & 0xff),
                         '\x00',
                         '\x01',
                         '\xc1',
                         '\x00',
                         '\x00'};
  section.append(body).append("CRC!");
  return ts_packet(pid, true, std::string(1, '\0') + section);
}

inline std::string ts_pat() {
  return ts_section(0, 0x00,
                    std::string("\x00\x01", 2) + static_cast<char>(0xe0 | (kPmtPid >> 8)) +
                        static_cast<char>(kPmtPid & 0xff));
}

// Video of `video_type` (0x1b H.264, 0x24 HEVC, 0x02 MPEG-2) and AAC audio.
inline std::string ts_pmt(std::uint8_t video_type) {
  auto stream = [](std::uint8_t type, std::uint16_t pid) {
    return std::string{static_cast<char>(type), static_cast<char>(0xe0 | (pid >> 8)),
                       static_cast<char>(pid & 0xff), '\xf0', '\x00'};
  };
  const std::string body =
      std::string("\xe1\x00\xf0\x00", 4) + stream(0x0f, kAudioPid) + stream(video_type, kVideoPid);
  return ts_section(kPmtPid, 0x02, body);
}

// One PES (with a PTS) of `pid` cut into packets; only the first may carry the flag.
inline std::string ts_pes(std::uint16_t pid, std::string_view elementary, bool random_access) {
  std::string pes("\x00\x00\x01\xe0\x00\x00\x80\x80\x05\x21\x00\x01\x00\x01", 14);
  pes.append(elementary);
  std::string packets;
  std::string_view rest = pes;
  bool first = true;
  while (!rest.empty()) {
    const std::size_t take = std::min<std::size_t>(rest.size(), first && random_access ? 182 : 184);
    packets += ts_packet(pid, first, rest.substr(0, take), first && random_access);
    rest.remove_prefix(take);
    first = false;
  }
  return packets;
}

// NAL units behind four-byte start codes.
inline std::string annex_b(const std::vector<std::string>& units) {
  std::string stream;
  for (const std::string& unit : units)
    stream.append(std::string("\0\0\0\x01", 4)).append(unit);
  return stream;
}

// An H.264 access unit: delimiter, parameter sets and a message before an IDR picture (type 5),
// or delimiter and a non-IDR picture (type 1). `message` lengthens the message.
inline std::string h264_picture(bool idr, std::size_t message = 8) {
  if (!idr) return annex_b({"\x09\xf0", "\x41\x9a\x02\x03"});
  return annex_b({"\x09\xf0", "\x67\x42\xc0\x1e", "\x68\xce\x3c\x80",
                  "\x06\x05" + std::string(message, 'm'), "\x65\x88\x84\x02"});
}

// An HEVC access unit with a picture of NAL type `type` (19 IDR, 21 CRA, 1 TRAIL_R).
inline std::string hevc_picture(int type) {
  return annex_b({std::string("\x46\x01\x10", 3), std::string("\x40\x01\x0c", 3),
                  std::string{static_cast<char>(type << 1), '\x01', '\xaf'}});
}

}  // namespace vx::testing_support
