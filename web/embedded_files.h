// The browser client's files, compiled into the program from web/client/ at build time.
#pragma once

#include <span>
#include <string_view>

namespace vx {

struct EmbeddedFile {
  std::string_view name;  // the file name, e.g. "index.html"
  std::string_view bytes;
};

std::span<const EmbeddedFile> embedded_client_files();

}  // namespace vx
