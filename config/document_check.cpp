#include "config/document_check.h"

#include <algorithm>

#include "config/document.h"
#include "config/standby_sources.h"
#include "config/target_mix.h"
#include "config/text_check.h"
#include "vocabulary/formats.h"

namespace vx {

namespace {

const cJSON* channel_at(const cJSON* document, int index) {
  return cJSON_GetArrayItem(config_array(document, "channels"), index);
}

bool same_channel(const cJSON* a, const cJSON* b) {
  return a != nullptr && b != nullptr && cJSON_Compare(a, b, true);
}

DocumentRefusal running_channel_moves(int index) {
  return DocumentRefusal{409, "channel " + std::to_string(index + 1) +
                                  " is running and would be removed or renumbered: stop it "
                                  "first"};
}

// Where channel `index` of `current` stands, unchanged, at another place of `proposed`: it was
// moved there (a channel inserted or removed before it, or the list reordered).
bool stands_elsewhere(const cJSON* proposed, const cJSON* current, int index) {
  const cJSON* before = channel_at(current, index);
  if (same_channel(before, channel_at(proposed, index))) return false;
  const int count = cJSON_GetArraySize(config_array(proposed, "channels"));
  for (int other = 0; other < count; ++other) {
    if (other != index && same_channel(before, channel_at(proposed, other))) return true;
  }
  return false;
}

}  // namespace

std::optional<DocumentRefusal> running_channel_refusal(const cJSON* proposed,
                                                       const cJSON* current,
                                                       const std::vector<bool>& busy) {
  const int count_before = cJSON_GetArraySize(config_array(current, "channels"));
  const int count_after = cJSON_GetArraySize(config_array(proposed, "channels"));
  // A shorter list: every channel from the first one that is not exactly as before moves or goes.
  int first_changed = count_before;
  if (count_after < count_before) {
    first_changed = 0;
    while (first_changed < count_after &&
           same_channel(channel_at(current, first_changed), channel_at(proposed, first_changed))) {
      ++first_changed;
    }
  }
  const int checked = std::min(count_before, static_cast<int>(busy.size()));
  for (int index = 0; index < checked; ++index) {
    if (!busy[static_cast<std::size_t>(index)]) continue;
    if (index >= first_changed || stands_elsewhere(proposed, current, index)) {
      return running_channel_moves(index);
    }
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

// The checks of one channel as it would be stored, by its own content.
std::string channel_problem(const cJSON* channel, int number) {
  std::string problem = channel_control_character_problem(channel, number);
  if (problem.empty()) problem = target_count_problem(channel, number);
  if (problem.empty()) problem = channel_target_mix_problem(channel, number);
  if (problem.empty()) problem = channel_standby_problem(channel, number);
  return problem;
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
  if (std::string problem = global_control_character_problem(proposed); !problem.empty()) {
    return DocumentRefusal{400, std::move(problem)};
  }
  const cJSON* channels = config_array(proposed, "channels");
  const int count = cJSON_GetArraySize(channels);
  int number = 1;
  const cJSON* channel = nullptr;
  cJSON_ArrayForEach(channel, channels) {
    // A bind may dangle because other channels went, so every channel's is checked. A channel
    // standing exactly as it is stored is otherwise let be: a file loaded with a problem was
    // reported then, and must not keep the operator from changing any other channel.
    std::string problem = bind_problem(channel, number, count);
    if (problem.empty() && !same_channel(channel, channel_at(current, number - 1))) {
      problem = channel_problem(channel, number);
    }
    if (!problem.empty()) return DocumentRefusal{400, std::move(problem)};
    ++number;
  }
  return std::nullopt;
}

}  // namespace vx
