// The checks of the channel editor asked by the browser page: the window's own (the source cells',
// the editor panel's, the encoders this system can run, CBR's), so the page shows what the window
// would and stores what its Apply stores.
#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <variant>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/document_check.h"
#include "config/json.h"
#include "config/login_password.h"
#include "config/store.h"
#include "settings/edited_channel.h"
#include "settings/editor_checks.h"
#include "settings/editor_values.h"
#include "settings/source_address.h"
#include "vocabulary/ascii.h"
#include "vocabulary/formats.h"
#include "vocabulary/product.h"
#include "web/api.h"

namespace vx {
namespace {

enum class EditStep { apply, video_encoding, audio_encoding, cbr };

std::optional<EditStep> edit_step_named(std::string_view word) {
  if (iequals(word, "apply")) return EditStep::apply;
  if (iequals(word, "video_encoding")) return EditStep::video_encoding;
  if (iequals(word, "audio_encoding")) return EditStep::audio_encoding;
  if (iequals(word, "cbr")) return EditStep::cbr;
  return std::nullopt;
}

// A whole number from `low` to `high` under `key`, else nullopt.
std::optional<int> whole_number(const cJSON* body, const char* key, int low, int high) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(body, key);
  if (!cJSON_IsNumber(item)) return std::nullopt;
  const double value = item->valuedouble;
  if (!(value >= low && value <= high) || value != static_cast<double>(static_cast<int>(value))) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

struct EditCheckRequest {
  JsonPtr body;
  int number = 0;          // the edited channel, from 1
  cJSON* edited = nullptr;  // inside body
  int target = 0;          // the target whose tab is shown
};

// The request read from a body of any shape, or why it cannot be.
std::variant<EditCheckRequest, std::string> read_request(std::string_view text) {
  EditCheckRequest request;
  request.body = json_parse(text);
  if (!cJSON_IsObject(request.body.get())) return std::string("the body is not a JSON object");
  const std::optional<int> number = whole_number(request.body.get(), "channel", 1, kMaxChannels);
  if (!number) {
    return "\"channel\" must be the number of the edited channel, from 1 to " +
           std::to_string(kMaxChannels);
  }
  request.number = *number;
  request.edited = cJSON_GetObjectItemCaseSensitive(request.body.get(), "edited");
  if (!cJSON_IsObject(request.edited)) {
    return std::string("\"edited\" must be the edited channel (an object)");
  }
  const std::optional<int> target = whole_number(request.body.get(), "target", 0,
                                                 kMaxChannelTargets - 1);
  if (!target) {
    return "\"target\" must be the shown target, from 0 to " +
           std::to_string(kMaxChannelTargets - 1);
  }
  request.target = *target;
  return request;
}

WebAnswer nothing_refused() {
  const JsonPtr answer(cJSON_CreateObject());
  return json_answer(answer.get());
}

// The source cells' check of what the page stored in the first source, bind and memo.
std::optional<EditRefusal> cells_refusal(const cJSON* edited, int number, int row_count) {
  const SourceCellTexts texts = source_cell_texts(edited);
  const bool session = format_id_from_name(config_string(channel_first_source(edited), "format")) ==
                       FormatId::rtp_native;
  return source_cells_refusal(texts.type, texts.address, texts.bind,
                              session ? std::optional(texts.type) : std::nullopt, number,
                              row_count);
}

// Apply: the cells, the panel on the shown target, then the document with the channel in place
// as a post of it is checked. Passed, the answer is the document's channels as Apply stores them:
// the run mark kept and the bind item moved.
WebAnswer apply_answer(EditCheckRequest& request) {
  const int shown = shown_target_index(request.edited, request.target);
  JsonPtr proposed;
  {
    const CoreLock lock = core_lock();
    const cJSON* document = config_document();
    const int count = cJSON_GetArraySize(config_array(document, "channels"));
    if (request.number > count + 1) {
      return text_answer(400, "there is no channel " + std::to_string(request.number) +
                                  " to edit: the list holds " + std::to_string(count));
    }
    const bool is_new = request.number == count + 1;
    std::optional<EditRefusal> refusal =
        cells_refusal(request.edited, request.number, count + (is_new ? 1 : 0));
    // The page posts the address as typed: an empty one is judged empty, not shown as its
    // format's scheme the way a stored one loads into the panel.
    EditorValues values = editor_values_from_channel(request.edited, shown);
    values.target_url = config_string(channel_target(request.edited, shown), "url");
    if (!refusal) {
      refusal = validate_editor_values(values, other_target_stream_names(request.edited, shown));
    }
    if (refusal) return edit_refusal_answer(refusal->message, refusal->focus);
    // As the window's save: a format that keeps one target drops the others.
    if (target_format_keeps_one_target(values.target_format)) {
      keep_first_target_only(request.edited);
    }
    proposed.reset(cJSON_Duplicate(document, true));
    cJSON* channels = config_array(proposed.get(), "channels");
    if (channels == nullptr) channels = cJSON_AddArrayToObject(proposed.get(), "channels");
    const cJSON* stored = is_new ? nullptr : cJSON_GetArrayItem(channels, request.number - 1);
    const int master_before = stored != nullptr ? std::max(0, config_int(stored, "bind")) : 0;
    JsonPtr edited(cJSON_Duplicate(request.edited, true));
    keep_run_mark(edited.get(), stored);
    cJSON* placed = edited.get();
    const bool in_place = is_new ? cJSON_AddItemToArray(channels, edited.get())
                                 : cJSON_ReplaceItemInArray(channels, request.number - 1,
                                                            edited.get());
    if (!in_place) return empty_answer(500);
    edited.release();  // the list owns it now
    if (std::optional<DocumentRefusal> refused =
            document_refusal(proposed.get(), document, channels_not_idle())) {
      return edit_refusal_answer({kProductName, refused->reason + "; nothing was applied"}, "");
    }
    move_bind_item(channels, request.number, master_before,
                   std::max(0, config_int(placed, "bind")));
  }
  const JsonPtr shown_document = config_public_copy(proposed.get());
  const JsonPtr answer(cJSON_CreateObject());
  cJSON* channels = cJSON_DetachItemFromObjectCaseSensitive(shown_document.get(), "channels");
  if (channels == nullptr) channels = cJSON_CreateArray();
  cJSON_AddItemToObject(answer.get(), "channels", channels);
  return json_answer(answer.get());
}

// A change of the shown target's encoding or CBR box, which the page has written into the target.
WebAnswer change_answer(EditStep step, const EditCheckRequest& request) {
  const int shown = shown_target_index(request.edited, request.target);
  const EditorValues values = editor_values_from_channel(request.edited, shown);
  if (step == EditStep::cbr) {
    if (std::optional<DialogMessage> refusal = cbr_refusal(values.cbr, values.video_bitrate)) {
      return edit_refusal_answer(*refusal, "cbr");
    }
    return nothing_refused();
  }
  const bool video = step == EditStep::video_encoding;
  const int entry = video ? values.video_encoding : values.audio_encoding;
  const bool listed = video ? is_choice(kVideoEncodingChoices, entry)
                            : is_choice(kAudioEncodingChoices, entry);
  if (!listed) return nothing_refused();  // no entry, nothing chosen
  const std::string_view codec = video ? video_codec_of(entry) : audio_codec_of(entry);
  const std::string_view text =
      video ? kVideoEncodingChoices[entry].text : kAudioEncodingChoices[entry].text;
  // The encoder list may run ffmpeg once: asked before the lock.
  const std::set<std::string> encoders = available_encoders();
  std::string plugin;
  {
    const CoreLock lock = core_lock();
    plugin = config_string(config_object(config_document(), "global"), "omxPath");
  }
  if (std::optional<DialogMessage> refusal = encoder_refusal(codec, text, plugin, encoders)) {
    return edit_refusal_answer(*refusal, video ? kVideoEncodingControl : kAudioEncodingControl);
  }
  return nothing_refused();
}

}  // namespace

WebAnswer edit_refusal_answer(const DialogMessage& message, std::string_view control) {
  const JsonPtr answer(cJSON_CreateObject());
  cJSON* refusal = cJSON_AddObjectToObject(answer.get(), "refusal");
  cJSON_AddStringToObject(refusal, "title", message.title.c_str());
  cJSON_AddStringToObject(refusal, "text", message.text.c_str());
  cJSON_AddStringToObject(refusal, "control", std::string(control).c_str());
  return json_answer(answer.get());
}

WebAnswer answer_edit_check(std::string_view argument_text,
                            const std::optional<std::string>& body) {
  if (!body) {
    WebAnswer refused = text_answer(405, "post the edited channel to check");
    refused.headers.emplace_back("Allow", "POST");
    return refused;
  }
  const std::optional<EditStep> step = edit_step_named(argument_text);
  if (!step) {
    return text_answer(400,
                       "ask for \"?apply\", \"?video_encoding\", \"?audio_encoding\" or \"?cbr\"");
  }
  auto read = read_request(*body);
  if (auto* reason = std::get_if<std::string>(&read)) return text_answer(400, std::move(*reason));
  EditCheckRequest& request = std::get<EditCheckRequest>(read);
  if (*step == EditStep::apply) return apply_answer(request);
  return change_answer(*step, request);
}

}  // namespace vx
