// Fuzzes every settings record's load and save with random JSON: the input is a channel (its
// option and filter arrays, options, URLs and codecs of any shape) or a "global" object. A load
// followed by a save must never crash, and a second load and save of what was saved must give
// the same document again. The same bytes are also a body for the advanced panels' translation
// (a channel, a target and fields of any shape): it must answer JSON or refuse, never crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/json.h"
#include "settings/advanced_fields.h"
#include "settings/advanced_format.h"
#include "settings/global_settings.h"
#include "settings/video_filter_tabs.h"

namespace {

// Load, save, load, save: the second round must change nothing.
template <typename Round>
void check_stable(cJSON* document, Round round) {
  round(document);
  const std::string once = vx::json_print_unformatted(document).value_or("");
  round(document);
  if (vx::json_print_unformatted(document).value_or("") != once) std::abort();
}

// Both panels, both steps; an answer is always JSON, and a saved channel loads again.
void translate(std::string_view body) {
  for (const vx::AdvancedPanel panel : {vx::AdvancedPanel::format, vx::AdvancedPanel::video}) {
    for (const vx::AdvancedStep step : {vx::AdvancedStep::load, vx::AdvancedStep::save}) {
      const vx::AdvancedTranslation translation =
          vx::translate_advanced_settings(panel, step, body);
      if (!translation.ok) continue;
      vx::JsonPtr answer = vx::json_parse(translation.text);
      if (!answer) std::abort();
      if (step == vx::AdvancedStep::save) {
        const cJSON* channel = cJSON_GetObjectItemCaseSensitive(answer.get(), "channel");
        const std::string again =
            R"({"channel": )" + vx::json_print_unformatted(channel).value_or("null") + "}";
        if (!vx::translate_advanced_settings(panel, vx::AdvancedStep::load, again).ok) std::abort();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  translate(std::string_view(reinterpret_cast<const char*>(data), size));
  const int target = data[0] % 4;
  vx::JsonPtr document =
      vx::json_parse(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  if (!document) return 0;

  vx::AdvancedFormatSettings format;
  format.load_channel(document.get(), target);
  format.save_channel();

  vx::VideoSettingsTabs video;
  video.host.load_channel(document.get(), target);
  video.host.save_channel();

  // The global settings read and store the same keys, so a second round is stable.
  check_stable(document.get(), [](cJSON* global) {
    vx::store_global_settings(vx::load_global_settings(global), global);
  });
  return 0;
}
