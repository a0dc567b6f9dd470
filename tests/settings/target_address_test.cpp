// The window's target address presets against tests/e2e/target_presets.json, the list the
// browser page's copy (web/client/rules.js) is held to as well: channel 1, the page or host at
// 127.0.0.1 with httpPort 9527, the output folder "/out".
#include <gtest/gtest.h>

#include "config/document.h"
#include "config/json.h"
#include "settings/target_address.h"
#include "tests/support/peers.h"

namespace vx {
namespace {

TEST(TargetAddress, PresetsAgreeWithTheBrowserPagesList) {
  const JsonPtr presets = json_parse(testing_support::read_text(VX_TARGET_PRESETS));
  ASSERT_TRUE(presets);
  const ServedAddressBase served{false, "127.0.0.1", 9527};
  for (std::size_t k = 0; k < kTargetFormatChoices.size(); ++k) {
    const auto entry = static_cast<TargetFormatEntry>(k);
    // The page opens its card picker instead of filling in a Decklink preset.
    if (entry == TargetFormatEntry::decklink) continue;
    // Local File and FTP/SFTP both store "file"; the page's list tells them apart.
    const std::string key(entry == TargetFormatEntry::ftp ? "ftp" : kTargetFormatChoices[k].format);
    EXPECT_EQ(target_format_default_url(entry, 1, served, "/out"),
              config_string(presets.get(), key.c_str()))
        << key;
  }
}

}  // namespace
}  // namespace vx
