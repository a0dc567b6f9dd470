#include "window_logic/device_pickers.h"

#include <algorithm>
#include <utility>

#include "config/document.h"
#include "vocabulary/ascii.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

// ---------------------------------------------------------------------------------------------
// Capture devices.

std::string numbered_label(const std::string& name, int number) {
  std::string label = name;
  if (number > 0) append_format(label, " #%d", number);
  return label;
}

bool label_taken(const std::vector<CaptureDeviceEntry>& entries, std::string_view label) {
  return std::any_of(entries.begin(), entries.end(),
                     [&](const CaptureDeviceEntry& entry) { return entry.label == label; });
}

std::size_t entry_of(std::vector<CaptureDeviceEntry>& entries, const std::string& name,
                     int number) {
  if (name.empty()) return 0;
  for (std::size_t i = 1; i < entries.size(); ++i) {
    if (entries[i].name == name && entries[i].number == number) return i;
  }
  // Not connected now: listed under its own name, so OK keeps it.
  entries.push_back({numbered_label(name, number) + " (not connected)", name, number, false});
  return entries.size() - 1;
}

// ---------------------------------------------------------------------------------------------
// NDI.

std::string ndi_source_line(const NdiSource& source) {
  return source.name + " (" + source.address + ")";
}

}  // namespace

std::vector<CaptureDeviceEntry> capture_device_entries(const std::vector<CaptureDevice>& devices) {
  std::vector<CaptureDeviceEntry> entries = {{kNoCaptureDevice, "", 0, true}};
  for (const CaptureDevice& device : devices) {
    const int number = static_cast<int>(
        std::count_if(entries.begin(), entries.end(),
                      [&](const CaptureDeviceEntry& e) { return e.name == device.name; }));
    std::string label = device.name;
    for (int suffix = 1; label_taken(entries, label); ++suffix) {
      label = numbered_label(device.name, suffix);
    }
    entries.push_back({std::move(label), device.name, number, true});
  }
  return entries;
}

CaptureDevicePicker::CaptureDevicePicker(const std::vector<CaptureDevice>& video,
                                         const std::vector<CaptureDevice>& audio,
                                         std::string_view url)
    : video_entries_(capture_device_entries(video)), audio_entries_(capture_device_entries(audio)) {
  // Text that is no device text (typed by hand under another type) is offered afresh.
  options_ = read_capture_device_text(url).value_or(CaptureDeviceText{});
  if (options_.video.empty() && options_.audio.empty()) {
    video_choice_ = video_entries_.size() > 1 ? 1 : 0;
    audio_choice_ = audio_entries_.size() > 1 ? 1 : 0;
  } else {
    video_choice_ = entry_of(video_entries_, options_.video, options_.video_number);
    audio_choice_ = entry_of(audio_entries_, options_.audio, options_.audio_number);
  }
}

CaptureDevicePicker CaptureDevicePicker::on_this_machine(std::string_view url) {
  return CaptureDevicePicker(list_video_capture_devices(), list_audio_capture_devices(), url);
}

void CaptureDevicePicker::choose_video(std::size_t entry) {
  if (entry < video_entries_.size()) video_choice_ = entry;
}

void CaptureDevicePicker::choose_audio(std::size_t entry) {
  if (entry < audio_entries_.size()) audio_choice_ = entry;
}

PickerAnswer<std::string> CaptureDevicePicker::accept() const {
  CaptureDeviceText choices = options_;
  const CaptureDeviceEntry& video = video_entries_[video_choice_];
  const CaptureDeviceEntry& audio = audio_entries_[audio_choice_];
  choices.video = video.name;
  choices.video_number = video.number;
  choices.audio = audio.name;
  choices.audio_number = audio.number;
  auto text = capture_device_text(choices);
  if (auto* refusal = std::get_if<EditRefusal>(&text)) return std::move(*refusal);
  return std::get<std::string>(std::move(text));
}

// ---------------------------------------------------------------------------------------------

DeckLinkPicker::DeckLinkPicker(DeckLinkDeviceList devices, DeckLinkDirection direction)
    : devices_(std::move(devices)), direction_(direction) {
  if (!devices_.empty()) device_ = 0;
}

DeckLinkPicker DeckLinkPicker::on_this_machine(DeckLinkDirection direction) {
  DeckLinkDeviceList devices;
  enumerate_decklink(direction == DeckLinkDirection::playback, devices);
  return DeckLinkPicker(std::move(devices), direction);
}

