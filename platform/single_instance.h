// One running copy of the program per user: a lock file held with flock, and a Unix socket
// beside it through which a later copy asks the running one to show its window.
#pragma once

#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace vx {

inline constexpr std::string_view kInstanceLockName = "/morvi_mutex_9527";

enum class InstanceRole { first, second, failed };
enum class InstanceAnswer { window_shown, headless, no_answer };

class SingleInstance {
 public:
  // Takes the lock in $XDG_RUNTIME_DIR (when it is an absolute path to an existing folder),
  // else in `fallback_folder`; the files are the name without its leading '/' plus ".lock" and
  // ".sock". The first instance listens on the socket; a later one gets role() second; any
  // other failure gives role() failed with error() saying why.
  static SingleInstance acquire(const std::string& fallback_folder,
                                std::string_view name = kInstanceLockName);

  SingleInstance(SingleInstance&& other) noexcept;
  SingleInstance& operator=(SingleInstance&& other) noexcept;
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;
  ~SingleInstance();

  InstanceRole role() const { return role_; }
  const std::string& error() const { return error_; }
  // The socket file's path (empty when the folder could not be chosen).
  const std::string& socket_path() const { return socket_path_; }

  // First instance: the non-blocking listening socket to watch for readability; -1 otherwise.
  int listening_fd() const { return listener_.get(); }

  // First instance: answers every waiting client ("shown" or "headless") and returns how many
  // asked to be shown. Waits at most about 100 ms in all for clients that are slow to send.
  int answer_pending(bool headless);

  // Second instance: asks the first to show its window and waits up to 2 s for its answer.
  InstanceAnswer ask_first_to_show();

 private:
  SingleInstance() = default;
  void release();

  InstanceRole role_ = InstanceRole::failed;
  std::string error_;
  std::string socket_path_;
  // Declared first so it is closed last: the socket goes away while the lock still proves it ours.
  UniqueFd lock_;
  UniqueFd listener_;
};

}  // namespace vx
