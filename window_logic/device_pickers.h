// What the source pickers behind the browse button show and give back, without any toolkit: the
// capture device dialog (its entry lists and the device text it builds and reads), the DeckLink
// card picker, the NDI source picker with its search running off the window's thread, and the
// open-file and folder dialogs' texts. The window draws these records and forwards input.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "devices/decklink.h"
#include "devices/ndi.h"
#include "settings/choice_tables.h"
#include "settings/path_dialogs.h"
#include "settings/capture_device_text.h"
#include "window_logic/editor_parts.h"
#include "platform/capture_devices.h"

namespace vx {

// "Select" (or OK) gives a choice, a refusal (the picker stays open) or nothing at all: the
// picker then closes as if cancelled and the caller changes nothing.
struct PickerCancelled {};
template <typename Choice>
using PickerAnswer = std::variant<Choice, EditRefusal, PickerCancelled>;

// ---------------------------------------------------------------------------------------------
// Capture devices ("Capture Device Config").

inline constexpr const char* kNoCaptureDevice = "None";

// One line of a device list. Several devices may share a name: the later ones are shown with
// " #N" and keep their name and their position among the devices of that name (`number`, from
// 0), which is what the device text carries.
struct CaptureDeviceEntry {
  std::string label;
  std::string name;     // "" for "None"
  int number = 0;       // 0-based among the devices with this name
  bool present = true;  // false: named by the source but not connected now
};

// "None" first, then the devices in order; a repeated name gets the first free "%s #%d" label,
// counting from 1.
std::vector<CaptureDeviceEntry> capture_device_entries(const std::vector<CaptureDevice>& devices);

// The dialog's state: its two entry lists with their choices, the size boxes and the ticks.
class CaptureDevicePicker {
 public:
  // Opened on the source's current "url". A text naming devices selects exactly those ("None"
  // for a part it does not name; a named device not connected now is listed so it is kept); an
  // empty text offers the first device of each list.
  CaptureDevicePicker(const std::vector<CaptureDevice>& video,
                      const std::vector<CaptureDevice>& audio, std::string_view url);
  // The same on this machine's V4L2 and ALSA devices.
  static CaptureDevicePicker on_this_machine(std::string_view url);

  const std::vector<CaptureDeviceEntry>& video_entries() const { return video_entries_; }
  const std::vector<CaptureDeviceEntry>& audio_entries() const { return audio_entries_; }
  std::size_t video_choice() const { return video_choice_; }
  std::size_t audio_choice() const { return audio_choice_; }
  // A position outside the list is ignored.
  void choose_video(std::size_t entry);
  void choose_audio(std::size_t entry);

  // Boxes and ticks, edited in place by the window.
  CaptureDeviceText& options() { return options_; }
  const CaptureDeviceText& options() const { return options_; }

  // OK: the device text for the source's address, or why it cannot be made.
  PickerAnswer<std::string> accept() const;

 private:
  std::vector<CaptureDeviceEntry> video_entries_;
  std::vector<CaptureDeviceEntry> audio_entries_;
  std::size_t video_choice_ = 0;
  std::size_t audio_choice_ = 0;
  CaptureDeviceText options_;  // names and numbers unused: the choices hold them
};

// ---------------------------------------------------------------------------------------------
// DeckLink cards ("DeckLink Card Config").

inline constexpr const char* kDeckLinkDialogTitle = "DeckLink Card Config";
inline constexpr const char* kNoDeckLinkDevices = "No DeckLink devices found";
inline constexpr const char* kDeckLinkTip =
    "<Tip> To output to DeckLink playback card, make sure the output video frame size and frame "
    "rate matches format listed above.";
inline constexpr const char* kDeckLinkFormatsControl = "formats";


struct DeckLinkChoice {
  std::string name;
  std::optional<DeckLinkDisplayMode> mode;
};

class DeckLinkPicker {
 public:
  // `direction` is the use: capture for a source, playback for a target.
  DeckLinkPicker(DeckLinkDeviceList devices, DeckLinkDirection direction);
  // The cards of this machine for that use.
  static DeckLinkPicker on_this_machine(DeckLinkDirection direction);

