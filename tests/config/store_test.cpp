#include "config/store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/document.h"
#include "config/json.h"
#include "config/login_password.h"

namespace vx {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string unformatted(const cJSON* item) {
  return json_print_unformatted(item).value_or("<none>");
}

// A channel that may stay in the document, or (valid = false) one whose first source has no URL.
std::string channel_json(const std::string& memo, bool valid = true, int sources = 1,
                         int targets = 1) {
  std::string text = R"({"input": {"sources": [)";
  for (int i = 0; i < sources; ++i) {
    text += std::string(i ? ", " : "") + R"({"format": "file", "url": ")" +
            (valid ? "/media/" + memo + ".mp4" : "") + R"("})";
  }
  text += R"(]}, "output": {"targets": [)";
  for (int i = 0; i < targets; ++i) {
    text += std::string(i ? ", " : "") + R"({"format": "udp", "video": {"codec": "h264"}})";
  }
  return text + R"(]}, "memo": ")" + memo + R"("})";
}

std::string document_json(const std::vector<std::string>& channels,
                          const std::string& global = "{}") {
  std::string text = R"({"global": )" + global + R"(, "channels": [)";
  for (std::size_t i = 0; i < channels.size(); ++i) {
    text += (i ? ", " : "") + channels[i];
  }
  return text + "]}";
}

std::vector<std::string> memos() {
  std::vector<std::string> result;
  const cJSON* channels = config_array(config_document(), "channels");
  for (const cJSON* channel = channels ? channels->child : nullptr; channel;
       channel = channel->next) {
    result.push_back(config_string(channel, "memo"));
  }
  return result;
}

cJSON* channel_at(int index) {
  return cJSON_GetArrayItem(config_array(config_document(), "channels"), index);
}

const char kFirstStartDocument[] =
    "{\n"
    "  \"name\": \"Vantorix Configuration File\",\n"
    "  \"global\": {\n"
    "    \"log\": 0,\n"
    "    \"httpPort\": 9527,\n"
    "    \"sslEnable\": false,\n"
    "    \"ipACL\": \"\",\n"
    "    \"autoRun\": false,\n"
    "    \"autoRestart\": 1,\n"
    "    \"altInput\": \"\",\n"
    "    \"folderRecur\": false,\n"
    "    \"folderShuffle\": false\n"
    "  },\n"
    "  \"channels\": [\n"
    "  ]\n"
    "}\n";

