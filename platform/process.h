// Child processes of the engine: spawning with an argv (never a shell) in a process group of
// their own, with standard input from one pipe and standard output and error into another;
// signalling the group; reaping without blocking; processor affinity; finding programs.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace vx {

struct ChildProcess {
  pid_t pid = 0;    // also the id of its process group
  UniqueFd input;   // our end of its standard input; non-blocking, close-on-exec
  UniqueFd output;  // our end of its standard output and error; non-blocking, close-on-exec
};

enum class SpawnResult { started, no_pipe, not_started };

// Starts argv[0] (looked up on PATH when it holds no '/'). The child starts with default signal
// handling and an empty signal mask.
SpawnResult spawn_child(const std::vector<std::string>& argv, ChildProcess& child);

// Reaps the child when it has ended, without waiting. Its exit code is the exit status, or
// 0x80 + N after a death by signal N. A pid that is not our child counts as ended with code 0.
bool child_has_ended(pid_t pid, std::uint32_t& exit_code);

// Sends the signal to the child's whole process group. Refuses pid <= 0, which would reach
// our own group or every process.
void signal_child_group(pid_t pid, int signal);

// Binds the child to the processors of the mask (bit i = logical processor i).
bool set_child_affinity(pid_t pid, std::uint32_t mask);

// Reads what is waiting in a non-blocking descriptor: the byte count, 0 at end of file, -1 when
// nothing is waiting (or on error).
long read_available(int fd, char* buffer, std::size_t capacity);

// The full path of an executable: `name` itself when it holds a '/', else the first match on
// PATH. Empty when there is none.
std::optional<std::string> find_program(const std::string& name);

bool is_executable_file(const std::string& path);

// Logical processors online.
int logical_processor_count();

}  // namespace vx
