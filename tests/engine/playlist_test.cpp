#include "engine/playlist.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vx {
namespace {

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

class PlayList : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(root_);
    fs::create_directories(media_);
    list_.set_file(list_file_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // Creates the files (and their folders) below the media folder.
  void add_files(const Paths& names) {
    for (const std::string& name : names) {
      fs::create_directories((media_ / name).parent_path());
      std::ofstream(media_ / name) << "x";
    }
  }
  Paths in_media(const Paths& names) const {
    Paths paths;
    for (const std::string& name : names)
      paths.push_back(media_.string() + "/" + name);
    return paths;
  }
  std::string list_file_text() const {
    std::ifstream in(list_file_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path root_ =
      fs::temp_directory_path() / ("vx-playlist-" + std::to_string(getpid()) + "-" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::path media_ = root_ / "media";
  std::string list_file_ = (root_ / "morv_001.pls").string();
  FolderPlaylist list_;
};

TEST_F(PlayList, SortsByteWiseAndSkipsSubFoldersUnlessRecursive) {
  add_files({"b.ts", "a.ts", "B.ts", "\xC3\xA9t\xC3\xA9.ts", "sub/m.ts", "sub/deeper/c.ts"});
  EXPECT_EQ(list_.build(media_.string() + "//", false, false), 4);
  EXPECT_EQ(list_.files(), in_media({"B.ts", "a.ts", "b.ts", "\xC3\xA9t\xC3\xA9.ts"}));
  EXPECT_EQ(list_.current(), in_media({"B.ts"})[0]);

  EXPECT_EQ(list_.build(media_.string(), true, false), 6);
  EXPECT_EQ(list_.files(), in_media({"B.ts", "a.ts", "b.ts", "sub/deeper/c.ts", "sub/m.ts",
                                     "\xC3\xA9t\xC3\xA9.ts"}));
}

TEST_F(PlayList, RecursionSurvivesLinkLoopsAndSkipsNamesThatBreakLines) {
  add_files({"a.ts", "sub/b.ts"});
  fs::create_directory_symlink(media_, media_ / "sub" / "loop");
  std::ofstream(media_ / "bad\nname.ts") << "x";
  EXPECT_EQ(list_.build(media_.string(), true, false), 2);
  EXPECT_EQ(list_.files(), in_media({"a.ts", "sub/b.ts"}));
}

TEST_F(PlayList, RebuildKeepsTheCurrentFileAndDropsVanishedOnes) {
  add_files({"c.ts", "d.ts"});
  list_.build(media_.string(), false, false);
  list_.next(false);
  add_files({"a.ts", "b.ts"});
  EXPECT_EQ(list_.build(media_.string(), false, false), 4);
  EXPECT_EQ(list_.current(), in_media({"d.ts"})[0]);

  fs::remove(media_ / "d.ts");
  EXPECT_EQ(list_.build(media_.string(), false, false), 3);
  EXPECT_EQ(list_.files(), in_media({"a.ts", "b.ts", "c.ts"}));
  EXPECT_EQ(list_.current(), in_media({"a.ts"})[0]);

  for (const char* name : {"a.ts", "b.ts", "c.ts"})
    fs::remove(media_ / name);
  ASSERT_TRUE(fs::exists(list_file_));
  EXPECT_EQ(list_.build(media_.string(), false, false), 0);
  EXPECT_EQ(list_.current(), std::nullopt);
  EXPECT_FALSE(fs::exists(list_file_));
}

TEST_F(PlayList, ShuffledOrderIsKeptUntilAFlagChanges) {
  Paths names;
  for (char c = 'a'; c <= 'l'; ++c)
    names.push_back(std::string(1, c) + ".ts");
  add_files(names);
  std::srand(7);
  list_.build(media_.string(), false, true);
  const Paths shuffled = list_.files();
  ASSERT_NE(shuffled, in_media(names));
  EXPECT_TRUE(std::is_permutation(shuffled.begin(), shuffled.end(), in_media(names).begin()));

  std::srand(99);
  list_.build(media_.string(), false, true);
  EXPECT_EQ(list_.files(), shuffled);
  list_.build(media_.string(), false, false);
  EXPECT_EQ(list_.files(), in_media(names));
  std::srand(7);
  list_.build(media_.string(), false, true);
  EXPECT_EQ(list_.files(), shuffled);
}

TEST_F(PlayList, NextAndPreviousWrapOnlyWhenAsked) {
  EXPECT_EQ(list_.next(true), std::nullopt);
  EXPECT_EQ(list_.previous(true), std::nullopt);
  add_files({"a.ts", "b.ts", "c.ts"});
  list_.build(media_.string(), false, false);
  const Paths p = in_media({"a.ts", "b.ts", "c.ts"});
  struct Step {
    bool forward;
    bool wrap;
    std::optional<std::string> result;
    std::string current;
  };
  const Step steps[] = {
      {false, false, std::nullopt, p[0]}, {false, true, p[2], p[2]},
      {true, false, std::nullopt, p[2]},  {true, true, p[0], p[0]},
      {true, false, p[1], p[1]},          {false, false, p[0], p[0]},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(step.forward ? list_.next(step.wrap) : list_.previous(step.wrap), step.result);
    EXPECT_EQ(list_.current(), step.current);
    EXPECT_TRUE(list_file_text().starts_with("current " + step.current + "\n"));
  }
}

TEST_F(PlayList, SavedListLoadsBackWithOddNames) {
  add_files({"with  spaces.ts", " leading.ts", "current x.ts", "\xE6\x97\xA5\xE6\x9C\xAC.mp4"});
  list_.build(media_.string(), false, false);
  list_.next(false);
  const std::string text = list_file_text();
  EXPECT_TRUE(text.starts_with("current " + *list_.current() + "\n" + list_.files()[0] + "\n"));
  EXPECT_FALSE(fs::exists(list_file_ + ".tmp"));

  FolderPlaylist loaded;
  loaded.load(list_file_, media_.string(), false, false);
  EXPECT_EQ(loaded.files(), list_.files());
  EXPECT_EQ(loaded.current(), list_.current());
  EXPECT_EQ(list_file_text(), text);  // loading does not save
}

TEST_F(PlayList, LoadTakesEachUsableLineOnce) {
  const std::string long_path = "/m/" + std::string(kPlayListLineLimit - 3, 'x');
  std::ofstream(list_file_, std::ios::binary)
      << "/m/a.ts\r\n"
      << "current /m/b.ts\r\n"
      << "/m/b.ts  \r\n/m/a.ts\n\n   \n"
      << long_path << "\n"
      << long_path << "y\n"  // one over the limit: skipped whole, not split
      << std::string(5000, 'z') << "\n"
      << "/m/cut.ts" << std::string(3000, ' ') << "junk\n"
      << std::string("/m/nul\0.ts\n", 11) << "/m/c.ts";
  list_.load(list_file_, "/m", false, false);
  EXPECT_EQ(list_.files(), (Paths{"/m/a.ts", "/m/b.ts", long_path, "/m/c.ts"}));
  EXPECT_EQ(list_.current(), "/m/b.ts");

  std::ofstream(list_file_) << "current /m/gone.ts\n/m/a.ts\n";
  list_.load(list_file_, "/m", false, false);
  EXPECT_EQ(list_.current(), "/m/a.ts");
  list_.load((root_ / "missing.pls").string(), "/m", false, false);
  EXPECT_EQ(list_.count(), 0);
  EXPECT_EQ(list_.current(), std::nullopt);
}

TEST_F(PlayList, UnlistableFolderChangesNothing) {
  add_files({"a.ts", "b.ts"});
  list_.build(media_.string(), false, false);
  list_.next(false);
  const std::string text = list_file_text();
  std::ofstream(root_ / "plain-file") << "x";
  for (const fs::path& folder : {root_ / "missing", root_ / "plain-file", fs::path()}) {
    EXPECT_EQ(list_.build(folder.string(), true, true), 0) << folder;
    EXPECT_EQ(list_.files(), in_media({"a.ts", "b.ts"}));
    EXPECT_EQ(list_.current(), in_media({"b.ts"})[0]);
    EXPECT_EQ(list_file_text(), text);
  }
  // A folder that disappears later: the next save removes the stale file.
  fs::remove_all(media_);
  list_.next(true);
  EXPECT_FALSE(fs::exists(list_file_));
}

TEST(ChannelPlayList, SixteenChannelsEachWithItsOwnFile) {
  EXPECT_EQ(playlist_file_path("/cfg", 0), "/cfg/log/morv_001.pls");
  EXPECT_EQ(playlist_file_path("/cfg", 15), "/cfg/log/morv_016.pls");
  EXPECT_EQ(playlist_file_path("/cfg", 16), "");
  EXPECT_EQ(playlist_file_path("/cfg", -1), "");
  EXPECT_EQ(channel_playlist_at(0), &channel_playlist(0));
  EXPECT_NE(channel_playlist_at(15), channel_playlist_at(14));
  EXPECT_EQ(channel_playlist_at(16), nullptr);
  EXPECT_EQ(channel_playlist_at(-1), nullptr);

  const std::string folder =
      fs::temp_directory_path() / ("vx-detached-" + std::to_string(getpid()));
  fs::create_directories(folder);
  std::ofstream(folder + "/a.ts") << "x";
  FolderPlaylist& detached = channel_playlist(16);
  EXPECT_EQ(detached.build(folder, false, false), 1);
  EXPECT_EQ(detached.file(), "");
  EXPECT_EQ(channel_playlist(-5).count(), 0);
  EXPECT_EQ(channel_playlist(15).count(), 0);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace vx
