// Fuzzes the configuration as the web server takes it from a post: the body goes through
// config_normalise(). A text that is not a JSON object must leave the document as it was; any
// other must become a document in the shape every reader relies on, and normalising the printed
// document again must change nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/document.h"
#include "config/json.h"
#include "config/normalise.h"
#include "config/store.h"

namespace {

// Stands for whatever the operator had before the post; no file path is ever set, so nothing
// here can reach the disk.
constexpr std::string_view kPrevious =
    R"({"global":{"httpPort":8080},"channels":[{"input":{"sources":[{"url":"udp://a"}]},)"
    R"("output":{"targets":[{"video":{"codec":"h264"}}]}}]})";

bool has(const cJSON* object, const char* key) {
  return cJSON_GetObjectItemCaseSensitive(object, key) != nullptr;
}

void check_shape(const cJSON* root) {
  const cJSON* global = cJSON_GetObjectItemCaseSensitive(root, "global");
  if (cJSON_IsObject(global)) {
    const std::int32_t port = vx::config_int(global, "httpPort");
    if (port <= 0 || port > 65535) std::abort();
    if (!has(global, "log") || !has(global, "autoRestart")) std::abort();
  }
  const cJSON* channels = vx::config_array(root, "channels");
  if (cJSON_GetArraySize(channels) > vx::kMaxChannels) std::abort();
  for (const cJSON* channel = channels != nullptr ? channels->child : nullptr; channel != nullptr;
       channel = channel->next) {
    if (!vx::channel_is_valid(channel)) std::abort();
    const cJSON* input = vx::config_object(channel, "input");
    const cJSON* output = vx::config_object(channel, "output");
    if (cJSON_GetArraySize(vx::config_array(input, "sources")) > vx::kMaxChannelSources)
      std::abort();
    if (cJSON_GetArraySize(vx::config_array(output, "targets")) > vx::kMaxChannelTargets)
      std::abort();
    if (!has(input, "filters") || !has(input, "map")) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Each input starts from the same document, so a finding replays on its own.
  if (vx::config_normalise(kPrevious) == nullptr) std::abort();
  const std::string before = vx::config_print().value_or("");

  cJSON* root = vx::config_normalise(text);
  if (root == nullptr) {
    if (cJSON_IsObject(vx::json_parse(text).get())) std::abort();
    if (vx::config_print().value_or("") != before) std::abort();
    return 0;
  }
  if (root != vx::config_document()) std::abort();
  check_shape(root);

  const std::string printed = vx::config_print().value_or("");
  if (vx::config_normalise(printed) == nullptr) std::abort();
  if (vx::config_print().value_or("") != printed) std::abort();
  return 0;
}
