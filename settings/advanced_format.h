// The advanced format settings of a channel: six tab records that turn operator choices into
// transcoder option text in the channel JSON and read it back, and the host that runs them.
#pragma once

#include <cjson/cJSON.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vocabulary/product.h"

namespace vx {

inline constexpr const char* kAdvancedFormatTitle = "Advanced Format Settings";
// The tab captions, in the order of the tabs.
inline constexpr const char* kMpegTsInputTab = "MPEG-TS Input";
inline constexpr const char* kMpegTsOutputTab = "MPEG-TS Output";
inline constexpr const char* kRtmpTab = "RTMP Config";
inline constexpr const char* kHlsTab = "HLS Config";
inline constexpr const char* kSrtTab = "SRT Config";
inline constexpr const char* kCustomTab = "Custom Param";

// A message the window layer shows in a box; the records never show anything themselves.
enum class MessageIcon { error, warning, information };
struct DialogMessage {
  std::string title;
  std::string text;
  MessageIcon icon = MessageIcon::error;
};

// "MPEG-TS Input": which programs and PIDs to take from the source (input "map").
struct MpegTsInputSettings {
  struct Row {
    std::string program;  // "Program #"
    std::string pid;      // "PID"
  };
  std::vector<Row> SourceStreamList;

  // "&Add": the new row's program number is the new row count.
  void add_row();
  // "&Remove": a position outside the list removes nothing.
  void remove_row(std::size_t position);

  void load(const cJSON* channel);
  bool save(cJSON* channel) const;
};

// "MPEG-TS Output": program table, PIDs, provider and Pro-MPEG FEC (output "formatOptions").
struct MpegTsOutputSettings {
  // The provider a channel's MPEG-TS output names unless the operator set another: the product's
  // website, as the browser page has always shown it.
  static constexpr const char* kDefaultProvider = kProductWebsite;
  struct Row {
    std::string program;  // "Program #"
    std::string name;     // "Program Name"
    std::string source;   // "Source #"
  };
  std::vector<Row> ProgramList;
  std::string pmt_pid = "0x1000";
  std::string provider = kDefaultProvider;
  std::string video_pid = "0x100";
  std::string audio_pid = "0x101";
  std::string subtitle_pid = "0x102";
  bool fec_on = false;
  std::int32_t fec_columns = 5;
  std::int32_t fec_rows = 5;

  bool enabled = false;      // the target carries MPEG-TS
  bool fec_enabled = false;  // the target is MPEG-TS over RTP

  // "Column" and "Row" are usable only while FEC is on.
  bool fec_matrix_enabled() const { return enabled && fec_on; }

  // "&Add\nProgram": row n+1 named Program%02d.
  void add_program();
  void remove_row(std::size_t position);

  void load(const cJSON* channel, int target_index);
  bool save(cJSON* channel, int target_index) const;
};

// "RTMP Config": publish credentials in the target's "rtmp" object.
struct RtmpSettings {
  std::string flash_ver;  // "flashVer"
  std::string swf_url;    // "swfUrl"
  std::string user;       // "user"
  std::string passwd;     // "passwd"
  bool enabled = false;

  void load(const cJSON* channel, int target_index);
  bool save(cJSON* channel, int target_index) const;
};

// "HLS Config": segmenting and playlists (output "formatOptions").
struct HlsSettings {
  std::int32_t segment_format = 0;  // 0 MPEG-TS, 1 fragmented MP4
  std::uint32_t segment_length = 2;
  std::uint32_t playlist_size = 5;
  std::int32_t index_start = 1;  // counted from 1; the muxer counts from 0
  std::string base_url;
  std::string key_info_file;
  std::string master_name = "master.m3u8";
  bool enabled = false;
  bool master_enabled = false;  // only an output with several targets has a master playlist

  void load(const cJSON* channel, int target_index);
  // On a rejection the message is put into *message (when given) and nothing is changed.
  bool save(cJSON* channel, int target_index, DialogMessage* message) const;
};

// "SRT Config": connection mode and bonding of the SRT input or, failing that, the SRT target.
struct SrtSettings {
  enum class Side { none, input, output };
  std::int32_t mode = 0;  // 0 caller, 1 listener
  std::string remote1;
  std::string local1;
  std::string remote2;
  std::string local2;
  std::int32_t bonding = 0;  // 0 main/backup, 1 broadcast
  std::uint32_t minstable_timeout = 200;
  Side side = Side::none;
  bool enabled = false;
  // What the two local address lists offer; the window fills them from local_ipv4_addresses().
  std::vector<std::string> local_address_choices;

  // Every control but the mode is usable only in caller mode.
  bool caller_controls_enabled() const { return enabled && mode == 0; }

  void load(const cJSON* channel, int target_index);
  bool save(cJSON* channel, int target_index) const;
};

// "Custom Param": free option text of the input and the output ("customOptions").
struct CustomFormatSettings {
  std::string source_params;
  std::string target_params;

  void load(const cJSON* channel);
  bool save(cJSON* channel) const;
};

// "Advanced Format Settings": the channel being edited (not owned), the target and the six tabs.
struct AdvancedFormatSettings {
  cJSON* editingChannel = nullptr;
  int target_index = 0;
  MpegTsInputSettings mpegts_in;
  MpegTsOutputSettings mpegts_out;
  RtmpSettings rtmp;
  HlsSettings hls;
  SrtSettings srt;
  CustomFormatSettings custom;
  // The host's addresses, handed to the SRT tab on every load.
  std::vector<std::string> local_addresses;
  // Why the last save_channel failed, for the window layer to show.
  std::optional<DialogMessage> rejection;

  void load_channel(cJSON* channel, int target);
  // Saves the tabs in order and stops at the first that rejects its input. False also when no
  // channel is loaded.
  bool save_channel();
  // Cancel: the edits are discarded by loading the remembered channel again.
  void cancel() { load_channel(editingChannel, target_index); }
};

}  // namespace vx
