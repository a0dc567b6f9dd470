// "/advanced_format" and "/advanced_video" over real HTTP on 127.0.0.1: every tab's fields saved
// into a posted channel and read back from it, a tab's refusal, and bodies no page would send,
// none of which changes the stored configuration.
#include <gtest/gtest.h>

#include <string>

#include "config/document.h"
#include "config/json.h"
#include "tests/support/http_client.h"
#include "tests/web/server_fixture.h"

namespace vx {
namespace {

using namespace testing_support;

const std::string kJson = "Content-Type: application/json\r\n";

// The item at a dotted path ("output.targets.0.url"); numbers index arrays.
const cJSON* item_at(const cJSON* item, const std::string& path) {
  std::size_t at = 0;
  while (item != nullptr && at <= path.size()) {
    const std::size_t dot = std::min(path.find('.', at), path.size());
    const std::string part = path.substr(at, dot - at);
    item = cJSON_IsArray(item) ? cJSON_GetArrayItem(item, std::stoi(part))
                               : cJSON_GetObjectItemCaseSensitive(item, part.c_str());
    at = dot + 1;
  }
  return item;
}

std::string printed_at(const cJSON* item, const std::string& path) {
  return json_print_unformatted(item_at(item, path)).value_or("(none)");
}

// A stored-channel shape with the given first source and first target.
JsonPtr channel_for(const char* source_format, const char* source_url, const char* target_format,
                    const char* target_url) {
  JsonPtr channel = test_channel(target_format, target_url);
  cJSON* source =
      cJSON_GetArrayItem(config_array(config_object(channel.get(), "input"), "sources"), 0);
  config_set_string(source, "format", source_format);
  config_set_string(source, "url", source_url);
  return channel;
}

std::string body_with(const cJSON* channel, const std::string& rest = {}) {
  return R"({"channel": )" + json_print_unformatted(channel).value_or("") + R"(, "target": 0)" +
         rest + "}";
}

TEST_F(WebServer, AdvancedSettingsSaveEveryTabIntoTheChannelAndLoadItBack) {
  struct Case {
    const char* panel;
    const char* source[2];
    const char* target[2];
    const char* fields;
    const char* written_at;  // in the answered channel
    const char* written;
    const char* loaded_at;  // in the fields of a load of the answered channel
    const char* loaded;
  };
  const Case cases[] = {
      {"/advanced_format",
       {"udp", "udp://0.0.0.0:1234"},
       {"udp", "udp://127.0.0.1:5000"},
       R"({"mpegtsInput": {"sourceStreams": [{"program": "2", "pid": ""},
                                              {"program": "3", "pid": "0x44"}]}})",
       "input.map",
       R"(["p:2","#0x44"])",
       "mpegtsInput.sourceStreams.1.pid",
       R"("0x44")"},
      {"/advanced_format",
       {"file", "/media/a.mp4"},
       {"udp", "udp://127.0.0.1:5000"},
       R"({"mpegtsOutput": {"pmtPid": "0x1001", "provider": "ACME"}})",
       "output.formatOptions",
       R"(["-program program_num=1:title='Program01':if=0","-mpegts_pmt_start_pid 0x1001",)"
       R"("-metadata service_provider='ACME'"])",
       "mpegtsOutput.pmtPid",
       R"("0x1001")"},
      {"/advanced_format",
       {"file", "/media/a.mp4"},
       {"rtmp", "rtmp://127.0.0.1/live/key"},
       R"({"rtmp": {"user": " studio ", "passwd": "pw"}})",
       "output.targets.0.rtmp.user",
       R"("studio")",
       "rtmp.enabled",
       "true"},
      {"/advanced_format",
       {"file", "/media/a.mp4"},
       {"hls", "/srv/hls/a.m3u8"},
       R"({"hls": {"segmentLength": 6, "indexStart": 10}})",
       "output.formatOptions",
       R"(["-hls_time 6","-start_number 9"])",
       "hls.indexStart",
       "10"},
      {"/advanced_format",
       {"srt", "srt://127.0.0.2:9000"},
       {"udp", "udp://127.0.0.1:5000"},
       R"({"srt": {"remote1": "127.0.0.3"}})",
       "input.sources.0.url",
       R"("srt://127.0.0.3:9000")",
       "srt.side",
       R"("input")"},
      {"/advanced_format",
       {"file", "/media/a.mp4"},
       {"udp", "udp://127.0.0.1:5000"},
       R"({"custom": {"targetParams": " -a 1\r\n-b \"2\" "}})",
       "output.customOptions",
       R"("-a 1-b 2")",
       "custom.targetParams",
       R"("-a 1-b 2")"},
      {"/advanced_video",
       {"file", "/media/a.mp4"},
       {"udp", "udp://127.0.0.1:5000"},
       R"({"encoder": {"profile": "high10", "threads": "4"}})",
       "output.targets.0.video.options",
       R"(["-profile:v high10","-pix_fmt:v yuv420p10","-preset:v faster","-threads:v 4"])",
       "encoder.profile",
       R"("high10")"},
      {"/advanced_video",
       {"file", "/media/a.mp4"},
       {"udp", "udp://127.0.0.1:5000"},
       R"({"cropPad": {"enabled": true, "mode": 1, "top": 8, "bottom": 8}})",
       "input.filters.0",
       R"("pad=iw+0:ih+16:0:8")",
       "cropPad.bottom",
       "8"},
      {"/advanced_video",
       {"file", "/media/a.mp4"},
       {"udp", "udp://127.0.0.1:5000"},
       R"({"blurSharpen": {"enabled": true, "mode": 1, "radius": 99, "strength": 5}})",
       "input.filters.0",
       R"("unsharp=13:13:0.5:13:13:0.5")",
       "blurSharpen.radius",
       "6"},
      {"/advanced_video",
       {"file", "/media/a.mp4"},
       {"udp", "udp://127.0.0.1:5000"},
       R"({"overlay": {"enabled": true, "text": "Studio A", "color": "#FF8800",
                       "rightAligned": true, "horizontalOffset": 10}})",
       "input.filters",
       R"(["drawtext=text='Studio A':fontsize=16:fontcolor=#ff8800:x=w-tw-10:y=0:shadowx=1:shadowy=1"])",
       "overlay.color",
       R"("#ff8800")"},
      {"/advanced_video",
       {"file", "/media/a.mp4"},
       {"udp", "udp://127.0.0.1:5000"},
       R"({"misc": {"scanType": 1, "decoderChoice": 2}})",
       "input.sources.0.video.options",
       R"(["-hwaccel qsv -hwaccel_output_format qsv","-c:v h264_qsv"])",
       "misc.decoderChoice",
       "2"},
  };
  const std::string stored = file_text();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    const JsonPtr channel = channel_for(c.source[0], c.source[1], c.target[0], c.target[1]);
    const Reply saved =
        http_post(port_, std::string(c.panel) + "?save",
                  body_with(channel.get(), R"(, "fields": )" + std::string(c.fields)), kJson);
    ASSERT_EQ(saved.status(), 200) << saved.body;
    EXPECT_EQ(saved.header("Content-Type"), "application/json");
    const JsonPtr answer = json_parse(saved.body);
    const cJSON* rewritten = cJSON_GetObjectItemCaseSensitive(answer.get(), "channel");
    EXPECT_EQ(printed_at(rewritten, c.written_at), c.written);
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(answer.get(), "warning"), nullptr);

    const Reply loaded =
        http_post(port_, std::string(c.panel) + "?load", body_with(rewritten), kJson);
    ASSERT_EQ(loaded.status(), 200) << loaded.body;
    const JsonPtr fields = json_parse(loaded.body);
    EXPECT_EQ(printed_at(fields.get(), std::string("fields.") + c.loaded_at), c.loaded);
  }
  EXPECT_EQ(file_text(), stored) << "translating stores nothing";
  EXPECT_EQ(events_.commits.load(), 0);
}

