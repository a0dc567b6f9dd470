// A stand-in for morvi-transcoder in engine tests. It checks the token line on its standard
// input like the real one, then follows the script carried in the argument line as one argument
// "--script=STEP|STEP|...":
//   print TEXT      write TEXT ("\n" and "\r" stand for line ends) to standard output at once
//   repeat MS TEXT  write TEXT every MS milliseconds, for ever
//   sleep MS        wait
//   hang            wait for ever
//   exit CODE       end with CODE
//   ignore-int      ignore SIGINT from now on (by default SIGINT ends it with 255, as ffmpeg)
//   grandchild      start a child of its own that sleeps in the same process group, and print
//                   "grandchild <pid>"
//   echo-line       print the argument line it was given
// Without an exit step it ends with 0 after the last step.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "vocabulary/transcoder_protocol.h"

namespace {

void say(const std::string& text) {
  std::string raw;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == 'r')) {
      raw.push_back(text[++i] == 'n' ? '\n' : '\r');
    } else {
      raw.push_back(text[i]);
    }
  }
  if (::write(STDOUT_FILENO, raw.data(), raw.size()) < 0) std::exit(3);
}

void pause_ms(long ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void on_interrupt(int) {
  _exit(255);
}

std::string script_of(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    if (argument.rfind("--script=", 0) == 0) return argument.substr(9);
  }
  return {};
}

}  // namespace

int main() {
  ::signal(SIGINT, on_interrupt);
  std::string line;
  if (!std::getline(std::cin, line) ||
      line.rfind(std::string(vx::kTranscoderToken) + " ", 0) != 0) {
    std::puts("fake transcoder: missing token");
    return 1;
  }
  const std::string argument_line = line.substr(vx::kTranscoderToken.size() + 1);
  std::string script = script_of(vx::split_argument_line(argument_line));
  while (!script.empty()) {
    const std::size_t bar = script.find('|');
    const std::string step = script.substr(0, bar);
    script = bar == std::string::npos ? std::string() : script.substr(bar + 1);
    const std::size_t space = step.find(' ');
    const std::string verb = step.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : step.substr(space + 1);
    if (verb == "print") {
      say(rest);
    } else if (verb == "repeat") {
      const std::size_t gap = rest.find(' ');
      const long period = std::atol(rest.c_str());
      for (;;) {
        say(rest.substr(gap + 1));
        pause_ms(period);
      }
    } else if (verb == "sleep") {
      pause_ms(std::atol(rest.c_str()));
    } else if (verb == "hang") {
      for (;;)
        ::pause();
    } else if (verb == "exit") {
      return std::atoi(rest.c_str());
    } else if (verb == "ignore-int") {
      ::signal(SIGINT, SIG_IGN);
    } else if (verb == "grandchild") {
      const pid_t child = ::fork();
      if (child == 0) {
        for (;;)
          ::pause();
      }
      say("grandchild " + std::to_string(child) + "\n");
    } else if (verb == "echo-line") {
      const std::string echoed = argument_line + "\n";
      if (::write(STDOUT_FILENO, echoed.data(), echoed.size()) < 0) return 3;
    }
  }
  return 0;
}
