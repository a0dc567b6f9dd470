#include "web/api.h"

#include <cstring>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/document_check.h"
#include "config/json.h"
#include "config/login_password.h"
#include "config/normalise.h"
#include "config/served_output.h"
#include "config/store.h"
#include "settings/choice_tables.h"
#include "settings/source_address.h"
#include "settings/target_address.h"
#include "devices/decklink.h"
#include "devices/device_text.h"
#include "devices/ndi.h"
#include "engine/channel_compiler.h"
#include "engine/channel_slot.h"
#include "engine/channel_status.h"
#include "engine/engine.h"
#include "engine/load_monitor.h"
#include "platform/host.h"
#include "vocabulary/ascii.h"
#include "vocabulary/channel_glance.h"
#include "vocabulary/input_switch_report.h"
#include "vocabulary/product.h"
#include "vocabulary/text_format.h"
#include "web/request_origin.h"
#include "web/request_text.h"
#include "web/server.h"
#include "web/settings_check.h"

namespace vx {
namespace {

// Status texts are the engine's own, but a folder channel shows a file name, which may hold
// quotes or bytes that are not UTF-8.
constexpr std::size_t kMaxStatusCharacters = 999;

// The entry up to its status, without the closing brace.
const char* status_entry_prefix(ChannelState state) {
  switch (state) {
    case ChannelState::extract:
      return R"(    {"state": "running", "status": "EXTRACT")";
    case ChannelState::running:
      return nullptr;  // written with its status text
    case ChannelState::preview:
      return R"(    {"state": "preview", "status": "PREVIEW")";
    case ChannelState::no_signal:
      return nullptr;  // written with its status text
    case ChannelState::stopping:
      return R"(    {"state": "stopping", "status": "STOPPING")";
    case ChannelState::idle:
      break;
  }
  return R"(    {"state": "idle", "status": "IDLE")";
}

// Only a channel whose transcoder relays targets has the field, so every other entry reads as it
// always has.
void append_target_states(std::string& text, const std::vector<RelayedTarget>& targets) {
  if (targets.empty()) return;
  text += R"(, "targets": [)";
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (i > 0) text += ", ";
    append_format(text, R"({"target": %d, "state": "%s"})", targets[i].number,
                  target_state_word(targets[i].state));
  }
  text += ']';
}

void append_status_entry(std::string& text, const cJSON* channel, int index) {
  const ChannelStatusSettings settings = channel_status_settings(channel);
  const ChannelState state = channel_state(settings, index);
  if (state == ChannelState::idle && !engine_get_start_problem(index).empty()) {
    text += R"(    {"state": "idle", "status": )";
    text += device_text_json(idle_status_text(index), kMaxStatusCharacters);
  } else if (const char* fixed = status_entry_prefix(state)) {
    text += fixed;
  } else if (state == ChannelState::no_signal) {
    text += R"(    {"state": "stopping", "status": )";
    text += device_text_json(no_signal_status_text(settings, index), kMaxStatusCharacters);
  } else {
    std::string status = channel_status_text(settings, index);
    if (status.empty()) status = "RUNNING";
    text += R"(    {"state": "running", "status": )";
    text += device_text_json(status, kMaxStatusCharacters);
  }
  append_target_states(text, channel_target_states(index));
  text += '}';
}

struct WebSettings {
  std::int32_t port = 0;
  bool ssl_enable = false;
  std::string ssl_cert;
  std::string ssl_key;

