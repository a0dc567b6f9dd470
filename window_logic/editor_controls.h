// Which of the editor's controls are usable and shown, as one function of what the panel shows
// and of the editing situation: the window applies the answer after every change of selection,
// editing state, format or encoding, and on every supervision tick.
#pragma once

#include "window_logic/editor_panel.h"

namespace vx {

struct EditingSituation {
  bool row_selected = false;          // a row of the channel list is selected
  bool working_copy = false;          // a channel is being edited
  bool editing_selected_row = false;  // ... and the selected row is the one being edited
};

struct ControlState {
  bool enabled = false;
  bool visible = true;
};

struct EditorControls {
  ControlState target_format;
  ControlState format_advanced;  // "Advanced..."
  ControlState target_url;
  bool target_url_read_only = true;
  bool target_url_narrow = false;  // leaves room for the browse button
  ControlState browse;             // "..."
  ControlState video_enable;
  ControlState video_encoding;
  ControlState video_advanced;
  ControlState frame_size;
  ControlState frame_width_height;  // the two edits
  ControlState frame_rate;
  ControlState quality;  // never shown; its value passes through loading and saving
  ControlState video_bitrate;
  ControlState key_frame_interval;
  ControlState mux_bitrate;  // the label, the edit and its unit
  ControlState cbr;
  ControlState audio_enable;
  ControlState audio_encoding;
  ControlState audio_advanced;
  ControlState sample_rate;
  ControlState audio_channels;
  ControlState audio_bitrate;
  ControlState target_tabs;
  ControlState new_channel;
  ControlState edit;
  ControlState apply;
  ControlState cancel;
  ControlState remove_channel;
};

EditorControls editor_controls(const EditorValues& values, const EditingSituation& situation);

}  // namespace vx
