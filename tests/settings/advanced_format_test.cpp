// The advanced format tabs: option text written for each choice, read back on load, the save
// order of the host and the inputs it must survive.
#include "settings/advanced_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/document.h"
#include "config/json.h"
#include "settings/json_fields.h"

namespace vx {
namespace {

using Texts = std::vector<std::string>;

// A channel with one source and the given targets ({"format","url"} pairs).
JsonPtr channel_with(const char* source_format, const char* source_url,
                     const std::vector<std::pair<const char*, const char*>>& targets) {
  JsonPtr channel = channel_template();
  cJSON* source =
      cJSON_GetArrayItem(config_array(config_object(channel.get(), "input"), "sources"), 0);
  config_set_string(source, "format", source_format);
  config_set_string(source, "url", source_url);
  cJSON* list = config_array(config_object(channel.get(), "output"), "targets");
  cJSON* first = cJSON_GetArrayItem(list, 0);
  for (std::size_t i = 0; i < targets.size(); ++i) {
    cJSON* target = first;
    if (i > 0) {
      target = cJSON_Duplicate(first, true);
      cJSON_AddItemToArray(list, target);
    }
    config_set_string(target, "format", targets[i].first);
    config_set_string(target, "url", targets[i].second);
  }
  return channel;
}

cJSON* input_of(cJSON* channel) {
  return config_object(channel, "input");
}
cJSON* output_of(cJSON* channel) {
  return config_object(channel, "output");
}
cJSON* target_at(cJSON* channel, int index) {
  return cJSON_GetArrayItem(config_array(output_of(channel), "targets"), index);
}
cJSON* source_of(cJSON* channel) {
  return cJSON_GetArrayItem(config_array(input_of(channel), "sources"), 0);
}
Texts output_options(cJSON* channel) {
  return string_array(output_of(channel), "formatOptions");
}
Texts input_options(cJSON* channel) {
  return string_array(input_of(channel), "formatOptions");
}

TEST(AdvancedMpegTsInput, MapEntriesLoadAsRows) {
  struct Case {
    const char* entry;
    std::vector<MpegTsInputSettings::Row> rows;
  };
  const Case cases[] = {
      {"#256", {{"", "256"}}},
      {"p:2", {{"2", ""}}},
      {"p:2:#256", {{"2", "256"}}},
      {"::p::3", {{"3", ""}}},  // leading and repeated colons are skipped
      {"p", {}},
      {"#", {}},
      {"", {}},
      {"1:#300", {{"", "300"}}},  // the following token overrides the whole entry
  };
  for (const Case& c : cases) {
    JsonPtr channel = channel_with("file", "a.ts", {{"udp", "udp://1.2.3.4:5"}});
    set_string_array(input_of(channel.get()), "map", {c.entry});
    MpegTsInputSettings tab;
    tab.SourceStreamList = {{"9", "9"}};  // whatever was there before goes
    tab.load(channel.get());
    ASSERT_EQ(tab.SourceStreamList.size(), c.rows.size()) << c.entry;
    for (std::size_t i = 0; i < c.rows.size(); ++i) {
      EXPECT_EQ(tab.SourceStreamList[i].program, c.rows[i].program) << c.entry;
      EXPECT_EQ(tab.SourceStreamList[i].pid, c.rows[i].pid) << c.entry;
    }
  }
}

TEST(AdvancedMpegTsInput, SaveWritesPidBeforeProgramAndRowsAreClamped) {
  JsonPtr channel = channel_with("file", "a.ts", {{"udp", "udp://1.2.3.4:5"}});
  JsonPtr parsed = json_parse(R"(["p:2:#256", 7, null, "p:3", "#0x44"])");
  config_set_item(input_of(channel.get()), "map", std::move(parsed));
  MpegTsInputSettings tab;
  tab.load(channel.get());
  ASSERT_EQ(tab.SourceStreamList.size(), 3u) << "items that are no texts are skipped";
  tab.add_row();
  EXPECT_EQ(tab.SourceStreamList.back().program, "4");
  tab.add_row();
  tab.SourceStreamList.back().program.clear();  // an empty row stores nothing
  tab.remove_row(99);
  EXPECT_EQ(tab.SourceStreamList.size(), 5u);
  EXPECT_TRUE(tab.save(channel.get()));
  EXPECT_EQ(string_array(input_of(channel.get()), "map"), (Texts{"#256", "p:3", "#0x44", "p:4"}));
  tab.remove_row(0);
  tab.save(channel.get());
  EXPECT_EQ(string_array(input_of(channel.get()), "map"), (Texts{"p:3", "#0x44", "p:4"}));
}

TEST(AdvancedMpegTsOutput, UntouchedTabStoresProgramAndProviderOnly) {
  JsonPtr channel = channel_with("file", "a.ts", {{"udp", "udp://1.2.3.4:5"}});
  set_string_array(output_of(channel.get()), "formatOptions", {"-something old"});
  MpegTsOutputSettings tab;
  tab.load(channel.get(), 0);
  EXPECT_TRUE(tab.enabled);
  EXPECT_FALSE(tab.fec_enabled);
  EXPECT_FALSE(tab.fec_matrix_enabled());
  ASSERT_EQ(tab.ProgramList.size(), 1u);
  EXPECT_EQ(tab.ProgramList[0].name, "Program01");
  EXPECT_TRUE(tab.save(channel.get(), 0));
  EXPECT_EQ(output_options(channel.get()),
            (Texts{"-program program_num=1:title='Program01':if=0",
                   std::string("-metadata service_provider='") +
                       MpegTsOutputSettings::kDefaultProvider + "'"}));
}

TEST(AdvancedMpegTsOutput, PidsOutsideTheRangeOrAtTheirDefaultStoreNothing) {
  struct Case {
    const char* text;
    bool stored;
  };
  const Case pmt_cases[] = {{"4096", false}, {"0x1000", false}, {"0x1001", true},
                            {"32", true},    {"31", false},     {"8186", true},
                            {"8187", false}, {"abc", false},    {"", false}};
  for (const Case& c : pmt_cases) {
    JsonPtr channel = channel_with("file", "a.ts", {{"mpegts", "udp://1.2.3.4:5"}});
    MpegTsOutputSettings tab;
    tab.load(channel.get(), 0);
    tab.pmt_pid = c.text;
    tab.provider.clear();
    tab.ProgramList.clear();
    tab.save(channel.get(), 0);
    const Texts expected =
        c.stored ? Texts{std::string("-mpegts_pmt_start_pid ") + c.text} : Texts{};
    EXPECT_EQ(output_options(channel.get()), expected) << c.text;
  }
  const Case video_cases[] = {{"0x100", false}, {"256", false}, {"300", true}, {"0x101", true}};
  for (const Case& c : video_cases) {
    JsonPtr channel = channel_with("file", "a.ts", {{"http", "http://h/x"}});
    MpegTsOutputSettings tab;
    tab.load(channel.get(), 0);
    tab.video_pid = c.text;
    tab.audio_pid = "0x101";
    tab.subtitle_pid = "258";
    tab.provider.clear();
    tab.ProgramList.clear();
    tab.save(channel.get(), 0);
    const Texts expected = c.stored ? Texts{std::string("-streamid 0:") + c.text} : Texts{};
    EXPECT_EQ(output_options(channel.get()), expected) << c.text;
  }
}

TEST(AdvancedMpegTsOutput, EverySettingRoundTrips) {
  JsonPtr channel = channel_with("file", "a.ts", {{"rtp", "rtp://1.2.3.4:5"}});
  MpegTsOutputSettings tab;
  tab.load(channel.get(), 0);
  EXPECT_TRUE(tab.fec_enabled) << "FEC only for MPEG-TS over RTP";
  tab.add_program();
  EXPECT_EQ(tab.ProgramList[1].program, "2");
  EXPECT_EQ(tab.ProgramList[1].name, "Program02");
  EXPECT_EQ(tab.ProgramList[1].source, "2");
  tab.ProgramList[0].name = "News: Live";  // a colon inside the quotes ends nothing
  tab.ProgramList[1].name.clear();
  tab.add_program();
  tab.ProgramList[2].source = "0";  // no source: the row is not stored
  tab.pmt_pid = "0x200";
  tab.provider = "Studio 4";
  tab.video_pid = "0x300";
  tab.audio_pid = "0x301";
  tab.subtitle_pid = "0x302";
  tab.fec_on = true;
  tab.fec_columns = 8;
  tab.fec_rows = 4;
  tab.save(channel.get(), 0);
  EXPECT_EQ(output_options(channel.get()),
            (Texts{"-program program_num=1:title='News: Live':if=0", "-program program_num=2:if=1",
                   "-mpegts_pmt_start_pid 0x200", "-metadata service_provider='Studio 4'",
                   "-streamid 0:0x300", "-streamid 1:0x301", "-streamid 2:0x302",
                   "-fec prompeg=l=8:d=4"}));

  MpegTsOutputSettings again;
  again.load(channel.get(), 0);
  ASSERT_EQ(again.ProgramList.size(), 2u);
  EXPECT_EQ(again.ProgramList[0].name, "News: Live");
  EXPECT_EQ(again.ProgramList[1].program, "2");
  EXPECT_EQ(again.ProgramList[1].name, "");
  EXPECT_EQ(again.ProgramList[1].source, "2");
  EXPECT_EQ(again.pmt_pid, "0x200");
  EXPECT_EQ(again.provider, "Studio 4");
  EXPECT_EQ(again.video_pid, "0x300");
  EXPECT_EQ(again.audio_pid, "0x301");
  EXPECT_EQ(again.subtitle_pid, "0x302");
  EXPECT_TRUE(again.fec_on);
  EXPECT_EQ(again.fec_columns, 8);
  EXPECT_EQ(again.fec_rows, 4);
}

TEST(AdvancedMpegTsOutput, MalformedEntriesKeepTheInitialValues) {
  JsonPtr channel = channel_with("file", "a.ts", {{"omxts", "udp://1.2.3.4:5"}});
  JsonPtr garbage = json_parse(
      R"(["-program program_num=x:if=0", "-program title='T':if=2", "-program program_num=0x3",
          "-fec prompeg", "-fec PROMPEG=l=9", "-metadata", "-metadata service_provider=''",
          "-streamid 0:", "-mpegts_pmt_start_pid", 12, {"a": 1}, "-program ",
          "-metadata service_name='X'", "-streamid 5:77"])");
  config_set_item(output_of(channel.get()), "formatOptions", std::move(garbage));
  MpegTsOutputSettings tab;
  tab.load(channel.get(), 0);
  ASSERT_EQ(tab.ProgramList.size(), 1u);
  EXPECT_EQ(tab.ProgramList[0].name, "Program01") << "no valid program: the initial row";
  EXPECT_TRUE(tab.fec_on);
  EXPECT_TRUE(tab.fec_matrix_enabled()) << "follows the FEC state, not the box's";
  EXPECT_EQ(tab.fec_columns, 9);
  EXPECT_EQ(tab.fec_rows, 5);
  EXPECT_EQ(tab.provider, MpegTsOutputSettings::kDefaultProvider);
  EXPECT_EQ(tab.video_pid, "0x100");
  EXPECT_EQ(tab.pmt_pid, "0x1000");
  EXPECT_FALSE(tab.fec_enabled);
}

TEST(AdvancedMpegTsOutput, OtherTargetFormatsDisableTheTab) {
  JsonPtr channel = channel_with("file", "a.ts", {{"rtmp", "rtmp://h/app/key"}});
  set_string_array(output_of(channel.get()), "formatOptions", {"-keep 1"});
  MpegTsOutputSettings tab;
  tab.load(channel.get(), 0);
  EXPECT_FALSE(tab.enabled);
  tab.save(channel.get(), 0);
  EXPECT_EQ(output_options(channel.get()), (Texts{"-keep 1"}));
}

TEST(AdvancedRtmp, CredentialsAreTrimmedCutAndOnlyForRtmpTargets) {
  JsonPtr channel = channel_with("file", "a.ts", {{"rtmp", "rtmp://h/app/key"}});
  cJSON* rtmp_object = config_object(target_at(channel.get(), 0), "rtmp");
  cJSON_DeleteItemFromObjectCaseSensitive(rtmp_object, "passwd");
  config_set_string(rtmp_object, "user", "alice");
  RtmpSettings tab;
  tab.load(channel.get(), 0);
  EXPECT_TRUE(tab.enabled);
  EXPECT_EQ(tab.user, "alice");
  EXPECT_EQ(tab.passwd, "");
  tab.flash_ver = "  FMLE/3.0 \n";
  tab.passwd = std::string(999, 'x') + "\xc3\xa4";  // the two-byte character does not fit
  tab.save(channel.get(), 0);
  EXPECT_STREQ(config_string(rtmp_object, "flashVer"), "FMLE/3.0");
  EXPECT_EQ(std::string(config_string(rtmp_object, "passwd")), std::string(999, 'x'));

  cJSON_DeleteItemFromObjectCaseSensitive(target_at(channel.get(), 0), "rtmp");
  tab.save(channel.get(), 0);
  EXPECT_EQ(config_object(target_at(channel.get(), 0), "rtmp"), nullptr) << "never created";

  JsonPtr udp = channel_with("file", "a.ts", {{"udp", "udp://1.2.3.4:5"}});
  tab.load(udp.get(), 0);
  EXPECT_FALSE(tab.enabled);
  tab.user = "bob";
  tab.save(udp.get(), 0);
  EXPECT_STREQ(config_string(config_object(target_at(udp.get(), 0), "rtmp"), "user"), "");
}

TEST(AdvancedHls, StartNumberIsStoredMinusOne) {
  struct Case {
    std::int32_t shown;
    Texts stored;
  };
  const Case cases[] = {{1, {}}, {10, {"-start_number 9"}}, {0, {"-start_number -1"}}};
  for (const Case& c : cases) {
    JsonPtr channel = channel_with("file", "a.ts", {{"hls", "/var/www/x.m3u8"}});
    HlsSettings tab;
    tab.load(channel.get(), 0);
    tab.index_start = c.shown;
    ASSERT_TRUE(tab.save(channel.get(), 0, nullptr));
    EXPECT_EQ(output_options(channel.get()), c.stored) << c.shown;
    HlsSettings again;
    again.load(channel.get(), 0);
    EXPECT_EQ(again.index_start, c.shown);
  }
}

TEST(AdvancedHls, EverySettingRoundTripsAndMasterNeedsTwoTargets) {
  for (const bool two_targets : {false, true}) {
    JsonPtr channel =
        two_targets ? channel_with("file", "a.ts", {{"hls", "/w/a.m3u8"}, {"hls", "/w/b.m3u8"}})
                    : channel_with("file", "a.ts", {{"hls", "/w/a.m3u8"}});
    HlsSettings tab;
    tab.load(channel.get(), 0);
    EXPECT_EQ(tab.master_enabled, two_targets);
    tab.segment_format = 1;
    tab.segment_length = 6;
    tab.playlist_size = 0x10;
    tab.base_url = "http://cdn/live/";
    tab.key_info_file = "/keys/info";
    tab.master_name = "all.m3u8";
    ASSERT_TRUE(tab.save(channel.get(), 0, nullptr));
    Texts expected = {"-hls_segment_type fmp4", "-hls_time 6", "-hls_list_size 16",
                      "-hls_base_url http://cdn/live/", "-hls_key_info_file /keys/info"};
    if (two_targets) expected.push_back("-master_pl_name all.m3u8");
    EXPECT_EQ(output_options(channel.get()), expected);

    HlsSettings again;
    again.load(channel.get(), 0);
    EXPECT_EQ(again.segment_format, 1);
    EXPECT_EQ(again.segment_length, 6u);
    EXPECT_EQ(again.playlist_size, 16u);
    EXPECT_EQ(again.base_url, "http://cdn/live/");
    EXPECT_EQ(again.key_info_file, "/keys/info");
    EXPECT_EQ(again.master_name, two_targets ? "all.m3u8" : "master.m3u8");
  }
}

TEST(AdvancedHls, ZeroLengthOrSizeIsRejectedAndChangesNothing) {
  struct Case {
    std::uint32_t length;
    std::uint32_t size;
    const char* text;
  };
  const Case cases[] = {{0, 5, "HLS segment length invalid!"},
                        {2, 0, "m3u8 playlist entry size invalid!"},
                        {0, 0, "HLS segment length invalid!"}};
  for (const Case& c : cases) {
    JsonPtr channel = channel_with("file", "a.ts", {{"hls", "/w/a.m3u8"}});
    set_string_array(output_of(channel.get()), "formatOptions", {"-hls_time 4"});
    HlsSettings tab;
    tab.load(channel.get(), 0);
    tab.segment_length = c.length;
    tab.playlist_size = c.size;
    DialogMessage message;
    EXPECT_FALSE(tab.save(channel.get(), 0, &message));
    EXPECT_EQ(message.text, c.text);
    EXPECT_EQ(message.title, "Setting Error");
    EXPECT_EQ(message.icon, MessageIcon::error);
    EXPECT_EQ(output_options(channel.get()), (Texts{"-hls_time 4"}));
  }
}

TEST(AdvancedHls, TextsEndAtWhiteSpaceAndBadNumbersKeepDefaults) {
  JsonPtr channel = channel_with("file", "a.ts", {{"hls", "/w/a.m3u8"}});
  HlsSettings tab;
  tab.load(channel.get(), 0);
  tab.base_url = "http://cdn/my live/";
  tab.save(channel.get(), 0, nullptr);
  EXPECT_EQ(output_options(channel.get()), (Texts{"-hls_base_url http://cdn/my live/"}));
  tab.load(channel.get(), 0);
  EXPECT_EQ(tab.base_url, "http://cdn/my");

  set_string_array(output_of(channel.get()), "formatOptions",
                   {"-hls_time x", "-hls_list_size -4", "-hls_segment_type FMP4", "-start_number",
                    "-hls_base_url "});
  tab.load(channel.get(), 0);
  EXPECT_EQ(tab.segment_length, 2u);
  EXPECT_EQ(tab.playlist_size, 5u);
  EXPECT_EQ(tab.segment_format, 1);
  EXPECT_EQ(tab.index_start, 1);
  EXPECT_EQ(tab.base_url, "");

  JsonPtr udp = channel_with("file", "a.ts", {{"udp", "udp://1.2.3.4:5"}});
  tab.load(udp.get(), 0);
  EXPECT_FALSE(tab.enabled);
  tab.segment_length = 0;
  EXPECT_TRUE(tab.save(udp.get(), 0, nullptr)) << "a tab that does not apply never rejects";
}

TEST(AdvancedSrt, CallerRewritesTheUrlHost) {
  JsonPtr channel =
      channel_with("srt", "srt://10.0.0.5:9000?latency=200", {{"udp", "udp://1.2.3.4:5"}});
  SrtSettings tab;
  tab.load(channel.get(), 0);
  EXPECT_EQ(tab.side, SrtSettings::Side::input);
  EXPECT_EQ(tab.mode, 0);
  EXPECT_EQ(tab.remote1, "10.0.0.5");
  tab.remote1 = "10.0.0.9";
  tab.save(channel.get(), 0);
  EXPECT_STREQ(config_string(source_of(channel.get()), "url"), "srt://10.0.0.9:9000?latency=200");
  EXPECT_TRUE(input_options(channel.get()).empty());

  struct Case {
    const char* url;
    const char* host;
    const char* rewritten;
  };
  const Case cases[] = {{"srt://a.b", "a.b", "srt://z"},
                        {"a.b:77", "a.b", "z:77"},
                        {"", "", "z"},
                        {"srt://:5", "", "srt://z:5"},
                        // A bracketed IPv6 host is one host, colons and all.
                        {"srt://[::1]:9000?mode=caller", "[::1]", "srt://z:9000?mode=caller"},
                        {"[fe80::2]:1", "[fe80::2]", "z:1"}};
  for (const Case& c : cases) {
    config_set_string(source_of(channel.get()), "url", c.url);
    tab.load(channel.get(), 0);
    EXPECT_EQ(tab.remote1, c.host) << c.url;
    tab.remote1 = "z";
    tab.save(channel.get(), 0);
    EXPECT_STREQ(config_string(source_of(channel.get()), "url"), c.rewritten) << c.url;
  }
}

TEST(AdvancedSrt, InputSideWinsAndOutputSideDefaultsToListener) {
  JsonPtr both = channel_with("srt", "srt://1.1.1.1:1", {{"srt", "srt://2.2.2.2:2"}});
  set_string_array(output_of(both.get()), "formatOptions", {"-localaddr 9.9.9.9"});
  SrtSettings tab;
  tab.load(both.get(), 0);
  EXPECT_EQ(tab.side, SrtSettings::Side::input);
  EXPECT_EQ(tab.remote1, "1.1.1.1");
  EXPECT_EQ(tab.local1, "") << "the output's options are not read";
  tab.local1 = "3.3.3.3";
  tab.save(both.get(), 0);
  EXPECT_EQ(input_options(both.get()), (Texts{"-localaddr 3.3.3.3"}));
  EXPECT_EQ(output_options(both.get()), (Texts{"-localaddr 9.9.9.9"}));
  EXPECT_STREQ(config_string(target_at(both.get(), 0), "url"), "srt://2.2.2.2:2");

  JsonPtr out = channel_with("file", "a.ts", {{"srt", "srt://2.2.2.2:2?mode=x"}});
  tab.load(out.get(), 0);
  EXPECT_EQ(tab.side, SrtSettings::Side::output);
  EXPECT_EQ(tab.mode, 1);
  EXPECT_FALSE(tab.caller_controls_enabled());
  tab.save(out.get(), 0);
  EXPECT_TRUE(output_options(out.get()).empty()) << "listener is the output side's default";
  tab.mode = 0;
  tab.remote1 = "4.4.4.4";
  tab.bonding = 1;
  tab.minstable_timeout = 500;
  tab.save(out.get(), 0);
  EXPECT_EQ(output_options(out.get()), (Texts{"-mode caller"})) << "no bonding without link 2";
  EXPECT_STREQ(config_string(target_at(out.get(), 0), "url"), "srt://4.4.4.4:2?mode=x");

  JsonPtr none = channel_with("file", "a.ts", {{"udp", "udp://1.2.3.4:5"}});
  set_string_array(output_of(none.get()), "formatOptions", {"-keep"});
  tab.load(none.get(), 0);
  EXPECT_FALSE(tab.enabled);
  EXPECT_EQ(tab.side, SrtSettings::Side::none);
  tab.save(none.get(), 0);
  EXPECT_EQ(output_options(none.get()), (Texts{"-keep"}));
}

TEST(AdvancedSrt, BondedCallerRoundTripsAndListenerStopsEarly) {
  JsonPtr channel = channel_with("srt", "srt://1.1.1.1:1", {{"udp", "udp://1.2.3.4:5"}});
  SrtSettings tab;
  tab.local_address_choices = {"192.168.1.2"};
  tab.load(channel.get(), 0);
  EXPECT_EQ(tab.local_address_choices, (Texts{"192.168.1.2"})) << "the offered addresses stay";
  tab.local1 = "192.168.1.2";
  tab.remote2 = "5.5.5.5";
  tab.local2 = "192.168.2.2";
  tab.bonding = 1;
  tab.minstable_timeout = 0x300;
  tab.save(channel.get(), 0);
  EXPECT_EQ(input_options(channel.get()),
            (Texts{"-localaddr 192.168.1.2", "-backup_remote 5.5.5.5", "-backup_local 192.168.2.2",
                   "-grouptype broadcast", "-minstable_timeout 768"}));
  SrtSettings again;
  again.load(channel.get(), 0);
  EXPECT_EQ(again.local1, "192.168.1.2");
  EXPECT_EQ(again.remote2, "5.5.5.5");
  EXPECT_EQ(again.local2, "192.168.2.2");
  EXPECT_EQ(again.bonding, 1);
  EXPECT_EQ(again.minstable_timeout, 768u);

  again.mode = 1;
  again.remote1 = "7.7.7.7";
  again.save(channel.get(), 0);
  EXPECT_EQ(input_options(channel.get()), (Texts{"-mode listener"}));
  EXPECT_STREQ(config_string(source_of(channel.get()), "url"), "srt://1.1.1.1:1");
  again.load(channel.get(), 0);
  EXPECT_EQ(again.mode, 1);
  EXPECT_EQ(again.local1, "") << "the earlier entries were replaced";

  set_string_array(input_of(channel.get()), "formatOptions",
                   {"-mode LISTENER", "-grouptype main", "-minstable_timeout -5", "-localaddr"});
  again.load(channel.get(), 0);
  EXPECT_EQ(again.mode, 1);
  EXPECT_EQ(again.bonding, 0);
  EXPECT_EQ(again.minstable_timeout, 200u);
  EXPECT_EQ(again.local1, "");
}

TEST(AdvancedCustom, QuotesAndLineBreaksAreDropped) {
  JsonPtr channel = channel_with("file", "a.ts", {{"udp", "udp://1.2.3.4:5"}});
  config_set_string(input_of(channel.get()), "customOptions", "  -re \n");
  CustomFormatSettings tab;
  tab.load(channel.get());
  EXPECT_EQ(tab.source_params, "-re");
  EXPECT_EQ(tab.target_params, "");
  tab.source_params = " -a 1\r\n-b 2\n";
  tab.target_params = "-metadata title=\"My \xc3\xa4 show\"";
  tab.save(channel.get());
  EXPECT_STREQ(config_string(input_of(channel.get()), "customOptions"), "-a 1-b 2");
  EXPECT_STREQ(config_string(output_of(channel.get()), "customOptions"),
               "-metadata title=My \xc3\xa4 show");

  cJSON_DeleteItemFromObjectCaseSensitive(output_of(channel.get()), "customOptions");
  tab.save(channel.get());
  EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(output_of(channel.get()), "customOptions"), nullptr)
      << "a channel without the key gets none";
}

TEST(AdvancedHost, EachOutputFormatKeepsOnlyItsOwnEntries) {
  struct Case {
    const char* format;
    Texts options;
  };
  const std::string provider =
      std::string("-metadata service_provider='") + MpegTsOutputSettings::kDefaultProvider + "'";
  const Case cases[] = {
      {"srt", {"-mode caller"}},
      {"hls", {"-hls_time 4"}},
      {"udp", {"-program program_num=1:title='Program01':if=0", provider}},
      {"rtpts", {"-program program_num=1:title='Program01':if=0", provider}},
      {"omxts", {"-program program_num=1:title='Program01':if=0", provider}},
      {"http", {"-program program_num=1:title='Program01':if=0", provider}},
      {"rtmp", {"-old"}},
  };
  for (const Case& c : cases) {
    JsonPtr channel = channel_with("file", "a.ts", {{c.format, "x://h:1"}});
    set_string_array(output_of(channel.get()), "formatOptions", {"-old"});
    AdvancedFormatSettings host;
    host.load_channel(channel.get(), 0);
    host.srt.mode = 0;
    host.hls.segment_length = 4;
    EXPECT_TRUE(host.save_channel()) << c.format;
    EXPECT_EQ(output_options(channel.get()), c.options) << c.format;
  }
}

TEST(AdvancedHost, HlsRejectionStopsTheLaterTabs) {
  JsonPtr channel = channel_with("srt", "srt://1.1.1.1:1", {{"hls", "/w/a.m3u8"}});
  AdvancedFormatSettings host;
  host.load_channel(channel.get(), 0);
  host.mpegts_in.add_row();
  host.hls.playlist_size = 0;
  host.srt.local1 = "2.2.2.2";
  host.custom.source_params = "-re";
  EXPECT_FALSE(host.save_channel());
  ASSERT_TRUE(host.rejection.has_value());
  EXPECT_EQ(host.rejection->text, "m3u8 playlist entry size invalid!");
  EXPECT_EQ(string_array(input_of(channel.get()), "map"), (Texts{"p:1"})) << "earlier tab saved";
  EXPECT_TRUE(input_options(channel.get()).empty());
  EXPECT_STREQ(config_string(input_of(channel.get()), "customOptions"), "");

  host.hls.playlist_size = 5;
  EXPECT_TRUE(host.save_channel());
  EXPECT_FALSE(host.rejection.has_value());
  EXPECT_EQ(input_options(channel.get()), (Texts{"-localaddr 2.2.2.2"}));
  EXPECT_STREQ(config_string(input_of(channel.get()), "customOptions"), "-re");

  host.custom.source_params = "-changed";
  host.cancel();
  EXPECT_EQ(host.custom.source_params, "-re") << "cancel reloads the stored values";
}

TEST(AdvancedHost, LoadingAnotherChannelLeavesNothingBehind) {
  JsonPtr a = channel_with("srt", "srt://1.1.1.1:1", {{"rtmp", "rtmp://h/a"}});
  set_string_array(input_of(a.get()), "map", {"#256"});
  set_string_array(input_of(a.get()), "formatOptions", {"-localaddr 3.3.3.3"});
  config_set_string(config_object(target_at(a.get(), 0), "rtmp"), "user", "alice");
  config_set_string(output_of(a.get()), "customOptions", "-x");
  JsonPtr b = channel_with("file", "b.ts", {{"udp", "udp://1.2.3.4:5"}});
  AdvancedFormatSettings host;
  host.load_channel(a.get(), 0);
  EXPECT_EQ(host.rtmp.user, "alice");
  EXPECT_EQ(host.srt.local1, "3.3.3.3");
  host.load_channel(b.get(), 0);
  EXPECT_TRUE(host.mpegts_in.SourceStreamList.empty());
  EXPECT_EQ(host.rtmp.user, "");
  EXPECT_FALSE(host.rtmp.enabled);
  EXPECT_EQ(host.srt.local1, "");
  EXPECT_EQ(host.srt.remote1, "");
  EXPECT_FALSE(host.srt.enabled);
  EXPECT_EQ(host.custom.target_params, "");
  EXPECT_TRUE(host.mpegts_out.enabled);
  EXPECT_EQ(host.editingChannel, b.get());
}

TEST(AdvancedHost, BrokenChannelsNeitherCrashNorLoseValues) {
  AdvancedFormatSettings host;
  host.load_channel(nullptr, 0);
  EXPECT_FALSE(host.save_channel()) << "nothing to store into";

  const char* broken[] = {
      R"({})",
      R"({"input": "text", "output": [1, 2]})",
      R"({"input": {"sources": "x", "map": 5}, "output": {"targets": {"format": "udp"}}})",
      R"({"input": {"sources": [7]}, "output": {"targets": [], "formatOptions": "y"}})",
      R"({"input": {"sources": [{"format": 8}]}, "output": {"targets": [null, {"format": "hls"}]}})",
  };
  for (const char* text : broken) {
    JsonPtr channel = json_parse(text);
    ASSERT_NE(channel, nullptr) << text;
    for (const int target : {-3, 0, 1, 99}) {
      host.load_channel(channel.get(), target);
      host.mpegts_in.add_row();
      EXPECT_TRUE(host.save_channel()) << text;
    }
  }
  JsonPtr channel = json_parse(R"({"input": "text", "output": [1, 2]})");
  host.load_channel(channel.get(), 0);
  host.mpegts_in.add_row();
  host.save_channel();
  EXPECT_STREQ(config_string(channel.get(), "input"), "text") << "values of other types stay";
  EXPECT_TRUE(cJSON_IsArray(cJSON_GetObjectItemCaseSensitive(channel.get(), "output")));
}

TEST(AdvancedHost, TargetPositionsAreClamped) {
  JsonPtr channel = channel_with("file", "a.ts", {{"udp", "udp://a:1"}, {"hls", "/w/b.m3u8"}});
  AdvancedFormatSettings host;
  host.load_channel(channel.get(), 7);
  EXPECT_TRUE(host.hls.enabled) << "past the end: the last target";
  EXPECT_TRUE(host.hls.master_enabled);
  host.load_channel(channel.get(), -1);
  EXPECT_FALSE(host.hls.enabled) << "before the start: the first target";
  EXPECT_TRUE(host.mpegts_out.enabled);
}

}  // namespace
}  // namespace vx
