#include "web/web_answer.h"

#include "vocabulary/ascii.h"

namespace vx {

const std::string* WebAnswer::header(std::string_view name) const {
  for (const WebHeader& h : headers) {
    if (iequals(h.first, name)) return &h.second;
  }
  return nullptr;
}

std::vector<WebHeader> json_headers() {
  return {{"Connection", "Keep-Alive"},
          {"Pragma", "no-cache"},
          {"Cache-Control", "no-store"},
          {"Content-Type", "application/json"}};
}

std::vector<WebHeader> keep_alive_headers() {
  return {{"Connection", "Keep-Alive"}};
}

WebAnswer text_answer(unsigned status, std::string text) {
  return WebAnswer{status, {{"Content-Type", "text/plain; charset=utf-8"}}, std::move(text)};
}

WebAnswer html_answer(unsigned status, std::string page) {
  return WebAnswer{
      status, {{"Connection", "Keep-Alive"}, {"Content-Type", "text/html"}}, std::move(page)};
}

}  // namespace vx
