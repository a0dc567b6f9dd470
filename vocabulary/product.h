// What the product is and its fixed numbers, each said once: the names it shows (window caption,
// login page, runtime description), its version and web site, how many channels, sources and
// targets it runs, and the ports it uses unless told otherwise.
#pragma once

namespace vx {

inline constexpr const char* kProductName = "Vantorix";
inline constexpr const char* kProductAbbreviation = "MORVI";
// The main window's caption and the browser page's title.
inline constexpr const char* kApplicationTitle = "Vantorix";
// Shown in the runtime description and drawn on the alternate picture's credit line.
inline constexpr const char* kProductWebsite = "vantorix.org";
inline constexpr const char* kCreditLine = "powered by vantorix.org";
// Where the Online Manual buttons of the window and the browser page lead.
inline constexpr const char* kManualAddress = "https://vantorix.org/manual";
// The maker, under the product name in the window's logo panel.
inline constexpr const char* kVendorName = "Zentravia";
inline constexpr const char* kPlatformName = "linux";

// The channels an operator can define; channel c (0-based) runs in engine slot c.
inline constexpr int kMaxChannels = 16;
inline constexpr int kMaxChannelSources = 20;
inline constexpr int kMaxChannelTargets = 5;

// The administration server's port when "httpPort" names none.
inline constexpr int kDefaultHttpPort = 9527;

// "6.5.7.1d": major, minor and patch in decimal, the build number as two hex digits.
const char* version_text();

}  // namespace vx
