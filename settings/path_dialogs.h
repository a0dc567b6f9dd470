// What the window's file and folder choosers show: their titles and name filters, for every
// dialog that opens one. The filters are written as Qt's file dialog takes them, and every list
// ends with "All Files (*)": "*.*" would hide files without an extension.
#pragma once

#include <string>
#include <vector>

namespace vx {

// An open-file or folder dialog; for files, its name filters (none: every file).
struct PathDialog {
  const char* title;
  std::vector<std::string> filters;
  bool must_exist = true;
};

// A save dialog: filters as above, the extension a name typed without one gets, and whether it
// asks before an existing file is replaced.
struct SaveDialog {
  const char* title;
  std::vector<std::string> filters;
  const char* default_extension;
  bool confirm_overwrite = true;
  const char* default_name = "";
};

}  // namespace vx
