// "/thumbnails/N.jpg" and "/history/N": each channel's live picture and its last ten minutes of
// frame rate, bit rate and state, polled by the page while it is visible.
#include <cjson/cJSON.h>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/store.h"
#include "engine/channel_history.h"
#include "engine/thumbnails.h"
#include "vocabulary/channel_glance.h"
#include "vocabulary/product.h"
#include "vocabulary/text_format.h"
#include "web/api.h"
#include "web/request_text.h"

namespace vx {
namespace {

// Whether channel N (from 1) is one of the document's; the caller holds the core lock.
bool channel_configured(int number) {
  return number >= 1 && number <= kMaxChannels &&
         number <= cJSON_GetArraySize(config_array(config_document(), "channels"));
}

WebAnswer not_found(const char* what) {
  return text_answer(404, what);
}

void append_figures(std::string& text, const std::vector<HistorySample>& samples,
                    std::int32_t HistorySample::*figure) {
  text += '[';
  for (std::size_t k = 0; k < samples.size(); ++k) {
    if (k > 0) text += ',';
    const std::int32_t value = samples[k].*figure;
    if (value < 0) {
      text += "null";
    } else {
      append_format(text, "%d", value);
    }
  }
  text += ']';
}

}  // namespace

WebAnswer answer_thumbnail(int number, std::string_view if_none_match) {
  std::optional<std::string> file;
  {
    const CoreLock lock = core_lock();
    if (channel_configured(number)) file = engine_thumbnail_file(number - 1);
  }
  // Read after the lock is let go: the file lies in memory, but a request never holds the lock
  // for a file.
  const std::optional<Thumbnail> picture = file ? read_thumbnail(*file) : std::nullopt;
  if (!picture) return not_found("the channel has no picture now");
  const std::string tag = '"' + picture->tag + '"';
  // A copy the page holds is checked on every poll and taken again only when it changed.
  std::vector<WebHeader> headers = {{"Cache-Control", kRevalidatedPrivately}, {"ETag", tag}};
  if (entity_tag_matches(if_none_match, tag)) return WebAnswer{304, std::move(headers), {}};
  headers.emplace_back("Content-Type", "image/jpeg");
  return WebAnswer{200, std::move(headers), picture->jpeg};
}

WebAnswer answer_history(int number) {
  std::vector<HistorySample> samples;
  {
    const CoreLock lock = core_lock();
    if (!channel_configured(number)) return not_found("no such channel");
    samples = channel_history(number - 1);
  }
  std::string text;
  append_format(text, "{\"interval\": %d, \"fps\": ", kHistoryIntervalSeconds);
  append_figures(text, samples, &HistorySample::fps);
  text += ", \"bitrate\": ";
  append_figures(text, samples, &HistorySample::bitrate_kbps);
  text += ", \"state\": [";
  for (std::size_t k = 0; k < samples.size(); ++k) {
    if (k > 0) text += ',';
    append_format(text, "\"%s\"", history_state_word(samples[k].state));
  }
  text += "]}";
  return WebAnswer{200, json_headers(), std::move(text)};
}

}  // namespace vx
