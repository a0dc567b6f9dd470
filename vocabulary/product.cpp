#include "vocabulary/product.h"

#include <string>

#include "vocabulary/text_format.h"
#include "vocabulary/version.h"  // written by CMake from the project's version

namespace vx {

const char* version_text() {
  static const std::string text = [] {
    std::string version;
    append_format(version, "%d.%d.%d.%02x", kVersionMajor, kVersionMinor, kVersionPatch,
                  kVersionBuild);
    return version;
  }();
  return text.c_str();
}

}  // namespace vx
