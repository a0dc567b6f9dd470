// The JSON endpoints behind the login: the channel states with the machine's load, the runtime
// description, the whole configuration read and replaced, the channel actions, and the DeckLink
// and NDI lists. Each endpoint takes the core lock for as long as it reads or changes the
// document or the slots, and never while it waits for the network, a disk write or the
// program's thread.
#pragma once

#include <cjson/cJSON.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "web/web_answer.h"
#include "web/web_services.h"

namespace vx {

// "/status" for the document: the channels up to the first invalid one, the per-processor
// load and, when it is measured, the GPU load. The caller holds the core lock.
std::string status_text(const cJSON* document);
std::string runtime_text();

// Which channels of the document in force are not idle; the caller holds the core lock.
std::vector<bool> channels_not_idle();
// 200 with the item printed as JSON; 500 when it cannot be printed.
WebAnswer json_answer(const cJSON* item);

WebAnswer answer_status();

// "/thumbnails/N.jpg": channel N's latest picture (JPEG) with its entity tag, 304 when the
// client holds that copy, 404 while the channel has none (not running, or not yet a picture).
WebAnswer answer_thumbnail(int number, std::string_view if_none_match);
// "/history/N": channel N's samples, oldest first, as
// {"interval": 1, "fps": [...], "bitrate": [...], "state": [...]} (null where there is no
// figure; bit rates in kbit/s); 404 for a channel the document does not have.
WebAnswer answer_history(int number);
WebAnswer answer_runtime();
// "/rules": the choice tables the page draws its lists from, as the window's (settings/).
WebAnswer answer_rules();
// "/target_preset?channel=N&entry=K": the address target format entry K (a position in the
// "targetFormats" of "/rules") starts with for channel N, on the host the request reached this
// server by when its Host header is well formed.
WebAnswer answer_target_preset(std::string_view argument_text, std::string_view host_header);
// "/channel_template": the channel a new one starts from, the window's.
WebAnswer answer_channel_template();
// "/served?channel=N": where the output channel N serves over HTTP is watched.
WebAnswer answer_served(std::string_view argument_text, std::string_view host_header);
// The formatted document; nullopt when it cannot be printed.
std::optional<WebAnswer> answer_config_download(std::string_view argument_text);
// Replaces the whole document with the body (an import when the query is exactly "import").
WebAnswer answer_config_post(std::string_view argument_text, std::string_view body,
                             WebServerEvents* events);
// "/channel" + number with "start", "stop" or "preview" as its query, or "remove" in a POST,
// carried out by `commands`. The preview's answer says where it plays, on `host_header`'s host.
WebAnswer answer_channel_action(int number, std::string_view argument_text,
                                ChannelCommands* commands, bool post = false,
                                std::string_view host_header = {});
WebAnswer answer_decklink_config(std::string_view argument_text, DeckLinkDriver* driver);
WebAnswer answer_ndi_config(std::string_view argument_text, const std::string& library);
// "/advanced_format" and "/advanced_video" with "load" or "save": a posted channel's option texts
// translated into the advanced panels' fields and back; "/advanced_format" also with
// "add_source_stream" and "add_program", the fields with the row its table buttons add. Nothing
// is stored.
WebAnswer answer_advanced_settings(std::string_view path, std::string_view argument_text,
                                   const std::optional<std::string>& body);
// "/edit_check" with "apply", "video_encoding", "audio_encoding" or "cbr": the checks the window
// makes of an edited channel (posted as {"channel": N, "edited": {...}, "target": K}), answered
// with the refusal the window would show, or for "apply" with the document's channels as Apply
// stores them. Nothing is stored.
WebAnswer answer_edit_check(std::string_view argument_text, const std::optional<std::string>& body);

// The answer of a check the editor refused: {"refusal": {"title", "text", "control"}}, the box
// the window would show and the control it would put the focus on.
struct DialogMessage;
WebAnswer edit_refusal_answer(const DialogMessage& message, std::string_view control);

enum class SourceType;
// The type whose word (source_type_word) is `word`, or nullopt.
std::optional<SourceType> source_type_from_word(std::string_view word);
// The word the page's source type list keeps for a type ("value" in the "sourceFormats" of
// "/rules"): the scheme's name for the types that complete an address with one ("mms" though it
// stores "mmsh://"), else the format it stores.
std::string_view source_type_word(SourceType type);
// "/source_fields" with "show" or "store", a first source posted as {"source": {...}}: the type
// and address the source cells show for it, or (with the typed {"type", "address"} beside it)
// the source as the cells store it, left as posted while they read what it shows. Nothing is
// stored.
WebAnswer answer_source_fields(std::string_view argument_text,
                               const std::optional<std::string>& body);
// "/standby_fields" with "show" or "store", the channel's "input" posted as {"input": {...}}:
// the rows and seconds texts the standby list and the switch-on boxes show for its "standby" and
// "switchOn", or (with the typed {"sources": [{"type", "address", "from"}], "switchOn": {"black",
// "silence", "frozen"}} beside it) the "standby" and "switchOn" as the editor stores them,
// untouched parts as posted; refused as the window's Apply refuses the fields. Nothing is stored.
WebAnswer answer_standby_fields(std::string_view argument_text,
                                const std::optional<std::string>& body);

}  // namespace vx