TEST_F(WebServer, AdvancedSettingsAnswerTheRecordsMessagesAndListsAndRefuseBadBodies) {
  const JsonPtr hls = channel_for("file", "/media/a.mp4", "hls", "/srv/hls/a.m3u8");
  const JsonPtr nvenc = channel_for("file", "/media/a.mp4", "udp", "udp://127.0.0.1:5000");
  cJSON* nvenc_target =
      cJSON_GetArrayItem(config_array(config_object(nvenc.get(), "output"), "targets"), 0);
  config_set_string(config_object(nvenc_target, "video"), "codec", "nv265");

  // The tab's own message, and nothing written.
  Reply reply =
      http_post(port_, "/advanced_format?save",
                body_with(hls.get(), R"(, "fields": {"hls": {"playlistSize": 0}})"), kJson);
  EXPECT_EQ(reply.status(), 400);
  EXPECT_EQ(reply.body, "m3u8 playlist entry size invalid!");
  // A choice the channel cannot carry is saved without it and said.
  reply =
      http_post(port_, "/advanced_video?save",
                body_with(nvenc.get(), R"(, "fields": {"misc": {"aspectOverride": true}})"), kJson);
  ASSERT_EQ(reply.status(), 200);
  EXPECT_EQ(printed_at(json_parse(reply.body).get(), "warning.title"), R"("Video Aspect Ratio")");
  // The lists come from the encoder's tables.
  reply = http_post(port_, "/advanced_video?load", body_with(nvenc.get()), kJson);
  const JsonPtr loaded = json_parse(reply.body);
  EXPECT_EQ(printed_at(loaded.get(), "choices.profiles"), R"(["default","main","main10"])");
  EXPECT_EQ(printed_at(loaded.get(), "choices.presetNames.6"), R"("hq")");
  EXPECT_EQ(printed_at(loaded.get(), "fields.misc.gpuNumberEnabled"), "true");

  const std::string channel = json_print_unformatted(hls.get()).value_or("");
  struct Hostile {
    const char* target;
    std::string body;
    const char* reason;
  };
  const Hostile hostile[] = {
      {"/advanced_format?load", "not json", "the body must be a JSON object"},
      {"/advanced_format?load", "[1, 2]", "the body must be a JSON object"},
      {"/advanced_video?load", std::string(2000, '['), "the body must be a JSON object"},
      {"/advanced_format?load", R"({"channel": [1]})", "\"channel\" must be a JSON object"},
      {"/advanced_video?load", R"({"channel": "x", "target": 0})",
       "\"channel\" must be a JSON object"},
      {"/advanced_format?load", R"({"channel": {}, "target": 1})",
       "\"target\" must be the position of one of the channel's targets, from 0 to 0"},
      {"/advanced_video?load", R"({"channel": )" + channel + R"(, "target": -1})", "\"target\""},
      {"/advanced_video?load", R"({"channel": )" + channel + R"(, "target": 0.5})", "\"target\""},
      {"/advanced_video?load", R"({"channel": )" + channel + R"(, "target": "0"})", "\"target\""},
      {"/advanced_format?load", R"({"channel": )" + channel + R"(, "target": 1e308})",
       "\"target\""},
      {"/advanced_format?save", R"({"channel": )" + channel + "}",
       "\"fields\" must be a JSON object"},
      {"/advanced_format?save", R"({"channel": )" + channel + R"(, "fields": 3})", "\"fields\""},
      {"/advanced_format?save",
       R"({"channel": )" + channel + R"(, "fields": {"hls": {"segmentLength": 1e300}}})",
       "fields.hls.segmentLength: a whole number from 0 to 4294967295 is expected"},
      {"/advanced_format?save",
       R"({"channel": )" + channel + R"(, "fields": {"hls": {"indexStart": -2147483649}}})",
       "fields.hls.indexStart: a whole number"},
      {"/advanced_format?save",
       R"({"channel": )" + channel + R"(, "fields": {"mpegtsOutput": {"programs": [1]}}})",
       "fields.mpegtsOutput.programs[0]: an object is expected"},
      {"/advanced_format?save",
       R"({"channel": )" + channel + R"(, "fields": {"rtmp": {"user": 5}}})",
       "fields.rtmp.user: a text is expected"},
      {"/advanced_video?save", R"({"channel": )" + channel + R"(, "fields": {"misc": "x"}})",
       "fields.misc: an object is expected"},
      {"/advanced_video?save",
       R"({"channel": )" + channel + R"(, "fields": {"overlay": {"color": "red"}}})",
       "fields.overlay.color: a colour written \"#rrggbb\" is expected"},
      {"/advanced_video?save",
       R"({"channel": )" + channel + R"(, "fields": {"misc": {"decoderChoice": 8}}})",
       "fields.misc.decoderChoice: a whole number from 0 to 7 is expected"},
      {"/advanced_video?save",
       R"({"channel": )" + channel + R"(, "fields": {"overlay": {"enabled": 1}}})",
       "fields.overlay.enabled: true or false is expected"},
      {"/advanced_video?remove", R"({"channel": {}})", "ask for \"?load\" or \"?save\""},
      {"/advanced_video?add_program", R"({"channel": {}, "fields": {}})",
       "ask for \"?load\" or \"?save\""},
      {"/advanced_format?add_program", R"({"channel": )" + channel + "}",
       "\"fields\" must be a JSON object"},
      {"/advanced_format?add_source_stream",
       R"({"channel": )" + channel + R"(, "fields": {"mpegtsInput": {"sourceStreams": 2}}})",
       "fields.mpegtsInput.sourceStreams"},
  };
  const std::string stored = file_text();
  for (const Hostile& h : hostile) {
    SCOPED_TRACE(h.body.substr(0, 200));
    reply = http_post(port_, h.target, h.body, kJson);
    EXPECT_EQ(reply.status(), 400);
    EXPECT_TRUE(reply.body.starts_with(h.reason)) << reply.body;
  }
  const Reply by_get = http_get(port_, "/advanced_format?load");
  EXPECT_EQ(by_get.status(), 405);
  EXPECT_EQ(by_get.header("Allow"), "POST");
  // Channels of any shape are translated without harm.
  for (const char* odd :
       {R"({"channel": {"input": 5, "output": {"targets": [7, "x"]}}, "target": 1})",
        R"({"channel": {"output": {"targets": [{"video": [], "rtmp": 1}]}, "input": {"sources": [
             {"video": {"options": {}}}], "filters": "f", "map": [null]}}})"}) {
    for (const char* step : {"/advanced_format?load", "/advanced_video?load"})
      EXPECT_EQ(http_post(port_, step, odd, kJson).status(), 200) << step << odd;
    for (const char* step : {"/advanced_format?save", "/advanced_video?save"}) {
      std::string saved(odd);
      saved.insert(saved.size() - 1, R"(, "fields": {"encoder": {}, "srt": {"mode": 0}})");
      EXPECT_EQ(http_post(port_, step, saved, kJson).status(), 200) << step << odd;
    }
  }
  EXPECT_EQ(file_text(), stored);
  EXPECT_EQ(http_get(port_, "/status").status(), 200);
}

