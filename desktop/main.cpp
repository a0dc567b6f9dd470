// vantorix: the program. It shows its window when there is a display; with -quiet and no
// display it runs headless, serving the web administration and keeping the channels running
// until SIGTERM, SIGINT or SIGHUP.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/headless_loop.h"
#include "vocabulary/ascii.h"

namespace {

// Only a command line that is exactly "-quiet" (any case) starts without the window.
bool quiet_start(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return vx::iequals(line, "-quiet");
}

bool has_display() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quiet = quiet_start(argc, argv);
  if (!quiet && !has_display()) {
    std::fprintf(stderr,
                 "vantorix: there is no display for the window; start it with -quiet to run "
                 "without one\n");
    return 2;
  }
  vx::HeadlessLoop loop;  // first: it blocks the exit signals before any thread starts
  if (!quiet) loop.note("the desktop window is not part of this build; running without it");
  vx::Application application(loop, loop, loop);
  if (const std::optional<int> code = application.start(!quiet)) return *code;
  const int signal_number = loop.run(application);
  loop.note(std::string("stopping on signal ") + std::to_string(signal_number) +
            "; every channel is stopped and the configuration saved");
  application.exit_sequence();
  return 0;
}
