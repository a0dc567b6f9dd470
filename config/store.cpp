#include "config/store.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/json.h"
#include "config/legacy.h"
#include "config/login_password.h"
#include "config/normalise.h"
#include "config/standby_sources.h"
#include "config/target_mix.h"
#include "config/text_check.h"
#include "platform/atomic_file.h"
#include "platform/host.h"

namespace vx {
namespace {

namespace fs = std::filesystem;

struct ConfigStore {
  std::string path;
  JsonPtr document;
  // What config_save() writes while there is no document at all; start values unless a
  // tag-format file was read.
  LegacyRecords legacy;
  FolderPlaylistLoader playlist_loader;
};

ConfigStore& store() {
  static ConfigStore instance;
  return instance;
}

bool path_exists(const std::string& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(path, error));
}

// What reading the configuration file gave: whether it became the document, and what the
// operator should hear about it ("" when nothing).
struct FileLoad {
  bool loaded = false;
  std::string problem;
};

// The first name of "<path><suffix>", "<path><suffix>.1", ... that nothing holds yet.
template <typename Keep>
std::string keep_beside(const std::string& path, const std::string& suffix, Keep keep) {
  constexpr int kMaxCopies = 1000;
  for (int copy = 0; copy < kMaxCopies; ++copy) {
    const std::string name = path + suffix + (copy == 0 ? "" : "." + std::to_string(copy));
    if (path_exists(name)) continue;
    return keep(name) ? name : "";
  }
  return "";
}

// An unusable file is the operator's text all the same (a hand edit with one comma too many):
// it is set aside, never over an earlier copy, before anything else takes its name.
std::string set_unusable_file_aside(const std::string& path) {
  return keep_beside(path, ".invalid", [&](const std::string& name) {
    return ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0;
  });
}

// The file stays in use, but the next save rewrites it without what was ignored: a copy keeps it.
std::string copy_file_aside(const std::string& path) {
  return keep_beside(path, ".invalid", [&](const std::string& name) {
    std::error_code error;
    return fs::copy_file(path, name, fs::copy_options::none, error);
  });
}

std::string kept_as(const std::string& kept) {
  return kept.empty() ? "; no copy of it could be kept" : "; the file as it was is kept as " + kept;
}

// An older file (or a tag-format import) holds the login password in clear: once the document
// holds its hash, the file is written again so the clear text leaves the disk.
bool holds_clear_password(const cJSON* tree) {
  return cJSON_GetObjectItemCaseSensitive(config_object(tree, "global"), kLoginPassKey) != nullptr;
}

void write_back_hashed(const std::string& path) {
  if (holds_clear_password(store().document.get())) return;  // the hash could not be made
  if (const std::optional<std::string> text = json_print(store().document.get())) {
    file_replace(path, *text);
  }
}

// A text the engine passes on that holds a control byte, a channel whose targets cannot run
// together, or one whose standby sources or switchOn break their rules, is kept as it is (the
// file stays the operator's), and the operator is told where.
std::string kept_problems_report(const std::string& path) {
  std::string report;
  for (const std::string& problem :
       {control_character_problem(store().document.get()),
        target_mix_problem(store().document.get()), standby_problem(store().document.get())}) {
    if (!problem.empty()) report += (report.empty() ? path + ": " : "; ") + problem;
  }
  return report.empty() ? report : report + "; it is kept as it is";
}

FileLoad load_file() {
  const std::string& path = store().path;
  if (!path_exists(path)) return {};
  const std::optional<std::string> text = file_read_whole(path);
  if (!text) return {false, path + " cannot be read (not a readable file, or over 64 MiB)"};
  const JsonReading reading = json_read_first_value(*text);
  if (!reading.tree) {
    return {false,
            path + " is not valid JSON: reading stopped at " + text_position(*text, reading.stop)};
  }
  if (!cJSON_IsObject(reading.tree.get())) {
    return {false, path + " does not hold a configuration (a JSON object)"};
  }
  if (!reading.text_after) {
    const bool loaded = config_normalise(*text) != nullptr;
    if (loaded && holds_clear_password(reading.tree.get())) write_back_hashed(path);
    return {loaded, loaded ? kept_problems_report(path) : ""};
  }
  // What the JSON library reads is taken: a stray "}" after the object loses no setting. Once a
  // copy holds the text as it was, the file is written again without the rest, so the next
  // reading finds nothing to report.
  config_normalise(text->substr(0, reading.stop));
  const std::string kept = copy_file_aside(path);
  if (!kept.empty()) {
    if (const std::optional<std::string> clean = json_print(store().document.get())) {
      file_replace(path, *clean);
    }
  }
  return {true, path + ": the text after the configuration, from " +
                    text_position(*text, reading.stop) + ", was ignored" + kept_as(kept)};
}

void run_playlist_loader() {
  if (store().playlist_loader) store().playlist_loader(config_folder_playlists());
}

// Returns what was done, for the operator.
std::string import_legacy_or_write_defaults() {
  ConfigStore& s = store();
  const std::string legacy_path = config_path_with_extension(".conf");
  const std::optional<LegacyRecords> records = legacy_read(legacy_path);
  s.legacy = records.value_or(LegacyRecords{});
  const std::string text = legacy_write(s.legacy);
  std::string done;
  if (path_exists(s.path)) done = kept_as(set_unusable_file_aside(s.path));
  done += records ? "; the channels of " + legacy_path + " were imported"
                  : "; a default configuration is used";
  if (file_replace(s.path, text)) {
    // Set aside only once its channels are safely on disk in the new form.
    if (records) std::rename(legacy_path.c_str(), (legacy_path + ".imported").c_str());
    if (load_file().loaded) return done;
  }
  // The folder refuses writes: run with the imported channels all the same.
  config_normalise(text);
  return done + " (it could not be written to " + s.path + ")";
}

std::string transfer_text(const char* action, const std::string& path) {
  return std::string(action) + " <" + path + ">";
}

ConfigTransfer transfer_failed(std::string text, std::string reason) {
  return {false, std::move(text) + " error!\n", std::move(reason)};
}

ConfigTransfer transfer_done(std::string text) {
  return {true, std::move(text) + " successfully!\n", ""};
}

}  // namespace

