#include "window_logic/device_pickers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "settings/global_settings.h"
#include "tests/devices/fake_ndi_control.h"

namespace vx {
namespace {

std::vector<std::string> labels(const std::vector<CaptureDeviceEntry>& entries) {
  std::vector<std::string> texts;
  for (const CaptureDeviceEntry& entry : entries)
    texts.push_back(entry.label);
  return texts;
}

template <typename Choice>
const Choice& chosen(const PickerAnswer<Choice>& answer) {
  if (!std::holds_alternative<Choice>(answer)) throw std::runtime_error("no choice given");
  return std::get<Choice>(answer);
}

const std::vector<CaptureDevice> kCameras = {{"USB Camera", "/dev/video0"},
                                             {"Cam #1", "/dev/video2"},
                                             {"USB Camera", "/dev/video4"},
                                             {"Cam", "/dev/video6"},
                                             {"Cam", "/dev/video8"}};
const std::vector<CaptureDevice> kMicrophones = {{"Mic", "plughw:1,0"}, {"Line", "plughw:2,0"}};

TEST(CaptureDevicePicker, RepeatedNamesAreNumberedAndTheTextCarriesTheirPosition) {
  CaptureDevicePicker picker(kCameras, kMicrophones, "");
  EXPECT_EQ(
      labels(picker.video_entries()),
      (std::vector<std::string>{"None", "USB Camera", "Cam #1", "USB Camera #1", "Cam", "Cam #2"}));
  EXPECT_EQ(picker.video_choice(), 1u) << "a new source is offered the first devices";
  EXPECT_EQ(picker.audio_choice(), 1u);

  struct Case {
    std::size_t video, audio;
    const char *width, *height;
    bool crossbar;
    const char* text;
  };
  const Case cases[] = {
      {3, 1, "1280", "720", true,
       R"(video="USB Camera":audio="Mic"?video_device_number=1&s=1280x720&show_video_crossbar_connection_dialog=true)"},
      // "Cam #2" is the second device named "Cam", whatever its label says.
      {5, 0, "", "", false, R"(video="Cam"?video_device_number=1)"},
      {2, 0, "", "", false, R"(video="Cam #1")"},
      {0, 2, "", "", false, R"(audio="Line")"},
      {0, 0, "", "", false, ""},
  };
  for (const Case& c : cases) {
    picker.choose_video(c.video);
    picker.choose_audio(c.audio);
    picker.options().width = c.width;
    picker.options().height = c.height;
    picker.options().video_crossbar_dialog = c.crossbar;
    const std::string text = chosen(picker.accept());
    EXPECT_EQ(text, c.text);
    // Reopened, the same entries are chosen and OK gives the same text: nothing is added.
    if (text.empty()) continue;
    CaptureDevicePicker reopened(kCameras, kMicrophones, text);
    EXPECT_EQ(reopened.video_choice(), c.video) << text;
    EXPECT_EQ(reopened.audio_choice(), c.audio) << text;
    EXPECT_EQ(chosen(reopened.accept()), text);
  }
}

TEST(CaptureDevicePicker, ReopenedTextsKeepWhatTheyNameAndRefuseWhatCannotBeWritten) {
  struct Case {
    const char *url, *video_label, *audio_label, *text;
  };
  const Case cases[] = {
      {R"(video="Gone"?video_device_number=2)", "Gone #2 (not connected)", "None",
       R"(video="Gone"?video_device_number=2)"},
      {R"(audio="Mic"?rtbufsize=100M&s=640x480&show_analog_tv_tuner_audio_dialog=true)", "None",
       "Mic", R"(audio="Mic"?s=640x480&show_analog_tv_tuner_audio_dialog=true&rtbufsize=100M)"},
      // Not a device text: offered afresh.
      {R"(video="A "B"")", "USB Camera", "Mic", R"(video="USB Camera":audio="Mic")"},
  };
  for (const Case& c : cases) {
    CaptureDevicePicker picker(kCameras, kMicrophones, c.url);
    EXPECT_EQ(picker.video_entries()[picker.video_choice()].label, c.video_label) << c.url;
    EXPECT_EQ(picker.audio_entries()[picker.audio_choice()].label, c.audio_label) << c.url;
    EXPECT_EQ(chosen(picker.accept()), c.text);
  }

  struct Refusal {
    std::string video, audio;
    const char *width, *height, *focus;
  };
  const Refusal refusals[] = {
      {"USB Camera", "Mic", "1280", "", kCaptureWidthControl},
      {"Cam \"4K\"", "Mic", "", "", kCaptureVideoControl},
      {"USB Camera", "Mic\n", "", "", kCaptureAudioControl},
  };
  for (const Refusal& r : refusals) {
    CaptureDevicePicker picker({{r.video, "/dev/video0"}}, {{r.audio, "plughw:1,0"}}, "");
    picker.options().width = r.width;
    picker.options().height = r.height;
    const auto answer = picker.accept();
    ASSERT_TRUE(std::holds_alternative<EditRefusal>(answer)) << r.focus;
    EXPECT_EQ(std::get<EditRefusal>(answer).focus, r.focus);
    EXPECT_EQ(std::get<EditRefusal>(answer).message.title, kCaptureDeviceDialogTitle);
  }
}

TEST(DeckLinkPicker, ListsRefusalsAndAnEmptyListThatIndexesNothing) {
  const DeckLinkDisplayMode hp50{0x48703530, 1920, 1080, 50, 1, 0};
  const DeckLinkDisplayMode ntsc{0x6e747363, 720, 486, 30000, 1001, 1};
  const DeckLinkDeviceList cards = {{"DeckLink Duo (1)", {hp50, ntsc}}, {"DeckLink Mini", {}}};

  DeckLinkPicker none({}, DeckLinkDirection::capture);
  EXPECT_EQ(none.device_lines(), std::vector<std::string>{kNoDeckLinkDevices});
  none.choose_device(0);
  none.choose_format(0);
  EXPECT_FALSE(none.device());
  EXPECT_TRUE(none.format_lines().empty());
  EXPECT_TRUE(std::holds_alternative<PickerCancelled>(none.select()));

  struct Case {
    DeckLinkDirection direction;
    std::size_t device;
    std::optional<std::size_t> format;
    const char* refusal;  // "" when chosen
    bool with_mode;
  };
  const Case cases[] = {
      {DeckLinkDirection::capture, 0, 1, "", true},
      {DeckLinkDirection::capture, 0, std::nullopt, "", false},
      {DeckLinkDirection::capture, 0, 7, "", false},
      {DeckLinkDirection::playback, 0, std::nullopt, "No device format selected!", false},
      {DeckLinkDirection::capture, 1, std::nullopt, "No valid device format found!", false},
      {DeckLinkDirection::capture, 5, 0, "", true},  // no such card: the first stays chosen
  };
  for (const Case& c : cases) {
    DeckLinkPicker picker(cards, c.direction);
    EXPECT_EQ(picker.device(), 0u);
    picker.choose_device(c.device);
    picker.choose_format(c.format);
    const auto answer = picker.select();
    if (*c.refusal != '\0') {
      ASSERT_TRUE(std::holds_alternative<EditRefusal>(answer)) << c.refusal;
      EXPECT_EQ(std::get<EditRefusal>(answer).message.text, c.refusal);
      EXPECT_EQ(std::get<EditRefusal>(answer).message.title, "DeckLink Device Error");
      continue;
    }
    EXPECT_EQ(chosen(answer).name, "DeckLink Duo (1)");
    EXPECT_EQ(chosen(answer).mode.has_value(), c.with_mode);
  }
  DeckLinkPicker picker(cards, DeckLinkDirection::capture);
  EXPECT_EQ(picker.format_lines(),
            (std::vector<std::string>{"1920x1080p @ 50/1 fps", "720x486i @ 30000/1001 fps"}));
}

class NdiPickerTest : public ::testing::Test {
 protected:
  // Polls as the window's timer does; false when the search never ends.
  static bool poll_until_done(NdiPicker& picker) {
    for (int i = 0; i < 1000; ++i) {
      if (picker.poll()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  FakeNdi fake_{VX_FAKE_NDI};
};

TEST_F(NdiPickerTest, FoundSourcesAndAnEmptyList) {
  struct Case {
    std::vector<unsigned> rounds;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {{2}, {"Fake Source 1 (192.0.2.1:5961)", "Fake Source 2 (192.0.2.2:5961)"}},
      {{}, {kNoNdiSources}},
  };
  for (const Case& c : cases) {
    fake_.reset();
    fake_.set_rounds(c.rounds);
    NdiPicker picker(VX_FAKE_NDI);
    picker.timeout_text = "3";
    picker.search();
    ASSERT_TRUE(poll_until_done(picker));
    EXPECT_FALSE(picker.searching());
    EXPECT_EQ(picker.source_lines(), c.lines);
    const auto answer = picker.select();
    if (c.lines.size() == 1) {
      EXPECT_TRUE(std::holds_alternative<PickerCancelled>(answer)) << "Select acts as Cancel";
      picker.choose_source(0);
      EXPECT_FALSE(picker.source());
      continue;
    }
    EXPECT_EQ(chosen(answer).name, "Fake Source 1");
    EXPECT_EQ(chosen(answer).timeout_seconds, 3);
    picker.choose_source(1);
    EXPECT_EQ(chosen(picker.select()).name, "Fake Source 2");
    picker.choose_source(std::nullopt);
    const auto refusal = picker.select();
    ASSERT_TRUE(std::holds_alternative<EditRefusal>(refusal));
    EXPECT_EQ(std::get<EditRefusal>(refusal).message.title, "No Source");
    EXPECT_EQ(std::get<EditRefusal>(refusal).message.text,
              "No NDI source selected. Please choose one source above.");
  }
}

TEST_F(NdiPickerTest, TheSearchRunsOffTheCallersThreadAndEndsWithThePicker) {
  fake_.set_rounds({1, 2, 3, 4, 5, 6, 7, 8});
  fake_.set_pause(200);
  {
    NdiPicker picker(VX_FAKE_NDI);
    picker.timeout_text = "3600";
    picker.search();  // returns while the library waits
    EXPECT_TRUE(picker.searching());
    EXPECT_TRUE(picker.source_lines().empty());
    EXPECT_TRUE(std::holds_alternative<PickerCancelled>(picker.select()));
    for (int i = 0; i < 500 && !fake_.waiting(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(fake_.waiting());
    EXPECT_FALSE(picker.poll());
    picker.search();  // "Search Again" cuts the first search short
    EXPECT_TRUE(picker.searching());
  }  // closing the picker cuts the hour-long search short and joins its thread
  EXPECT_EQ(fake_.stats().live_runtimes, 0);
  EXPECT_EQ(fake_.stats().live_finders, 0);
}

TEST(PathDialogs, AllFilesShowFilesWithoutAnExtension) {
  std::vector<std::vector<std::string>> filter_lists = {
      source_file_dialog().filters, global_file_dialog(GlobalFileBox::alternate_input).filters,
      global_file_dialog(GlobalFileBox::cookies).filters, config_export_dialog().filters,
      config_import_dialog().filters};
  int save_dialogs = 0;
  for (std::size_t entry = 0; entry < kTargetFormatChoices.size(); ++entry) {
    if (const auto dialog = target_file_dialog(static_cast<TargetFormatEntry>(entry))) {
      filter_lists.push_back(dialog->filters);
      EXPECT_TRUE(dialog->confirm_overwrite);
      ++save_dialogs;
    }
  }
  EXPECT_EQ(save_dialogs, 3) << "HLS, DASH and local files";
  for (const std::vector<std::string>& filters : filter_lists) {
    ASSERT_FALSE(filters.empty());
    EXPECT_EQ(filters.back(), "All Files (*)");
    for (const std::string& filter : filters)
      EXPECT_EQ(filter.find("*.*"), std::string::npos);
  }
}

}  // namespace
}  // namespace vx
