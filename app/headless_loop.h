// The program without a window: a loop on the program's own thread that ticks the supervisor
// every 100 ms, carries out what the web server asked for (its channel commands at once, between
// ticks), answers later copies of the program, and ends on SIGTERM, SIGINT or SIGHUP so the exit
// sequence can stop every transcoder.
#pragma once

#include <atomic>

#include "app/application.h"
#include "platform/unique_fd.h"

namespace vx {

class HeadlessLoop final : public WebServerEvents, public SupervisorView, public UserMessages {
 public:
  // Blocks SIGTERM, SIGINT and SIGHUP in the calling thread (and so in every thread started
  // after it) and reads them from a descriptor instead. Call before anything starts a thread.
  HeadlessLoop();

  // Runs until one of the signals arrives; returns its number.
  int run(Application& application);

  // WebServerEvents, from the web server's thread.
  void configuration_saved() override;
  void reload_channels() override { reload_requested_ = true; }
  void restart_web_server() override { restart_requested_ = true; }

  // UserMessages: standard error, and the notes on standard output.
  void warning(std::string_view caption, std::string_view text) override;
  void error(std::string_view caption, std::string_view text) override;
  void note(std::string_view text) override;

 private:
  void carry_out_requests(Application& application);

  UniqueFd signals_;
  std::atomic<bool> reload_requested_{false};
  std::atomic<bool> restart_requested_{false};
};

}  // namespace vx