// Every test gets its own XDG_CONFIG_HOME and a store without a document.
class ConfigStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vx_config_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    remember_env("XDG_CONFIG_HOME");
    remember_env("HOME");
    ::setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
    config_free();
    config_set_playlist_loader(nullptr);
    folder_ = data_folder();
    ASSERT_EQ(folder_, (root_ / "Zentravia/morvi").string());
    config_set_path(config_path_in(folder_));
  }

  void TearDown() override {
    config_free();
    config_set_path("");
    config_set_playlist_loader(nullptr);
    for (const auto& [name, value] : saved_env_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  void remember_env(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    saved_env_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }

  fs::path config_file() const { return config_path(); }

  fs::path root_;
  std::string folder_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_env_;
};

TEST_F(ConfigStoreTest, DataFolderFollowsXdgThenHome) {
  write_file(root_ / "plain-file", "x");
  struct Case {
    const char* xdg;  // nullptr: unset; an absolute one lies below the test's folder
    std::string home;
    std::string expected;  // "" when no folder can be made
  };
  const Case cases[] = {
      {"/X", "", "/X/Zentravia/morvi"},
      {nullptr, "/H", "/H/.config/Zentravia/morvi"},
      {"", "/H", "/H/.config/Zentravia/morvi"},
      {"relative/path", "/H", "/H/.config/Zentravia/morvi"},
      {"/plain-file/below", "", ""},
  };
  for (const Case& c : cases) {
    if (c.xdg == nullptr) {
      ::unsetenv("XDG_CONFIG_HOME");
    } else if (c.xdg[0] == '/') {
      ::setenv("XDG_CONFIG_HOME", (root_.string() + c.xdg).c_str(), 1);
    } else {
      ::setenv("XDG_CONFIG_HOME", c.xdg, 1);
    }
    ::setenv("HOME", (root_.string() + c.home).c_str(), 1);
    const std::string expected = c.expected.empty() ? "" : root_.string() + c.expected;
    EXPECT_EQ(data_folder(), expected) << (c.xdg ? c.xdg : "(unset)");
    if (!expected.empty()) {
      EXPECT_TRUE(fs::is_directory(expected));
    }
  }
}

TEST_F(ConfigStoreTest, SiblingPathsReplaceTheExtension) {
  EXPECT_EQ(config_path_with_extension(".conf"), folder_ + "/morvi.conf");
  EXPECT_EQ(config_path_with_extension("_cgi.log"), folder_ + "/morvi_cgi.log");
  EXPECT_EQ(config_folder(), folder_);
  config_set_path("/a.b/morvi");
  EXPECT_EQ(config_path_with_extension(".conf"), "/a.b/morvi.conf");
}

TEST_F(ConfigStoreTest, GlobalDefaultsAndPortRepair) {
  struct Case {
    std::string global;
    std::string expected;
  };
  const Case cases[] = {
      {R"({})", R"({"log":0,"httpPort":9527,"autoRestart":1})"},
      {R"({"httpPort": "8080"})", R"({"httpPort":"8080","log":0,"autoRestart":1})"},
      {R"({"httpPort": true})", R"({"httpPort":true,"log":0,"autoRestart":1})"},
      {R"({"httpPort": 0, "log": 32})", R"({"httpPort":9527,"log":32,"autoRestart":1})"},
      // Text and literals that read as no usable port are replaced, not left with their type.
      {R"({"httpPort": "abc"})", R"({"httpPort":9527,"log":0,"autoRestart":1})"},
      {R"({"httpPort": null, "autoRestart": 0})", R"({"httpPort":9527,"autoRestart":0,"log":0})"},
      {R"({"httpPort": 70000})", R"({"httpPort":9527,"log":0,"autoRestart":1})"},
      {R"({"httpPort": -80})", R"({"httpPort":9527,"log":0,"autoRestart":1})"},
      // A negative wait would restart an ended channel at once: it reads as no restart.
      {R"({"autoRestart": -5})", R"({"autoRestart":0,"log":0,"httpPort":9527})"},
      {R"({"autoRestart": 7})", R"({"autoRestart":7,"log":0,"httpPort":9527})"},
      // Present keys stay whatever their type; readers apply their own defaults.
      {R"({"log": "x", "autoRestart": [], "httpPort": 65535})",
       R"({"log":"x","autoRestart":[],"httpPort":65535})"},
      // Connections per address: out of range or unreadable back to the default, absent stays
      // absent, the bounds themselves kept.
      {R"({"viewersPerAddress": 0})",
       R"({"viewersPerAddress":300,"log":0,"httpPort":9527,"autoRestart":1})"},
      {R"({"viewersPerAddress": -3})",
       R"({"viewersPerAddress":300,"log":0,"httpPort":9527,"autoRestart":1})"},
      {R"({"viewersPerAddress": 100001})",
       R"({"viewersPerAddress":300,"log":0,"httpPort":9527,"autoRestart":1})"},
      {R"({"viewersPerAddress": "many"})",
       R"({"viewersPerAddress":300,"log":0,"httpPort":9527,"autoRestart":1})"},
      {R"({"viewersPerAddress": 1})",
       R"({"viewersPerAddress":1,"log":0,"httpPort":9527,"autoRestart":1})"},
      {R"({"viewersPerAddress": 100000})",
       R"({"viewersPerAddress":100000,"log":0,"httpPort":9527,"autoRestart":1})"},
      {R"({"viewersPerAddress": "40"})",
       R"({"viewersPerAddress":"40","log":0,"httpPort":9527,"autoRestart":1})"},
  };
  for (const Case& c : cases) {
    ASSERT_NE(config_normalise(document_json({}, c.global)), nullptr) << c.global;
    EXPECT_EQ(unformatted(config_object(config_document(), "global")), c.expected) << c.global;
  }
}

TEST_F(ConfigStoreTest, TextsThatAreNotAJsonObjectKeepTheDocument) {
  ASSERT_NE(config_normalise(document_json({channel_json("kept")})), nullptr);
  const cJSON* before = config_document();
  const std::string cases[] = {"",     "not json", "[]",           "5",          "\"text\"",
                               "null", "{} {}",    "{\"global\":", "\xff\xfe{}", "{\"a\": 1,}"};
  for (const std::string& text : cases) {
    EXPECT_EQ(config_normalise(text), nullptr) << text;
    EXPECT_EQ(config_document(), before) << text;
  }
  EXPECT_EQ(memos(), std::vector<std::string>{"kept"});
}

TEST_F(ConfigStoreTest, WrongTypesAreAcceptedAndReadAsDefaults) {
  const std::string cases[] = {
      R"({"global": [], "channels": {}})",
      R"({"global": 5, "channels": "all"})",
      R"({"global": {"httpPort": {}}, "channels": [1, "x", null, [], {"input": 3}]})",
      R"({"name": "only a name"})",
  };
  for (const std::string& text : cases) {
    ASSERT_NE(config_normalise(text), nullptr) << text;
    const cJSON* global = config_object(config_document(), "global");
    EXPECT_EQ(config_int(global, "httpPort", 9527), 9527) << text;
    EXPECT_TRUE(memos().empty()) << text;
  }
}

TEST_F(ConfigStoreTest, ChannelsThatMayNotStayAreDroppedAndTheRestMoveUp) {
  std::vector<std::string> seventeen;
  std::vector<std::string> first_sixteen;
  for (int i = 1; i <= 17; ++i) {
    seventeen.push_back(channel_json(std::to_string(i)));
    if (i <= 16) first_sixteen.push_back(std::to_string(i));
  }
  std::vector<std::string> seventeen_first_invalid = seventeen;
  seventeen_first_invalid[0] = channel_json("1", false);
  std::vector<std::string> two_to_seventeen(first_sixteen.begin() + 1, first_sixteen.end());
  two_to_seventeen.push_back("17");

  struct Case {
    const char* name;
    std::vector<std::string> channels;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"second has no url",
       {channel_json("1"), channel_json("2", false), channel_json("3"), channel_json("4")},
       {"1", "3", "4"}},
      {"two invalid in a row",
       {channel_json("1", false), channel_json("2", false), channel_json("3")},
       {"3"}},
      {"seventeen", seventeen, first_sixteen},
      {"seventeen, first invalid", seventeen_first_invalid, two_to_seventeen},
      {"not objects", {"1", "\"x\"", "null", channel_json("v")}, {"v"}},
      {"no sources or targets",
       {channel_json("s", true, 0, 1), channel_json("t", true, 1, 0), channel_json("ok")},
       {"ok"}},
  };
  for (const Case& c : cases) {
    ASSERT_NE(config_normalise(document_json(c.channels)), nullptr) << c.name;
    EXPECT_EQ(memos(), c.expected) << c.name;
  }
}

