// The program's life whatever its front end: start-up in its fixed order (data folder, one
// instance, configuration, engine, web server, channel list with the automatic start), the
// exit sequence, and the two configuration operations that every change ends with.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/command_queue.h"
#include "app/supervisor.h"
#include "platform/single_instance.h"
#include "vocabulary/text_format.h"
#include "web/web_services.h"

namespace vx {

inline constexpr const char* kSecurityWarningCaption = "Web Security Warning";
inline constexpr const char* kSecurityWarning =
    "CAUTION! MORVI web interface is INSECURE! Channel configuration details and HTTP streams "
    "could be exposed to unexpected streamers over the internet. Please set up web login "
    "password in Global Settings immediately!";

// Saves the document to its file, then applies the autostart setting. A failure of either is
// silent (the operator sees the file as it is). Call it without the core lock: the file and
// the autostart entry are written outside it.
void commit_configuration();
// Writes or removes the autostart entry as global "autoRun" says.
void apply_autostart_setting();
// Reads the configuration file again into the document.
void reload_configuration();
// Writes what config_load() found wrong with the file into the request log, whatever "log" says:
// an operator who finds the settings changed must be able to find out why.
void log_configuration_problem(const std::string& problem);

// What the program says when an exit signal ends it.
std::string stopping_note(int signal_number);

// Where start-up reports what went wrong: message boxes in the window, standard error without.
class UserMessages {
 public:
  virtual ~UserMessages() = default;
  virtual void warning(std::string_view caption, std::string_view text) = 0;
  virtual void error(std::string_view caption, std::string_view text) = 0;
  // A note for the operator that needs no answer (where the web page is).
  virtual void note(std::string_view text) = 0;
};

class Application {
 public:
  // `events` receives the web server's notifications; `view` shows the channel rows.
  Application(WebServerEvents& events, SupervisorView& view, UserMessages& messages);
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;
  ~Application();

  // Runs start-up. nullopt: the program runs and the caller enters its loop. Otherwise the
  // process is to end with that code; everything taken so far was given back. A second copy
  // asks the first to show its window (`with_window` tells what this copy would have shown).
  std::optional<int> start(bool with_window);

  // Web server stop, engine shutdown (every transcoder ends), commit, document freed.
  void exit_sequence();

  Supervisor& supervisor() { return supervisor_; }
  // The web server's channel commands; the loop carries them out when its descriptor is
  // readable (CommandQueue::carry_out with supervisor()).
  CommandQueue& commands() { return commands_; }
  // Stops and starts the web server with its settings as they are now; on the loop's thread.
  void restart_web_server();
  SingleInstance* instance() { return instance_.get(); }
  // "http://<address>:<port>/" for the loopback address and each of the host's addresses.
  std::vector<std::string> web_addresses() const;
  // The warning while no password is set, with the setup addresses that set one from another
  // machine.
  std::string security_warning_text() const;

 private:
  std::optional<int> refuse_second_copy();
  std::optional<int> start_engine(const std::string& log_folder);
  std::optional<int> start_web_server();
  void undo_start();

  WebServerEvents& events_;
  UserMessages& messages_;
  Supervisor supervisor_;
  CommandQueue commands_;
  std::unique_ptr<SingleInstance> instance_;
  bool running_ = false;
};

}  // namespace vx
