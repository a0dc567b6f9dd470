// Who is logged in to the administration: browser sessions (random tokens a successful login
// hands out; the server keeps only a digest of each) with an idle expiry and a logout, and the
// credentials scripts send in an Authorization header once one was verified, so that only the
// first request pays for the slow hash. Both are bound to the password hash in force when they
// were made ("stamp"): a new password ends every session and every cached credential made
// before it. Time comes from the caller, in seconds of a steady clock.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>

namespace vx {

using SessionDigest = std::array<unsigned char, 32>;

inline constexpr std::int64_t kSessionIdleSeconds = 12 * 60 * 60;
// Beyond this many live sessions the one idle longest is ended.
inline constexpr std::size_t kMaxSessions = 256;
inline constexpr std::size_t kMaxCachedCredentials = 16;
// The session cookie's name: not "auth", which older versions filled with the password itself.
inline constexpr std::string_view kSessionCookieName = "vx_session";

class SessionStore {
 public:
  // A new session: 256 random bits as 64 hexadecimal digits, for the cookie.
  std::string create(std::string_view stamp, std::int64_t now);
  // True when the token names a live session made under this stamp; its idle time starts again.
  // A session of another stamp or idle too long ends here.
  bool check(std::string_view token, std::string_view stamp, std::int64_t now);
  // Logout: the session ends (nothing happens for an unknown token).
  void end(std::string_view token);
  std::size_t size() const;

 private:
  struct Session {
    std::string stamp;
    std::atomic<std::int64_t> last_used{0};  // touched under the shared lock
  };
  void end_expired(std::int64_t now);
  // Every request of a logged-in page looks its session up; only logins, logouts and endings
  // need the table to themselves.
  mutable std::shared_mutex mutex_;
  std::map<SessionDigest, std::unique_ptr<Session>> sessions_;
};

// Verified Authorization credentials, kept as keyed digests (a random key of the process), never
// as the password.
class CredentialCache {
 public:
  bool known(std::string_view password, std::string_view stamp);
  void remember(std::string_view password, std::string_view stamp);

 private:
  std::mutex mutex_;
  std::map<SessionDigest, std::string> verified_;  // digest to stamp
};

// `bytes` random bytes as lower-case hexadecimal digits (session tokens, the setup token); ""
// when no random source can be used.
std::string random_hex(std::size_t bytes);

// The value of the cookie named `name` in the joined cookie text ("a=1&b=2"), still encoded; ""
// when there is none.
std::string_view cookie_value(std::string_view cookie_text, std::string_view name);

// The "Set-Cookie" value for a session: HttpOnly, SameSite=Strict, Path=/, and Secure under
// TLS; no expiry, so the browser forgets it when it closes. An empty token clears the cookie.
std::string session_set_cookie(std::string_view token, bool tls);

}  // namespace vx
