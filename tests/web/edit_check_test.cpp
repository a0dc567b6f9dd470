// "/edit_check" over real HTTP on 127.0.0.1: the window's checks of an edited channel answered to
// the browser page with the window's words, Apply's channels with the bind item moved and the
// run mark kept, and bodies no page would send; nothing is ever stored.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/json.h"
#include "tests/support/http_client.h"
#include "tests/web/server_fixture.h"

namespace vx {
namespace {

using namespace testing_support;

// {"channel": number, "edited": channel, "target": target}.
std::string check_body(int number, const cJSON* channel, int target = 0) {
  return R"({"channel": )" + std::to_string(number) + R"(, "edited": )" +
         json_print_unformatted(channel).value_or("null") + R"(, "target": )" +
         std::to_string(target) + "}";
}

cJSON* first_source(cJSON* channel) {
  return cJSON_GetArrayItem(config_array(config_object(channel, "input"), "sources"), 0);
}

cJSON* target_at(cJSON* channel, int index) {
  return cJSON_GetArrayItem(config_array(config_object(channel, "output"), "targets"), index);
}

// "title|text|control" of a refusal, "{}" for none, else the status and body.
std::string refusal_of(const Reply& reply) {
  const JsonPtr answer = json_parse(reply.body);
  if (reply.status() != 200 || !answer) return std::to_string(reply.status()) + " " + reply.body;
  const cJSON* refusal = config_object(answer.get(), "refusal");
  if (refusal == nullptr) return cJSON_GetArraySize(answer.get()) == 0 ? "{}" : "channels";
  return std::string(config_string(refusal, "title")) + "|" + config_string(refusal, "text") +
         "|" + config_string(refusal, "control");
}

TEST_F(WebServer, EditChecksRefuseWithTheWindowsWordsAndStoreNothing) {
  const std::string before = file_text();
  const std::string address = "Config Error|Error: Channel source address invalid!|source_address";
  const std::string bind = "Config Error|Error: Bind channel invalid!|bind";
  const std::string duplicated =
      "Setting Error|Duplicated stream names found.\nPlease modify target url to make stream name "
      "unique for each multi bitrate channel.|target_url";
  struct Case {
    const char* what;
    int number;
    void (*edit)(cJSON* channel);
    int target;
    std::string want;
  };
  const Case cases[] = {
      {"as stored", 2, [](cJSON*) {}, 0, "channels"},
      {"blank source", 2, [](cJSON* c) { config_set_string(first_source(c), "url", "  "); }, 0,
       address},
      {"quote in source", 1,
       [](cJSON* c) { config_set_string(first_source(c), "url", "/a\" -f null /tmp/x"); }, 0,
       address},
      {"RTP session without address", 1,
       [](cJSON* c) {
         config_set_string(first_source(c), "format", "rtp_native");
         config_set_string(first_source(c), "url", "");
       },
       0, "channels"},
      {"bound to itself", 3, [](cJSON* c) { config_set_int(c, "bind", 3); }, 0, bind},
      {"bound beyond the rows", 1, [](cJSON* c) { config_set_int(c, "bind", 4); }, 0, bind},
      {"a new channel may bind to the last stored", 4, [](cJSON* c) { config_set_int(c, "bind", 3); },
       0, "channels"},
      {"blank target", 1, [](cJSON* c) { config_set_string(target_at(c, 0), "url", " "); }, 0,
       "Settings Error|Target URL invalid!|target_url"},
      {"empty target", 1, [](cJSON* c) { config_set_string(target_at(c, 0), "url", ""); }, 0,
       "Settings Error|Target URL invalid!|target_url"},
      {"mux below the streams", 1,
       [](cJSON* c) {
         config_set_int(config_object(target_at(c, 0), "mux"), "bitRate", 100);
         config_set_int(config_object(target_at(c, 0), "video"), "bitRate", 500);
       },
       0, "Settings Error|Mux Bitrate must be higher than Video Bitrate plus Audio Bitrate!|mux_bitrate"},
      {"a copied target on its tab", 1,
       [](cJSON* c) {
         cJSON* targets = config_array(config_object(c, "output"), "targets");
         cJSON_AddItemToArray(targets, cJSON_Duplicate(target_at(c, 0), true));
       },
       1, duplicated},
      {"a stored format no entry offers keeps its targets, and the document check refuses", 1,
       [](cJSON* c) {
         config_set_string(target_at(c, 0), "format", "ytdlp");
         cJSON* targets = config_array(config_object(c, "output"), "targets");
         cJSON_AddItemToArray(targets, cJSON_Duplicate(target_at(c, 0), true));
         config_set_string(target_at(c, 1), "url", "udp://127.0.0.1:9/b");
       },
       0,
       std::string(kProductName) + "|channel 1: its targets' format (\"ytdlp\") takes one target, "
                                   "but the channel lists 2; nothing was applied|"},
  };
  for (const Case& c : cases) {
    JsonPtr edited(cJSON_Duplicate(channel(c.number <= 3 ? c.number - 1 : 0), true));
    c.edit(edited.get());
    EXPECT_EQ(refusal_of(http_post(port_, "/edit_check?apply", check_body(c.number, edited.get(),
                                                                           c.target))),
              c.want)
        << c.what;
  }

  // The changes of the shown target: CBR needs a video bit rate, MainConcept needs its plug-in.
  // No ffmpeg to ask: the encoder list is unknown, so only the plug-in rule can refuse.
  ASSERT_EQ(setenv("MORVI_FFMPEG", (folder_ / "no-ffmpeg").c_str(), 1), 0);
  const auto change = [this](const char* step, const char* object, const char* key,
                             const char* json_value) {
    JsonPtr edited(cJSON_Duplicate(channel(0), true));
    config_set_item(config_object(target_at(edited.get(), 0), object), key,
                    json_parse(json_value));
    return refusal_of(
        http_post(port_, std::string("/edit_check?") + step, check_body(1, edited.get())));
  };
  const std::string plugin =
      "Settings Error|Please make sure to install MainConcept FFmpeg Plugin and\nconfigure plugin "
      "core file path in Global Settings to use MainConcept encoder.|video_encoding";
  EXPECT_EQ(change("cbr", "mux", "cbr", "true"),
            "Warning|Cannot enable CBR with ZERO video bitrate!|cbr");
  EXPECT_EQ(change("cbr", "mux", "cbr", "false"), "{}");
  EXPECT_EQ(change("video_encoding", "video", "codec", "\"omx264\""), plugin);
  EXPECT_EQ(change("video_encoding", "video", "codec", "\"h264\""), "{}");
  EXPECT_EQ(change("audio_encoding", "audio", "codec", "\"mp3\""), "{}");
  change_global([](cJSON* global) { config_set_string(global, "omxPath", "/opt/mc/omx.so"); });
  EXPECT_EQ(change("video_encoding", "video", "codec", "\"omx265\""), "{}");
  unsetenv("MORVI_FFMPEG");
  EXPECT_EQ(file_text(), before);
}

TEST_F(WebServer, EditCheckAnswersTheChannelsAsApplyStoresThem) {
  {
    const CoreLock lock = core_lock();
    config_set_bool(channel(1), "enable", true);
  }
  const auto applied = [this](int number, const cJSON* edited) {
    const Reply reply = http_post(port_, "/edit_check?apply", check_body(number, edited));
    JsonPtr answer = json_parse(reply.body);
    EXPECT_EQ(reply.status(), 200) << reply.body;
    return JsonPtr(cJSON_DetachItemFromObjectCaseSensitive(answer.get(), "channels"));
  };
  const auto sources = [](cJSON* channels, int index) {
    return json_print_unformatted(config_array(
               config_object(cJSON_GetArrayItem(channels, index), "input"), "sources"))
        .value_or("");
  };
  // Channel 3 bound to 1: channel 1 lists it.
  JsonPtr edited(cJSON_Duplicate(channel(2), true));
  config_set_int(edited.get(), "bind", 1);
  JsonPtr channels = applied(3, edited.get());
  ASSERT_EQ(cJSON_GetArraySize(channels.get()), 3);
  EXPECT_NE(sources(channels.get(), 0).find(R"({"bind":3})"), std::string::npos);
  EXPECT_EQ(config_int(cJSON_GetArrayItem(channels.get(), 2), "bind"), 1);
  // Stored so, then moved to 2: the item leaves 1 for 2.
  {
    const CoreLock lock = core_lock();
    cJSON_ReplaceItemInArray(config_array(config_document(), "channels"), 0,
                             cJSON_Duplicate(cJSON_GetArrayItem(channels.get(), 0), true));
    config_set_int(channel(2), "bind", 1);
  }
  config_set_int(edited.get(), "bind", 2);
  channels = applied(3, edited.get());
  EXPECT_EQ(sources(channels.get(), 0).find(R"("bind")"), std::string::npos);
  EXPECT_NE(sources(channels.get(), 1).find(R"({"bind":3})"), std::string::npos);

  // As the window's save: a format that keeps one target drops the others, one that takes
  // several keeps them.
  for (const auto& [format, url, kept] :
       {std::tuple{"rtsp", "rtsp://127.0.0.1:8554/a", 1}, {"udp", "udp://127.0.0.1:9000", 2}}) {
    JsonPtr two(cJSON_Duplicate(channel(0), true));
    config_set_string(target_at(two.get(), 0), "format", format);
    config_set_string(target_at(two.get(), 0), "url", url);
    cJSON* targets = config_array(config_object(two.get(), "output"), "targets");
    cJSON_AddItemToArray(targets, cJSON_Duplicate(target_at(two.get(), 0), true));
    config_set_string(target_at(two.get(), 1), "url", "udp://127.0.0.1:9001");
    channels = applied(1, two.get());
    EXPECT_EQ(cJSON_GetArraySize(config_array(
                  config_object(cJSON_GetArrayItem(channels.get(), 0), "output"), "targets")),
              kept)
        << format;
  }

  // Standby sources and switch-on seconds reach the answer as the page posted them (on a channel
  // that binds no other: standby sources cannot run beside bound channels).
  JsonPtr standby(cJSON_Duplicate(channel(0), true));
  cJSON* input = config_object(standby.get(), "input");
  cJSON_DeleteItemFromArray(config_array(input, "sources"), 1);
  config_set_item(input, "standby",
                  json_parse(R"([{"format": "file", "url": "udp://239.1.1.1:5000", "x": [1]},)"
                             R"( {"format": "srt", "url": "srt://h:9000"}])"));
  config_set_item(input, "switchOn", json_parse(R"({"black": 2})"));
  channels = applied(1, standby.get());
  EXPECT_EQ(json_print_unformatted(config_object(cJSON_GetArrayItem(channels.get(), 0), "input")),
            json_print_unformatted(input));

  // The run mark is the stored one; a new channel runs only once started.
  JsonPtr running(cJSON_Duplicate(channel(1), true));
  config_set_bool(running.get(), "enable", false);
  channels = applied(2, running.get());
  EXPECT_TRUE(config_bool(cJSON_GetArrayItem(channels.get(), 1), "enable"));
  config_set_bool(running.get(), "enable", true);
  channels = applied(4, running.get());
  ASSERT_EQ(cJSON_GetArraySize(channels.get()), 4);
  EXPECT_FALSE(config_bool(cJSON_GetArrayItem(channels.get(), 3), "enable"));
}

TEST_F(WebServer, EditCheckRefusesBodiesNoPageSends) {
  const std::string before = file_text();
  const std::string edited = json_print_unformatted(channel(0)).value_or("");
  const std::string number = "400 \"channel\" must be the number of the edited channel, from 1 to 16";
  const std::string target = "400 \"target\" must be the shown target, from 0 to 4";
  const struct {
    std::string query, body, want;
  } cases[] = {
      {"", "{}", "400 ask for \"?apply\", \"?video_encoding\", \"?audio_encoding\" or \"?cbr\""},
      {"save", "{}", "400 ask for \"?apply\", \"?video_encoding\", \"?audio_encoding\" or \"?cbr\""},
      {"apply", "[1]", "400 the body is not a JSON object"},
      {"apply", "{\"channel\": 1, ", "400 the body is not a JSON object"},
      {"apply", R"({"channel": 0, "target": 0, "edited": {}})", number},
      {"cbr", R"({"channel": 17, "target": 0, "edited": {}})", number},
      {"apply", R"({"channel": "1", "target": 0, "edited": {}})", number},
      {"apply", R"({"channel": 1.5, "target": 0, "edited": {}})", number},
      {"apply", R"({"channel": 1, "target": 0, "edited": []})",
       "400 \"edited\" must be the edited channel (an object)"},
      {"apply", R"({"channel": 1, "target": 5, "edited": {}})", target},
      {"apply", R"({"channel": 1, "edited": {}})", target},
      {"apply", R"({"channel": 5, "target": 0, "edited": )" + edited + "}",
       "400 there is no channel 5 to edit: the list holds 3"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(refusal_of(http_post(port_, "/edit_check?" + c.query, c.body)), c.want)
        << c.query << " " << c.body;
  }
  // Whatever shape the edited channel has, the answer is a refusal or channels, never a failure.
  for (const char* odd : {R"({})", R"({"input": 3, "output": {"targets": [null, 5]}, "bind": "x"})",
                          R"({"output": {"targets": [{"format": 7, "url": [], "video": "v"}]}})"}) {
    const std::string body = std::string(R"({"channel": 1, "target": 1, "edited": )") + odd + "}";
    for (const char* step : {"apply", "video_encoding", "audio_encoding", "cbr"}) {
      EXPECT_EQ(http_post(port_, std::string("/edit_check?") + step, body).status(), 200)
          << step << " " << odd;
    }
  }
  const Reply by_get = http_get(port_, "/edit_check?apply");
  EXPECT_EQ(by_get.status(), 405);
  EXPECT_EQ(by_get.header("Allow"), "POST");
  EXPECT_EQ(file_text(), before);
}

}  // namespace
}  // namespace vx
