#include "web/router.h"

#include "config/core_lock.h"
#include "config/document.h"
#include "config/normalise.h"
#include "config/store.h"
#include "engine/channel_compiler.h"
#include "vocabulary/ascii.h"
#include "vocabulary/formats.h"
#include "vocabulary/product.h"
#include "vocabulary/text_format.h"
#include "web/api.h"
#include "web/login.h"
#include "web/metrics.h"
#include "web/request_text.h"
#include "web/static_files.h"

namespace vx {
namespace {

constexpr int kHighestPort = 65535;

// The path a served target's URL names: from the first "/" after "://" to the end.
std::optional<std::string_view> served_path(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::nullopt;
  const std::size_t slash = url.find('/', scheme + 3);
  if (slash == std::string_view::npos) return std::nullopt;
  return url.substr(slash);
}

bool is_served_over_http(const cJSON* target) {
  const FormatId format = format_id_from_name(config_string(target, "format"));
  return format == FormatId::http || format == FormatId::html5;
}

WebAnswer login_page_answer() {
  return WebAnswer{
      200, {{"Connection", "Keep-Alive"}, {"Content-Type", "text/html"}}, login_page_text()};
}

WebAnswer login_submission_answer(const std::optional<std::string>& body) {
  WebAnswer answer{301, {{"Location", "/"}}, {}};
  if (!body || body->empty()) return answer;
  const std::optional<std::string_view> value = login_form_value(*body);
  if (!value) return answer;
  if (const std::optional<std::string> cookie = login_set_cookie(*value)) {
    answer.headers.emplace_back("Set-Cookie", *cookie + std::string(kAuthCookieAttributes));
  }
  return answer;
}

// A monitoring system cannot log in through the page: it may also send the password as a
// bearer token or a basic-auth password, and is told 401 rather than shown the login page.
WebAnswer metrics_answer(const WebRequest& request, std::string_view login_pass) {
  if (auth_check(request.cookie_text, login_pass) ||
      authorization_check(request.authorization, login_pass)) {
    return answer_metrics();
  }
  std::string challenge;
  append_format(challenge, "Basic realm=\"%s\"", kProductName);
  return WebAnswer{401, {{"WWW-Authenticate", challenge}}, {}};
}

WebAnswer protected_answer(const WebRequest& request, const WebServices& services) {
  const std::string_view path = request.path;
  const std::string_view args = request.argument_text;
  if (path == "/") return answer_static_file("index.html", args, services.program_folder);
  if (iequals(path, "/status")) return answer_status();
  if (iequals(path, "/config")) {
    if (request.body) return answer_config_post(args, *request.body, services.events);
    return answer_static_file("config", args, services.program_folder);
  }
  if (iequals(path, "/runtime")) return answer_runtime();
  if (iequals(path, "/decklink_config")) return answer_decklink_config(args, services.decklink);
  if (iequals(path, "/ndi_config")) return answer_ndi_config(args, services.ndi_library);
  if (istarts_with(path, "/channel")) {
    return answer_channel_action(channel_number(path), args, services.commands);
  }
  return answer_static_file(path.substr(path.empty() ? 0 : 1), args, services.program_folder);
}

}  // namespace

std::optional<std::string> output_redirect_location(const cJSON* document, std::string_view path) {
  const cJSON* channels = config_array(document, "channels");
  int number = 1;
  for (const cJSON* channel = channels != nullptr ? channels->child : nullptr; channel != nullptr;
       channel = channel->next, ++number) {
    const cJSON* target =
        cJSON_GetArrayItem(config_array(config_object(channel, "output"), "targets"), 0);
    if (!is_served_over_http(target)) continue;
    const std::string url = config_string(target, "url");
    const std::optional<std::string_view> target_path = served_path(url);
    if (!target_path || !iequals(*target_path, path)) continue;
    const int port =
        config_int(config_object(document, "global"), "httpPort", kDefaultHttpPort) + number;
    if (port <= 0 || port > kHighestPort) continue;
    return with_served_port(url, port);
  }
  return std::nullopt;
}

std::string login_page_text() {
  std::string page;
  append_format(page, "<html>\n<head>\n<title>%s</title>\n</head>\n", kApplicationTitle);
  page += "<body>\n<div style=\"width: 100%; position: absolute; top: 30%; text-align: center\">\n";
  append_format(page, "<h2>%s Login Authentication</h2>\n", kProductAbbreviation);
  page +=
      "<form action=\"login\" method=\"post\">\n <input type=\"password\" name=\"auth\" "
      "required>\n <input type=\"submit\" value=\"Login\">\n</form></div>\n</body>\n</html>";
  return page;
}

WebAnswer route_request(const WebRequest& request, const WebServices& services) {
  std::optional<std::string> redirect;
  std::string login_pass;
  {
    const CoreLock lock = core_lock();
    const cJSON* document = config_document();
    redirect = output_redirect_location(document, request.path);
    login_pass = config_string(config_object(document, "global"), "loginPass");
  }
  if (redirect) return WebAnswer{301, {{"Location", *redirect}}, {}};
  if (iequals(request.path, "/metrics")) return metrics_answer(request, login_pass);
  if (auth_check(request.cookie_text, login_pass)) return protected_answer(request, services);
  if (istarts_with(request.path, "/logi")) return login_submission_answer(request.body);
  return login_page_answer();
}

}  // namespace vx
