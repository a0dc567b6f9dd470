// The advanced video host with the real picture tabs: what the operator set on each tab reaches
// the channel's input filters, and a channel loaded later shows only its own filters.
#include "settings/video_filter_tabs.h"

#include <gtest/gtest.h>

#include "config/document.h"
#include "config/json.h"
#include "settings/json_fields.h"

namespace vx {
namespace {

constexpr const char* kChannel = R"({
  "input": {"sources": [{"format": "udp", "url": "udp://0.0.0.0:1234", "video": {"options": []}}],
            "filters": []},
  "output": {"targets": [{"format": "udp", "url": "udp://h:1",
                          "video": {"enable": true, "codec": "h264", "width": 1280, "height": 720,
                                    "options": []}}]}
})";

TEST(VideoFilterTabs, TabsReachTheChannelAndComeBack) {
  VideoSettingsTabs tabs;
  JsonPtr channel = json_parse(kChannel);
  ASSERT_NE(channel, nullptr);
  tabs.host.load_channel(channel.get(), 0);
  EXPECT_FALSE(tabs.crop_pad.record.enabled);

  tabs.crop_pad.record.enabled = true;
  tabs.crop_pad.record.left = 16;
  tabs.crop_pad.record.right = 16;
  tabs.blur_sharpen.record.enabled = true;
  ASSERT_TRUE(tabs.host.save_channel());
  const std::vector<std::string> filters =
      string_array(config_object(channel.get(), "input"), "filters");
  ASSERT_EQ(filters.size(), 2U) << json_print(channel.get()).value_or("");
  EXPECT_EQ(filters[0].rfind("crop=", 0), 0U) << filters[0];
  EXPECT_EQ(filters[1].rfind("unsharp=", 0), 0U) << filters[1];

  // Loaded again, the tabs show what was saved; another channel shows nothing of it.
  VideoSettingsTabs again;
  again.host.load_channel(channel.get(), 0);
  EXPECT_TRUE(again.crop_pad.record.enabled);
  EXPECT_EQ(again.crop_pad.record.left, 16);
  EXPECT_TRUE(again.blur_sharpen.record.enabled);
  JsonPtr plain = json_parse(kChannel);
  again.host.load_channel(plain.get(), 0);
  EXPECT_FALSE(again.crop_pad.record.enabled);
  EXPECT_FALSE(again.blur_sharpen.record.enabled);

  // An overlay stands alone in the filters.
  tabs.host.load_channel(channel.get(), 0);
  tabs.overlay.record.enabled = true;
  tabs.host.save_channel();
  const std::vector<std::string> alone =
      string_array(config_object(channel.get(), "input"), "filters");
  ASSERT_EQ(alone.size(), 1U);
  EXPECT_NE(alone[0].find("drawtext="), std::string::npos) << alone[0];
}

}  // namespace
}  // namespace vx
