#include "settings/edited_channel.h"

#include "config/document.h"
#include "config/json.h"

namespace vx {
namespace {

// The source list of channel `number` (from 1), or nullptr.
cJSON* sources_of(cJSON* channels, int number) {
  cJSON* channel = cJSON_GetArrayItem(channels, number - 1);
  if (!cJSON_IsObject(channel)) return nullptr;
  return config_array(config_object(channel, "input"), "sources");
}

}  // namespace

void keep_run_mark(cJSON* edited, const cJSON* stored) {
  if (stored == nullptr) {
    if (cJSON_GetObjectItemCaseSensitive(edited, "enable") != nullptr) {
      config_set_bool(edited, "enable", false);
    }
    return;
  }
  if (const cJSON* mark = cJSON_GetObjectItemCaseSensitive(stored, "enable")) {
    config_set_item(edited, "enable", JsonPtr(cJSON_Duplicate(mark, true)));
  }
}

void move_bind_item(cJSON* channels, int number, int master_before, int master_now) {
  if (master_before == master_now) return;
  const auto names_this_channel = [number](const cJSON* item) {
    return cJSON_GetObjectItemCaseSensitive(item, "bind") != nullptr &&
           config_int(item, "bind") == number;
  };
  if (master_before > 0 && master_before != number) {
    cJSON* sources = sources_of(channels, master_before);
    const cJSON* item = nullptr;
    int position = 0;
    cJSON_ArrayForEach(item, sources) {
      if (names_this_channel(item)) {
        cJSON_DeleteItemFromArray(sources, position);
        break;
      }
      ++position;
    }
  }
  if (master_now > 0 && master_now != number) {
    cJSON* sources = sources_of(channels, master_now);
    if (sources == nullptr) return;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, sources) {
      if (names_this_channel(item)) return;
    }
    cJSON* bind_item = cJSON_CreateObject();
    cJSON_AddNumberToObject(bind_item, "bind", number);
    cJSON_AddItemToArray(sources, bind_item);  // the source list owns it now
  }
}

}  // namespace vx
