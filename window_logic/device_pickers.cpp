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

constexpr std::string_view kVideoPart = "video=\"";
constexpr std::string_view kAudioPart = "audio=\"";

// The query flags, in the order the device text lists them.
struct DeviceFlag {
  const char* key;
  bool CaptureDeviceText::*field;
};
constexpr DeviceFlag kDeviceFlags[] = {
    {"show_video_crossbar_connection_dialog", &CaptureDeviceText::video_crossbar_dialog},
    {"show_analog_tv_tuner_dialog", &CaptureDeviceText::video_tuner_dialog},
    {"show_audio_crossbar_connection_dialog", &CaptureDeviceText::audio_crossbar_dialog},
    {"show_analog_tv_tuner_audio_dialog", &CaptureDeviceText::audio_tuner_dialog},
};

std::string numbered_label(const std::string& name, int number) {
  std::string label = name;
  if (number > 0) append_format(label, " #%d", number);
  return label;
}

bool label_taken(const std::vector<CaptureDeviceEntry>& entries, std::string_view label) {
  return std::any_of(entries.begin(), entries.end(),
                     [&](const CaptureDeviceEntry& entry) { return entry.label == label; });
}

// `text` starts with part ("video=\"") and a quoted name: the name, and text moves past it.
std::optional<std::string> take_quoted_name(std::string_view& text, std::string_view part) {
  if (text.substr(0, part.size()) != part) return std::nullopt;
  const std::size_t close = text.find('"', part.size());
  if (close == std::string_view::npos) return std::nullopt;
  std::string name(text.substr(part.size(), close - part.size()));
  text.remove_prefix(close + 1);
  return name;
}

bool all_digits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "1280x720": both numbers, else nothing (as "%dx%d" reads them).
void read_size(std::string_view value, CaptureDeviceText& text) {
  const std::size_t x = value.find('x');
  if (x == std::string_view::npos) return;
  const std::string width(value.substr(0, x));
  const std::string height(value.substr(x + 1));
  const std::size_t width_digits = width.find_first_not_of("0123456789");
  const std::size_t height_digits = height.find_first_not_of("0123456789");
  if (width_digits == 0 || height_digits == 0 || width.empty() || height.empty()) return;
  text.width = std::to_string(config_int_from_text(width));
  text.height = std::to_string(config_int_from_text(height));
}

void read_option(std::string_view option, CaptureDeviceText& text) {
  const std::size_t equals = option.find('=');
  const std::string_view key = option.substr(0, equals);
  const std::string_view value =
      equals == std::string_view::npos ? std::string_view() : option.substr(equals + 1);
  if (key == "video_device_number" && all_digits(value)) {
    text.video_number = config_int_from_text(value);
  } else if (key == "audio_device_number" && all_digits(value)) {
    text.audio_number = config_int_from_text(value);
  } else if (key == "s") {
    read_size(value, text);
  } else if (auto flag = std::find_if(std::begin(kDeviceFlags), std::end(kDeviceFlags),
                                      [&](const DeviceFlag& f) { return key == f.key; });
             flag != std::end(kDeviceFlags)) {
    text.*(flag->field) = value == "true";
  } else if (!option.empty()) {
    text.other_options.emplace_back(option);
  }
}

// A name goes between double quotes, and the text's options start at its first "?".
bool name_fits_device_text(std::string_view name) {
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return c == '"' || c == '?' || ascii_is_control(c); });
}

EditRefusal device_refusal(std::string text, const char* focus) {
  return {{kCaptureDeviceDialogTitle, std::move(text), MessageIcon::error}, focus};
}

std::optional<EditRefusal> size_refusal(const CaptureDeviceText& choices) {
  if (choices.width.empty() && choices.height.empty()) return std::nullopt;
  const bool positive = all_digits(choices.width) && all_digits(choices.height) &&
                        config_int_from_text(choices.width) > 0 &&
                        config_int_from_text(choices.height) > 0;
  if (positive) return std::nullopt;
  return device_refusal("Error: Capture size invalid! Enter both width and height, or neither.",
                        kCaptureWidthControl);
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

std::optional<CaptureDeviceText> read_capture_device_text(std::string_view text) {
  CaptureDeviceText read;
  std::string_view rest = text.substr(0, text.find('?'));
  if (auto video = take_quoted_name(rest, kVideoPart)) {
    read.video = std::move(*video);
    if (!rest.empty() && rest.front() == ':') rest.remove_prefix(1);
  }
  if (auto audio = take_quoted_name(rest, kAudioPart)) read.audio = std::move(*audio);
  if (!rest.empty()) return std::nullopt;
  if (const std::size_t query = text.find('?'); query != std::string_view::npos) {
    std::string_view options = text.substr(query + 1);
    while (!options.empty()) {
      const std::size_t amp = options.find('&');
      read_option(options.substr(0, amp), read);
      options = amp == std::string_view::npos ? std::string_view() : options.substr(amp + 1);
    }
  }
  return read;
}

std::variant<std::string, EditRefusal> capture_device_text(const CaptureDeviceText& choices) {
  if (!name_fits_device_text(choices.video)) {
    return device_refusal("Error: The video device name \"" + choices.video +
                              "\" cannot be written into a source address.",
                          kCaptureVideoControl);
  }
  if (!name_fits_device_text(choices.audio)) {
    return device_refusal("Error: The audio device name \"" + choices.audio +
                              "\" cannot be written into a source address.",
                          kCaptureAudioControl);
  }
  if (auto refusal = size_refusal(choices)) return *refusal;
  std::string text;
  if (!choices.video.empty()) text.append(kVideoPart).append(choices.video).push_back('"');
  if (!choices.video.empty() && !choices.audio.empty()) text.push_back(':');
  if (!choices.audio.empty()) text.append(kAudioPart).append(choices.audio).push_back('"');
  std::string options;
  if (!choices.video.empty() && choices.video_number > 0) {
    append_format(options, "video_device_number=%d&", choices.video_number);
  }
  if (!choices.audio.empty() && choices.audio_number > 0) {
    append_format(options, "audio_device_number=%d&", choices.audio_number);
  }
  if (!choices.width.empty()) options += "s=" + choices.width + "x" + choices.height + "&";
  for (const DeviceFlag& flag : kDeviceFlags) {
    if (choices.*(flag.field)) options.append(flag.key).append("=true&");
  }
  for (const std::string& option : choices.other_options)
    options.append(option).push_back('&');
  if (!options.empty()) {
    options.pop_back();
    text += "?" + options;
  }
  return text;
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

std::string decklink_mode_line(const DeckLinkDisplayMode& mode) {
  std::string line;
  append_format(line, "%dx%d%s @ %d/%d fps", mode.width, mode.height,
                mode.interlaced != 0 ? "i" : "p", mode.frame_rate_numerator,
                mode.frame_rate_denominator);
  return line;
}

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
