// vantorix: the program. With a display it shows its window (with -quiet only its tray icon);
// with -quiet and no display (or one that does not answer) it runs headless, serving the web
// administration and keeping the channels running until SIGTERM, SIGINT or SIGHUP.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/headless_loop.h"
#include "desktop/desktop_shell.h"
#include "platform/display.h"
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
  const bool named_display = has_display();
  if (named_display && vx::display_reachable()) return vx::run_desktop(argc, argv, quiet);
  const char* missing =
      named_display ? "the display does not answer" : "there is no display for the window";
  if (!quiet) {
    std::fprintf(stderr, "vantorix: %s; start it with -quiet to run without one\n", missing);
    return 2;
  }
  vx::HeadlessLoop loop;  // first: it blocks the exit signals before any thread starts
  if (named_display) loop.note(std::string(missing) + "; running without the window");
  vx::Application application(loop, loop, loop);
  if (const std::optional<int> code = application.start(false)) return *code;
  const int signal_number = loop.run(application);
  loop.note(vx::stopping_note(signal_number));
  application.exit_sequence();
  return 0;
}