std::vector<std::string> DeckLinkPicker::device_lines() const {
  if (devices_.empty()) return {kNoDeckLinkDevices};
  std::vector<std::string> lines;
  for (const DeckLinkDevice& device : devices_)
    lines.push_back(device.name);
  return lines;
}

void DeckLinkPicker::choose_device(std::size_t position) {
  if (position >= devices_.size()) return;
  device_ = position;
  format_.reset();
}

std::vector<std::string> DeckLinkPicker::format_lines() const {
  std::vector<std::string> lines;
  if (!device_) return lines;
  for (const DeckLinkDisplayMode& mode : devices_[*device_].modes) {
    lines.push_back(decklink_mode_line(mode));
  }
  return lines;
}

void DeckLinkPicker::choose_format(std::optional<std::size_t> position) {
  const bool listed = device_ && position && *position < devices_[*device_].modes.size();
  format_ = listed ? position : std::nullopt;
}

PickerAnswer<DeckLinkChoice> DeckLinkPicker::select() const {
  if (!device_) return PickerCancelled{};
  const DeckLinkDevice& device = devices_[*device_];
  const auto refusal = [](const char* text) {
    return EditRefusal{{"DeckLink Device Error", text, MessageIcon::error},
                       kDeckLinkFormatsControl};
  };
  if (device.modes.empty()) return refusal("No valid device format found!");
  if (format_) return DeckLinkChoice{device.name, device.modes[*format_]};
  if (direction_ == DeckLinkDirection::playback) return refusal("No device format selected!");
  return DeckLinkChoice{device.name, std::nullopt};
}

// ---------------------------------------------------------------------------------------------

NdiSearch::NdiSearch(int timeout_seconds, std::string library)
    : thread_([this, timeout_seconds, library = std::move(library)] {
        discover_ndi(found_, timeout_seconds, library, &cancelled_);
        finished_.store(true, std::memory_order_release);
      }) {}

NdiSearch::~NdiSearch() {
  cancelled_.store(true);
  thread_.join();
}

std::optional<NdiSourceList> NdiSearch::take() {
  if (!finished()) return std::nullopt;
  return std::move(found_);
}

NdiPicker::NdiPicker(std::string library) : library_(std::move(library)) {}

int NdiPicker::timeout_seconds() const {
  return ndi_timeout_from_query(timeout_text.c_str());
}

void NdiPicker::search() {
  search_.reset();
  sources_.clear();
  source_.reset();
  searched_ = false;
  search_ = std::make_unique<NdiSearch>(timeout_seconds(), library_);
}

bool NdiPicker::poll() {
  if (!search_ || !search_->finished()) return false;
  sources_ = search_->take().value_or(NdiSourceList{});
  search_.reset();
  searched_ = true;
  if (!sources_.empty()) source_ = 0;
  return true;
}

std::vector<std::string> NdiPicker::source_lines() const {
  if (searching() || !searched_) return {};
  if (sources_.empty()) return {kNoNdiSources};
  std::vector<std::string> lines;
  for (const NdiSource& source : sources_)
    lines.push_back(ndi_source_line(source));
  return lines;
}

void NdiPicker::choose_source(std::optional<std::size_t> position) {
  source_ = position && *position < sources_.size() ? position : std::nullopt;
}

PickerAnswer<NdiChoice> NdiPicker::select() const {
  if (searching() || sources_.empty()) return PickerCancelled{};
  if (!source_) {
    return EditRefusal{{"No Source", "No NDI source selected. Please choose one source above.",
                        MessageIcon::error},
                       kNdiSourcesControl};
  }
  return NdiChoice{sources_[*source_].name, timeout_seconds()};
}

// ---------------------------------------------------------------------------------------------

PathDialog source_file_dialog() {
  return {"Select Media Source File to Stream...", {"All Files (*)"}, true};
}

PathDialog source_folder_dialog() {
  return {"Select Media Source Folder to Stream...", {}, true};
}

std::optional<SaveDialog> target_file_dialog(TargetFormatEntry format) {
  constexpr const char* kTitle = "Select Media File to Output...";
  switch (format) {
    case TargetFormatEntry::hls:
      return SaveDialog{kTitle, {"Playlist Files (*.m3u *.m3u8)", "All Files (*)"}, "m3u8"};
    case TargetFormatEntry::dash:
      return SaveDialog{kTitle, {"DASH Files (*.mpd)", "All Files (*)"}, "mpd"};
    case TargetFormatEntry::local_file:
      return SaveDialog{kTitle, {"MP4/MOV/MKV Files (*.mp4 *.mov *.mkv)", "All Files (*)"}, "mov"};
    default:
      return std::nullopt;
  }
}

}  // namespace vx
