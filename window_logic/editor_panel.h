// The editor panel without a toolkit: what each change of a control does and the panel as the
// editing workflow drives it; the checks made before the shown values are taken are
// settings/editor_checks.h. The window draws EditorValues (settings/editor_values.h) and
// editor_controls() (window_logic/editor_controls.h), shows the messages it is handed and moves
// the focus to the named control; it decides nothing.
#pragma once

#include <cjson/cJSON.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "settings/advanced_format.h"
#include "settings/editor_checks.h"
#include "settings/target_address.h"
#include "window_logic/editor_parts.h"
#include "settings/editor_values.h"

namespace vx {

// ----- changes -----

// What the change handlers read besides the panel.
struct EditorEnvironment {
  int channel_number = 1;        // the edited row + 1, for the default addresses
  ServedAddressBase served;      // for the HTTP-served formats' default addresses
  std::string output_folder;     // for the recordings' and playlists' (new_output_folder())
  std::string plugin_core_path;  // global "omxPath"
  // The encoders the ffmpeg in use has (ffmpeg_encoders()); empty when unknown: then none is
  // refused.
  std::set<std::string> encoders;
};

// From the document's "global" object and the host's first address.
EditorEnvironment editor_environment(const cJSON* global, int channel_number,
                                     std::string local_address, std::set<std::string> encoders);
// The same from the document in force, read under the core lock (taken here), with the host's
// first IPv4 address asked before it.
EditorEnvironment current_editor_environment(int channel_number, std::set<std::string> encoders);

// What the window does after a change: draw `values`, then show `message` when there is one.
struct PanelChange {
  EditorValues values;
  std::optional<DialogMessage> message;
  // Only target 0 is left: tab 0 is selected and the advanced panels load again.
  bool targets_reset = false;
};

// A new target format: the encodings and mux settings start again, the working copy keeps its
// first target only, and the address becomes the format's default.
PanelChange change_target_format(const EditorValues& shown, int format,
                                 const EditorEnvironment& environment, cJSON* editing_channel);

// A new video encoding. One this system cannot run (MainConcept without the plug-in, an encoder
// the ffmpeg lacks) is refused: the previous entry comes back and the working copy is untouched.
// Otherwise the codec goes into the target and its video options start again; "Original" resets
// the picture settings.
PanelChange change_video_encoding(const EditorValues& shown, int encoding, int target,
                                  const EditorEnvironment& environment, cJSON* editing_channel);

// A new audio encoding, refused like a video one when the ffmpeg lacks its encoder; "Original"
// resets the sound settings.
PanelChange change_audio_encoding(const EditorValues& shown, int encoding, int target,
                                  const EditorEnvironment& environment, cJSON* editing_channel);

// A listed frame size fills the two edits; every choice writes the size into the target.
PanelChange change_frame_size(const EditorValues& shown, int frame_size, int target,
                              cJSON* editing_channel);

// CBR needs a video bit rate: with none it is refused with a warning and stays off.
PanelChange change_cbr(const EditorValues& shown, bool on);

// ----- the panel as the editing workflow drives it -----

class EditorPanel final : public EditorPanelPart {
 public:
  void load(const cJSON* channel, int target) override;
  std::optional<EditRefusal> validate() const override;
  // The stored address is tidied (normalised_target_url); the control shows the tidied text
  // when the panel is loaded again (after Apply and on every tab change). Tidying twice changes
  // nothing, so a save before the load is harmless.
  void save(cJSON* channel, int target) const override;

  // What the controls show. The window writes the edits' and editable combos' text and the
  // audio Channel entry here before it calls anything else; the other lists and the boxes change
  // only through the calls below, so a refused choice has its previous value to go back to.
  const EditorValues& values() const { return values_; }
  EditorValues& values() { return values_; }
  // The target the panel shows.
  int target() const { return target_; }

  PanelChange choose_target_format(int format, const EditorEnvironment& environment,
                                   cJSON* editing_channel);
  PanelChange choose_video_encoding(int encoding, const EditorEnvironment& environment,
                                    cJSON* editing_channel);
  PanelChange choose_audio_encoding(int encoding, const EditorEnvironment& environment,
                                    cJSON* editing_channel);
  PanelChange choose_frame_size(int frame_size, cJSON* editing_channel);
  PanelChange set_cbr(bool on);

 private:
  PanelChange taken(PanelChange change);

  EditorValues values_;
  int target_ = 0;
  std::vector<std::string> other_stream_names_;
};

}  // namespace vx
