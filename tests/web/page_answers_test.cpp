// What the browser page asks the server instead of knowing it: the choice lists, the edited
// row's source, a new target's address on the host the request reached, where a channel's served output plays, and removing
// a channel, each through the real server on loopback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/json.h"
#include "config/login_password.h"
#include "settings/choice_tables.h"
#include "engine/channel_compiler.h"
#include "engine/channel_status.h"
#include "engine/engine.h"
#include "platform/host.h"
#include "tests/support/http_client.h"
#include "tests/web/server_fixture.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

using namespace std::chrono_literals;
using namespace testing_support;

// A GET with its own Host header, for a caller who knows the password.
Reply get_from(std::uint16_t port, const std::string& target, const std::string& host) {
  return http_exchange(port, "GET " + target + " HTTP/1.1\r\nHost: " + host +
                                 "\r\nConnection: close\r\nAuthorization: Basic "
                                 "cHJvbWV0aGV1czpzM2NyZXQ=\r\n\r\n");
}

std::string own_address() {
  const std::string own = local_ipv4_address();
  return own.empty() ? "127.0.0.1" : own;
}

std::vector<std::string> texts_of(const cJSON* array, const char* key) {
  std::vector<std::string> texts;
  const cJSON* entry = nullptr;
  cJSON_ArrayForEach(entry, array) texts.emplace_back(config_string(entry, key));
  return texts;
}

TEST_F(WebServer, RulesAnswerTheWindowsChoiceLists) {
  const Reply reply = http_get(port_, "/rules");
  ASSERT_EQ(reply.status(), 200);
  EXPECT_EQ(reply.header("Content-Type"), "application/json");
  const JsonPtr rules = json_parse(reply.body);
  ASSERT_TRUE(rules) << reply.body;
  const cJSON* formats = config_array(rules.get(), "targetFormats");
  ASSERT_EQ(cJSON_GetArraySize(formats), static_cast<int>(kTargetFormatChoices.size()));
  for (std::size_t i = 0; i < kTargetFormatChoices.size(); ++i) {
    const cJSON* entry = cJSON_GetArrayItem(formats, static_cast<int>(i));
    EXPECT_EQ(config_string(entry, "text"), kTargetFormatChoices[i].text) << i;
    EXPECT_EQ(config_string(entry, "format"), kTargetFormatChoices[i].format) << i;
    EXPECT_EQ(cJSON_IsTrue(cJSON_GetObjectItem(entry, "multiBitrate")),
              kTargetFormatChoices[i].multi_bitrate)
        << i;
  }
  EXPECT_EQ(config_int(rules.get(), "maxTargets"), 5);
  // The page keeps a source type by its scheme's name ("mms", though it stores "mmsh://").
  EXPECT_EQ(texts_of(config_array(rules.get(), "sourceFormats"), "value"),
            (std::vector<std::string>{"file", "device", "decklink", "ndi", "ftp", "http", "ytdlp",
                                      "udp", "rtp", "srt", "rtsp", "rtspt", "rtmp", "mms", "mmst"}));
  // The window's starting addresses: the SRT one is the window's, not the page's own host.
  EXPECT_EQ(texts_of(config_array(rules.get(), "sourceFormats"), "defaultAddress"),
            (std::vector<std::string>{"", "", "", "", "", "", "", "0.0.0.0:1234", "0.0.0.0:1234",
                                      "127.0.0.1:1234", "", "", "", "", ""}));
  EXPECT_STREQ(config_string(rules.get(), "captureDevices"), "V4L2");
  EXPECT_EQ(config_int(rules.get(), "maxStandbySources"), 4);
  EXPECT_EQ(json_print_unformatted(config_object(rules.get(), "switchOnSeconds")),
            R"({"min":0,"max":3600})");
  // "Other" has no size: the page takes the two fields as typed.
  const cJSON* sizes = config_array(rules.get(), "frameSizes");
  ASSERT_EQ(cJSON_GetArraySize(sizes), static_cast<int>(kFrameSizeChoices.size()));
  EXPECT_EQ(config_int(cJSON_GetArrayItem(sizes, 5), "width"), 1280);
  EXPECT_EQ(cJSON_GetObjectItem(cJSON_GetArrayItem(sizes, kFrameSizeOther), "width"), nullptr);
  // The window's quality list, not a range of encoder numbers.
  EXPECT_EQ(texts_of(config_array(rules.get(), "qualities"), "text"),
            (std::vector<std::string>{"Default", "20", "40", "60", "80", "100"}));
  // The lists' first entries stand for 0.
  for (const char* list : {"frameRates", "qualities", "videoBitrates", "sampleRates",
                           "audioBitrates"}) {
    const std::vector<std::string> values = texts_of(config_array(rules.get(), list), "value");
    ASSERT_FALSE(values.empty()) << list;
    EXPECT_EQ(values.front(), "0") << list;
  }
  EXPECT_EQ(texts_of(config_array(rules.get(), "videoEncodings"), "codec").size(),
            kVideoEncodingChoices.size());
}

