#include "web/sessions.h"

#include <sodium.h>

#include <algorithm>
#include <vector>

#include "web/login.h"

namespace vx {
namespace {

bool sodium_ready() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

// Tokens are looked up by their digest, so neither the table nor the time a lookup takes holds
// anything a token can be rebuilt from.
SessionDigest digest_of(std::string_view text, const unsigned char* key, std::size_t key_size) {
  SessionDigest digest{};
  crypto_generichash(digest.data(), digest.size(),
                     reinterpret_cast<const unsigned char*>(text.data()), text.size(), key,
                     key_size);
  return digest;
}

const std::array<unsigned char, crypto_generichash_KEYBYTES>& process_key() {
  static const auto key = [] {
    std::array<unsigned char, crypto_generichash_KEYBYTES> bytes{};
    if (sodium_ready()) randombytes_buf(bytes.data(), bytes.size());
    return bytes;
  }();
  return key;
}

}  // namespace

std::string random_hex(std::size_t bytes) {
  if (!sodium_ready()) return "";
  std::vector<unsigned char> random(bytes);
  randombytes_buf(random.data(), random.size());
  std::string hex(2 * bytes + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), random.data(), random.size());
  hex.pop_back();
  return hex;
}

std::string SessionStore::create(std::string_view stamp, std::int64_t now) {
  const std::string token = random_hex(32);
  if (token.empty()) return "";
  auto session = std::make_unique<Session>();
  session->stamp = stamp;
  session->last_used = now;
  const std::unique_lock lock(mutex_);
  end_expired(now);
  if (sessions_.size() >= kMaxSessions) {
    const auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](auto& a, auto& b) {
      return a.second->last_used < b.second->last_used;
    });
    sessions_.erase(oldest);
  }
  sessions_[digest_of(token, nullptr, 0)] = std::move(session);
  return token;
}

bool SessionStore::check(std::string_view token, std::string_view stamp, std::int64_t now) {
  if (token.empty() || !sodium_ready()) return false;
  const SessionDigest digest = digest_of(token, nullptr, 0);
  {
    const std::shared_lock lock(mutex_);
    const auto found = sessions_.find(digest);
    if (found == sessions_.end()) return false;
    Session& session = *found->second;
    if (session.stamp == stamp && now - session.last_used <= kSessionIdleSeconds) {
      session.last_used = now;
      return true;
    }
  }
  // Made under another password, or idle too long: it ends here.
  const std::unique_lock lock(mutex_);
  sessions_.erase(digest);
  return false;
}

void SessionStore::end(std::string_view token) {
  if (token.empty() || !sodium_ready()) return;
  const SessionDigest digest = digest_of(token, nullptr, 0);
  const std::unique_lock lock(mutex_);
  sessions_.erase(digest);
}

std::size_t SessionStore::size() const {
  const std::shared_lock lock(mutex_);
  return sessions_.size();
}

void SessionStore::end_expired(std::int64_t now) {
  std::erase_if(sessions_, [now](const auto& entry) {
    return now - entry.second->last_used > kSessionIdleSeconds;
  });
}

bool CredentialCache::known(std::string_view password, std::string_view stamp) {
  if (!sodium_ready()) return false;
  const SessionDigest digest = digest_of(password, process_key().data(), process_key().size());
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = verified_.find(digest);
  return found != verified_.end() && found->second == stamp;
}

void CredentialCache::remember(std::string_view password, std::string_view stamp) {
  if (!sodium_ready()) return;
  const SessionDigest digest = digest_of(password, process_key().data(), process_key().size());
  const std::lock_guard<std::mutex> lock(mutex_);
  // Credentials of an earlier password are of no use any more.
  std::erase_if(verified_, [stamp](const auto& entry) { return entry.second != stamp; });
  if (verified_.size() >= kMaxCachedCredentials) verified_.erase(verified_.begin());
  verified_[digest] = std::string(stamp);
}

std::string_view cookie_value(std::string_view cookie_text, std::string_view name) {
  return form_field(cookie_text, name, "&; ").value_or(std::string_view());
}

std::string session_set_cookie(std::string_view token, bool tls) {
  std::string cookie = std::string(kSessionCookieName) + "=" + std::string(token) +
                       "; Path=/; HttpOnly; SameSite=Strict";
  if (token.empty()) cookie += "; Max-Age=0";
  if (tls) cookie += "; Secure";
  return cookie;
}

}  // namespace vx
