#include "web/api.h"

#include <cstring>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/document_check.h"
#include "config/json.h"
#include "config/login_password.h"
#include "config/normalise.h"
#include "config/store.h"
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
#include "vocabulary/product.h"
#include "vocabulary/text_format.h"
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
      return R"(    {"state": "stopping", "status": "NO SIGNAL")";
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

// Which channels of the document in force are not idle; under the core lock.
std::vector<bool> channels_not_idle() {
  std::vector<bool> busy;
  int index = 0;
  const cJSON* channel = nullptr;
  cJSON_ArrayForEach(channel, config_array(config_document(), "channels")) {
    busy.push_back(channel_state(channel_status_settings(channel), index++) != ChannelState::idle);
  }
  return busy;
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
  return std::nullopt;
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
  // Where the page's new recordings and playlists go, as in the window: the folder is the
  // server's to choose, never the page's.
  const JsonPtr folder(cJSON_CreateString(new_output_folder().c_str()));
  text += "  \"outputFolder\": " + json_print_unformatted(folder.get()).value_or("\"\"") + ",\n";
  // The channel a new one starts from, as the window's: the page sets its own host as the
  // target's address.
  text += "  \"channelTemplate\": " +
          json_print_unformatted(channel_template_for_browser("127.0.0.1").get()).value_or("{}") +
          "\n";
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
                                ChannelCommands* commands) {
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
  // The command is handed over without the core lock: the thread that carries it out takes it.
  const int result =
      commands != nullptr ? commands->run_channel_command(*command, number - 1) : kErrorNotTaken;
  if (result != 0) return text_answer(400, std::string(error_text(result)));
  if (*command != ChannelCommand::preview) return WebAnswer{200, keep_alive_headers(), {}};
  // Where the preview plays: the page asks rather than knowing the rule.
  int port = 0;
  {
    const CoreLock lock = core_lock();
    port = channel_served_port(config_document(), number - 1);
  }
  std::string text;
  append_format(text, "{\"port\": %d}\n", port);
  return WebAnswer{200, json_headers(), std::move(text)};
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
