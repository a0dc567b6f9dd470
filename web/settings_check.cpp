#include "web/settings_check.h"

#include "config/document.h"
#include "web/acl.h"
#include "web/tls_files.h"

namespace vx {

std::string web_settings_problem(std::string_view address_rules, bool check_tls,
                                 const std::string& certificate_path, const std::string& key_path) {
  if (std::string problem = acl_problem(address_rules); !problem.empty()) {
    return "the address rules cannot be read: " + problem;
  }
  if (!check_tls) return "";
  const std::string problem = tls_files_read(certificate_path, key_path).problem;
  return problem.empty() ? "" : "TLS cannot be switched on: " + problem;
}

std::string web_settings_problem(const cJSON* posted_global, const cJSON* current_global) {
  const bool tls = config_bool(posted_global, "sslEnable");
  const std::string certificate = config_string(posted_global, "sslCert");
  const std::string key = config_string(posted_global, "sslKey");
  const bool tls_changed = !config_bool(current_global, "sslEnable") ||
                           certificate != config_string(current_global, "sslCert") ||
                           key != config_string(current_global, "sslKey");
  return web_settings_problem(config_string(posted_global, "ipACL"), tls && tls_changed,
                              certificate, key);
}

}  // namespace vx
