// Whether a desktop display can be opened: the window's toolkit ends the program outright when
// the display it is told about does not answer (a DISPLAY left over from an ended session), so
// the program asks first and can run without it instead.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vx {

// Where an X display name ("[host]:number[.screen]") is served: a local socket path, or a host
// and TCP port. nullopt for a name this reading does not know (then the toolkit decides).
struct XDisplayAddress {
  std::string socket_path;  // "/tmp/.X11-unix/X<number>" for a local display
  std::string host;         // for a display over TCP
  int port = 0;             // 6000 + number
};
std::optional<XDisplayAddress> x_display_address(std::string_view name);

// True when WAYLAND_DISPLAY or DISPLAY names a display that accepts a connection now (at most
// about a second is spent on a remote one), or one whose name cannot be judged.
bool display_reachable();

}  // namespace vx
