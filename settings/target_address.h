// The editor's rules for a target's address: what a newly chosen target format starts with, what
// an empty address shows, how a typed address is tidied before it is stored, and the stream name
// that labels a target tab and must differ between the targets of one multi-bit-rate channel.
#pragma once

#include <cjson/cJSON.h>

#include <string>
#include <string_view>

#include "settings/choice_tables.h"

namespace vx {

// Where the HTTP-served outputs of this host answer: the scheme ("https" when the global
// "sslEnable" is set), the host's first address and the global "httpPort".
struct ServedAddressBase {
  bool tls = false;
  std::string host;  // "" when the host has no address: then the loopback one is used
  int http_port = 0;
};

// The base of this host's served addresses from the document's "global" object, naming `host`.
ServedAddressBase served_address_base(const cJSON* global, std::string host);

// The address a target starts with when the operator chooses `format` for channel number
// `channel_number` (from 1). Recordings and playlists go into `output_folder`
// (new_output_folder()).
std::string target_format_default_url(TargetFormatEntry format, int channel_number,
                                      const ServedAddressBase& served,
                                      std::string_view output_folder);

// What a target stored with an empty "url" shows: a usable address for the network formats that
// need one, else "".
std::string_view empty_target_url_shown(TargetFormatEntry format);

// The typed address without the blanks around it.
std::string_view target_url_without_blanks(std::string_view typed);

// The typed address as it is stored: blanks around it removed; RTMP and MPEG-TS over RTP get
// their scheme when none was typed; MPEG-TS over UDP (plain or MainConcept) always carries
// "udp://", whatever scheme was typed.
std::string normalised_target_url(TargetFormatEntry format, std::string_view typed);

// The text after the last '\', else after the last '/', else the whole address; cut at its first
// '?' and to 99 characters.
std::string target_stream_name(std::string_view address);

// Whether the address names a stream at all (it has a '\' or a '/'); two targets are compared by
// stream name only then.
bool target_address_has_stream_name(std::string_view address);

}  // namespace vx
