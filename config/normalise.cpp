#include "config/normalise.h"

#include <vector>

#include "config/document.h"
#include "config/login_password.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

bool has_member(const cJSON* object, const char* key) {
  return cJSON_GetObjectItemCaseSensitive(object, key) != nullptr;
}

void drop_items_beyond(cJSON* array, int keep) {
  if (array == nullptr) return;
  cJSON* item = array->child;
  for (int index = 0; item != nullptr && index < keep; ++index) {
    item = item->next;
  }
  while (item != nullptr) {
    cJSON* const next = item->next;
    cJSON_Delete(cJSON_DetachItemViaPointer(array, item));
    item = next;
  }
}

// A port the web server could never listen on (0, negative, above 65535, or text that reads as
// none of those) would lock the operator out of the web administration.
bool usable_port(std::int32_t port) {
  return port > 0 && port <= 65535;
}

void apply_global_defaults(cJSON* global) {
  if (!cJSON_IsObject(global)) return;
  if (!has_member(global, "log")) cJSON_AddNumberToObject(global, "log", 0);
  if (!usable_port(config_int(global, "httpPort"))) {
    // Replaced rather than given a new number value: a text or a literal keeps its type
    // otherwise, and every later read would still find no port.
    config_set_int(global, "httpPort", kDefaultHttpPort);
  }
  // Out of range, every served output would turn away an office behind one address, or let one
  // address take every place; the transcoder refuses such a line, so it never gets that far.
  if (!viewers_per_address_problem(global).empty()) {
    config_set_int(global, kViewersPerAddressKey, kDefaultViewersPerAddress);
  }
  if (!has_member(global, "autoRestart")) {
    cJSON_AddNumberToObject(global, "autoRestart", kDefaultAutoRestart);
  } else if (config_int(global, "autoRestart") < 0) {
    // Seconds to wait before an ended channel starts again: a negative wait would start it at
    // once, over and over. It reads as no restart, as 0 does.
    config_set_int(global, "autoRestart", 0);
  }
  // A clear password from an older file becomes its hash here, once.
  if (has_member(global, kLoginPassKey)) login_password_settle(global, config_login_hash(global));
}

// Moves from->key into to under new_key; the detached item belongs to `to` afterwards.
bool move_member(cJSON* from, const char* key, cJSON* to, const char* new_key) {
  if (!cJSON_IsObject(from) || !has_member(from, key)) return false;
  cJSON* item = cJSON_DetachItemFromObjectCaseSensitive(from, key);
  cJSON_AddItemToObject(to, new_key, item);  // `to` owns the item from here on
  return true;
}

// Earlier versions kept the filters and the stream selection among the output settings.
void move_input_lists(cJSON* channel) {
  cJSON* input = config_object(channel, "input");
  cJSON* output = config_object(channel, "output");
  if (!has_member(input, "filters") && !move_member(output, "filters", input, "filters")) {
    cJSON_AddArrayToObject(input, "filters");
  }
  if (!has_member(input, "map") && !move_member(input, "mapOptions", input, "map") &&
      !move_member(output, "mapOptions", input, "map")) {
    cJSON_AddArrayToObject(input, "map");
  }
}

// "input.standby" and "input.switchOn" stay as given, even beyond their limits: a file is the
// operator's, its problems are reported (config/standby_sources) and the engine uses what it can.
void normalise_channel(cJSON* channel) {
  drop_items_beyond(config_array(config_object(channel, "input"), "sources"), kMaxChannelSources);
  drop_items_beyond(config_array(config_object(channel, "output"), "targets"), kMaxChannelTargets);
  move_input_lists(channel);
}

void normalise_channels(cJSON* channels) {
  if (!cJSON_IsArray(channels)) return;
  // Walks the list itself: indexed access would make a huge array quadratic.
  std::vector<int> new_numbers;
  int kept = 0;
  bool dropped = false;
  cJSON* channel = channels->child;
  while (channel != nullptr) {
    cJSON* const next = channel->next;
    if (channel_is_valid(channel)) {
      normalise_channel(channel);
      new_numbers.push_back(++kept);
    } else {
      // The next channel moves into this place, so every later channel's number drops by one.
      cJSON_Delete(cJSON_DetachItemViaPointer(channels, channel));
      new_numbers.push_back(0);
      dropped = true;
    }
    channel = next;
  }
  if (dropped) renumber_channel_references(channels, new_numbers);
  drop_items_beyond(channels, kMaxChannels);
}

}  // namespace

std::string viewers_per_address_problem(const cJSON* global) {
  if (!has_member(global, kViewersPerAddressKey) ||
      viewers_per_address_in_range(
          config_int(global, kViewersPerAddressKey, kDefaultViewersPerAddress))) {
    return "";
  }
  return "\"" + std::string(kViewersPerAddressKey) + "\" must be a number from " +
         std::to_string(kMinViewersPerAddress) + " to " + std::to_string(kMaxViewersPerAddress);
}

std::string http_port_problem(const cJSON* global) {
  const cJSON* port = cJSON_GetObjectItemCaseSensitive(global, "httpPort");
  if (port == nullptr) return "";
  if (cJSON_IsNumber(port) && port->valuedouble == 0) return "";
  if (cJSON_IsNumber(port) && usable_port(config_int(global, "httpPort")) &&
      port->valuedouble == static_cast<double>(config_int(global, "httpPort"))) {
    return "";
  }
  return "\"httpPort\" must be a port from 1 to 65535";
}

bool normalise_document(cJSON* root) {
  if (!cJSON_IsObject(root)) return false;
  apply_global_defaults(config_object(root, "global"));
  normalise_channels(config_array(root, "channels"));
  return true;
}

}  // namespace vx
