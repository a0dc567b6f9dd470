#include "platform/autostart.h"

#include <cstdlib>
#include <optional>

#include "tests/support/peers.h"

namespace vx {
namespace {

using namespace vx::testing_support;

std::string entry(const std::string& name, const std::string& exec_value) {
  return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec_value +
         " -quiet\nX-GNOME-Autostart-enabled=true\nTerminal=false\n";
}

std::vector<std::string> names_in(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(folder))
    names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class AutostartTest : public ::testing::Test {
 protected:
  fs::path root_ = fresh_test_folder("vx-autostart");
  // Not there yet: writing the entry creates it with its parents.
  fs::path folder_ = root_ / "config" / "autostart";
};

TEST_F(AutostartTest, EnablingWritesTheEntryAndDisablingRemovesIt) {
  ASSERT_TRUE(autostart_apply(true, "Morvi Studio", "/opt/vantorix/vantorix", folder_));
  ASSERT_TRUE(autostart_apply(true, "Morvi Studio", "/opt/vantorix/vantorix", folder_));
  EXPECT_EQ(read_text(folder_ / "Morvi Studio.desktop"),
            entry("Morvi Studio", "\"/opt/vantorix/vantorix\""));
  EXPECT_EQ(names_in(folder_), std::vector<std::string>{"Morvi Studio.desktop"});

  EXPECT_TRUE(autostart_apply(false, "Morvi Studio", "/opt/vantorix/vantorix", folder_));
  EXPECT_TRUE(fs::is_empty(folder_));
  // Already off, or never on: nothing to do is not a failure.
  EXPECT_TRUE(autostart_apply(false, "Morvi Studio", "/opt/vantorix/vantorix", folder_));
  EXPECT_TRUE(autostart_apply(false, "Morvi Studio", "/opt/vantorix/vantorix", root_ / "none"));
}

TEST_F(AutostartTest, ExecutablePathIsQuotedForTheLauncher) {
  // Within the quotes '"', '`', '$' and '\' take a backslash; the value's own escaping then
  // doubles every backslash.
  const struct {
    std::string path;
    std::string exec;
  } cases[] = {
      {"/opt/my app/vx", R"("/opt/my app/vx")"}, {"/opt/a\"b/vx", R"("/opt/a\\"b/vx")"},
      {"/opt/$HOME/vx", R"("/opt/\\$HOME/vx")"}, {"/opt/`id`/vx", R"("/opt/\\`id\\`/vx")"},
      {"/opt/a\\b/vx", R"("/opt/a\\\\b/vx")"},   {"/opt/100%/vx", R"("/opt/100%%/vx")"},
  };
  for (const auto& item : cases) {
    ASSERT_TRUE(autostart_apply(true, "Vantorix", item.path, folder_)) << item.path;
    EXPECT_EQ(read_text(folder_ / "Vantorix.desktop"), entry("Vantorix", item.exec)) << item.path;
  }
  // Relative (PATH would decide what runs) or with a line break that would start another key.
  for (const std::string path : {"vantorix", "", "/opt/vx\nExec=/bin/sh"}) {
    EXPECT_FALSE(autostart_apply(true, "Other", path, folder_)) << path;
  }
  EXPECT_EQ(names_in(folder_), std::vector<std::string>{"Vantorix.desktop"});
}

TEST_F(AutostartTest, NameThatIsNoPlainFileNameFallsBackToTheDefault) {
  for (const std::string& name :
       std::vector<std::string>{"../../escaped", "a/b", "", ".", "..", "line\nbreak", "tab\tname",
                                std::string(250, 'n')}) {
    ASSERT_TRUE(autostart_apply(true, name, "/opt/vx", folder_)) << name;
    EXPECT_EQ(names_in(folder_), std::vector<std::string>{"Vantorix.desktop"}) << name;
    EXPECT_EQ(read_text(folder_ / "Vantorix.desktop"), entry("Vantorix", "\"/opt/vx\"")) << name;
    EXPECT_EQ(names_in(root_), std::vector<std::string>{"config"}) << name;
  }
}

TEST_F(AutostartTest, DefaultFolderFollowsTheXdgRules) {
  std::optional<std::string> saved[2];
  const char* variables[2] = {"XDG_CONFIG_HOME", "HOME"};
  for (int k = 0; k < 2; ++k)
    if (const char* value = std::getenv(variables[k])) saved[k] = value;

  ::setenv("HOME", (root_ / "home").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (root_ / "xdg").c_str(), 1);
  EXPECT_TRUE(autostart_apply(true, "Vantorix", "/opt/vx"));
  EXPECT_TRUE(fs::exists(root_ / "xdg" / "autostart" / "Vantorix.desktop"));
  ::setenv("XDG_CONFIG_HOME", "relative", 1);  // ignored, as the XDG rules say
  EXPECT_TRUE(autostart_apply(true, "Vantorix", "/opt/vx"));
  EXPECT_TRUE(fs::exists(root_ / "home" / ".config" / "autostart" / "Vantorix.desktop"));

  for (int k = 0; k < 2; ++k)
    saved[k] ? ::setenv(variables[k], saved[k]->c_str(), 1) : ::unsetenv(variables[k]);
}

TEST_F(AutostartTest, DisplayNameIsTheFirstLineOfTheNameFile) {
  const std::string two_byte = "\xC3\xA9";  // é
  const struct {
    std::optional<std::string> file;
    std::string expected;
  } cases[] = {
      {std::nullopt, "Vantorix"},
      {"", "Vantorix"},
      {"\r\nSecond line", "Vantorix"},
      {"Morvi Studio\r\nSecond line", "Morvi Studio"},
      {"Morvi Studio", "Morvi Studio"},
      {"\xEF\xBB\xBFMorvi Studio\n", "Morvi Studio"},
      {std::string(200, 'a') + "\n", std::string(98, 'a')},
      {std::string(97, 'a') + two_byte + "tail", std::string(97, 'a')},
      {std::string(96, 'a') + two_byte + "tail", std::string(96, 'a') + two_byte},
  };
  for (const auto& item : cases) {
    const fs::path folder = fresh_test_folder("vx-name");
    if (item.file) {
      std::ofstream(folder / "morvoem.txt", std::ios::binary) << *item.file;
    }
    EXPECT_EQ(app_display_name(folder.string()), item.expected) << item.file.value_or("(none)");
  }
}

}  // namespace
}  // namespace vx