// A valid channel bound to `bind` (0: none) whose sources bring in the channels `brought`.
std::string bound_channel_json(const std::string& memo, int bind, const std::vector<int>& brought,
                               bool valid = true) {
  std::string sources = R"({"format": "file", "url": ")" + (valid ? "/m/" + memo : "") + R"("})";
  for (const int number : brought)
    sources += R"(, {"bind": )" + std::to_string(number) + "}";
  return R"({"input": {"sources": [)" + sources +
         R"(]}, "output": {"targets": [{"video": {"codec": "h264"}}]}, "memo": ")" + memo + '"' +
         (bind > 0 ? R"(, "bind": )" + std::to_string(bind) : std::string()) + "}";
}

// "memo:bind[brought...]" for every channel of the document.
std::vector<std::string> channel_references() {
  std::vector<std::string> result;
  const cJSON* channels = config_array(config_document(), "channels");
  for (const cJSON* channel = channels ? channels->child : nullptr; channel;
       channel = channel->next) {
    std::string text = std::string(config_string(channel, "memo")) + ":" +
                       std::to_string(config_int(channel, "bind")) + "[";
    const cJSON* sources = config_array(config_object(channel, "input"), "sources");
    for (const cJSON* item = sources->child->next; item; item = item->next) {
      text += std::to_string(config_int(item, "bind")) + (item->next ? "," : "");
    }
    result.push_back(text + "]");
  }
  return result;
}

TEST_F(ConfigStoreTest, ChannelReferencesFollowTheirChannelsWhenChannelsLeave) {
  // B is dropped at load (no source URL); then the first channel is removed.
  config_normalise(
      document_json({bound_channel_json("A", 0, {3, 2, 9}), bound_channel_json("B", 1, {}, false),
                     bound_channel_json("C", 1, {}), bound_channel_json("D", 2, {}),
                     bound_channel_json("E", 0, {4, 1}), bound_channel_json("F", 5, {})}));
  EXPECT_EQ(channel_references(),
            (std::vector<std::string>{"A:0[2,9]", "C:1[]", "D:0[]", "E:0[3,1]", "F:4[]"}))
      << "a reference to the dropped channel is gone, later ones moved up, unknown ones kept";

  cJSON* channels = config_array(config_document(), "channels");
  EXPECT_FALSE(remove_channel(channels, 5));
  ASSERT_TRUE(remove_channel(channels, 0));
  EXPECT_EQ(channel_references(), (std::vector<std::string>{"C:0[]", "D:0[]", "E:0[2]", "F:3[]"}));
}

