#include "devices/ndi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/json.h"
#include "tests/devices/fake_ndi_control.h"

namespace vx {
namespace {

class NdiDiscovery : public ::testing::Test {
 protected:
  FakeNdi fake_{VX_FAKE_NDI};
};

TEST_F(NdiDiscovery, WaitsAgainWhileSourcesKeepChanging) {
  struct Case {
    std::vector<unsigned> rounds;  // sources visible after each wait
    unsigned waits;
    std::size_t listed;
  };
  std::vector<unsigned> never_settles;
  for (unsigned i = 1; i <= 15; ++i)
    never_settles.push_back(i);
  const Case cases[] = {
      {{}, 1, 0},
      {{3}, 2, 3},              // sources at the first wait: one more period
      {{2, 5, 5}, 3, 5},        // a late source prolongs the search again
      {never_settles, 10, 10},  // bounded even when the network never settles
  };
  for (const Case& c : cases) {
    fake_.reset();
    fake_.set_rounds(c.rounds);
    NdiSourceList list;
    ASSERT_EQ(discover_ndi(list, 2, VX_FAKE_NDI), 0);
    const FakeNdiStats stats = fake_.stats();
    EXPECT_EQ(stats.waits, c.waits) << c.rounds.size() << " rounds";
    EXPECT_EQ(list.size(), c.listed);
    EXPECT_EQ(stats.last_timeout_ms, 2000u);
    EXPECT_TRUE(stats.show_local_sources && stats.no_groups && stats.no_extra_ips);
    EXPECT_EQ(stats.live_finders, 0);
    EXPECT_EQ(stats.live_runtimes, 0);
  }
}

TEST_F(NdiDiscovery, ListsTheFirstTwentySourcesInLibraryOrder) {
  fake_.set_rounds({25});
  NdiSourceList list;
  ASSERT_EQ(discover_ndi(list, 1, VX_FAKE_NDI), 0);
  ASSERT_EQ(list.size(), 20u);
  EXPECT_EQ(list.front().name, "Fake Source 1");
  EXPECT_EQ(list.front().address, "192.0.2.1:5961");
  EXPECT_EQ(list.back().name, "Fake Source 20");
}

TEST_F(NdiDiscovery, EveryFailureGivesMinusOneAndReleasesWhatWasTaken) {
  struct Case {
    const char* library;
    bool fail_initialize;
    bool fail_find_create;
  };
  const Case cases[] = {
      {"/nonexistent/libndi.so.5", false, false},
      {VX_FAKE_NDI_INCOMPLETE, false, false},
      {VX_FAKE_NDI, true, false},
      {VX_FAKE_NDI, false, true},
  };
  for (const Case& c : cases) {
    fake_.reset();
    fake_.set_rounds({3});
    fake_.set_failures(c.fail_initialize, c.fail_find_create);
    NdiSourceList list{{"stale", "stale"}};
    EXPECT_EQ(discover_ndi(list, 1, c.library), -1) << c.library;
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(fake_.stats().live_runtimes, 0) << "the runtime is shut down after a failure";
    EXPECT_EQ(fake_.stats().waits, 0u);
  }
  EXPECT_EQ(ndi_config_answer("1", "/nonexistent/libndi.so"), "{ \"sources\": [\n ]\n}\n");
}

TEST_F(NdiDiscovery, QueryTimeoutIsBoundedBeforeItReachesTheLibrary) {
  struct Case {
    const char* query;
    int seconds;
  };
  const Case cases[] = {{nullptr, 5}, {"", 5},        {"abc", 5},
                        {"7", 7},     {"0x10", 16},   {"010", 8},
                        {"-3", 0},    {"4000", 3600}, {"99999999999999999999", 3600}};
  for (const Case& c : cases) {
    EXPECT_EQ(ndi_timeout_from_query(c.query), c.seconds) << (c.query ? c.query : "absent");
  }
  // 5,000,000 s in milliseconds does not fit 32 bits; the wait must not wrap to a short one.
  NdiSourceList list;
  ASSERT_EQ(discover_ndi(list, 5000000, VX_FAKE_NDI), 0);
  EXPECT_EQ(fake_.stats().last_timeout_ms, 3600u * 1000u);
  ASSERT_EQ(discover_ndi(list, -2, VX_FAKE_NDI), 0);
  EXPECT_EQ(fake_.stats().last_timeout_ms, 0u);
}

TEST_F(NdiDiscovery, DocumentLayoutAndHostileSourceTexts) {
  EXPECT_EQ(ndi_config_json({{"CAM (Studio A)", "192.0.2.7:5961"}, {"PC (OBS)", "192.0.2.8:5962"}}),
            "{ \"sources\": [\n"
            "  { \"name\": \"CAM (Studio A)\", \"addr\": \"192.0.2.7:5961\" }\n,\n"
            "  { \"name\": \"PC (OBS)\", \"addr\": \"192.0.2.8:5962\" }\n\n"
            " ]\n}\n");

  const std::string long_name(1500, 'n');
  fake_.set_rounds({3});
  fake_.set_source(0, "HOST (\"cam\" \\ \x02)\xC3\x28", nullptr);
  fake_.set_source(1, nullptr, "\xFF");
  fake_.set_source(2, long_name.c_str(), "192.0.2.3:5961");
  const std::string answer = ndi_config_answer("1", VX_FAKE_NDI);
  const JsonPtr parsed = json_parse(answer);
  ASSERT_TRUE(parsed) << answer;
  const cJSON* sources = cJSON_GetObjectItem(parsed.get(), "sources");
  ASSERT_EQ(cJSON_GetArraySize(sources), 3);
  auto text = [&](int index, const char* key) {
    return std::string(cJSON_GetObjectItem(cJSON_GetArrayItem(sources, index), key)->valuestring);
  };
  EXPECT_EQ(text(0, "name"), "HOST (\"cam\" \\ \x02)\xEF\xBF\xBD(");
  EXPECT_EQ(text(0, "addr"), "");
  EXPECT_EQ(text(1, "name"), "");
  EXPECT_EQ(text(1, "addr"), "\xEF\xBF\xBD");
  EXPECT_EQ(text(2, "name"), std::string(999, 'n'));
}

}  // namespace
}  // namespace vx
