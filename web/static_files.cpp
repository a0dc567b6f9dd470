#include "web/static_files.h"

#include <fstream>
#include <sstream>

#include "platform/host.h"
#include "vocabulary/ascii.h"
#include "vocabulary/text_format.h"
#include "web/api.h"
#include "web/embedded_files.h"

namespace vx {
namespace {

constexpr std::string_view kLogoName = "morvoem.png";
constexpr const char* kCachedForADay = "max-age=86400";

std::optional<std::string> read_logo(const std::string& program_folder) {
  const std::string folder = program_folder.empty() ? module_folder() : program_folder;
  std::ifstream file(folder + "/" + std::string(kLogoName), std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream bytes;
  bytes << file.rdbuf();
  std::string text = std::move(bytes).str();
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

const char* content_type_for(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  const std::string_view extension = dot == std::string_view::npos ? "" : name.substr(dot);
  if (iequals(extension, ".js") || iequals(extension, ".mjs")) return "text/javascript";
  if (iequals(extension, ".css")) return "text/css";
  if (iequals(extension, ".png")) return "image/png";
  if (iequals(extension, ".json")) return "application/json";
  return "text/html";
}

std::optional<std::string_view> embedded_file(std::string_view name) {
  for (const EmbeddedFile& file : embedded_client_files()) {
    if (iequals(file.name, name)) return file.bytes;
  }
  return std::nullopt;
}

WebAnswer answer_static_file(std::string_view name, std::string_view argument_text,
                             const std::string& program_folder) {
  if (const std::optional<std::string_view> bytes = embedded_file(name)) {
    WebAnswer answer{200,
                     {{"Connection", "Keep-Alive"},
                      {"Content-Type", content_type_for(name)},
                      {"Cache-Control", kCachedForADay}},
                     std::string(*bytes)};
    if (contains(argument_text, "dl=1")) {
      answer.headers.emplace_back("Content-Disposition", "attachment");
    }
    return answer;
  }
  if (iequals(name, kLogoName)) {
    std::optional<std::string> logo = read_logo(program_folder);
    if (!logo) return empty_answer(404);
    return WebAnswer{200,
                     {{"Connection", "Keep-Alive"},
                      {"Content-Type", "image/png"},
                      {"Cache-Control", kCachedForADay}},
                     std::move(*logo)};
  }
  if (iequals(name, "config")) {
    return answer_config_download(argument_text).value_or(empty_answer(404));
  }
  return empty_answer(404);
}

}  // namespace vx