  // "Decklink Devices": the card names, or the single line kNoDeckLinkDevices.
  std::vector<std::string> device_lines() const;
  // The chosen card (the first when there is one); nullopt with no cards.
  std::optional<std::size_t> device() const { return device_; }
  // A position outside the list is ignored; choosing a card clears the chosen format.
  void choose_device(std::size_t position);

  // "Device Formats": the chosen card's modes.
  std::vector<std::string> format_lines() const;
  std::optional<std::size_t> format() const { return format_; }
  // nullopt (or a position outside the list) chooses none.
  void choose_format(std::optional<std::size_t> position);

  // "Select".
  PickerAnswer<DeckLinkChoice> select() const;

 private:
  DeckLinkDeviceList devices_;
  DeckLinkDirection direction_;
  std::optional<std::size_t> device_;
  std::optional<std::size_t> format_;
};

// ---------------------------------------------------------------------------------------------
// NDI sources ("NewTek NDI Config").

inline constexpr const char* kNdiDialogTitle = "NewTek NDI Config";
inline constexpr const char* kNoNdiSources = "No NDI sources found";
inline constexpr const char* kNdiSearching = "Searching...";
inline constexpr const char* kNdiNote =
    "NDI sources could take long time to be found. Try bigger timeout if no result.";
inline constexpr const char* kNdiSourcesControl = "sources";
inline constexpr int kNdiPickerTimeoutSeconds = 1;
// The first search starts this long after the picker opens.
inline constexpr int kNdiFirstSearchDelayMs = 100;

// One search on a thread of its own, so the window keeps ticking while it waits. Poll
// finished(), then take() the sources. Destroying it cuts the search short and joins the thread.
class NdiSearch {
 public:
  // library: the NDI runtime to load instead of the usual one (tests).
  explicit NdiSearch(int timeout_seconds, std::string library = {});
  NdiSearch(const NdiSearch&) = delete;
  NdiSearch& operator=(const NdiSearch&) = delete;
  ~NdiSearch();

  bool finished() const { return finished_.load(std::memory_order_acquire); }
  // The sources found, once finished (empty when the runtime could not search); nullopt before.
  std::optional<NdiSourceList> take();

 private:
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> finished_{false};
  NdiSourceList found_;  // written by the search thread before finished_ turns true
  std::thread thread_;   // last: started once the members it uses exist
};

struct NdiChoice {
  std::string name;
  int timeout_seconds = kNdiPickerTimeoutSeconds;
};

class NdiPicker {
 public:
  // library as for NdiSearch.
  explicit NdiPicker(std::string library = {});

  // "Search Timeout", as typed; read as the web's "timeout=" value is.
  std::string timeout_text = std::to_string(kNdiPickerTimeoutSeconds);
  int timeout_seconds() const;

  // "Search Again" (and the first search): empties the list and starts a search; a search under
  // way is cut short first.
  void search();
  bool searching() const { return search_ != nullptr; }
  // From the window's timer: true when a search has just ended and the lines changed.
  bool poll();

  // "NDI Sources": "%s (%s)" per source, kNoNdiSources after a search without any, nothing
  // while searching (the window shows kNdiSearching).
  std::vector<std::string> source_lines() const;
  std::optional<std::size_t> source() const { return source_; }
  // nullopt (or a position outside the list) chooses none.
  void choose_source(std::optional<std::size_t> position);

  // "Select". With no sources listed (or a search under way) it acts as Cancel.
  PickerAnswer<NdiChoice> select() const;

 private:
  std::string library_;
  std::unique_ptr<NdiSearch> search_;
  bool searched_ = false;
  NdiSourceList sources_;
  std::optional<std::size_t> source_;
};

// ---------------------------------------------------------------------------------------------
// Files and folders.

PathDialog source_file_dialog();
PathDialog source_folder_dialog();

// The save dialog behind a target's "...". None for the formats that write no file of their own
// choosing (DeckLink playback opens its picker instead).
std::optional<SaveDialog> target_file_dialog(TargetFormatEntry format);

}  // namespace vx
