// The one configuration document of the process and its file: where the file lives, loading
// (with the one-time import of the older tag-format file), normalising every JSON text that
// becomes the document, crash-safe saving, and the export and import of the whole configuration.
//
// The desktop thread and the web thread share the document, so every caller holds the
// process-wide core lock (config/core_lock.h) around these calls and around every use of the tree
// that config_document() returns; a tree pointer is not kept past the lock, since the next
// normalisation deletes it. Saving is the exception: config_save() takes the lock itself, only
// to copy the document, and writes the copy after letting go, so no disk ever holds the lock.
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/json.h"

namespace vx {

// $XDG_CONFIG_HOME (or ~/.config when it is unset or not an absolute path) + "/Zentravia/morvi",
// created with its missing parents. "" when no home folder is known or the folder cannot be
// made.
std::string data_folder();

// folder + "/morvi.json"; "" for an empty folder.
std::string config_path_in(const std::string& folder);

// The configuration file that config_load() and config_save() use; set once at start-up
// (config_set_path(config_path_in(data_folder()))). "" until then.
void config_set_path(std::string path);
const std::string& config_path();

// The folder holding the configuration file (channel logs and playlists live below it).
std::string config_folder();

// config_path() with its extension replaced: ".conf" names the older tag-format file,
// "_cgi.log" the web request log.
std::string config_path_with_extension(std::string_view extension);

// The document's root (always a JSON object), or nullptr before the first successful load.
cJSON* config_document();

// Parses the text and, when it is a JSON object, brings it into shape and installs it as the
// document, deleting the old one. Returns the new root, or nullptr when the text is not a JSON
// object; the old document then stays and nothing is written.
cJSON* config_normalise(std::string_view text);
// The same for a tree parsed already; nullptr (old document kept) when it is not an object.
cJSON* config_install(JsonPtr tree);

// Loads the configuration file. When it gives no document and none was loaded before, the
// older tag-format file is imported once (else a default configuration is written): an
// unusable file is first kept beside it as "morvi.json.invalid" (".invalid.1", ".invalid.2"
// when earlier copies are there; none is ever overwritten) so the operator's text is never
// lost, and an imported tag-format file is renamed to "morvi.conf.imported". Text after the
// JSON object (a stray "}" from a hand edit) is ignored, as the JSON library reads it, and the
// file as it was is kept the same way. Then the playlist loader (below) runs.
struct ConfigLoad {
  bool loaded = false;  // a document exists afterwards
  // What the operator must be told, one line naming the file and the place in it; "" when the
  // file was read as it stands (or there was none yet).
  std::string problem;
};
ConfigLoad config_load();

// The document as config_save() writes it, copied under the core lock and written without it.
struct ConfigSnapshot {
  std::string path;
  std::string text;
  std::uint64_t sequence = 0;  // later copies have higher numbers
};

// The caller holds the core lock. nullopt when the path is empty or nothing can be printed.
std::optional<ConfigSnapshot> config_snapshot(const std::string& path);

// Replaces the snapshot's file crash-safely, unless a later snapshot of the same file has been
// written already (a slower writer never puts an older document back). Needs no lock. 0 on
// success (also when skipped); -1 when the file cannot be written, and then it is untouched.
int config_write(const ConfigSnapshot& snapshot);

// Writes the document (cJSON_Print layout) to the path, or to config_path(): a snapshot taken
// under the core lock, written after it is released (call it without holding the lock, or the
// write happens under the caller's hold). 0 on success; -1 when there is no path or the file
// cannot be written, and then the old file is untouched.
int config_save();
int config_save(const std::string& path);

// The document as written to the file.
std::optional<std::string> config_print();
// The document as it may leave the program (the browser client, the web export): the same print
// with the login password's hash replaced by its placeholder (config/login_password.h).
std::optional<std::string> config_print_public();

// Deletes the document (program exit).
void config_free();

// Export and import of the whole configuration, as the desktop reports them.
inline constexpr const char* kExportCaption = "Export Config";
inline constexpr const char* kImportCaption = "Import Config";

struct ConfigTransfer {
  bool ok = false;
  std::string message;  // "Export all channels to <path> successfully!\n" and the like
  std::string reason;   // why it failed, one sentence; "" on success
};

// Saves the document to the path.
ConfigTransfer config_export(const std::string& path);

// Replaces the configuration file with the chosen file and the document with its contents. A
// file that cannot be read or is not a JSON object changes nothing, neither the file nor the
// document. Channels that run keep running with the settings they started with; the caller
// rebuilds its channel list and starts the channels whose "enable" is true.
ConfigTransfer config_import(const std::string& path);

// What a channel's folder playlist is set up with after a load: the first source's "url" when it
// names an existing folder (else ""), and the global "folderRecur" and "folderShuffle".
struct FolderPlaylistSetup {
  int channel = 0;  // 0 to 15
  std::string folder;
  bool recursive = false;
  bool shuffle = false;
};

// One entry for each of the 16 channels, from the current document.
std::vector<FolderPlaylistSetup> config_folder_playlists();

// Called with config_folder_playlists() after every config_load() and successful import. The
// configuration cannot reach the playlists itself (they belong to the engine, which builds on
// the configuration), so the program's start-up installs a loader that calls, per entry,
//   channel_playlist(p.channel).load(playlist_file_path(config_folder(), p.channel),
//                                    p.folder, p.recursive, p.shuffle);
using FolderPlaylistLoader = std::function<void(const std::vector<FolderPlaylistSetup>&)>;
void config_set_playlist_loader(FolderPlaylistLoader loader);

}  // namespace vx
