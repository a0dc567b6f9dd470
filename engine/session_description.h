// RTP session descriptions (SDP) of "rtp_native" streams: one video and one audio elementary
// stream, each described by its descriptor's endpoint, codec and format parameters.
#pragma once

#include <string>

#include "vocabulary/records.h"

namespace vx {

// The input form names where the streams arrive (the local endpoints); the output form where
// they go (the remote endpoints).
enum class SessionForm { input, output };

inline constexpr int kVideoPayloadH263 = 34;
inline constexpr int kVideoPayloadDynamic = 96;
inline constexpr int kAudioPayload = 97;

// The description of the given streams (either may be null; a stream whose chosen port is 0 is
// left out). Returns 0, or -1 when a stream to describe has a codec without an RTP name.
int compose_session_description(const MediaDescriptor* video, const MediaDescriptor* audio,
                                SessionForm form, std::string& text);

// Writes the description to the file (created or truncated). Returns 0, or -1 when the file
// cannot be written or a codec has no RTP name.
int write_session_description(const std::string& path, const MediaDescriptor* video,
                              const MediaDescriptor* audio, SessionForm form);

}  // namespace vx
