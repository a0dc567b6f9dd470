#include "app/application.h"

#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/login_password.h"
#include "config/store.h"
#include "engine/channel_compiler.h"
#include "engine/engine.h"
#include "engine/playlist.h"
#include "platform/autostart.h"
#include "platform/descriptor_limit.h"
#include "platform/host.h"
#include "vocabulary/product.h"
#include "vocabulary/text_format.h"
#include "web/gate.h"
#include "web/request_log.h"
#include "web/server.h"

namespace vx {
namespace {

std::string executable_path() {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? module_folder() + "/vantorix" : path.string();
}

// Why nothing could listen on the port, found by trying it the same way.
std::string listen_failure(int port) {
  std::string reason;
  append_format(reason, "the web administration server cannot listen on port %d", port);
  const std::string why = port_unusable_reason(port);
  if (!why.empty()) reason += ": " + why;
  reason += " (global \"httpPort\"); nothing was started";
  return reason;
}

std::string engine_failure(int code) {
  std::string text;
  append_format(text, "Oops, MORVI init failed! (%d): ", code);
  text += error_text(code);
  if (code == kErrorTranscoderMissing) text += " in " + module_folder();
  return text;
}

}  // namespace

std::string stopping_note(int signal_number) {
  return "stopping on signal " + std::to_string(signal_number) +
         "; every channel is stopped and the configuration saved";
}

void commit_configuration() {
  config_save();
  apply_autostart_setting();
}

void apply_autostart_setting() {
  bool auto_run = false;
  {
    const CoreLock lock = core_lock();
    auto_run = config_bool(config_object(config_document(), "global"), "autoRun");
  }
  autostart_apply(auto_run, app_display_name(module_folder()), executable_path());
}

void reload_configuration() {
  ConfigLoad load;
  {
    const CoreLock lock = core_lock();
    config_set_path(config_path_in(data_folder()));
    load = config_load();
  }
  if (!load.problem.empty()) log_configuration_problem(load.problem);
}

void log_configuration_problem(const std::string& problem) {
  std::string log_path;
  {
    const CoreLock lock = core_lock();
    log_path = config_path_with_extension("_cgi.log");
  }
  request_log_append(log_path, request_log_note(std::time(nullptr), problem));
}

Application::Application(WebServerEvents& events, SupervisorView& view, UserMessages& messages)
    : events_(events),
      messages_(messages),
      supervisor_(view, {commit_configuration, reload_configuration}) {}

Application::~Application() {
  if (running_) exit_sequence();
}

std::optional<int> Application::start(bool with_window) {
  const std::string folder = data_folder();
  if (folder.empty()) {
    messages_.error(kProductName,
                    "the data folder cannot be made (is HOME or XDG_CONFIG_HOME usable?)");
    return 1;
  }
  instance_ = std::make_unique<SingleInstance>(SingleInstance::acquire(folder));
  if (instance_->role() == InstanceRole::second) return refuse_second_copy();
  if (instance_->role() == InstanceRole::failed) {
    messages_.warning(kProductName,
                      "another copy cannot be told apart from this one: " + instance_->error());
  }
  (void)with_window;

  ConfigLoad load;
  {
    const CoreLock lock = core_lock();
    attach_folder_playlists_to_config();
    config_set_path(config_path_in(folder));
    load = config_load();
  }
  if (!load.problem.empty()) {
    // Said wherever the operator may look: the start-up messages and the request log.
    messages_.warning(kProductName, load.problem);
    log_configuration_problem(load.problem);
  }
  if (!load.loaded) {
    messages_.error(kProductName, "the configuration cannot be read or written in " + folder);
    undo_start();
    return 1;
  }
  const std::string log_folder = folder + "/log";
  std::error_code ignored;
  std::filesystem::create_directories(log_folder, ignored);
  if (std::optional<int> failed = start_engine(log_folder)) return failed;
  if (std::optional<int> failed = start_web_server()) return failed;
  running_ = true;

  bool insecure = false;
  {
    const CoreLock lock = core_lock();
    insecure = !login_password_is_set(config_object(config_document(), "global"));
  }
  if (insecure) messages_.warning(kSecurityWarningCaption, security_warning_text());
  for (const Supervisor::StartFailure& failed : supervisor_.rebuild_rows(true)) {
    std::string text;
    append_format(text, "channel %d did not start: ", failed.row + 1);
    messages_.note(text + std::string(error_text(failed.code)));
  }
  if (web_server_running()) {
    for (const std::string& address : web_addresses()) {
      messages_.note("web administration: " + address);
    }
  }
  return std::nullopt;
}

std::optional<int> Application::refuse_second_copy() {
  switch (instance_->ask_first_to_show()) {
    case InstanceAnswer::window_shown:
      messages_.note("Vantorix is already running; its window was brought to the front");
      return 0;
    case InstanceAnswer::headless:
      messages_.error(kProductName,
                      "Vantorix is already running without a window; stop that copy first");
      return 1;
    case InstanceAnswer::no_answer:
      break;
  }
  messages_.error(kProductName, "Vantorix is already running but does not answer");
  return 1;
}

std::optional<int> Application::start_engine(const std::string& log_folder) {
  EngineSettings settings;
  {
    const CoreLock lock = core_lock();
    settings = engine_settings_of(config_object(config_document(), "global"));
    settings.log_folder = log_folder;
  }
  const int result = engine_init(settings);
  if (result == 0) return std::nullopt;
  messages_.error(kProductName, engine_failure(result));
  engine_shutdown();
  undo_start();
  return 1;
}

std::optional<int> Application::start_web_server() {
  // Thousands of browsers and scrapers may connect: the server needs more than the usual 1,024
  // descriptors, which every transcoder started later inherits for its viewers too.
  raise_descriptor_limit();
  WebServices services;
  services.events = &events_;
  services.commands = &commands_;
  web_server_configure(services);
  if (web_server_start()) return std::nullopt;
  if (web_server_problem().tls_files) {
    // The channels run all the same; only the administration waits for files it can serve with.
    messages_.warning(kProductName,
                      "the web administration is not served: " + web_server_problem().text +
                          ". Mend the files (or switch HTTPS off in Global Settings) "
                          "and restart Vantorix.");
    return std::nullopt;
  }
  messages_.error(kProductName, listen_failure(web_server_configured_port()));
  engine_shutdown();
  undo_start();
  return 1;
}

void Application::undo_start() {
  const CoreLock lock = core_lock();
  config_free();
  instance_.reset();
}

void Application::exit_sequence() {
  if (!running_) return;
  running_ = false;
  // Requests waiting for a command are answered first: the server's stop waits for them.
  commands_.close();
  web_server_stop();  // never under the core lock: its thread may be waiting for it
  engine_shutdown();
  commit_configuration();
  {
    const CoreLock lock = core_lock();
    config_free();
  }
  instance_.reset();
}

void Application::restart_web_server() {
  commands_.close();
  const std::string refused = web_server_restart();
  commands_.open();
  if (refused.empty()) return;
  // The document says again where the server is; the file follows.
  commit_configuration();
  messages_.warning(kProductName, refused);
}

std::string Application::security_warning_text() const {
  std::string text = kSecurityWarning;
  if (!web_server_running()) return text;
  text += "\n\nFrom another machine, set it once at the setup address:";
  for (const std::string& address : web_addresses()) {
    text += "\n" + address.substr(0, address.size() - 1) + web_setup_path();
  }
  return text;
}

std::vector<std::string> Application::web_addresses() const {
  const char* scheme = web_server_uses_tls() ? "https" : "http";
  const int port = web_server_port();
  std::vector<std::string> addresses;
  std::vector<std::string> hosts = {"127.0.0.1"};
  for (std::string& host : local_ipv4_addresses())
    hosts.push_back(std::move(host));
  for (const std::string& host : hosts) {
    std::string address;
    append_format(address, "%s://%s:%d/", scheme, host.c_str(), port);
    addresses.push_back(std::move(address));
  }
  return addresses;
}

}  // namespace vx
