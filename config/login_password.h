// The login password as the configuration keeps it: a salted slow hash (Argon2id) under
// "loginHash" in "global", never the password itself. Older files and scripts write the password
// in clear under "loginPass"; that text is read once, turned into the hash and dropped. Every
// document handed out (the web's "/config", the desktop's password box) carries a placeholder in
// "loginPass" instead, and a text equal to the placeholder, or no "loginPass" at all, keeps the
// stored hash.
#pragma once

#include <cjson/cJSON.h>

#include <string>
#include <string_view>

#include "config/json.h"

namespace vx {

inline constexpr const char* kLoginHashKey = "loginHash";
inline constexpr const char* kLoginPassKey = "loginPass";
// What "loginPass" reads while a password is set: eight black circles, which a password box
// shows as eight masked characters and nobody types as a password.
inline constexpr std::string_view kStoredPasswordPlaceholder =
    "\u25CF\u25CF\u25CF\u25CF\u25CF\u25CF\u25CF\u25CF";
// The longest password the password boxes and a posted document may set.
inline constexpr std::size_t kLoginPasswordMaxBytes = 999;

// The encoded hash ("$argon2id$v=19$m=...") of the password with a fresh salt; "" when the
// hash cannot be made (no memory). At most two hashes run at once in the whole process: each
// takes 64 MiB for about 60 ms.
std::string login_password_hash(std::string_view password);

// Whether the password is the one the encoded hash was made from. A hash that cannot be read
// matches nothing.
bool login_password_matches(std::string_view hash, std::string_view password);

// The stored hash of "global", "" when there is none.
std::string config_login_hash(const cJSON* global);
// A password is set when there is a hash, and also while a clear "loginPass" waits to be hashed
// (a hash that could not be made): then no text matches, so nobody is let in unasked.
bool login_password_is_set(const cJSON* global);

// The text "loginPass" shows in a document handed out: the placeholder while a password is
// set, else "".
std::string_view login_password_shown(const cJSON* global);

// Settles "loginPass" of `global` against the hash in force before it (`current_hash`, "" for
// none) and removes it, leaving "loginHash" as the rule says:
//   no "loginPass", a value that is not a string, or the placeholder: the current hash stays;
//   "":                                                                  no password;
//   the password the current hash was made from:                        the current hash stays;
//   any other text:                                                      its new hash.
// Whatever "loginHash" the object held before is replaced. Hashing takes time: settle a tree
// before it is installed, outside the core lock. When the new hash cannot be made the object is
// left as it was (its clear "loginPass" then keeps every login closed, see below) and `failed`
// is returned.
enum class LoginSettle { kept, changed, failed };
LoginSettle login_password_settle(cJSON* global, std::string_view current_hash);

// The same for a text typed into a password box (the desktop's Global Settings).
LoginSettle login_password_store(cJSON* global, std::string_view typed);

// The document with "loginHash" replaced by "loginPass" as login_password_shown() gives it:
// what leaves the program through the web. The caller holds the core lock.
JsonPtr config_public_copy(const cJSON* document);

}  // namespace vx
