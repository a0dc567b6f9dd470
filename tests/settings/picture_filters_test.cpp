// The picture filter tabs: the texts they build, what they read back from texts of every shape,
// and their load and save over the channel's input "filters".
#include "settings/picture_filters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/json.h"
#include "settings/json_fields.h"

namespace vx {
namespace {

CropPadFilter crop_pad(std::int32_t mode, std::int32_t left, std::int32_t top, std::int32_t right,
                       std::int32_t bottom) {
  return {true, mode, left, top, right, bottom};
}

TEST(CropPadFilter, BuildsCropOrPadOnlyWhenSomethingIsCut) {
  struct Case {
    CropPadFilter tab;
    std::optional<std::string> filter;
  };
  const Case cases[] = {
      {crop_pad(CropPadFilter::kCrop, 8, 4, 8, 0), "crop=iw-16:ih-4:8:4"},
      {crop_pad(CropPadFilter::kPad, 8, 4, 8, 0), "pad=iw+16:ih+4:8:4"},
      {crop_pad(CropPadFilter::kCrop, 0, 0, 0, 2), "crop=iw-0:ih-2:0:0"},
      {crop_pad(CropPadFilter::kCrop, 0, 0, 0, 0), std::nullopt},
      {CropPadFilter{false, 0, 8, 4, 8, 0}, std::nullopt},
      {crop_pad(CropPadFilter::kPad, 2147483647, 0, 1, 0), "pad=iw+2147483648:ih+0:2147483647:0"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(build_filter(c.tab), c.filter) << c.filter.value_or("-");
}

TEST(CropPadFilter, ReadsItsPatternWithScanfRules) {
  struct Case {
    const char* entry;
    std::int32_t mode, left, top, right, bottom;
  };
  // Every case starts from a tab holding left 3, top 2 (and pad), to show what is kept.
  const Case cases[] = {
      {"crop=iw-16:ih-4:8:4", CropPadFilter::kCrop, 8, 4, 8, 0},
      {"pad=iw+10:ih+20:5:5", CropPadFilter::kPad, 5, 5, 5, 15},
      {"[in]crop=iw-16:ih-4:8:4,scale=1280:720", CropPadFilter::kCrop, 8, 4, 8, 0},
      {"crop=iw- 16:ih-+4:\t8:-4", CropPadFilter::kCrop, 8, -4, 8, 8},  // %d skips blanks
      {"crop=iw--16:ih-4:8:4", CropPadFilter::kCrop, 8, 4, -24, 0},
      {"crop=iw-16:ih-4", CropPadFilter::kCrop, 3, 2, 13, 2},  // left, top kept
      {"crop=iw-16:ih-4:8", CropPadFilter::kCrop, 8, 2, 8, 2},
      {"crop= iw-16:ih-4:8:4", CropPadFilter::kCrop, 3, 2, -3, -2},  // a literal skips nothing
      {"crop=640:360:0:0", CropPadFilter::kCrop, 3, 2, -3, -2},
      {"crop=iw+16:ih+4:8:4", CropPadFilter::kCrop, 3, 2, -3, -2},
      {"pad=iw-16:ih-4:8:4", CropPadFilter::kPad, 3, 2, -3, -2},
      {"crop=iw-99999999999:ih-4:1:0", CropPadFilter::kCrop, 1, 0, 2147483646, 4},
      {"crop=iw-0:ih-0:-2147483648:0", CropPadFilter::kCrop, -2147483647 - 1, 0, 2147483647, 0},
  };
  for (const Case& c : cases) {
    CropPadFilter tab{false, CropPadFilter::kPad, 3, 2, 0, 0};
    EXPECT_TRUE(parse_filter(tab, c.entry)) << c.entry;
    EXPECT_TRUE(tab.enabled) << c.entry;
    EXPECT_EQ(tab.mode, c.mode) << c.entry;
    EXPECT_EQ(tab.left, c.left) << c.entry;
    EXPECT_EQ(tab.top, c.top) << c.entry;
    EXPECT_EQ(tab.right, c.right) << c.entry;
    EXPECT_EQ(tab.bottom, c.bottom) << c.entry;
  }
  // From the initial state, a crop of another form is an enabled crop of nothing.
  CropPadFilter fresh;
  EXPECT_TRUE(parse_filter(fresh, "crop=640:360:0:0"));
  EXPECT_TRUE(fresh.enabled);
  EXPECT_EQ(build_filter(fresh), std::nullopt);

  for (const char* other : {"scale=1280:720", "", "unsharp=3:3:1.0:3:3:1.0", "crop", "pa d="}) {
    CropPadFilter tab{false, CropPadFilter::kPad, 3, 2, 1, 1};
    EXPECT_FALSE(parse_filter(tab, other)) << other;
    EXPECT_FALSE(tab.enabled);
    EXPECT_EQ(tab.left, 3);
    EXPECT_EQ(tab.right, 1);
  }
}

TEST(CropPadFilter, RoundTripsThroughItsText) {
  for (std::int32_t mode : {CropPadFilter::kCrop, CropPadFilter::kPad}) {
    for (const CropPadFilter& built :
         {crop_pad(mode, 8, 4, 8, 0), crop_pad(mode, 0, 0, 1, 0), crop_pad(mode, 1920, 7, 3, 1080),
          crop_pad(mode, -5, 6, 10, -1)}) {
      CropPadFilter read;
      ASSERT_TRUE(parse_filter(read, build_filter(built).value()));
      EXPECT_EQ(build_filter(read), build_filter(built));
      EXPECT_EQ(read.right, built.right);
      EXPECT_EQ(read.bottom, built.bottom);
    }
  }
}

TEST(BlurSharpenFilter, BuildsOneMatrixAndAmountForLumaAndChroma) {
  struct Case {
    BlurSharpenFilter tab;
    std::optional<std::string> filter;
  };
  const Case cases[] = {
      {{true, BlurSharpenFilter::kBlur, 5, 10}, "unsharp=11:11:-1.0:11:11:-1.0"},
      {{true, BlurSharpenFilter::kSharpen, 1, 7}, "unsharp=3:3:0.7:3:3:0.7"},
      {{true, BlurSharpenFilter::kSharpen, 6, 15}, "unsharp=13:13:1.5:13:13:1.5"},
      {{true, BlurSharpenFilter::kBlur, 2, 0}, "unsharp=5:5:-0.0:5:5:-0.0"},
      {{false, BlurSharpenFilter::kBlur, 5, 10}, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(build_filter(c.tab), c.filter) << c.filter.value_or("-");
}

TEST(BlurSharpenFilter, TakesTheLastIntegerAndRealRead) {
  struct Case {
    const char* entry;
    std::int32_t mode, radius, strength;
  };
  const Case cases[] = {
      {"unsharp=11:11:-1.0:11:11:-1.0", BlurSharpenFilter::kBlur, 5, 10},
      {"unsharp=5:5:1.5:5:5:1.5", BlurSharpenFilter::kSharpen, 2, 15},
      {"unsharp=3:5:0.2:7:9:0.4", BlurSharpenFilter::kSharpen, 4, 4},
      {"unsharp=7:7:0.8", BlurSharpenFilter::kSharpen, 3, 8},  // stops after the first real
      {"unsharp=5", BlurSharpenFilter::kBlur, 2, 0},           // no real: 0 is a blur
      {"unsharp=5:5:abc:9:9:1.0", BlurSharpenFilter::kBlur, 2, 0},
      {"unsharp=x", BlurSharpenFilter::kBlur, 0, 0},  // (0 - 1) / 2 is 0
      {"unsharp= 9:9: .5e1:9:9:+2.", BlurSharpenFilter::kSharpen, 4, 20},
      {"unsharp=3:3:1e:3:3:2", BlurSharpenFilter::kSharpen, 1, 10},  // "e" without digits
      {"unsharp=3:3:inf:3:3:1", BlurSharpenFilter::kBlur, 1, 0},
      {"unsharp=3:3:1e999", BlurSharpenFilter::kSharpen, 1, 2147483647},
      {"unsharp=-4", BlurSharpenFilter::kBlur, -2, 0},
  };
  for (const Case& c : cases) {
    BlurSharpenFilter tab;
    tab.mode = BlurSharpenFilter::kSharpen;
    EXPECT_TRUE(parse_filter(tab, c.entry)) << c.entry;
    EXPECT_TRUE(tab.enabled) << c.entry;
    EXPECT_EQ(tab.mode, c.mode) << c.entry;
    EXPECT_EQ(tab.radius, c.radius) << c.entry;
    EXPECT_EQ(tab.strength, c.strength) << c.entry;
  }
  BlurSharpenFilter tab;
  EXPECT_FALSE(parse_filter(tab, "unsharp:5:5:1.0"));
  EXPECT_FALSE(parse_filter(tab, "crop=iw-16:ih-4:8:4"));
  EXPECT_FALSE(tab.enabled);
  EXPECT_EQ(tab.radius, 5);
}

TEST(BlurSharpenFilter, EverySliderPositionRoundTrips) {
  for (std::int32_t mode : {BlurSharpenFilter::kBlur, BlurSharpenFilter::kSharpen}) {
    for (std::int32_t radius = kBlurRadiusMin; radius <= kBlurRadiusMax; ++radius) {
      for (std::int32_t strength = kBlurStrengthMin; strength <= kBlurStrengthMax; ++strength) {
        const BlurSharpenFilter built{true, mode, radius, strength};
        BlurSharpenFilter read;
        ASSERT_TRUE(parse_filter(read, build_filter(built).value()));
        EXPECT_EQ(read.mode, mode);
        EXPECT_EQ(read.radius, radius);
        EXPECT_EQ(read.strength, strength) << build_filter(built).value();
      }
    }
  }
}

TEST(BlurSharpenFilter, TypedNumbersAreClampedToTheSliders) {
  BlurSharpenFilter tab;
  set_blur_radius(tab, 9);
  set_blur_strength(tab, 0);
  EXPECT_EQ(tab.radius, 6);
  EXPECT_EQ(tab.strength, 1);
  set_blur_radius(tab, 3);
  set_blur_strength(tab, 16);
  EXPECT_EQ(tab.radius, 3);
  EXPECT_EQ(tab.strength, 15);
}

OverlayFilter overlay(std::string file, std::string text, bool right, std::int32_t x, bool bottom,
                      std::int32_t y) {
  OverlayFilter tab;
  tab.enabled = true;
  tab.file = std::move(file);
  tab.text = std::move(text);
  tab.right_aligned = right;
  tab.horizontal_offset = x;
  tab.bottom_aligned = bottom;
  tab.vertical_offset = y;
  return tab;
}

TEST(OverlayFilter, BuildsAMovieOrADrawtextFilter) {
  OverlayFilter coloured = overlay("", "a b", false, -3, true, 0);
  coloured.font_size = 40;
  coloured.red = 0x12;
  coloured.green = 0x0a;
  coloured.blue = 0xff;
  OverlayFilter disabled = overlay("x.png", "LIVE", false, 1, false, 1);
  disabled.enabled = false;
  struct Case {
    OverlayFilter tab;
    std::optional<std::string> filter;
  };
  const Case cases[] = {
      {overlay("C:\\logo.png", "LIVE", true, 10, false, 10),
       "movie='C:\\logo.png', setpts=N/TB/FR[logo]; [0][logo]overlay=W-w-10:10"},
      {overlay("/srv/logo.png", "", false, 5, true, 7),
       "movie='/srv/logo.png', setpts=N/TB/FR[logo]; [0][logo]overlay=5:H-h-7"},
      {overlay("", "LIVE", true, 10, true, 20),
       "drawtext=text='LIVE':fontsize=16:fontcolor=#00ffff:x=w-tw-10:y=h-th-20:shadowx=1:"
       "shadowy=1"},
      {overlay("", "%timestamp", false, 10, false, 10),
       "drawtext=fontsize=16:fontcolor=#00ffff:x=10:y=10:shadowx=1:shadowy=1"},
      {overlay("", "%Timestamp", false, 0, false, 0),
       "drawtext=text='%Timestamp':fontsize=16:fontcolor=#00ffff:x=0:y=0:shadowx=1:shadowy=1"},
      {coloured,
       "drawtext=text='a b':fontsize=40:fontcolor=#120aff:x=-3:y=h-th-0:shadowx=1:"
       "shadowy=1"},
      {overlay("", "", true, 10, true, 10), std::nullopt},
      {disabled, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(build_filter(c.tab), c.filter) << c.filter.value_or("-");
}

TEST(OverlayFilter, ReadsMovieEntries) {
  struct Case {
    const char* entry;
    const char* file;
    bool right;
    std::int32_t x;
    bool bottom;
    std::int32_t y;
  };
  const Case cases[] = {
      {"movie='C:\\logo.png', setpts=N/TB/FR[logo]; [0][logo]overlay=W-w-10:10", "C:\\logo.png",
       true, 10, false, 10},
      {"movie=' a b.png ', setpts=N/TB/FR[logo]; [0][logo]overlay=5:H-h-7", "a b.png", false, 5,
       true, 7},
      {" movie='x.png', setpts=N/TB/FR[logo]; [0][logo]overlay=1:2", "", false, 1, false, 2},
      {"movie='', setpts=N/TB/FR[logo]; [0][logo]overlay=1:2", "", false, 1, false, 2},
      // %[^'] keeps what it read although the closing quote is missing; W-w- is exact.
      {"movie='x.png[logo]overlay=w-w-4:h-h-x", "x.png[logo]overlay=w-w-4:h-h-x", false, 0, false,
       0},
      {"movie='x.png', [logo]overlay=:10", "x.png", false, 0, false, 0},
      {"movie='x.png', [logo]overlay=-4: +6 trailing", "x.png", false, -4, false, 6},
      {"movie='x.png', [logo]overlay=W-w-abc:H-h-", "x.png", true, 0, true, 0},
  };
  for (const Case& c : cases) {
    OverlayFilter tab = overlay("old.png", "LIVE", true, 99, true, 99);
    tab.enabled = false;
    EXPECT_TRUE(parse_filter(tab, c.entry)) << c.entry;
    EXPECT_TRUE(tab.enabled) << c.entry;
    EXPECT_EQ(tab.file, c.file) << c.entry;
    EXPECT_EQ(tab.right_aligned, c.right) << c.entry;
    EXPECT_EQ(tab.horizontal_offset, c.x) << c.entry;
    EXPECT_EQ(tab.bottom_aligned, c.bottom) << c.entry;
    EXPECT_EQ(tab.vertical_offset, c.y) << c.entry;
    EXPECT_EQ(tab.text, "LIVE") << "a movie entry leaves the text alone";
  }
}

TEST(OverlayFilter, ReadsDrawtextEntries) {
  struct Case {
    const char* entry;
    const char* text;
    std::int32_t font_size;
    std::uint8_t red, green, blue;
    bool right;
    std::int32_t x;
    bool bottom;
    std::int32_t y;
  };
  // Every case starts from font size 20 and colour #010203.
  const Case cases[] = {
      {"drawtext=text='LIVE':fontsize=16:fontcolor=#00ffff:x=w-tw-10:y=h-th-20:shadowx=1:"
       "shadowy=1",
       "LIVE", 16, 0, 255, 255, true, 10, true, 20},
      {"drawtext=fontsize=16:fontcolor=#00ffff:x=10:y=10:shadowx=1:shadowy=1", "%timestamp", 16, 0,
       255, 255, false, 10, false, 10},
      {"drawtext=text='it's':fontsize=16:fontcolor=#00ffff:x=10:y=10", "it", 20, 1, 2, 3, false, 0,
       false, 0},
      {"drawtext=fontsize=12:fontcolor=#0x80FF4:x=W-TW-3:y=H-Th-4", "%timestamp", 12, 0x08, 0x0f,
       0xf4, true, 3, true, 4},
      {"drawtext=fontsize=12:fontcolor=#fffffffff:x=1:y=2", "%timestamp", 12, 255, 255, 255, false,
       1, false, 2},
      {"drawtext=fontsize=12:fontcolor=red:x=1:y=2", "%timestamp", 12, 1, 2, 3, false, 0, false, 0},
      {"drawtext=fontsize=big:fontcolor=#ffffff:x=1:y=2", "%timestamp", 20, 1, 2, 3, false, 0,
       false, 0},
      {"drawtext=fontsize=16:text='a'", "%timestamp", 20, 1, 2, 3, false, 0, false, 0},
      {"drawtext=text='':fontsize=16:fontcolor=#ffffff:x=1:y=2", "%timestamp", 20, 1, 2, 3, false,
       0, false, 0},
      {"[in]drawtext=text='A:B':fontsize=9:fontcolor=#000000:x=-5:y=+7:a=b", "A:B", 9, 0, 0, 0,
       false, -5, false, 7},
  };
  for (const Case& c : cases) {
    OverlayFilter tab = overlay("", "old", true, 99, true, 99);
    tab.enabled = false;
    tab.font_size = 20;
    tab.red = 1;
    tab.green = 2;
    tab.blue = 3;
    EXPECT_TRUE(parse_filter(tab, c.entry)) << c.entry;
    EXPECT_TRUE(tab.enabled) << c.entry;
    EXPECT_EQ(tab.text, c.text) << c.entry;
    EXPECT_EQ(tab.font_size, c.font_size) << c.entry;
    EXPECT_EQ(tab.red, c.red) << c.entry;
    EXPECT_EQ(tab.green, c.green) << c.entry;
    EXPECT_EQ(tab.blue, c.blue) << c.entry;
    EXPECT_EQ(tab.right_aligned, c.right) << c.entry;
    EXPECT_EQ(tab.horizontal_offset, c.x) << c.entry;
    EXPECT_EQ(tab.bottom_aligned, c.bottom) << c.entry;
    EXPECT_EQ(tab.vertical_offset, c.y) << c.entry;
  }
  for (const char* other : {"", "scale=1:1", "overlay=10:10", "draw text=x"}) {
    OverlayFilter tab;
    EXPECT_FALSE(parse_filter(tab, other)) << other;
    EXPECT_FALSE(tab.enabled) << other;
  }
}

TEST(OverlayFilter, RoundTripsThroughItsText) {
  OverlayFilter coloured = overlay("", "Channel 1", true, 0, false, 33);
  coloured.font_size = 32767;
  coloured.red = 0xfe;
  coloured.green = 0x01;
  coloured.blue = 0x80;
  for (const OverlayFilter& built :
       {overlay("C:\\logo.png", "", true, 10, false, 10),
        overlay("/a b/c.mp4", "x", false, -2, true, 5), overlay("", "LIVE", true, 10, true, 20),
        overlay("C:\\overlay=x.png", "", true, 10, true, 20),  // the file names the filter's word
        overlay("", "%timestamp", false, 10, false, 10), coloured}) {
    OverlayFilter read;
    ASSERT_TRUE(parse_filter(read, build_filter(built).value()));
    EXPECT_EQ(build_filter(read), build_filter(built));
  }
}

// A channel whose input holds the given "filters" value (raw JSON).
JsonPtr channel_with_filters(const std::string& filters) {
  return json_parse(R"({"input": {"sources": [], "filters": )" + filters + R"(, "map": []}})");
}

std::vector<std::string> saved_filters(const cJSON* channel) {
  return string_array(cJSON_GetObjectItemCaseSensitive(channel, "input"), "filters");
}

TEST(PictureFilterTabs, LoadAndSaveKeepCropAndBlurUnlessAnOverlayIsOn) {
  JsonPtr channel =
      channel_with_filters(R"(["crop=iw-16:ih-4:8:4", 7, "unsharp=11:11:-1.0:11:11:-1.0"])");
  ASSERT_NE(channel, nullptr);
  PictureFilterTabs tabs;
  load_picture_filters(channel.get(), tabs);
  EXPECT_TRUE(tabs.crop_pad.enabled);
  EXPECT_TRUE(tabs.blur_sharpen.enabled);
  EXPECT_FALSE(tabs.overlay.enabled);
  ASSERT_TRUE(save_picture_filters(channel.get(), tabs));
  EXPECT_EQ(saved_filters(channel.get()),
            (std::vector<std::string>{"crop=iw-16:ih-4:8:4", "unsharp=11:11:-1.0:11:11:-1.0"}));
  EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItem(channel->child, "filters")), 2)
      << "the number entry went with the save";

  // An enabled overlay without file or text yields nothing, so the others stay.
  tabs.overlay.enabled = true;
  tabs.overlay.text.clear();
  ASSERT_TRUE(save_picture_filters(channel.get(), tabs));
  EXPECT_EQ(saved_filters(channel.get()).size(), 2u);

  tabs.overlay.text = "LIVE";
  ASSERT_TRUE(save_picture_filters(channel.get(), tabs));
  EXPECT_EQ(saved_filters(channel.get()),
            (std::vector<std::string>{
                "drawtext=text='LIVE':fontsize=16:fontcolor=#00ffff:x=0:y=0:shadowx=1:shadowy=1"}));
  load_picture_filters(channel.get(), tabs);
  EXPECT_FALSE(tabs.crop_pad.enabled);
  EXPECT_FALSE(tabs.blur_sharpen.enabled);
  EXPECT_TRUE(tabs.overlay.enabled);
  EXPECT_EQ(tabs.overlay.text, "LIVE");
}

TEST(PictureFilterTabs, ACropOfAnotherFormLoadsEnabledAndIsDropped) {
  JsonPtr channel = channel_with_filters(R"(["crop=640:360:0:0", "yadif"])");
  PictureFilterTabs tabs;
  load_picture_filters(channel.get(), tabs);
  EXPECT_TRUE(tabs.crop_pad.enabled);
  EXPECT_EQ(tabs.crop_pad.left + tabs.crop_pad.top + tabs.crop_pad.right + tabs.crop_pad.bottom, 0);
  ASSERT_TRUE(save_picture_filters(channel.get(), tabs));
  EXPECT_TRUE(saved_filters(channel.get()).empty());
}

TEST(PictureFilterTabs, LoadingAnotherChannelLeavesNothingOfTheFirst) {
  JsonPtr first = channel_with_filters(
      R"(["pad=iw+2:ih+2:1:1", "unsharp=3:3:0.5:3:3:0.5",)"
      R"( "movie='a.png', setpts=N/TB/FR[logo]; [0][logo]overlay=W-w-1:H-h-1",)"
      R"( "drawtext=text='T':fontsize=30:fontcolor=#ff0000:x=1:y=1"])");
  PictureFilterTabs tabs;
  load_picture_filters(first.get(), tabs);
  ASSERT_TRUE(tabs.crop_pad.enabled && tabs.blur_sharpen.enabled && tabs.overlay.enabled);
  ASSERT_EQ(tabs.overlay.text, "T");

  for (const char* second : {R"({"input": {"filters": []}})", R"({"input": {"filters": "x"}})",
                             R"({"input": 3})", "{}", "[]", "null"}) {
    JsonPtr channel = json_parse(second);
    PictureFilterTabs loaded = tabs;
    load_picture_filters(channel.get(), loaded);
    const PictureFilterTabs initial;
    EXPECT_EQ(build_filter(loaded.crop_pad), std::nullopt) << second;
    EXPECT_FALSE(loaded.crop_pad.enabled || loaded.blur_sharpen.enabled || loaded.overlay.enabled)
        << second;
    EXPECT_EQ(loaded.crop_pad.left, initial.crop_pad.left);
    EXPECT_EQ(loaded.blur_sharpen.radius, initial.blur_sharpen.radius);
    EXPECT_EQ(loaded.overlay.file, "") << second;
    EXPECT_EQ(loaded.overlay.text, "%timestamp") << second;
    EXPECT_EQ(loaded.overlay.font_size, 16) << second;
    EXPECT_EQ(loaded.overlay.red, 0) << second;
    EXPECT_FALSE(loaded.overlay.right_aligned) << second;
  }
}

TEST(PictureFilterTabs, SaveNeedsAFiltersArrayAndCutsLongTexts) {
  PictureFilterTabs tabs;
  tabs.crop_pad = crop_pad(CropPadFilter::kCrop, 1, 1, 1, 1);
  for (const char* text : {R"({"input": {"filters": "keep"}})", R"({"input": {}})",
                           R"({"input": "keep"})", "{}", "[]"}) {
    JsonPtr channel = json_parse(text);
    ASSERT_NE(channel, nullptr);
    EXPECT_FALSE(save_picture_filters(channel.get(), tabs)) << text;
    EXPECT_EQ(json_print_unformatted(channel.get()), json_print_unformatted(json_parse(text).get()))
        << "nothing of the channel is lost";
  }
  EXPECT_FALSE(save_picture_filters(nullptr, tabs));

  JsonPtr channel = channel_with_filters("[]");
  tabs.overlay = overlay("", std::string(983, 'a') + "\xe2\x82\xac" + std::string(600, 'b'), false,
                         0, false, 0);
  ASSERT_TRUE(save_picture_filters(channel.get(), tabs));
  const std::vector<std::string> saved = saved_filters(channel.get());
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].size(), 998u) << "cut before the character that would cross 1000 bytes";
  EXPECT_EQ(saved[0], cut_to_bytes(build_filter(tabs.overlay).value(), kFilterTextMaxBytes));
}

}  // namespace
}  // namespace vx