std::string data_folder() {
  const std::string base = xdg_base_folder("XDG_CONFIG_HOME", "/.config");
  if (base.empty()) return "";
  const std::string folder = base + "/Zentravia/morvi";
  std::error_code error;
  fs::create_directories(folder, error);
  return fs::is_directory(folder, error) ? folder : "";
}

std::string config_path_in(const std::string& folder) {
  return folder.empty() ? "" : folder + "/morvi.json";
}

void config_set_path(std::string path) {
  store().path = std::move(path);
}

const std::string& config_path() {
  return store().path;
}

std::string config_folder() {
  const std::string& path = store().path;
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return path.empty() ? "" : ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string config_path_with_extension(std::string_view extension) {
  const std::string& path = store().path;
  if (path.empty()) return "";
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  const bool has_extension =
      dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (has_extension ? path.substr(0, dot) : path) + std::string(extension);
}

cJSON* config_document() {
  return store().document.get();
}

cJSON* config_normalise(std::string_view text) {
  return config_install(json_parse(text));
}

cJSON* config_install(JsonPtr tree) {
  if (!tree || !normalise_document(tree.get())) return nullptr;
  store().document = std::move(tree);  // the old document is deleted here
  return store().document.get();
}

ConfigLoad config_load() {
  ConfigStore& s = store();
  if (s.path.empty()) return {s.document != nullptr, ""};
  FileLoad file = load_file();
  if (!file.loaded) {
    if (s.document) {
      // A document from before stays when the file does not parse, and no import happens.
      if (!file.problem.empty()) file.problem += "; the configuration in use stays";
    } else {
      const std::string done = import_legacy_or_write_defaults();
      // A first start (no file at all) is no problem to report.
      if (!file.problem.empty()) file.problem += done;
    }
  }
  run_playlist_loader();
  return {s.document != nullptr, std::move(file.problem)};
}

std::optional<ConfigSnapshot> config_snapshot(const std::string& path) {
  static std::atomic<std::uint64_t> next_sequence{1};
  if (path.empty()) return std::nullopt;
  const ConfigStore& s = store();
  std::optional<std::string> text =
      s.document ? json_print(s.document.get()) : legacy_write(s.legacy);
  if (!text) return std::nullopt;
  return ConfigSnapshot{path, std::move(*text), next_sequence++};
}

int config_write(const ConfigSnapshot& snapshot) {
  // One writer at a time, and per file the newest snapshot wins.
  static std::mutex writing;
  static std::map<std::string, std::uint64_t> written;
  const std::lock_guard<std::mutex> lock(writing);
  std::uint64_t& last = written[snapshot.path];
  if (snapshot.sequence <= last) return 0;
  if (!file_replace(snapshot.path, snapshot.text)) return -1;
  last = snapshot.sequence;
  return 0;
}

int config_save() {
  std::string path;
  {
    const CoreLock lock = core_lock();
    path = store().path;
  }
  return config_save(path);
}

int config_save(const std::string& path) {
  std::optional<ConfigSnapshot> snapshot;
  {
    const CoreLock lock = core_lock();
    snapshot = config_snapshot(path);
  }
  return snapshot ? config_write(*snapshot) : -1;
}

std::optional<std::string> config_print() {
  return json_print(store().document.get());
}

std::optional<std::string> config_print_public() {
  if (!store().document) return std::nullopt;
  return json_print(config_public_copy(store().document.get()).get());
}

void config_free() {
  store().document.reset();
  store().legacy = LegacyRecords{};
}

ConfigTransfer config_export(const std::string& path) {
  const std::string text = transfer_text("Export all channels to", path);
  if (config_save(path) != 0) return transfer_failed(text, "The file could not be written.");
  return transfer_done(text);
}

ConfigTransfer config_import(const std::string& path) {
  const std::string text = transfer_text("Import all channels from", path);
  const std::optional<std::string> contents = file_read_whole(path);
  if (!contents) return transfer_failed(text, "The file could not be read.");
  const JsonPtr tree = json_parse(*contents);
  if (!cJSON_IsObject(tree.get())) {
    return transfer_failed(text, "The file does not hold a configuration (a JSON object).");
  }
  if (store().path.empty() || !file_replace(store().path, *contents)) {
    return transfer_failed(text, "The configuration file could not be written.");
  }
  config_normalise(*contents);
  if (holds_clear_password(tree.get())) write_back_hashed(store().path);
  run_playlist_loader();
  return transfer_done(text);
}

std::vector<FolderPlaylistSetup> config_folder_playlists() {
  const cJSON* document = store().document.get();
  const cJSON* global = config_object(document, "global");
  const bool recursive = config_bool(global, "folderRecur");
  const bool shuffle = config_bool(global, "folderShuffle");
  const cJSON* channels = config_array(document, "channels");

  std::vector<FolderPlaylistSetup> playlists;
  const cJSON* channel = channels != nullptr ? channels->child : nullptr;
  for (int index = 0; index < kMaxChannels; ++index) {
    const cJSON* sources = config_array(config_object(channel, "input"), "sources");
    const std::string url = config_string(cJSON_GetArrayItem(sources, 0), "url");
    std::error_code error;
    const bool is_folder = !url.empty() && fs::is_directory(url, error);
    playlists.push_back({index, is_folder ? url : "", recursive, shuffle});
    if (channel != nullptr) channel = channel->next;
  }
  return playlists;
}

void config_set_playlist_loader(FolderPlaylistLoader loader) {
  store().playlist_loader = std::move(loader);
}

}  // namespace vx
