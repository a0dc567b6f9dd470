#include "config/login_password.h"

#include <sodium.h>

#include <semaphore>

#include "config/document.h"

namespace vx {
namespace {

// libsodium's interactive limits: about 60 ms and 64 MiB a hash on this kind of machine. Two at
// once bound the memory a burst of logins can take. Fuzzing builds take the cheapest hash, so
// that an input with a password is not a thousand times slower than one without.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr unsigned long long kHashOperations = crypto_pwhash_OPSLIMIT_MIN;
constexpr std::size_t kHashMemory = crypto_pwhash_MEMLIMIT_MIN;
#else
constexpr unsigned long long kHashOperations = crypto_pwhash_OPSLIMIT_INTERACTIVE;
constexpr std::size_t kHashMemory = crypto_pwhash_MEMLIMIT_INTERACTIVE;
#endif

std::counting_semaphore<2>& hash_slots() {
  static std::counting_semaphore<2> slots(2);
  return slots;
}

class HashSlot {
 public:
  HashSlot() { hash_slots().acquire(); }
  ~HashSlot() { hash_slots().release(); }
  HashSlot(const HashSlot&) = delete;
  HashSlot& operator=(const HashSlot&) = delete;
};

bool sodium_ready() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

void set_hash(cJSON* global, std::string_view hash) {
  if (hash.empty()) {
    cJSON_DeleteItemFromObjectCaseSensitive(global, kLoginHashKey);
  } else {
    config_set_string(global, kLoginHashKey, hash);
  }
}

}  // namespace

std::string login_password_hash(std::string_view password) {
  if (!sodium_ready()) return "";
  char encoded[crypto_pwhash_STRBYTES] = {};
  const HashSlot slot;
  if (crypto_pwhash_str(encoded, password.data(), password.size(), kHashOperations, kHashMemory) !=
      0) {
    return "";
  }
  return encoded;
}

bool login_password_matches(std::string_view hash, std::string_view password) {
  if (!sodium_ready() || hash.empty() || hash.size() >= crypto_pwhash_STRBYTES) return false;
  const std::string terminated(hash);  // the library reads a NUL-terminated text
  const HashSlot slot;
  return crypto_pwhash_str_verify(terminated.c_str(), password.data(), password.size()) == 0;
}

std::string config_login_hash(const cJSON* global) {
  return config_string(global, kLoginHashKey);
}

bool login_password_is_set(const cJSON* global) {
  return *config_string(global, kLoginHashKey) != '\0' ||
         *config_string(global, kLoginPassKey) != '\0';
}

std::string_view login_password_shown(const cJSON* global) {
  return login_password_is_set(global) ? kStoredPasswordPlaceholder : std::string_view();
}

LoginSettle login_password_settle(cJSON* global, std::string_view current_hash) {
  if (!cJSON_IsObject(global)) return LoginSettle::kept;
  const cJSON* given = cJSON_GetObjectItemCaseSensitive(global, kLoginPassKey);
  std::string hash(current_hash);
  if (cJSON_IsString(given) && given->valuestring != kStoredPasswordPlaceholder) {
    const std::string_view typed = given->valuestring;
    if (typed.empty()) {
      hash.clear();
    } else if (!login_password_matches(current_hash, typed)) {
      hash = login_password_hash(typed);
      if (hash.empty()) return LoginSettle::failed;
    }
  }
  cJSON_DeleteItemFromObjectCaseSensitive(global, kLoginPassKey);
  set_hash(global, hash);
  return hash == current_hash ? LoginSettle::kept : LoginSettle::changed;
}

LoginSettle login_password_store(cJSON* global, std::string_view typed) {
  // The placeholder keeps whatever is there, a clear text still waiting for its hash included.
  if (!cJSON_IsObject(global) || typed == kStoredPasswordPlaceholder) return LoginSettle::kept;
  const std::string current = config_login_hash(global);
  config_set_string(global, kLoginPassKey, typed);
  const LoginSettle settled = login_password_settle(global, current);
  // A typed text never stays in the document in clear.
  if (settled == LoginSettle::failed)
    cJSON_DeleteItemFromObjectCaseSensitive(global, kLoginPassKey);
  return settled;
}

JsonPtr config_public_copy(const cJSON* document) {
  JsonPtr copy(cJSON_Duplicate(document, true));
  cJSON* global = config_object(copy.get(), "global");
  if (global != nullptr) {
    const std::string_view shown = login_password_shown(global);
    cJSON_DeleteItemFromObjectCaseSensitive(global, kLoginHashKey);
    config_set_string(global, kLoginPassKey, shown);
  }
  return copy;
}

}  // namespace vx