TEST_F(ConfigStoreTest, SourcesAndTargetsAreCutToTheLimits) {
  struct Case {
    int sources, targets;
    int kept_sources, kept_targets;
  };
  const Case cases[] = {{21, 6, 20, 5}, {20, 5, 20, 5}, {1, 1, 1, 1}, {40, 9, 20, 5}};
  for (const Case& c : cases) {
    ASSERT_NE(config_normalise(document_json({channel_json("c", true, c.sources, c.targets)})),
              nullptr);
    const cJSON* channel = channel_at(0);
    EXPECT_EQ(cJSON_GetArraySize(config_array(config_object(channel, "input"), "sources")),
              c.kept_sources);
    EXPECT_EQ(cJSON_GetArraySize(config_array(config_object(channel, "output"), "targets")),
              c.kept_targets);
  }
}

TEST_F(ConfigStoreTest, FiltersAndStreamSelectionMoveToTheInput) {
  struct Case {
    const char* input_extra;   // members added to "input"
    const char* output_extra;  // members added to "output"
    const char* input_filters;
    const char* input_map;
    const char* output_left;  // "output" without its "targets"
  };
  const Case cases[] = {
      {"", "", "[]", "[]", "{}"},
      {"", R"(, "filters": ["yadif"])", R"(["yadif"])", "[]", "{}"},
      {R"(, "mapOptions": ["p:1"])", "", "[]", R"(["p:1"])", "{}"},
      {"", R"(, "mapOptions": ["#256"])", "[]", R"(["#256"])", "{}"},
      {R"(, "mapOptions": ["p:1"])", R"(, "mapOptions": ["p:2"])", "[]", R"(["p:1"])",
       R"({"mapOptions":["p:2"]})"},
      {R"(, "map": ["p:3"], "filters": ["a"])", R"(, "mapOptions": ["p:2"], "filters": ["b"])",
       R"(["a"])", R"(["p:3"])", R"({"mapOptions":["p:2"],"filters":["b"]})"},
  };
  for (const Case& c : cases) {
    const std::string channel =
        std::string(R"({"input": {"sources": [{"url": "/m.mp4"}])") + c.input_extra +
        R"(}, "output": {"targets": [{"audio": {"codec": "aac"}}])" + c.output_extra + "}}";
    ASSERT_NE(config_normalise(document_json({channel})), nullptr) << channel;
    cJSON* input = config_object(channel_at(0), "input");
    cJSON* output = config_object(channel_at(0), "output");
    EXPECT_EQ(unformatted(cJSON_GetObjectItem(input, "filters")), c.input_filters) << channel;
    EXPECT_EQ(unformatted(cJSON_GetObjectItem(input, "map")), c.input_map) << channel;
    EXPECT_EQ(cJSON_GetObjectItem(input, "mapOptions"), nullptr) << channel;
    cJSON_DeleteItemFromObject(output, "targets");
    EXPECT_EQ(unformatted(output), c.output_left) << channel;
  }
}

TEST_F(ConfigStoreTest, FirstStartWritesTheDefaultDocument) {
  std::vector<FolderPlaylistSetup> loaded;
  config_set_playlist_loader([&](const std::vector<FolderPlaylistSetup>& p) { loaded = p; });
  EXPECT_TRUE(config_load().loaded);
  EXPECT_EQ(read_file(config_file()), kFirstStartDocument);
  EXPECT_FALSE(fs::exists(config_file().string() + ".invalid"));
  const cJSON* global = config_object(config_document(), "global");
  EXPECT_EQ(config_int(global, "httpPort"), 9527);
  EXPECT_EQ(config_int(global, "autoRestart"), 1);
  EXPECT_TRUE(memos().empty());
  EXPECT_EQ(loaded.size(), 16u);
}

TEST_F(ConfigStoreTest, UnusableFileIsKeptAsideNeverOverAnEarlierCopyAndSaidWhere) {
  struct Case {
    std::string bytes;
    const char* position;  // where the problem is said to be; "" when no place is named
  };
  const Case cases[] = {{"{ \"global\": { broken", "line 1, column "},
                        {"[]", ""},
                        {"", "line 1, column 1"},
                        {std::string("\0\x01\xff", 3), "line 1, column 3"},
                        {"{\n  \"global\": {\n    \"httpPort\": 80,\n  }\n}", "line 4, column "},
                        {"\"text\"", ""}};
  int copy = 0;
  for (const Case& c : cases) {
    config_free();
    write_file(config_file(), c.bytes);
    const ConfigLoad load = config_load();
    EXPECT_TRUE(load.loaded);
    EXPECT_EQ(read_file(config_file()), kFirstStartDocument);
    const std::string kept =
        config_file().string() + ".invalid" + (copy == 0 ? "" : "." + std::to_string(copy));
    EXPECT_EQ(read_file(kept), c.bytes) << "every earlier copy stays";
    EXPECT_NE(load.problem.find(config_file().string()), std::string::npos) << load.problem;
    EXPECT_NE(load.problem.find(c.position), std::string::npos) << load.problem;
    EXPECT_NE(load.problem.find("kept as " + kept), std::string::npos) << load.problem;
    EXPECT_EQ(config_int(config_object(config_document(), "global"), "httpPort"), 9527);
    ++copy;
  }
}

TEST_F(ConfigStoreTest, TextAfterTheObjectIsIgnoredAsTheJsonLibraryReadsIt) {
  const std::string document = document_json({channel_json("A")});
  struct Case {
    std::string after;
    bool reported;
  };
  const Case cases[] = {{"}\n", true},
                        {"\n\n  \t", false},
                        {std::string("\0\0\0", 3), false},
                        {"{\"global\": {}}", true}};
  for (const Case& c : cases) {
    config_free();
    fs::remove(config_file().string() + ".invalid");
    write_file(config_file(), document + c.after);
    const ConfigLoad load = config_load();
    ASSERT_TRUE(load.loaded);
    EXPECT_EQ(memos(), std::vector<std::string>{"A"}) << "no channel is lost";
    EXPECT_EQ(load.problem.empty(), !c.reported) << load.problem;
    if (!c.reported) continue;
    EXPECT_NE(load.problem.find(
                  "line " + std::to_string(std::count(document.begin(), document.end(), '\n') + 1)),
              std::string::npos)
        << load.problem;
    EXPECT_EQ(read_file(config_file().string() + ".invalid"), document + c.after);
    EXPECT_EQ(read_file(config_file()), config_print().value()) << "written back without it";
    EXPECT_TRUE(config_load().problem.empty()) << "the next reading has nothing to say";
  }
}

TEST_F(ConfigStoreTest, BrokenFileWithADocumentLoadedChangesNothing) {
  write_file(config_file(), document_json({channel_json("A")}));
  ASSERT_TRUE(config_load().loaded);
  write_file(config_file(), "{ broken");
  write_file(config_path_with_extension(".conf"), "<Channel1>\n</Channel1>\n");
  EXPECT_TRUE(config_load().loaded);
  EXPECT_EQ(memos(), std::vector<std::string>{"A"});
  EXPECT_EQ(read_file(config_file()), "{ broken");
  EXPECT_TRUE(fs::exists(config_path_with_extension(".conf")));
  EXPECT_FALSE(fs::exists(config_file().string() + ".invalid"));
  // The next save puts the document in memory back.
  ASSERT_EQ(config_save(), 0);
  EXPECT_EQ(read_file(config_file()), config_print().value());
}

// What posts and the window's Apply refuse is loaded from a file as it stands, every value kept,
// and the operator is told what and where.
TEST_F(ConfigStoreTest, RefusedValuesInAFileAreReportedAndKept) {
  std::string line_end = channel_json("A");
  line_end.replace(line_end.find("/media/A.mp4"), 12, "/media/A\\n.mp4");
  std::string standby = channel_json("A");
  standby.replace(standby.find(R"(]}, "output")"), 12,
                  R"(], "standby": [{"format": "rtp_native", "url": "rtp://h:5000"}, 7],)"
                  R"( "switchOn": {"black": -2, "frozen": "x"}}, "output")");
  const struct {
    std::string channel;
    std::string problem;
  } cases[] = {
      {line_end, "channel 2 input.sources[0].url holds a control character (0x0a)"},
      {standby, "channel 2: standby source 1 cannot be native RTP"},
  };
  for (const auto& c : cases) {
    const std::string text = document_json({channel_json("B"), c.channel});
    write_file(config_file(), text);
    const ConfigLoad load = config_load();
    EXPECT_TRUE(load.loaded);
    EXPECT_EQ(load.problem.rfind(config_file().string() + ": " + c.problem, 0), 0u) << load.problem;
    EXPECT_TRUE(load.problem.ends_with("; it is kept as it is")) << load.problem;
    EXPECT_EQ(memos(), (std::vector<std::string>{"B", "A"}));
    EXPECT_EQ(read_file(config_file()), text);
    // The document holds what the file holds, not a cleaned copy.
    const JsonPtr stored = json_parse(text);
    const cJSON* input = config_object(channel_at(1), "input");
    const cJSON* file_input =
        config_object(cJSON_GetArrayItem(config_array(stored.get(), "channels"), 1), "input");
    for (const char* key : {"sources", "standby", "switchOn"}) {
      const cJSON* kept = cJSON_GetObjectItemCaseSensitive(input, key);
      const cJSON* given = cJSON_GetObjectItemCaseSensitive(file_input, key);
      EXPECT_TRUE(kept == given || cJSON_Compare(kept, given, true)) << key;
    }
  }
}

TEST_F(ConfigStoreTest, TagFormatFileIsImportedOnce) {
  const std::string legacy = config_path_with_extension(".conf");
  write_file(legacy,
             "HTTPPort 8088\n"
             "<Channel1>\n"
             "Enable 1\n"
             "<Input>\n"
             "Format rtmp\n"
             "File rtmp://example.com/live/one\n"
             "</Input>\n"
             "<Output>\n"
             "Format udp\n"
             "File \"udp://239.0.0.1:1234\"\n"
             "VideoCodec h264\n"
             "</Output>\n"
             "</Channel1>\n");
  ASSERT_TRUE(config_load().loaded);
  EXPECT_FALSE(fs::exists(legacy));
  EXPECT_TRUE(fs::exists(legacy + ".imported"));
  EXPECT_EQ(config_int(config_object(config_document(), "global"), "httpPort"), 8088);
  const cJSON* source =
      cJSON_GetArrayItem(config_array(config_object(channel_at(0), "input"), "sources"), 0);
  EXPECT_STREQ(config_string(source, "url"), "rtmp://example.com/live/one");
  EXPECT_TRUE(config_bool(channel_at(0), "enable"));
  EXPECT_TRUE(json_parse(read_file(config_file())));

  // A later start with a usable file does not look at a tag-format file again.
  write_file(legacy, "HTTPPort 1\n");
  config_free();
  ASSERT_TRUE(config_load().loaded);
  EXPECT_EQ(config_int(config_object(config_document(), "global"), "httpPort"), 8088);
  EXPECT_TRUE(fs::exists(legacy));
}

// Older files, a tag-format file and an imported file hold the password in clear: the first load
// turns it into its hash and writes the file again, so the clear text leaves the disk; later
// loads find the hash and change nothing.
TEST_F(ConfigStoreTest, ClearPasswordsAreReadOnceAndWrittenBackHashed) {
  const auto hash_in_file = [&] {
    const JsonPtr stored = json_parse(read_file(config_file()));
    return config_login_hash(config_object(stored.get(), "global"));
  };
  const auto expect_hashed = [&](const char* what, const std::string& password) {
    const std::string text = read_file(config_file());
    EXPECT_EQ(text.find(password), std::string::npos) << what << ": " << text;
    EXPECT_EQ(text.find("\"loginPass\""), std::string::npos) << what << ": " << text;
    EXPECT_TRUE(login_password_matches(hash_in_file(), password)) << what;
    EXPECT_EQ(config_login_hash(config_object(config_document(), "global")), hash_in_file())
        << what;
  };

  write_file(config_file(), document_json({channel_json("a")}, R"({"loginPass": "Pässw0rd"})"));
  ASSERT_TRUE(config_load().loaded);
  expect_hashed("an older file", "Pässw0rd");
  const std::string hashed = read_file(config_file());
  config_free();
  ASSERT_TRUE(config_load().loaded);
  EXPECT_EQ(read_file(config_file()), hashed) << "a hashed file is read as it stands";

  fs::remove(config_file());
  config_free();
  write_file(config_path_with_extension(".conf"), "LoginPass t4g-secret\n");
  ASSERT_TRUE(config_load().loaded);
  expect_hashed("a tag-format import", "t4g-secret");

  const fs::path chosen = root_ / "chosen.json";
  write_file(chosen, document_json({}, R"({"loginPass": "imp0rted"})"));
  ASSERT_TRUE(config_import(chosen.string()).ok);
  expect_hashed("an imported file", "imp0rted");
  // The file written on export holds the hash, so an import of it restores the same password.
  const fs::path exported = root_ / "exported.json";
  ASSERT_TRUE(config_export(exported.string()).ok);
  EXPECT_EQ(read_file(exported).find("imp0rted"), std::string::npos);
  config_normalise(document_json({}));
  ASSERT_TRUE(config_import(exported.string()).ok);
  EXPECT_TRUE(login_password_matches(hash_in_file(), "imp0rted"));
}

TEST_F(ConfigStoreTest, NonUtf8TextSurvivesSaveAndLoad) {
  const std::string memo = "caf\xe9 \xff\xfe end";
  ASSERT_NE(config_normalise(document_json({channel_json("x")})), nullptr);
  config_set_string(channel_at(0), "memo", memo);
  ASSERT_EQ(config_save(), 0);
  config_free();
  ASSERT_TRUE(config_load().loaded);
  EXPECT_EQ(memos(), std::vector<std::string>{memo});
}

TEST_F(ConfigStoreTest, SaveThatCannotWriteKeepsTheOldFile) {
  ASSERT_NE(config_normalise(document_json({channel_json("new")})), nullptr);
  write_file(config_file(), "old");
  // The temporary file's name is taken by a folder, so nothing can be written.
  fs::create_directory(config_file().string() + ".tmp");
  EXPECT_EQ(config_save(), -1);
  EXPECT_EQ(read_file(config_file()), "old");
  write_file(root_ / "plain-file", "x");
  EXPECT_EQ(config_save((root_ / "plain-file" / "morvi.json").string()), -1);
  config_set_path("");
  EXPECT_EQ(config_save(), -1);
}

TEST_F(ConfigStoreTest, SaveReplacesALinkTargetAndKeepsItsMode) {
  const fs::path elsewhere = root_ / "elsewhere.json";
  write_file(elsewhere, "{}");
  ::chmod(elsewhere.c_str(), 0640);
  fs::create_symlink(elsewhere, config_file());
  ASSERT_NE(config_normalise(document_json({channel_json("linked")})), nullptr);
  ASSERT_EQ(config_save(), 0);
  EXPECT_TRUE(fs::is_symlink(config_file()));
  EXPECT_EQ(read_file(elsewhere), config_print().value());
  struct stat status {};
  ASSERT_EQ(::stat(elsewhere.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
}

TEST_F(ConfigStoreTest, ExportThenImportRestoresEverything) {
  const fs::path exported = root_ / "exported.json";
  ASSERT_NE(config_normalise(document_json({channel_json("A")}, R"({"httpPort": 8080})")), nullptr);
  const ConfigTransfer out = config_export(exported.string());
  EXPECT_TRUE(out.ok);
  EXPECT_EQ(out.message, "Export all channels to <" + exported.string() + "> successfully!\n");

  ASSERT_NE(config_normalise(document_json({channel_json("B"), channel_json("C")},
                                           R"({"httpPort": 9000, "loginPass": "x"})")),
            nullptr);
  ASSERT_EQ(config_save(), 0);
  int loads = 0;
  config_set_playlist_loader([&](const std::vector<FolderPlaylistSetup>&) { ++loads; });

  const ConfigTransfer in = config_import(exported.string());
  EXPECT_TRUE(in.ok);
  EXPECT_EQ(in.message, "Import all channels from <" + exported.string() + "> successfully!\n");
  EXPECT_EQ(memos(), std::vector<std::string>{"A"});
  const cJSON* global = config_object(config_document(), "global");
  EXPECT_EQ(config_int(global, "httpPort"), 8080);
  EXPECT_STREQ(config_string(global, "loginPass"), "");
  EXPECT_EQ(read_file(config_file()), read_file(exported));
  EXPECT_EQ(loads, 1);

  const fs::path nowhere = root_ / "missing-folder" / "x.json";
  const ConfigTransfer failed = config_export(nowhere.string());
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.message, "Export all channels to <" + nowhere.string() + "> error!\n");
}

TEST_F(ConfigStoreTest, BadImportKeepsFileAndDocument) {
  ASSERT_NE(config_normalise(document_json({channel_json("current")})), nullptr);
  ASSERT_EQ(config_save(), 0);
  const std::string file_before = read_file(config_file());
  const cJSON* document_before = config_document();
  fs::create_directory(root_ / "a-folder");

  struct Case {
    const char* name;
    std::optional<std::string> contents;  // none: no such file
  };
  const Case cases[] = {
      {"missing", std::nullopt},
      {"a-folder", std::nullopt},
      {"not-json", "not json at all"},
      {"array", "[]"},
      {"empty", ""},
      {"truncated", file_before.substr(0, 40)},
      {"binary", std::string("\0\x01\x02", 3)},
  };
  for (const Case& c : cases) {
    const std::string path = (root_ / c.name).string();
    if (c.contents) write_file(path, *c.contents);
    const ConfigTransfer result = config_import(path);
    EXPECT_FALSE(result.ok) << c.name;
    EXPECT_EQ(result.message, "Import all channels from <" + path + "> error!\n") << c.name;
    EXPECT_FALSE(result.reason.empty()) << c.name;
    EXPECT_EQ(read_file(config_file()), file_before) << c.name;
    EXPECT_EQ(config_document(), document_before) << c.name;
  }
}

TEST_F(ConfigStoreTest, FolderPlaylistsFollowTheFirstSources) {
  const fs::path media = root_ / "media";
  fs::create_directory(media);
  write_file(media / "clip.mp4", "x");
  const std::string folder_channel =
      R"({"input": {"sources": [{"url": ")" + media.string() +
      R"("}]}, "output": {"targets": [{"audio": {"codec": "aac"}}]}})";
  const std::string file_channel = R"({"input": {"sources": [{"url": ")" +
                                   (media / "clip.mp4").string() +
                                   R"("}]}, "output": {"targets": [{"audio": {"codec": "aac"}}]}})";
  write_file(config_file(), document_json({file_channel, folder_channel},
                                          R"({"folderRecur": true, "folderShuffle": 1})"));
  std::vector<FolderPlaylistSetup> loaded;
  config_set_playlist_loader([&](const std::vector<FolderPlaylistSetup>& p) { loaded = p; });
  ASSERT_TRUE(config_load().loaded);
  ASSERT_EQ(loaded.size(), 16u);
  for (int channel = 0; channel < 16; ++channel) {
    const FolderPlaylistSetup& entry = loaded[static_cast<std::size_t>(channel)];
    EXPECT_EQ(entry.channel, channel);
    EXPECT_EQ(entry.folder, channel == 1 ? media.string() : "") << channel;
    EXPECT_TRUE(entry.recursive);
    EXPECT_FALSE(entry.shuffle);  // 1 is not the literal true
  }
}

