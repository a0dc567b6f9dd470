#include "web/router.h"

#include "config/core_lock.h"
#include "config/document.h"
#include "config/login_password.h"
#include "config/normalise.h"
#include "config/served_output.h"
#include "config/store.h"
#include "vocabulary/ascii.h"
#include "vocabulary/formats.h"
#include "vocabulary/product.h"
#include "web/api.h"
#include "web/gate.h"
#include "web/metrics.h"
#include "web/request_text.h"
#include "web/static_files.h"

namespace vx {
namespace {

// The path a served target's URL names: from the first "/" after "://" to the end.
std::optional<std::string_view> served_path(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::nullopt;
  const std::size_t slash = url.find('/', scheme + 3);
  if (slash == std::string_view::npos) return std::nullopt;
  return url.substr(slash);
}

bool is_served_over_http(const cJSON* target) {
  return served_by_transcoder(format_id_from_name(config_string(target, "format")));
}

WebAnswer protected_answer(const WebRequest& request, const WebServices& services) {
  const std::string_view path = request.path;
  const std::string_view args = request.argument_text;
  if (path == "/") return answer_static_file("index.html", args, services.program_folder);
  if (iequals(path, "/status")) return answer_status();
  // A path that names no channel as these do ("/thumbnails/03.jpg") is a channel without one.
  if (istarts_with(path, "/thumbnails/")) {
    return answer_thumbnail(numbered_path(path, "/thumbnails/", ".jpg"), request.if_none_match);
  }
  if (istarts_with(path, "/history/")) return answer_history(numbered_path(path, "/history/", ""));
  if (iequals(path, "/metrics")) return answer_metrics();
  if (iequals(path, "/config")) {
    if (request.body) return answer_config_post(args, *request.body, services.events);
    return answer_static_file("config", args, services.program_folder);
  }
  if (iequals(path, "/runtime")) return answer_runtime();
  if (iequals(path, "/rules")) return answer_rules();
  if (iequals(path, "/target_preset")) return answer_target_preset(args, request.host);
  if (iequals(path, "/channel_template")) return answer_channel_template();
  if (iequals(path, "/served")) return answer_served(args, request.host);
  if (iequals(path, "/decklink_config")) return answer_decklink_config(args, services.decklink);
  if (iequals(path, "/ndi_config")) return answer_ndi_config(args, services.ndi_library);
  if (iequals(path, "/advanced_format") || iequals(path, "/advanced_video")) {
    return answer_advanced_settings(path, args, request.body);
  }
  if (iequals(path, "/edit_check")) return answer_edit_check(args, request.body);
  if (iequals(path, "/source_fields")) return answer_source_fields(args, request.body);
  if (iequals(path, "/standby_fields")) return answer_standby_fields(args, request.body);
  if (istarts_with(path, "/channel")) {
    return answer_channel_action(channel_number(path), args, services.commands,
                                 request.body.has_value(), request.host);
  }
  return answer_static_file(path.substr(path.empty() ? 0 : 1), args, services.program_folder);
}

}  // namespace

std::optional<std::string> output_redirect_location(const cJSON* document, std::string_view path) {
  const cJSON* channels = config_array(document, "channels");
  int index = 0;
  for (const cJSON* channel = channels != nullptr ? channels->child : nullptr; channel != nullptr;
       channel = channel->next, ++index) {
    const cJSON* target =
        cJSON_GetArrayItem(config_array(config_object(channel, "output"), "targets"), 0);
    if (!is_served_over_http(target)) continue;
    const std::string url = config_string(target, "url");
    const std::optional<std::string_view> target_path = served_path(url);
    if (!target_path || !iequals(*target_path, path)) continue;
    const int port = channel_served_port(document, index);
    if (port == 0) continue;
    return with_served_port(url, port);
  }
  return std::nullopt;
}

namespace {

// The channels and the password as this request finds them, read once under the core lock.
struct RouteView {
  std::optional<std::string> redirect;
  GateView gate;
};

RouteView route_view(std::string_view path) {
  const CoreLock lock = core_lock();
  const cJSON* document = config_document();
  const cJSON* global = config_object(document, "global");
  return {output_redirect_location(document, path),
          {config_login_hash(global), login_password_is_set(global)}};
}

std::string login_hash_now() {
  const CoreLock lock = core_lock();
  return config_login_hash(config_object(config_document(), "global"));
}

// A caller let in: the path's answer, and when a configuration post changed the password, the
// poster's new session (every session made before it has ended).
WebAnswer admitted_answer(const WebRequest& request, const WebServices& services,
                          const GateView& gate) {
  WebAnswer answer = protected_answer(request, services);
  if (request.body && iequals(request.path, "/config") && answer.status < 400) {
    const std::string hash = login_hash_now();
    if (hash != gate.login_hash) hand_session_after_password_change(answer, hash, request.tls);
  }
  return answer;
}

WebAnswer route(const WebRequest& request, const WebServices& services) {
  // A container's or a cluster's health check asks without a password; the answer says that the
  // server answers and nothing else.
  if (!request.body && iequals(request.path, "/healthz")) return text_answer(200, "ok");
  const RouteView view = route_view(request.path);
  if (view.redirect) return WebAnswer{301, {{"Location", *view.redirect}}, {}};
  if (std::optional<WebAnswer> refused = gate_refusal(request, view.gate)) return *refused;
  const bool post = request.body.has_value();
  if (post && iequals(request.path, "/login")) return answer_login(request, view.gate);
  if (post && iequals(request.path, "/logout")) return answer_logout(request);
  if (!view.gate.password_set) {
    if (iequals(request.path, "/setup")) return answer_setup(request, services);
    return admitted_answer(request, services, view.gate);
  }
  const CallerCheck caller = check_caller(request, view.gate);
  if (caller.admitted) return admitted_answer(request, services, view.gate);
  if (caller.refusal) return *caller.refusal;
  if (iequals(request.path, "/metrics")) return password_challenge("A password is needed.");
  return html_answer(200, login_page_text());
}

}  // namespace

bool request_may_wait(const WebRequest& request) {
  const std::string_view path = request.path;
  return request.body.has_value() || !request.authorization.empty() ||
         iequals(path, "/ndi_config") || iequals(path, "/decklink_config") ||
         istarts_with(path, "/channel");
}

WebAnswer route_request(const WebRequest& request, const WebServices& services) {
  WebAnswer answer = route(request, services);
  add_security_headers(answer, request.tls);
  return answer;
}

}  // namespace vx
