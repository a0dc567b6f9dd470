// The administration's door: what is refused before any path is looked at (a name the server
// does not answer by while no password is set, a change from another origin, a change from
// another machine while no password is set), who is logged in (a session cookie, or a script's
// Authorization header), the login and logout, the one-time setup address that sets the first
// password from another machine, and the headers every answer carries. It keeps the process's
// sessions, verified script credentials and per-address guess throttle.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "web/web_answer.h"
#include "web/web_services.h"

namespace vx {

// What the door knows of the password for one request, read under the core lock.
struct GateView {
  std::string login_hash;     // the hash in force; "" when none can match
  bool password_set = false;  // login_password_is_set()
};

// Seconds of a steady clock, for sessions and lock-outs.
std::int64_t gate_now();

// Refused before anything else: 403 with the reason, or nullopt to go on.
std::optional<WebAnswer> gate_refusal(const WebRequest& request, const GateView& view);

// Whether the caller is logged in. A session cookie costs a table lookup; an Authorization
// header costs the slow hash the first time a password is seen, under the per-address throttle
// (a wrong one is answered 401, a throttled address 429 with Retry-After).
struct CallerCheck {
  bool admitted = false;
  std::optional<WebAnswer> refusal;
};
CallerCheck check_caller(const WebRequest& request, const GateView& view);

// POST "/login" with the login page's form: a right password gets a new session cookie and goes
// to "/"; a wrong one gets the login page again, and a throttled address 429.
WebAnswer answer_login(const WebRequest& request, const GateView& view);
// POST "/logout": the session ends, the cookie is cleared, and the browser goes to "/".
WebAnswer answer_logout(const WebRequest& request);

// The login page, with a line above the form when there is something to say.
std::string login_page_text(std::string_view notice = {});

// The setup address's token: 128 random bits as 32 hexadecimal digits, made at start and made
// anew once it has set a password (a spent token opens nothing).
std::string web_setup_token();
// "/setup?token=..." : the path that sets the first password from any machine while none is set.
std::string web_setup_path();
// GET and POST "/setup" while no password is set.
WebAnswer answer_setup(const WebRequest& request, const WebServices& services);

// A session for the caller who has just set a new password through the configuration post: the
// answer carries its cookie (or clears it when the password was removed).
void hand_session_after_password_change(WebAnswer& answer, const std::string& new_hash, bool tls);

// 401 asking a script for its password (basic credentials, or a bearer token).
WebAnswer password_challenge(std::string text);

// Headers on every answer: no framing by other sites, no guessing of content types, no caching
// (but for an answer that asks to be revalidated on every use), the referrer kept to this
// origin, and HSTS under TLS.
void add_security_headers(WebAnswer& answer, bool tls);

}  // namespace vx
