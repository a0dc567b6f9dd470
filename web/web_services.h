// What the administration server needs from the program around it: the owner of the window (or
// the headless loop) that is told about configuration changes and carries out channel commands,
// and where the devices and the branding files are found. Tests replace each of them.
#pragma once

#include <string>

namespace vx {

class DeckLinkDriver;

// The server's thread never touches the window. It reports through this interface, which the
// desktop implements with queued calls and the headless loop with its own queue.
class WebServerEvents {
 public:
  virtual ~WebServerEvents() = default;
  // Called on the server thread, without the core lock, after a configuration post replaced the
  // document and saved it: apply what else follows a change (the autostart entry).
  virtual void configuration_saved() = 0;
  // Rebuild the channel list from the document without starting or stopping any channel.
  // Must only queue the work and return.
  virtual void reload_channels() = 0;
  // Stop and start the server with its new settings (web_server_restart), later, on the
  // owner's thread: the server thread cannot stop its own daemon. Asked once the answer to the
  // request that changed the settings has been sent.
  virtual void restart_web_server() = 0;
};

// The commands of the channel action endpoint. Channels are started, stopped and removed on one
// road, the program's supervisor, whichever front end asks.
enum class ChannelCommand { start, stop, preview, remove };

class ChannelCommands {
 public:
  virtual ~ChannelCommands() = default;
  // Carries out the command for channel `index` (0-based) and returns 0 or an error code of
  // vocabulary/errors.h. Called on the server thread without the core lock; it may wait a while
  // for the program's own thread to take the command.
  virtual int run_channel_command(ChannelCommand command, int index) = 0;
};

struct WebServices {
  WebServerEvents* events = nullptr;    // not owned; may be null (nothing is told)
  ChannelCommands* commands = nullptr;  // not owned; null: channel actions are refused
  std::string program_folder;           // "morvoem.png" is read from here; "" = the program's
  std::string ndi_library;              // "" = the system's NDI runtime
  DeckLinkDriver* decklink = nullptr;   // not owned; null = the system's driver
};

}  // namespace vx