// The edited row's source cells: the page posts the first source (and what its fields read) and
// gets the window's answer; bodies no page sends are refused with a reason.
TEST_F(WebServer, SourceFieldsShowAndStoreTheFirstSourceAsTheWindowsCells) {
  const std::string before = file_text();
  const auto answer = [this](const char* step, const std::string& body) {
    const Reply reply = http_post(port_, std::string("/source_fields?") + step, body);
    if (reply.status() != 200) return std::to_string(reply.status()) + " " + reply.body;
    return reply.body.substr(0, reply.body.find_last_not_of('\n') + 1);
  };
  const struct {
    const char* step;
    std::string body, want;
  } cases[] = {
      {"show", R"({"source": {"format": "file", "url": "rtsp://cam/1"}})",
       R"({"type":"rtsp","address":"cam/1"})"},
      {"show", R"({"source": {"format": "file", "url": "mmsh://h/s", "video": {"options": []}}})",
       R"({"type":"mms","address":"h/s"})"},
      {"SHOW", R"({"source": {"format": 5, "url": ["x"]}})", R"({"type":"file","address":""})"},
      // Untouched: the posted source comes back as it is, whatever the window would write.
      {"store",
       R"({"type": "udp", "address": " @:1234 ", "source": {"url": "udp://@:1234", "format": "udp", "x": [1]}})",
       R"({"type":"udp","source":{"url":"udp://@:1234","format":"udp","x":[1]}})"},
      {"store", R"({"type": "udp", "address": "@:1235", "source": {"format": "udp", "url": "udp://@:1234"}})",
       R"({"type":"udp","source":{"format":"file","url":"udp://0.0.0.0:1235"}})"},
      {"store", R"({"type": "file", "address": "srt://h:9", "source": {"format": "file", "url": "/a"}})",
       R"({"type":"srt","source":{"format":"srt","url":"srt://h:9"}})"},
      {"store", R"({"type": "mms", "address": "h/s", "source": {}})",
       R"({"type":"mms","source":{"format":"file","url":"mmsh://h/s"}})"},
      {"", "{}", "400 ask for \"?show\" or \"?store\""},
      {"show&store", "{}", "400 ask for \"?show\" or \"?store\""},
      {"show", "[]", "400 the body is not a JSON object"},
      {"show", R"({"source": "rtsp://cam/1"})",
       "400 \"source\" must be the channel's first source (an object)"},
      {"store", R"({"type": "udp", "address": "x"})",
       "400 \"source\" must be the channel's first source (an object)"},
      {"store", R"({"type": "udp://", "address": "x", "source": {}})",
       "400 \"type\" must be the \"value\" of one of the \"sourceFormats\" of /rules"},
      {"store", R"({"type": "udp", "address": 5, "source": {}})",
       "400 \"address\" must be the typed address"},
  };
  for (const auto& c : cases) EXPECT_EQ(answer(c.step, c.body), c.want) << c.step << " " << c.body;
  const Reply by_get = http_get(port_, "/source_fields?show");
  EXPECT_EQ(by_get.status(), 405);
  EXPECT_EQ(by_get.header("Allow"), "POST");
  EXPECT_EQ(file_text(), before);
}

// The standby list and switch-on boxes under them: the page posts the channel's "input" (and what
// the rows and boxes read) and gets the window's answer; a refusal is the window's, and bodies no
// page sends are refused with a reason.
TEST_F(WebServer, StandbyFieldsShowAndStoreAsTheWindowsEditor) {
  const std::string before = file_text();
  const auto answer = [this](const char* step, const std::string& body) {
    const Reply reply = http_post(port_, std::string("/standby_fields?") + step, body);
    if (reply.status() != 200) return std::to_string(reply.status()) + " " + reply.body;
    return reply.body.substr(0, reply.body.find_last_not_of('\n') + 1);
  };
  const std::string input =
      R"("input": {"sources": [{"url": "/a"}], "standby": [{"format": "file", "url": "rtsp://cam/1",)"
      R"( "x": 1}, {"format": "srt", "url": "srt://h:9"}], "switchOn": {"black": 2}})";
  const std::string off = R"("switchOn": {"black": "2", "silence": "", "frozen": "0"})";
  const struct {
    const char* step;
    std::string body, want;
  } cases[] = {
      {"show", "{" + input + "}",
       R"({"sources":[{"type":"rtsp","address":"cam/1"},{"type":"srt","address":"h:9"}],)"
       R"("switchOn":{"black":"2","silence":"0","frozen":"0"}})"},
      {"show", R"({"input": {}})",
       R"({"sources":[],"switchOn":{"black":"0","silence":"0","frozen":"0"}})"},
      // Untouched rows and seconds come back as posted, moved rows with their own members.
      {"store",
       "{" + input + R"(, "sources": [{"type": "srt", "address": "h:9", "from": 1},)" +
           R"( {"type": "rtsp", "address": "cam/1 ", "from": 0}], )" + off + "}",
       R"({"input":{"standby":[{"format":"srt","url":"srt://h:9"},)"
       R"({"format":"file","url":"rtsp://cam/1","x":1}],"switchOn":{"black":2}}})"},
      {"store",
       "{" + input + R"(, "sources": [{"type": "udp", "address": "@:5000", "from": null}],)" +
           R"( "switchOn": {"black": "0", "silence": "4", "frozen": "0"}})",
       R"({"input":{"standby":[{"format":"file","url":"udp://0.0.0.0:5000","video":{"options":[]}}],)"
       R"("switchOn":{"black":0,"silence":4,"frozen":0}}})"},
      {"store",
       R"({"input": {"switchOn": {"black": 2}}, "sources": [], "switchOn": {"black": "0", "silence": "0", "frozen": "0"}})",
       R"({"input":{}})"},
      {"store", "{" + input + R"(, "sources": [{"type": "file", "address": " "}], )" + off + "}",
       R"({"refusal":{"title":"Config Error","text":"Error: Standby source 1 address invalid!",)"
       R"("control":"standby_address_1"}})"},
      {"store",
       "{" + input +
           R"(, "sources": [], "switchOn": {"black": "1.5", "silence": "0", "frozen": "0"}})",
       R"({"refusal":{"title":"Config Error","text":"Error: Switch on black takes whole seconds )"
       R"(from 0 (off) to 3600!","control":"switch_on_black"}})"},
      {"", "{}", "400 ask for \"?show\" or \"?store\""},
      {"show", "[]", "400 the body is not a JSON object"},
      {"show", R"({"input": []})",
       "400 \"input\" must be the edited channel's \"input\" (an object)"},
      {"store", R"({"input": {}, "switchOn": {}})",
       "400 \"sources\" must be the typed rows (an array)"},
      {"store", R"({"input": {}, "sources": [{"type": "udp://", "address": "x"}]})",
       "400 \"sources\" entry 1: \"type\" must be the \"value\" of one of the "
       "\"sourceFormats\" of /rules"},
      {"store", R"({"input": {}, "sources": [{"type": "udp", "address": "x", "from": 0}]})",
       "400 \"sources\" entry 1: \"from\" must be a position in the posted \"input\" "
       "\"standby\""},
      {"store",
       R"({"input": {}, "sources": [], "switchOn": {"black": 2, "silence": "0", "frozen": "0"}})",
       "400 \"switchOn\" must hold the typed \"black\", \"silence\" and \"frozen\" seconds "
       "(texts)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(answer(c.step, c.body), c.want) << c.step << " " << c.body;
  const Reply by_get = http_get(port_, "/standby_fields?show");
  EXPECT_EQ(by_get.status(), 405);
  EXPECT_EQ(by_get.header("Allow"), "POST");
  EXPECT_EQ(file_text(), before);
}

// tests/e2e/target_presets.json holds the presets for channel 1 on 127.0.0.1, httpPort 9527, the
// output folder "/out"; the server answers them with its own folder.
TEST_F(WebServer, TargetPresetsAreTheWindowsOnTheHostTheRequestReached) {
  change_global([](cJSON* global) {
    login_password_store(global, "s3cret");
    config_set_int(global, "httpPort", 9527);
  });
  const JsonPtr presets = json_parse(read_text(VX_TARGET_PRESETS));
  ASSERT_TRUE(presets);
  const auto preset = [this](const std::string& query, const std::string& host) {
    const Reply reply = get_from(port_, "/target_preset?" + query, host);
    const JsonPtr answer = json_parse(reply.body);
    return reply.status() == 200 && answer ? std::string(config_string(answer.get(), "url"))
                                           : std::to_string(reply.status()) + " " + reply.body;
  };
  for (std::size_t k = 0; k < kTargetFormatChoices.size(); ++k) {
    if (static_cast<TargetFormatEntry>(k) == TargetFormatEntry::decklink) continue;
    const bool ftp = static_cast<TargetFormatEntry>(k) == TargetFormatEntry::ftp;
    std::string want = config_string(presets.get(), ftp ? "ftp" : kTargetFormatChoices[k].format.data());
    if (want.starts_with("/out/")) want = new_output_folder() + want.substr(4);
    EXPECT_EQ(preset("channel=1&entry=" + std::to_string(k), "127.0.0.1:" + std::to_string(port_)),
              want)
        << k;
  }
  const struct {
    std::string query;
    std::string host;
    std::string want;
  } cases[] = {
      {"channel=3&entry=3", "studio.example:8080", "http://studio.example:9527/morv_ch3"},
      {"entry=14&channel=16", "[::1]", "http://[::1]:9527/morv_ch16"},
      {"channel=2&entry=2", "studio.example/evil", "http://" + own_address() + ":9527/morv_ch2"},
      {"channel=2&entry=2", "a..b", "http://" + own_address() + ":9527/morv_ch2"},
      {"channel=0&entry=1", "h", "400 the query needs \"channel=\" with a channel number from 1 to 16"},
      {"channel=17&entry=1", "h", "400 the query needs \"channel=\" with a channel number from 1 to 16"},
      {"channel=+1&entry=1", "h", "400 the query needs \"channel=\" with a channel number from 1 to 16"},
      {"entry=1", "h", "400 the query needs \"channel=\" with a channel number from 1 to 16"},
      {"channel=1&entry=15", "h", "400 the query needs \"entry=\" with a target format entry from 0 to 14"},
      {"channel=1&entry=-1", "h", "400 the query needs \"entry=\" with a target format entry from 0 to 14"},
      {"channel=1&entry=1x", "h", "400 the query needs \"entry=\" with a target format entry from 0 to 14"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(preset(c.query, c.host), c.want) << c.query << " " << c.host;
  // With TLS the served formats start with https.
  change_global([](cJSON* global) { config_set_bool(global, "sslEnable", true); });
  EXPECT_EQ(preset("channel=1&entry=2", "box"), "https://box:9527/morv_ch1");
}

TEST_F(WebServer, ChannelTemplateIsTheWindows) {
  const Reply reply = http_get(port_, "/channel_template");
  ASSERT_EQ(reply.status(), 200);
  const JsonPtr answer = json_parse(reply.body);
  ASSERT_TRUE(answer) << reply.body;
  EXPECT_EQ(json_print(answer.get()), json_print(channel_template().get()));
}

TEST_F(WebServer, ServedAddressesNameTheChannelsPortAndTheHostReached) {
  change_global([](cJSON* global) { login_password_store(global, "s3cret"); });
  {
    const CoreLock lock = core_lock();
    cJSON* channels = config_array(config_document(), "channels");
    cJSON_ReplaceItemInArray(channels, 1,
                             test_channel("html5", "http://user:pw@0.0.0.0:8080/live").release());
    cJSON_ReplaceItemInArray(channels, 2, test_channel("httpmjpg", "http://CAM.example/x").release());
    cJSON_ReplaceItemInArray(channels, 0, test_channel("http", "HTTPS://localhost:9528").release());
    cJSON_AddItemToArray(channels, test_channel().release());
  }
  const auto served = [this](const std::string& query, const std::string& host) {
    const Reply reply = get_from(port_, "/served?" + query, host);
    const JsonPtr answer = json_parse(reply.body);
    return reply.status() == 200 && answer ? std::string(config_string(answer.get(), "url"))
                                           : std::to_string(reply.status());
  };
  const std::string second = std::to_string(port_ + 2);
  const struct {
    std::string query;
    std::string host;
    std::string want;
  } cases[] = {
      {"channel=2", "127.0.0.1:" + std::to_string(port_), "http://127.0.0.1:" + second},
      {"channel=2", "[::1]", "http://[::1]:" + second},
      {"channel=2", "bad host", "http://" + own_address() + ":" + second},
      {"channel=3", "127.0.0.1", "http://CAM.example:" + std::to_string(port_ + 3)},
      {"channel=1", "box", "https://box:" + std::to_string(port_ + 1)},
      {"channel=4", "127.0.0.1", "404"},  // a UDP target is not served
      {"channel=5", "127.0.0.1", "404"},
      {"channel=x", "127.0.0.1", "400"},
      {"", "127.0.0.1", "400"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(served(c.query, c.host), c.want) << c.query << " " << c.host;
  EXPECT_EQ(get_from(port_, "/served?channel=2", "h").body.find("pw"), std::string::npos);
}

TEST_F(WebServer, RemovalGoesThroughTheSupervisorAndWaitsForLaterChannels) {
  ASSERT_TRUE(start_engine_with_stand_in());
  // Channel 4 is bound to channel 3; channel 2 is removed.
  std::string text = document_text(port_, 4);
  JsonPtr root = json_parse(text);
  cJSON* channels = config_array(root.get(), "channels");
  config_set_int(cJSON_GetArrayItem(channels, 3), "bind", 3);
  cJSON* item = cJSON_CreateObject();
  cJSON_AddNumberToObject(item, "bind", 4);
  cJSON_AddItemToArray(config_array(config_object(cJSON_GetArrayItem(channels, 2), "input"), "sources"),
                       item);
  install(*json_print(root.get()));
  const auto stored = [this] { return file_text(); };
  const auto state = [this](int index) {
    const CoreLock lock = core_lock();
    engine_poll_slots();
    return channel_state(channel_status_settings(channel(index)), index);
  };
  const std::string before = stored();

  const Reply by_get = http_get(port_, "/channel2?remove");
  EXPECT_EQ(by_get.status(), 405);
  EXPECT_EQ(by_get.header("Allow"), "POST");
  EXPECT_EQ(stored(), before);

  ASSERT_EQ(http_get(port_, "/channel1?start").status(), 200);
  ASSERT_EQ(http_get(port_, "/channel3?start").status(), 200);
  const std::string running = stored();  // "enable" set on both
  const Reply refused = http_post(port_, "/channel2?remove", "");
  EXPECT_EQ(refused.status(), 409);
  EXPECT_EQ(refused.body,
            "channel 2 was not removed: this channel or a later one is not idle; stop them before "
            "removing this channel");
  EXPECT_EQ(stored(), running);

  http_get(port_, "/channel3?stop");
  http_get(port_, "/channel3?stop");  // the stand-in ignores SIGINT: the second stop kills
  ASSERT_TRUE(wait_until([&] { return state(2) == ChannelState::idle; }, 5s));
  // A running channel before the removed one stays where it is.
  const Reply removed = http_post(port_, "/channel2?remove", "");
  EXPECT_EQ(removed.status(), 200) << removed.body;
  const JsonPtr saved = json_parse(stored());
  const cJSON* left = config_array(saved.get(), "channels");
  ASSERT_EQ(cJSON_GetArraySize(left), 3);
  EXPECT_EQ(config_int(cJSON_GetArrayItem(left, 2), "bind"), 2);
  const cJSON* master_sources =
      config_array(config_object(cJSON_GetArrayItem(left, 1), "input"), "sources");
  EXPECT_EQ(config_int(cJSON_GetArrayItem(master_sources, 1), "bind"), 3);
  EXPECT_EQ(state(0), ChannelState::running);
  EXPECT_EQ(http_post(port_, "/channel4?remove", "").status(), 404);
  http_get(port_, "/channel1?stop");
  http_get(port_, "/channel1?stop");
}

}  // namespace
}  // namespace vx