// A saving process killed at any moment leaves either the old or the new document, never a
// mixture, a truncated file or none.
TEST_F(ConfigStoreTest, SaveSurvivesBeingKilledAtAnyMoment) {
  std::vector<std::string> channels_a;
  std::vector<std::string> channels_b;
  for (int i = 0; i < 16; ++i) {
    channels_a.push_back(channel_json("a" + std::to_string(i) + std::string(20000, 'a')));
    channels_b.push_back(channel_json("b" + std::to_string(i) + std::string(25000, 'b')));
  }
  const std::string text_a = document_json(channels_a);
  const std::string text_b = document_json(channels_b);
  ASSERT_NE(config_normalise(text_b), nullptr);
  const std::string printed_b = config_print().value();
  ASSERT_NE(config_normalise(text_a), nullptr);
  const std::string printed_a = config_print().value();
  ASSERT_EQ(config_save(), 0);

  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> delay_us(0, 30000);
  for (int round = 0; round < 30; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      for (int i = 0; std::chrono::steady_clock::now() < give_up; ++i) {
        config_normalise(i % 2 ? text_a : text_b);
        config_save();
      }
      ::_exit(0);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const std::string on_disk = read_file(config_file());
    ASSERT_TRUE(on_disk == printed_a || on_disk == printed_b)
        << "round " << round << ": " << on_disk.size() << " bytes";
  }
  // A temporary file left by a killed save is no obstacle to the next one or to loading.
  ASSERT_EQ(config_save(), 0);
  config_free();
  ASSERT_TRUE(config_load().loaded);
  EXPECT_EQ(memos().size(), 16u);
}

}  // namespace
}  // namespace vx
