#include "config/document_check.h"

#include <algorithm>

#include "config/document.h"
#include "config/target_mix.h"
#include "config/text_check.h"
#include "vocabulary/formats.h"

namespace vx {

std::optional<DocumentRefusal> running_channel_refusal(const cJSON* proposed,
                                                       const cJSON* current,
                                                       const std::vector<bool>& busy) {
  const cJSON* before = config_array(current, "channels");
  const cJSON* after = config_array(proposed, "channels");
  const int count_before = cJSON_GetArraySize(before);
  const int count_after = cJSON_GetArraySize(after);
  if (count_after >= count_before) return std::nullopt;
  int first_changed = 0;
  while (first_changed < count_after && cJSON_Compare(cJSON_GetArrayItem(before, first_changed),
                                                      cJSON_GetArrayItem(after, first_changed),
                                                      true)) {
    ++first_changed;
  }
  const int checked = std::min(count_before, static_cast<int>(busy.size()));
  for (int index = first_changed; index < checked; ++index) {
    if (!busy[static_cast<std::size_t>(index)]) continue;
    return DocumentRefusal{409, "channel " + std::to_string(index + 1) +
                                    " is running and would be removed or renumbered: stop it "
                                    "first"};
  }
  return std::nullopt;
}

namespace {

std::string target_count_problem(const cJSON* channel, int number) {
  const cJSON* targets = config_array(config_object(channel, "output"), "targets");
  const int count = cJSON_GetArraySize(targets);
  if (count <= 1) return {};
  const std::string name = config_string(cJSON_GetArrayItem(targets, 0), "format");
  if (format_takes_several_targets(format_id_from_name(name))) return {};
  return "channel " + std::to_string(number) + ": its targets' format (\"" + name +
         "\") takes one target, but the channel lists " + std::to_string(count);
}

std::string bind_problem(const cJSON* channel, int number, int count) {
  const int bind = config_int(channel, "bind");
  if (bind_is_valid(bind, number, count)) return {};
  if (bind == number) return "channel " + std::to_string(number) + " is bound to itself";
  return "channel " + std::to_string(number) + " is bound to channel " + std::to_string(bind) +
         ", which does not exist";
}

}  // namespace

bool bind_is_valid(int bind, int number, int count) {
  return bind <= 0 || (bind != number && bind <= count);
}

std::optional<DocumentRefusal> document_refusal(const cJSON* proposed, const cJSON* current,
                                                const std::vector<bool>& busy) {
  if (std::optional<DocumentRefusal> refusal = running_channel_refusal(proposed, current, busy)) {
    return refusal;
  }
  if (std::string problem = control_character_problem(proposed); !problem.empty()) {
    return DocumentRefusal{400, std::move(problem)};
  }
  const cJSON* channels = config_array(proposed, "channels");
  const int count = cJSON_GetArraySize(channels);
  int number = 1;
  const cJSON* channel = nullptr;
  cJSON_ArrayForEach(channel, channels) {
    std::string problem = target_count_problem(channel, number);
    if (problem.empty()) problem = bind_problem(channel, number, count);
    if (problem.empty()) problem = channel_target_mix_problem(channel, number);
    if (!problem.empty()) return DocumentRefusal{400, std::move(problem)};
    ++number;
  }
  return std::nullopt;
}

}  // namespace vx
