#include "web/gate.h"

#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/login_password.h"
#include "config/store.h"
#include "platform/host.h"
#include "vocabulary/ascii.h"
#include "vocabulary/product.h"
#include "vocabulary/text_format.h"
#include "web/acl.h"
#include "web/login.h"
#include "web/login_throttle.h"
#include "web/request_log.h"
#include "web/request_origin.h"
#include "web/request_text.h"
#include "web/sessions.h"
#include "web/tls_files.h"

namespace vx {
namespace {

struct GateState {
  SessionStore sessions;
  CredentialCache credentials;
  LoginThrottle throttle;
};

GateState& gate() {
  static GateState state;
  return state;
}

constexpr const char* kRemoteChangeRefused =
    "No login password is set, so only this machine (localhost) may change anything here. Set a "
    "password in Global Settings of the Vantorix window, or open the setup address Vantorix "
    "printed when it started (the journal has it: journalctl --user -u vantorix).";

WebAnswer see_home(std::vector<WebHeader> extra = {}) {
  WebAnswer answer{301, {{"Location", "/"}}, {}};
  for (WebHeader& header : extra)
    answer.headers.push_back(std::move(header));
  return answer;
}

bool from_loopback(const WebRequest& request) {
  return request.client && is_loopback(*request.client);
}

std::string address_text(const WebRequest& request) {
  return request.client ? dotted_quad(htonl(*request.client)) : "an unknown address";
}

// Said once for each lock-out, with the address, on the journal and (when "log" is on) in the
// request log.
void note_lockout(const WebRequest& request, std::int64_t seconds) {
  std::string text;
  append_format(text, "%s gave too many wrong passwords; its next login waits %lld s",
                address_text(request).c_str(), static_cast<long long>(seconds));
  print_operator_line(stderr, text);
  std::string path;
  {
    const CoreLock lock = core_lock();
    if (config_int(config_object(config_document(), "global"), "log") == 0) return;
    path = config_path_with_extension("_cgi.log");
  }
  request_log_append(path, request_log_note(std::time(nullptr), text));
}

std::uint32_t throttle_key(const WebRequest& request) {
  return request.client.value_or(0);
}

WebAnswer throttled(std::int64_t retry_after, WebAnswer answer) {
  answer.status = 429;
  answer.headers.emplace_back("Retry-After", std::to_string(retry_after));
  return answer;
}

std::string retry_text(std::int64_t seconds) {
  std::string text;
  append_format(text, "Too many wrong passwords from your address; try again in %lld s.",
                static_cast<long long>(seconds));
  return text;
}

// A password checked against the hash under the per-address throttle: right, wrong, or not
// checked at all because the address must wait this many seconds.
struct Verdict {
  bool right = false;
  std::optional<std::int64_t> throttled_for;
};

Verdict verify_password(const WebRequest& request, const GateView& view,
                        std::string_view password) {
  const LoginThrottle::Admission admission =
      gate().throttle.admit(throttle_key(request), gate_now());
  if (!admission.allowed) return {false, admission.retry_after};
  if (login_password_matches(view.login_hash, password)) {
    gate().throttle.succeeded(throttle_key(request));
    return {true, std::nullopt};
  }
  if (const std::int64_t seconds = gate().throttle.failed(throttle_key(request), gate_now())) {
    note_lockout(request, seconds);
  }
  return {false, std::nullopt};
}

struct SetupToken {
  std::mutex mutex;
  std::string token = random_hex(16);
};

SetupToken& setup_token() {
  static SetupToken instance;
  return instance;
}

// A token that has set a password is spent: whoever read it in the journal cannot use it again,
// should the password be removed later.
void spend_setup_token() {
  const std::lock_guard<std::mutex> lock(setup_token().mutex);
  setup_token().token = random_hex(16);
}

std::string setup_page_text(std::string_view notice) {
  std::string page;
  append_format(page, "<html>\n<head>\n<title>%s</title>\n</head>\n", kApplicationTitle);
  page += "<body>\n<div style=\"width: 100%; position: absolute; top: 25%; text-align: center\">\n";
  append_format(page, "<h2>%s Setup</h2>\n", kProductAbbreviation);
  page += "<p>Set the login password of the web administration and the window.</p>\n";
  if (!notice.empty()) page += "<p><b>" + std::string(notice) + "</b></p>\n";
  page +=
      "<form action=\"setup\" method=\"post\">\n <input type=\"hidden\" name=\"token\" value=\"";
  page += web_setup_token();  // hexadecimal digits only
  page +=
      "\">\n <p><input type=\"password\" name=\"auth\" placeholder=\"Password\" required "
      "autocomplete=\"new-password\"></p>\n <p><input type=\"password\" name=\"confirm\" "
      "placeholder=\"Password again\" required autocomplete=\"new-password\"></p>\n <input "
      "type=\"submit\" value=\"Set Password\">\n</form></div>\n</body>\n</html>";
  return page;
}

bool setup_token_matches(std::string_view given) {
  return !given.empty() && constant_time_equal(given, web_setup_token());
}

// Installs the first password unless one was set meanwhile; returns the hash in force after.
std::string install_first_password(const std::string& hash) {
  const CoreLock lock = core_lock();
  cJSON* document = config_document();
  if (document == nullptr) return "";
  cJSON* global = config_object(document, "global");
  if (global == nullptr) {
    cJSON_DeleteItemFromObjectCaseSensitive(document, "global");
    global = cJSON_AddObjectToObject(document, "global");
  }
  if (login_password_is_set(global)) return "";
  config_set_string(global, kLoginHashKey, hash);
  return hash;
}

WebAnswer answer_setup_post(const WebRequest& request, const WebServices& services) {
  const std::string body = request.body.value_or("");
  const std::optional<std::string> token = url_decode(form_field(body, "token").value_or(""));
  const std::optional<std::string> password = url_decode(form_field(body, "auth").value_or(""));
  const std::optional<std::string> again = url_decode(form_field(body, "confirm").value_or(""));
  if (!token || !setup_token_matches(*token)) {
    return html_answer(403, setup_page_text("This setup address is not valid."));
  }
  if (!password || password->empty() || password->size() > kLoginPasswordMaxBytes) {
    return html_answer(400, setup_page_text("Type a password of 1 to 999 bytes."));
  }
  if (!again || *again != *password) {
    return html_answer(400, setup_page_text("The two passwords differ; type them again."));
  }
  const std::string hash = login_password_hash(*password);
  if (hash.empty()) {
    return html_answer(503, setup_page_text("The password could not be stored; try again."));
  }
  if (install_first_password(hash).empty()) return see_home();  // set meanwhile
  spend_setup_token();
  config_save();
  if (services.events != nullptr) services.events->configuration_saved();
  print_operator_line(
      stderr, "the login password was set through the setup address from " + address_text(request));
  WebAnswer answer = see_home();
  hand_session_after_password_change(answer, hash, request.tls);
  return answer;
}

}  // namespace

std::int64_t gate_now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::optional<WebAnswer> gate_refusal(const WebRequest& request, const GateView& view) {
  if (!view.password_set && !host_is_known(request.host, host_name())) {
    return text_answer(403, "This server is not known by the name \"" + request.host +
                                "\". While no login password is set it answers only by its IP "
                                "address, localhost or its own host name; set a password to use "
                                "other names.");
  }
  if (request_changes_state(request.method, request.path)) {
    const std::string refusal = cross_origin_refusal(BrowserSignals{
        request.sec_fetch_site, request.origin, request.referer, request.host, request.tls});
    if (!refusal.empty()) return text_answer(403, "Refused: " + refusal + "; nothing was changed.");
    // The setup address is how another machine sets the first password: it holds its own token.
    if (!view.password_set && !from_loopback(request) && !iequals(request.path, "/setup")) {
      return text_answer(403, kRemoteChangeRefused);
    }
  }
  return std::nullopt;
}

CallerCheck check_caller(const WebRequest& request, const GateView& view) {
  const std::string_view token = cookie_value(request.cookie_text, kSessionCookieName);
  if (gate().sessions.check(token, view.login_hash, gate_now())) return {true, std::nullopt};
  if (request.authorization.empty()) return {false, std::nullopt};
  const std::optional<std::string> password = authorization_password(request.authorization);
  if (!password) return {false, password_challenge("Unreadable credentials.")};
  if (gate().credentials.known(*password, view.login_hash)) return {true, std::nullopt};
  const Verdict verdict = verify_password(request, view, *password);
  if (verdict.throttled_for) {
    return {false, throttled(*verdict.throttled_for,
                             text_answer(429, retry_text(*verdict.throttled_for)))};
  }
  if (!verdict.right) return {false, password_challenge("Wrong password.")};
  gate().credentials.remember(*password, view.login_hash);
  return {true, std::nullopt};
}

WebAnswer answer_login(const WebRequest& request, const GateView& view) {
  if (!view.password_set) return see_home();
  const std::string body = request.body.value_or("");
  const std::optional<std::string_view> value = login_form_value(body);
  if (!value) return html_answer(400, login_page_text("Type the password."));
  const std::optional<std::string> password = url_decode(*value);
  const Verdict verdict = verify_password(request, view, password.value_or(std::string()));
  if (verdict.throttled_for) {
    return throttled(*verdict.throttled_for,
                     html_answer(429, login_page_text(retry_text(*verdict.throttled_for))));
  }
  if (!verdict.right || !password) return html_answer(403, login_page_text("Password incorrect"));
  WebAnswer answer = see_home();
  const std::string token = gate().sessions.create(view.login_hash, gate_now());
  answer.headers.emplace_back("Set-Cookie", session_set_cookie(token, request.tls));
  return answer;
}

WebAnswer answer_logout(const WebRequest& request) {
  gate().sessions.end(cookie_value(request.cookie_text, kSessionCookieName));
  return see_home({{"Set-Cookie", session_set_cookie("", request.tls)}});
}

std::string login_page_text(std::string_view notice) {
  std::string page;
  append_format(page, "<html>\n<head>\n<title>%s</title>\n</head>\n", kApplicationTitle);
  page += "<body>\n<div style=\"width: 100%; position: absolute; top: 30%; text-align: center\">\n";
  append_format(page, "<h2>%s Login Authentication</h2>\n", kProductAbbreviation);
  if (!notice.empty()) page += "<p><b>" + std::string(notice) + "</b></p>\n";
  page +=
      "<form action=\"login\" method=\"post\">\n <input type=\"password\" name=\"auth\" "
      "required>\n <input type=\"submit\" value=\"Login\">\n</form></div>\n</body>\n</html>";
  return page;
}

std::string web_setup_token() {
  const std::lock_guard<std::mutex> lock(setup_token().mutex);
  return setup_token().token;
}

std::string web_setup_path() {
  return "/setup?token=" + web_setup_token();
}

WebAnswer answer_setup(const WebRequest& request, const WebServices& services) {
  if (request.body) return answer_setup_post(request, services);
  const std::optional<std::string> token = query_value(request.argument_text, "token");
  if (!token || !setup_token_matches(*token)) {
    return html_answer(403, setup_page_text("This setup address is not valid; use the one "
                                            "Vantorix printed when it started."));
  }
  return html_answer(200, setup_page_text({}));
}

void hand_session_after_password_change(WebAnswer& answer, const std::string& new_hash, bool tls) {
  const std::string token = new_hash.empty() ? "" : gate().sessions.create(new_hash, gate_now());
  answer.headers.emplace_back("Set-Cookie", session_set_cookie(token, tls));
}

WebAnswer password_challenge(std::string text) {
  WebAnswer answer = text_answer(401, std::move(text));
  std::string challenge;
  append_format(challenge, "Basic realm=\"%s\"", kProductName);
  answer.headers.emplace_back("WWW-Authenticate", challenge);
  return answer;
}

void add_security_headers(WebAnswer& answer, bool tls) {
  const std::string* cache = answer.header("Cache-Control");
  if (cache == nullptr || *cache != kRevalidatedPrivately) {
    std::erase_if(answer.headers,
                  [](const WebHeader& header) { return iequals(header.first, "Cache-Control"); });
    answer.headers.emplace_back("Cache-Control", "no-store");
  }
  answer.headers.emplace_back("X-Frame-Options", "DENY");
  answer.headers.emplace_back("Content-Security-Policy", "frame-ancestors 'none'");
  answer.headers.emplace_back("X-Content-Type-Options", "nosniff");
  answer.headers.emplace_back("Referrer-Policy", "same-origin");
  if (tls) answer.headers.emplace_back("Strict-Transport-Security", kStrictTransportSecurity);
}

}  // namespace vx
