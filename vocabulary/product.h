// The names the product shows: in the window caption, the login page and the runtime
// description the browser client reads.
#pragma once

namespace vx {

inline constexpr const char* kProductName = "Vantorix";
inline constexpr const char* kProductAbbreviation = "MORVI";
// The main window's caption and the browser page's title.
inline constexpr const char* kApplicationTitle = "Vantorix";
inline constexpr const char* kProductWebsite = "vantorix.org";  // as on the alternate picture
inline constexpr const char* kPlatformName = "linux";

}  // namespace vx
