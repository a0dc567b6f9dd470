// The audio settings page (the PCM variant of a target) and the desktop's password prompt.
#include <gtest/gtest.h>

#include <string>

#include "config/document.h"
#include "config/json.h"
#include "config/login_password.h"
#include "settings/audio_settings.h"
#include "settings/login_prompt.h"

namespace vx {
namespace {

JsonPtr channel_with_codecs(const char* first, const char* second) {
  const std::string text = std::string(R"({"output": {"targets": [{"audio": {"codec": ")") + first +
                           R"("}}, {"audio": {"codec": ")" + second + R"("}}]}})";
  JsonPtr channel = json_parse(text);
  EXPECT_NE(channel, nullptr);
  return channel;
}

TEST(AudioSettings, PcmVariantsMatchTheCodecTable) {
  for (const PcmVariant& variant : kPcmVariants) {
    EXPECT_EQ(codec_id_from_name(variant.codec), variant.id) << variant.text;
    EXPECT_EQ(std::string_view(codec_name_from_id(variant.id)), variant.codec) << variant.text;
  }
}

TEST(AudioSettings, OpeningSelectsTheStoredVariant) {
  struct Case {
    const char* codec;
    int row;
  };
  const Case cases[] = {
      {"g711u", 0},  {"G711A", 1}, {"pcm16s", 2}, {"pcm24s", 3},
      {"pcm16u", 2}, {"aac", 2},   {"", 2},       {"nonsense", 2},
  };
  for (const Case& c : cases) {
    JsonPtr channel = channel_with_codecs("mp3", c.codec);
    const AudioSettings settings = open_audio_settings(channel.get(), kAudioEncodingPcm, 1);
    EXPECT_TRUE(settings.enabled) << c.codec;
    EXPECT_EQ(settings.selected, c.row) << c.codec;
  }
  JsonPtr bare = json_parse(R"({"output": {"targets": [{}]}})");
  EXPECT_EQ(open_audio_settings(bare.get(), kAudioEncodingPcm, 0).selected, 2);
  EXPECT_EQ(open_audio_settings(bare.get(), kAudioEncodingPcm, 4).selected, 2);
  EXPECT_EQ(open_audio_settings(nullptr, kAudioEncodingPcm, 0).selected, 2);
}

TEST(AudioSettings, OkStoresTheChoiceInTheSelectedTarget) {
  JsonPtr channel = channel_with_codecs("pcm16s", "pcm24s");
  AudioSettings settings = open_audio_settings(channel.get(), kAudioEncodingPcm, 1);
  settings.selected = 1;  // "G.711 aLaw"
  EXPECT_TRUE(audio_settings_ok(settings, channel.get(), 1));
  const cJSON* targets = config_array(config_object(channel.get(), "output"), "targets");
  EXPECT_STREQ(config_string(config_object(cJSON_GetArrayItem(targets, 1), "audio"), "codec"),
               "g711a");
  EXPECT_STREQ(config_string(config_object(cJSON_GetArrayItem(targets, 0), "audio"), "codec"),
               "pcm16s")
      << "the other target is untouched";

  JsonPtr no_audio = json_parse(R"({"output": {"targets": [{"format": "udp"}]}})");
  settings.selected = 3;
  EXPECT_TRUE(audio_settings_ok(settings, no_audio.get(), 0));
  const cJSON* target =
      cJSON_GetArrayItem(config_array(config_object(no_audio.get(), "output"), "targets"), 0);
  EXPECT_STREQ(config_string(config_object(target, "audio"), "codec"), "pcm24s");
  EXPECT_FALSE(audio_settings_ok(settings, no_audio.get(), 1)) << "no such target";
  EXPECT_FALSE(audio_settings_ok(settings, nullptr, 0));
}

TEST(AudioSettings, AnotherEncodingDisablesThePage) {
  JsonPtr channel = channel_with_codecs("mp3", "mp3");
  const AudioSettings settings = open_audio_settings(channel.get(), 2, 0);  // "MP3"
  EXPECT_FALSE(settings.enabled);
  EXPECT_EQ(settings.selected, -1);
  EXPECT_FALSE(audio_settings_ok(settings, channel.get(), 0));
  const cJSON* target =
      cJSON_GetArrayItem(config_array(config_object(channel.get(), "output"), "targets"), 0);
  EXPECT_STREQ(config_string(config_object(target, "audio"), "codec"), "mp3");
}

TEST(LoginPrompt, NeededOnlyForAStoredPassword) {
  struct Case {
    const char* global;
    bool needed;
  };
  const Case cases[] = {
      {R"({})", false},
      {R"({"loginHash": ""})", false},
      {R"({"loginPass": ""})", false},
      {R"({"loginHash": 5})", false},
      {R"({"loginHash": "$argon2id$..."})", true},
      // A clear password whose hash could not be made yet still closes the window.
      {R"({"loginPass": "x"})", true},
  };
  for (const Case& c : cases) {
    JsonPtr global = json_parse(c.global);
    EXPECT_EQ(login_prompt_needed(global.get()), c.needed) << c.global;
  }
  EXPECT_FALSE(login_prompt_needed(nullptr));
}

// The prompt checks against the same stored hash as the web administration.
TEST(LoginPrompt, OnlyTheExactTextOpensTheWindow) {
  JsonPtr global = json_parse(R"({"loginPass": "Secret"})");
  ASSERT_EQ(login_password_settle(global.get(), ""), LoginSettle::changed);
  const std::string hash = config_login_hash(global.get());
  LoginPrompt prompt;
  for (const char* wrong : {"secret", "Secret ", "Secre", "", "SECRET"}) {
    prompt.typed = wrong;
    EXPECT_FALSE(login_prompt_ok(prompt, hash)) << wrong;
    EXPECT_EQ(prompt.typed, wrong) << "the typed text stays for another try";
  }
  prompt.typed = "Secret";
  EXPECT_TRUE(login_prompt_ok(prompt, hash)) << "a later attempt still succeeds";
  EXPECT_FALSE(login_prompt_ok(prompt, "")) << "no hash opens nothing";

  JsonPtr non_ascii = json_parse(R"({"loginPass": "Pässwörd€"})");
  ASSERT_EQ(login_password_settle(non_ascii.get(), ""), LoginSettle::changed);
  prompt.typed = "Pässwörd€";
  EXPECT_TRUE(login_prompt_ok(prompt, config_login_hash(non_ascii.get())));
  prompt.typed = "PÄsswörd€";
  EXPECT_FALSE(login_prompt_ok(prompt, config_login_hash(non_ascii.get())));
}

}  // namespace
}  // namespace vx
