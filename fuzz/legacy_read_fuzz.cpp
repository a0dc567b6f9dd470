// Fuzzes the import of the older tag-format file: whatever the file holds, the records stay
// within their limits, and the JSON written from them parses, carries only UTF-8 texts, keeps
// exactly the channels that have sources and targets, and is taken by config_normalise() (the
// import would otherwise start with no configuration at all).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/document.h"
#include "config/json.h"
#include "config/legacy.h"
#include "config/store.h"
#include "vocabulary/utf8.h"

namespace {

void check_texts(const cJSON* item) {
  for (; item != nullptr; item = item->next) {
    if (item->string != nullptr && !vx::is_utf8(item->string)) std::abort();
    if (cJSON_IsString(item) && !vx::is_utf8(item->valuestring)) std::abort();
    check_texts(item->child);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const vx::LegacyRecords records =
      vx::legacy_parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (records.channels.size() > vx::kMaxChannels) std::abort();
  int kept = 0;
  for (const vx::LegacyChannel& channel : records.channels) {
    if (channel.num_inputs < 0 || channel.num_inputs > vx::kMaxChannelSources) std::abort();
    if (channel.num_outputs < 0 || channel.num_outputs > vx::kMaxChannelTargets) std::abort();
    if (channel.num_filters < 0 || channel.num_filters > vx::kLegacyMaxFilters) std::abort();
    if (channel.num_inputs > 0 && channel.num_outputs > 0) ++kept;
  }

  const std::string text = vx::legacy_write(records);
  const vx::JsonPtr tree = vx::json_parse(text);
  if (!cJSON_IsObject(tree.get())) std::abort();
  check_texts(tree->child);

  const cJSON* channels = vx::config_array(tree.get(), "channels");
  if (cJSON_GetArraySize(channels) != kept) std::abort();
  int index = 0;
  for (const vx::LegacyChannel& channel : records.channels) {
    if (channel.num_inputs <= 0 || channel.num_outputs <= 0) continue;
    const cJSON* written = cJSON_GetArrayItem(channels, index++);
    const cJSON* sources = vx::config_array(vx::config_object(written, "input"), "sources");
    const cJSON* targets = vx::config_array(vx::config_object(written, "output"), "targets");
    if (cJSON_GetArraySize(sources) != channel.num_inputs) std::abort();
    if (cJSON_GetArraySize(targets) != channel.num_outputs) std::abort();
  }

  if (vx::config_normalise(text) == nullptr) std::abort();
  return 0;
}