  bool operator==(const WebSettings&) const = default;
};

WebSettings web_settings_of(const cJSON* document) {
  const cJSON* global = config_object(document, "global");
  return WebSettings{config_int(global, "httpPort"), config_bool(global, "sslEnable"),
                     config_string(global, "sslCert"), config_string(global, "sslKey")};
}

void apply_engine_options(const cJSON* document) {
  engine_set_options(engine_settings_of(config_object(document, "global")));
}

WebAnswer refused_post(unsigned status, std::string reason) {
  return text_answer(status, std::move(reason) + "; nothing was changed");
}

// A post that would move the server to a port it cannot listen on is refused whole: the server
// would otherwise stop answering, and a headless operator could never reach it again.
std::optional<WebAnswer> refuse_unusable_port(const WebSettings& posted) {
  const int port = posted.port;
  if (port == web_server_port()) return std::nullopt;
  const std::string reason = port_unusable_reason(port);
  if (reason.empty()) return std::nullopt;
  std::string text;
  append_format(text, "port %d cannot be used: %s", port, reason.c_str());
  return refused_post(409, std::move(text));
}

std::optional<ChannelCommand> channel_command_named(std::string_view word) {
  if (iequals(word, "start")) return ChannelCommand::start;
  if (iequals(word, "stop")) return ChannelCommand::stop;
  if (iequals(word, "preview")) return ChannelCommand::preview;
  if (iequals(word, "remove")) return ChannelCommand::remove;
  return std::nullopt;
}

// ----- the page's rules ----------------------------------------------------------------------

// The capture devices the sources of kind "device" open on this server.
constexpr const char* kCaptureDeviceKind = "V4L2";

cJSON* add_entry(cJSON* array) {
  cJSON* entry = cJSON_CreateObject();
  cJSON_AddItemToArray(array, entry);  // the array owns the entry from here on
  return entry;
}

void add_text(cJSON* object, const char* key, std::string_view text) {
  cJSON_AddStringToObject(object, key, std::string(text).c_str());
}

template <std::size_t N>
void add_codec_choices(cJSON* rules, const char* key, const std::array<CodecChoice, N>& choices) {
  cJSON* array = cJSON_AddArrayToObject(rules, key);
  for (const CodecChoice& choice : choices) {
    cJSON* entry = add_entry(array);
    add_text(entry, "text", choice.text);
    add_text(entry, "codec", choice.codec);
  }
}

// An editable list whose first entry ("Original", "Default") stands for 0.
template <std::size_t N>
void add_number_choices(cJSON* rules, const char* key,
                        const std::array<std::string_view, N>& choices) {
  cJSON* array = cJSON_AddArrayToObject(rules, key);
  for (std::size_t i = 0; i < N; ++i) {
    cJSON* entry = add_entry(array);
    add_text(entry, "text", choices[i]);
    add_text(entry, "value", i == 0 ? std::string_view("0") : choices[i]);
  }
}

void add_target_formats(cJSON* rules) {
  cJSON* array = cJSON_AddArrayToObject(rules, "targetFormats");
  for (const TargetFormatChoice& choice : kTargetFormatChoices) {
    cJSON* entry = add_entry(array);
    add_text(entry, "text", choice.text);
    add_text(entry, "format", choice.format);
    cJSON_AddBoolToObject(entry, "multiBitrate", choice.multi_bitrate);
  }
  cJSON_AddNumberToObject(rules, "maxTargets", kMaxChannelTargets);
}

void add_frame_sizes(cJSON* rules) {
  cJSON* array = cJSON_AddArrayToObject(rules, "frameSizes");
  for (std::size_t i = 0; i < kFrameSizeChoices.size(); ++i) {
    cJSON* entry = add_entry(array);
    add_text(entry, "text", kFrameSizeChoices[i].text);
    // "Other" takes the two fields as they are typed.
    if (static_cast<int>(i) == kFrameSizeOther) continue;
    cJSON_AddNumberToObject(entry, "width", kFrameSizeChoices[i].width);
    cJSON_AddNumberToObject(entry, "height", kFrameSizeChoices[i].height);
  }
}

// The source types in the window's order and words, with the address a newly chosen one starts
// with.
void add_source_formats(cJSON* rules) {
  cJSON* array = cJSON_AddArrayToObject(rules, "sourceFormats");
  for (const SourceTypeEntry& type : source_type_entries()) {
    cJSON* entry = add_entry(array);
    add_text(entry, "value", source_type_word(type.type));
    add_text(entry, "text", type.text);
    add_text(entry, "format", type.format);
    add_text(entry, "defaultAddress", default_source_address(type.type));
  }
  cJSON_AddStringToObject(rules, "captureDevices", kCaptureDeviceKind);
}

// How many standby sources the list takes, and the seconds each switch-on box takes.
void add_standby_limits(cJSON* rules) {
  cJSON_AddNumberToObject(rules, "maxStandbySources", kMaxStandbySources);
  cJSON* seconds = cJSON_AddObjectToObject(rules, "switchOnSeconds");
  cJSON_AddNumberToObject(seconds, "min", 0);
  cJSON_AddNumberToObject(seconds, "max", kMaxSwitchOnSeconds);
}

// How often a running channel's thumbnail is renewed, and how far its history reaches back:
// the page polls no faster than that.
void add_glance_timing(cJSON* rules) {
  cJSON_AddNumberToObject(rules, "thumbnailSeconds", kThumbnailSeconds);
  cJSON_AddNumberToObject(rules, "historySeconds", kHistorySamples * kHistoryIntervalSeconds);
}

// A whole decimal number from `low` to `high` under `name` in the query; nullopt for anything
// else (missing, empty, signs, blanks, other characters, too long).
std::optional<int> query_number(std::string_view argument_text, std::string_view name, int low,
                                int high) {
  const std::optional<std::string> text = query_value(argument_text, name);
  if (!text || text->empty() || text->size() > 5) return std::nullopt;
  int value = 0;
  for (const char c : *text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

// The host to name in an address handed to the page: the one the request reached this server by
// when its Host header is well formed, else this machine's first address as the window names it.
std::string host_for_page(std::string_view host_header) {
  if (std::optional<std::string> host = reached_host(host_header)) return *host;
  const std::string own = local_ipv4_address();
  return own.empty() ? "127.0.0.1" : own;
}

std::optional<WebAnswer> refuse_channel_number(const std::optional<int>& number) {
  if (number) return std::nullopt;
  std::string text;
  append_format(text, "the query needs \"channel=\" with a channel number from 1 to %d",
                kMaxChannels);
  return text_answer(400, std::move(text));
}

// The posted "global" object, made when the post has none: the password stays whatever else the
// post leaves out.
cJSON* posted_global(cJSON* posted) {
  cJSON* global = config_object(posted, "global");
  if (global != nullptr && cJSON_IsObject(global)) return global;
  cJSON_DeleteItemFromObjectCaseSensitive(posted, "global");
  return cJSON_AddObjectToObject(posted, "global");
}

// The "global" settings in force, copied under the core lock: the post is checked and its
// password settled against them without holding it.
JsonPtr global_in_force() {
  const CoreLock lock = core_lock();
  return JsonPtr(cJSON_Duplicate(config_object(config_document(), "global"), true));
}

// What the post may not do to the server's own settings.
std::optional<WebAnswer> refuse_web_settings(const cJSON* posted, const cJSON* current) {
  const std::string problem = web_settings_problem(config_object(posted, "global"), current);
  if (!problem.empty()) return refused_post(400, problem);
  return refuse_unusable_port(web_settings_of(posted));
}

}  // namespace

std::vector<bool> channels_not_idle() {
  std::vector<bool> busy;
  int index = 0;
  const cJSON* channel = nullptr;
  cJSON_ArrayForEach(channel, config_array(config_document(), "channels")) {
    busy.push_back(channel_state(channel_status_settings(channel), index++) != ChannelState::idle);
  }
  return busy;
}

WebAnswer json_answer(const cJSON* item) {
  std::optional<std::string> text = json_print_unformatted(item);
  if (!text) return empty_answer(500);
  return WebAnswer{200, json_headers(), std::move(*text) + "\n"};
}

std::string status_text(const cJSON* document) {
  std::string text = "{\n  \"channels\": [\n";
  const cJSON* channels = config_array(document, "channels");
  int index = 0;
  for (const cJSON* channel = channels != nullptr ? channels->child : nullptr;
       channel != nullptr && channel_is_valid(channel); channel = channel->next, ++index) {
    if (index > 0) text += ",\n";
    append_status_entry(text, channel, index);
  }
  text += "\n  ],\n  \"cpu\": [";
  for (int cpu = 0; cpu < engine_cpu_count(); ++cpu) {
    if (cpu > 0) text += ", ";
    append_format(text, "%d", engine_cpu_load(cpu));
  }
  text += "]";
  if (engine_gpu_available()) {
    append_format(text, ",\n  \"gpu\": %d\n", engine_gpu_load());
  } else {
    text += "\n";
  }
  text += "}\n";
  return text;
}

std::string runtime_text() {
  std::string text = "{\n";
  append_format(text, "  \"app\": \"%s\",\n", kProductName);
  append_format(text, "  \"appAbbr\": \"%s\",\n", kProductAbbreviation);
  append_format(text, "  \"title\": \"%s\",\n", kApplicationTitle);
  append_format(text, "  \"version\": \"%s\",\n", version_text());
  append_format(text, "  \"channels\": %d,\n", kMaxChannels);
  append_format(text, "  \"website\": \"%s\",\n", kProductWebsite);
  append_format(text, "  \"manual\": \"%s\",\n", kManualAddress);
  append_format(text, "  \"platform\": \"%s\",\n", kPlatformName);
  // Where new recordings and playlists go, as in the window: the folder is the server's to
  // choose, never the page's.
  const JsonPtr folder(cJSON_CreateString(new_output_folder().c_str()));
  text += "  \"outputFolder\": " + json_print_unformatted(folder.get()).value_or("\"\"") + "\n";
  text += "}";
  return text;
}

WebAnswer answer_status() {
  std::string text;
  {
    const CoreLock lock = core_lock();
    text = status_text(config_document());
  }
  return WebAnswer{200, json_headers(), std::move(text)};
}

WebAnswer answer_runtime() {
  return WebAnswer{200, json_headers(), runtime_text()};
}

WebAnswer answer_rules() {
  const JsonPtr rules(cJSON_CreateObject());
  add_target_formats(rules.get());
  add_codec_choices(rules.get(), "videoEncodings", kVideoEncodingChoices);
  add_codec_choices(rules.get(), "audioEncodings", kAudioEncodingChoices);
  add_frame_sizes(rules.get());
  add_number_choices(rules.get(), "frameRates", kFrameRateChoices);
  add_number_choices(rules.get(), "qualities", kQualityChoices);
  add_number_choices(rules.get(), "videoBitrates", kVideoBitrateChoices);
  add_number_choices(rules.get(), "sampleRates", kSampleRateChoices);
  add_number_choices(rules.get(), "audioBitrates", kAudioBitrateChoices);
  cJSON* channels = cJSON_AddArrayToObject(rules.get(), "audioChannels");
  for (const AudioChannelChoice& choice : kAudioChannelChoices) {
    cJSON* entry = add_entry(channels);
    add_text(entry, "text", choice.text);
    cJSON_AddNumberToObject(entry, "channels", choice.channels);
  }
  add_source_formats(rules.get());
  add_standby_limits(rules.get());
  add_glance_timing(rules.get());
  return json_answer(rules.get());
}

WebAnswer answer_target_preset(std::string_view argument_text, std::string_view host_header) {
  const std::optional<int> number = query_number(argument_text, "channel", 1, kMaxChannels);
  if (std::optional<WebAnswer> refused = refuse_channel_number(number)) return *refused;
  const std::optional<int> entry = query_number(argument_text, "entry", 0,
                                                static_cast<int>(kTargetFormatChoices.size()) - 1);
  if (!entry) {
    std::string text;
    append_format(text, "the query needs \"entry=\" with a target format entry from 0 to %d",
                  static_cast<int>(kTargetFormatChoices.size()) - 1);
    return text_answer(400, std::move(text));
  }
  std::string host = host_for_page(host_header);  // may ask the host's addresses: unlocked
  ServedAddressBase served;
  {
    const CoreLock lock = core_lock();
    served = served_address_base(config_object(config_document(), "global"), std::move(host));
  }
  const std::string url = target_format_default_url(static_cast<TargetFormatEntry>(*entry),
                                                    *number, served, new_output_folder());
  const JsonPtr answer(cJSON_CreateObject());
  cJSON_AddStringToObject(answer.get(), "url", url.c_str());
  return json_answer(answer.get());
}

WebAnswer answer_channel_template() {
  return json_answer(channel_template().get());
}

WebAnswer answer_served(std::string_view argument_text, std::string_view host_header) {
  const std::optional<int> number = query_number(argument_text, "channel", 1, kMaxChannels);
  if (std::optional<WebAnswer> refused = refuse_channel_number(number)) return *refused;
  const std::string host = host_for_page(host_header);  // may ask the host's addresses: unlocked
  std::optional<std::string> url;
  bool exists = false;
  {
    const CoreLock lock = core_lock();
    const cJSON* document = config_document();
    exists = *number <= cJSON_GetArraySize(config_array(document, "channels"));
    if (exists) url = channel_served_url(document, *number - 1, host);
  }
  if (!exists) return text_answer(404, "there is no channel " + std::to_string(*number));
  if (!url) {
    return text_answer(404, "channel " + std::to_string(*number) +
                                " serves no output over HTTP (its first target is not MPEG-TS over "
                                "HTTP, HTML5 Video or MJPEG over HTTP)");
  }
  const JsonPtr answer(cJSON_CreateObject());
  cJSON_AddStringToObject(answer.get(), "url", url->c_str());
  return json_answer(answer.get());
}

std::optional<WebAnswer> answer_config_download(std::string_view argument_text) {
  std::optional<std::string> printed;
  {
    const CoreLock lock = core_lock();
    printed = config_print_public();
  }
  if (!printed) return std::nullopt;
  WebAnswer answer{200,
                   {{"Connection", "Keep-Alive"},
                    {"Content-Type", "application/json"},
                    {"Cache-Control", "no-cache"}},
                   std::move(*printed)};
  if (contains(argument_text, "dl=1")) {
    answer.headers.emplace_back("Content-Disposition", "attachment; filename=morvi.json");
  }
  return answer;
}

WebAnswer answer_config_post(std::string_view argument_text, std::string_view body,
                             WebServerEvents* events) {
  const bool import = iequals(argument_text, "import");
  WebAnswer answer{200, {{"Connection", "Keep-Alive"}, {"Content-Type", "application/json"}}, {}};
  bool restart = false;
  JsonPtr posted = json_parse(body);
  if (!cJSON_IsObject(posted.get())) {
    return refused_post(400, "the configuration is not a JSON object");
  }
  cJSON* global = posted_global(posted.get());
  if (std::string_view(config_string(global, kLoginPassKey)).size() > kLoginPasswordMaxBytes) {
    return refused_post(400, "the login password is longer than 999 bytes");
  }
  const JsonPtr current = global_in_force();
  // A posted "loginHash" never counts: only a password typed in clear sets one. Hashed here,
  // before the lock.
  if (login_password_settle(global, config_login_hash(current.get())) == LoginSettle::failed) {
    return refused_post(503, "the login password could not be stored");
  }
  if (std::string problem = http_port_problem(global); !problem.empty()) {
    return refused_post(400, std::move(problem));
  }
  if (std::string problem = viewers_per_address_problem(global); !problem.empty()) {
    return refused_post(400, std::move(problem));
  }
  if (!normalise_document(posted.get())) {
    return refused_post(400, "the configuration is not a JSON object");
  }
  if (std::optional<WebAnswer> refused = refuse_web_settings(posted.get(), current.get())) {
    return *refused;
  }
  {
    const CoreLock lock = core_lock();
    // Checked against the channels as they run now, under the same lock as the install: the
    // window's Apply passes the same checks.
    if (std::optional<DocumentRefusal> refusal =
            document_refusal(posted.get(), config_document(), channels_not_idle())) {
      return refused_post(static_cast<unsigned>(refusal->status), std::move(refusal->reason));
    }
    const WebSettings before = web_settings_of(config_document());
    cJSON* document = config_install(std::move(posted));
    if (!import) answer.body = config_print_public().value_or("");
    apply_engine_options(document);
    restart = web_settings_of(document) != before;
  }
  // Saved once, after the lock is let go: the tick and "/status" never wait for the disk.
  config_save();
  if (events != nullptr) {
    events->configuration_saved();
    events->reload_channels();
  }
  answer.restart_server_after = restart;
  if (import) {
    answer.status = 301;
    answer.headers.emplace_back("Location", "/");
  }
  return answer;
}

WebAnswer answer_channel_action(int number, std::string_view argument_text,
                                ChannelCommands* commands, bool post,
                                std::string_view host_header) {
  int count = 0;
  {
    const CoreLock lock = core_lock();
    count = cJSON_GetArraySize(config_array(config_document(), "channels"));
  }
  if (number < 1 || number > count) return empty_answer(404);
  // A request without an action word is answered rather than left hanging.
  if (argument_text.empty()) return WebAnswer{400, keep_alive_headers(), {}};
  const std::optional<ChannelCommand> command = channel_command_named(argument_text);
  if (!command) return WebAnswer{200, keep_alive_headers(), {}};  // an unknown word does nothing
  // A link or a prefetch never removes a channel.
  if (*command == ChannelCommand::remove && !post) {
    WebAnswer refused = text_answer(405, "a channel is removed by a POST; nothing was changed");
    refused.headers.emplace_back("Allow", "POST");
    return refused;
  }
  // The command is handed over without the core lock: the thread that carries it out takes it.
  const int result =
      commands != nullptr ? commands->run_channel_command(*command, number - 1) : kErrorNotTaken;
  if (result == kErrorRemovalWhileRunning) {
    return text_answer(409, "channel " + std::to_string(number) + " was not removed: " +
                                std::string(error_text(result)));
  }
  if (result != 0) return text_answer(400, std::string(error_text(result)));
  if (*command != ChannelCommand::preview) return WebAnswer{200, keep_alive_headers(), {}};
  // Where the preview plays: the page asks rather than knowing the rule.
  const std::string host = host_for_page(host_header);  // may ask the host's addresses: unlocked
  int port = 0;
  std::optional<std::string> url;
  {
    const CoreLock lock = core_lock();
    port = channel_served_port(config_document(), number - 1);
    url = channel_preview_url(config_document(), number - 1, host);
  }
  const JsonPtr answer(cJSON_CreateObject());
  cJSON_AddNumberToObject(answer.get(), "port", port);
  if (url) cJSON_AddStringToObject(answer.get(), "url", url->c_str());
  return json_answer(answer.get());
}

WebAnswer answer_decklink_config(std::string_view argument_text, DeckLinkDriver* driver) {
  const std::optional<std::string> output = query_value(argument_text, "output");
  const char* output_arg = output ? output->c_str() : nullptr;
  std::string text = driver != nullptr ? decklink_config_answer(output_arg, *driver)
                                       : decklink_config_answer(output_arg);
  return WebAnswer{200, json_headers(), std::move(text)};
}

WebAnswer answer_ndi_config(std::string_view argument_text, const std::string& library) {
  // The search waits on the network; it shares nothing with the document, so it runs unlocked.
  const std::optional<std::string> timeout = query_value(argument_text, "timeout");
  return WebAnswer{
      200, json_headers(),
      ndi_config_answer(timeout ? timeout->c_str() : nullptr, library, &web_server_stopping())};
}

}  // namespace vx