// The tables' Add buttons: the row the window's panel adds, after the rows the page shows, the
// channel and the stored configuration untouched.
TEST_F(WebServer, AdvancedFormatTableButtonsAddTheWindowsRow) {
  const JsonPtr channel = channel_for("file", "/m/a.ts", "udp", "udp://127.0.0.1:1234");
  const std::string stored = file_text();
  struct Case {
    const char* step;
    const char* fields;
    const char* list;  // the answered table, at fields.<list>
    const char* want;
  };
  const Case cases[] = {
      {"add_source_stream", R"({"mpegtsInput": {"sourceStreams": []}})",
       "mpegtsInput.sourceStreams", R"([{"program":"1","pid":""}])"},
      {"add_source_stream",
       R"({"mpegtsInput": {"sourceStreams": [{"program": "4", "pid": "0x100"}, {"program": "7", "pid": ""}]}})",
       "mpegtsInput.sourceStreams",
       R"([{"program":"4","pid":"0x100"},{"program":"7","pid":""},{"program":"3","pid":""}])"},
      {"add_program", R"({"mpegtsOutput": {"programs": []}})", "mpegtsOutput.programs",
       R"([{"program":"1","name":"Program01","source":"1"}])"},
      {"add_program",
       R"({"mpegtsOutput": {"programs": [{"program": "1", "name": "News", "source": "2"}]}})",
       "mpegtsOutput.programs",
       R"([{"program":"1","name":"News","source":"2"},{"program":"2","name":"Program02","source":"2"}])"},
  };
  for (const Case& c : cases) {
    const Reply reply = http_post(port_, std::string("/advanced_format?") + c.step,
                                  body_with(channel.get(), std::string(R"(, "fields": )") + c.fields),
                                  kJson);
    ASSERT_EQ(reply.status(), 200) << reply.body;
    const JsonPtr answer = json_parse(reply.body);
    EXPECT_EQ(printed_at(answer.get(), std::string("fields.") + c.list), c.want) << c.fields;
    EXPECT_EQ(item_at(answer.get(), "channel"), nullptr) << "only the fields are answered";
  }
  EXPECT_EQ(file_text(), stored);
}

}  // namespace
}  // namespace vx
