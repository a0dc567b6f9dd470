#include "platform/host.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/display.h"
#include "platform/unique_fd.h"

namespace vx {
namespace {

// Builds a getifaddrs-like list whose nodes live as long as the builder.
class InterfaceList {
 public:
  InterfaceList& ipv4(const char* name, const char* address) {
    sockaddr_in& storage = ipv4_addresses_.emplace_back();
    storage.sin_family = AF_INET;
    inet_pton(AF_INET, address, &storage.sin_addr);
    return add(name, reinterpret_cast<sockaddr*>(&storage));
  }
  InterfaceList& ipv6(const char* name) {
    sockaddr_in6& storage = ipv6_addresses_.emplace_back();
    storage.sin6_family = AF_INET6;
    return add(name, reinterpret_cast<sockaddr*>(&storage));
  }
  InterfaceList& without_address(const char* name) { return add(name, nullptr); }
  const ifaddrs* head() const { return nodes_.empty() ? nullptr : &nodes_.front(); }

 private:
  InterfaceList& add(const char* name, sockaddr* address) {
    ifaddrs& node = nodes_.emplace_back();
    node.ifa_name = const_cast<char*>(name);
    node.ifa_addr = address;
    if (nodes_.size() > 1) nodes_[nodes_.size() - 2].ifa_next = &node;
    return *this;
  }
  std::deque<ifaddrs> nodes_;
  std::deque<sockaddr_in> ipv4_addresses_;
  std::deque<sockaddr_in6> ipv6_addresses_;
};

TEST(LocalAddresses, TakesFirstIpv4OfEachInterfaceSkippingLoopbackAndLinkLocal) {
  InterfaceList list;
  list.ipv4("lo", "127.0.0.1")
      .ipv6("eth0")
      .without_address("tun0")
      .ipv4("eth0", "192.168.1.20")
      .ipv4("eth0", "192.168.1.21")  // second address of eth0: not taken
      .ipv4("wlan0", "169.254.7.7")  // first of wlan0 is link-local: wlan0 gives nothing
      .ipv4("wlan0", "10.1.1.1")
      .ipv4("eth1", "169.253.0.1")  // not link-local
      .ipv4("eth2", "127.5.5.5");
  EXPECT_EQ(select_ipv4_addresses(list.head()),
            (std::vector<std::string>{"192.168.1.20", "169.253.0.1"}));
}

TEST(LocalAddresses, StopsAtFiveAndHandlesAnEmptyList) {
  InterfaceList list;
  const char* names[] = {"a", "b", "c", "d", "e", "f", "g"};
  const char* addresses[] = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4",
                             "10.0.0.5", "10.0.0.6", "10.0.0.7"};
  for (int i = 0; i < 7; ++i)
    list.ipv4(names[i], addresses[i]);
  const std::vector<std::string> selected = select_ipv4_addresses(list.head());
  ASSERT_EQ(selected.size(), kMaxLocalAddresses);
  EXPECT_EQ(selected.back(), "10.0.0.5");
  EXPECT_TRUE(select_ipv4_addresses(nullptr).empty());
}

TEST(LocalAddresses, RealHostGivesAtMostFiveUsableAddresses) {
  const std::vector<std::string> addresses = local_ipv4_addresses();
  EXPECT_LE(addresses.size(), kMaxLocalAddresses);
  for (const std::string& address : addresses) {
    in_addr parsed{};
    EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
    EXPECT_NE(address.rfind("127.", 0), 0u) << address;
    EXPECT_NE(address.rfind("169.254.", 0), 0u) << address;
  }
  EXPECT_EQ(local_ipv4_address(), addresses.empty() ? std::string() : addresses.front());
}

TEST(Display, NamesAreReadAndOnlyADisplayThatAcceptsCountsAsReachable) {
  struct Case {
    const char* name;
    const char* socket_path;
    const char* host;
    int port;
  };
  for (const Case& c :
       {Case{":0", "/tmp/.X11-unix/X0", "", 0}, Case{":12.1", "/tmp/.X11-unix/X12", "", 0},
        Case{"unix:3", "/tmp/.X11-unix/X3", "", 0},
        Case{"localhost:10.0", "", "localhost", 6010}}) {
    const std::optional<XDisplayAddress> address = x_display_address(c.name);
    ASSERT_TRUE(address.has_value()) << c.name;
    EXPECT_EQ(address->socket_path, c.socket_path) << c.name;
    EXPECT_EQ(address->host, c.host) << c.name;
    EXPECT_EQ(address->port, c.port) << c.name;
  }
  for (const char* unknown : {"", "0", ":", ":x", ":-1", "/private/tmp/launch-x/org.x:0"})
    EXPECT_FALSE(x_display_address(unknown).has_value()) << unknown;

  // A display over TCP on 127.0.0.1: reachable while something listens there, not after.
  UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int number = 0;
  for (number = 150; number < 400; ++number) {
    address.sin_port = htons(static_cast<std::uint16_t>(6000 + number));
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
      break;
  }
  ASSERT_EQ(::listen(listener.get(), 4), 0);
  ::unsetenv("WAYLAND_DISPLAY");
  const std::string name = "127.0.0.1:" + std::to_string(number);
  ::setenv("DISPLAY", name.c_str(), 1);
  EXPECT_TRUE(display_reachable());
  listener.reset();
  EXPECT_FALSE(display_reachable());
  ::unsetenv("DISPLAY");
  EXPECT_FALSE(display_reachable());
}

TEST(ModuleFolder, IsTheFolderOfThisProgramWithoutTrailingSlash) {
  const std::string& folder = module_folder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(folder + "/vx_platform_tests"));
  EXPECT_EQ(&module_folder(), &folder);  // cached
}

TEST(UserFolders, TheVideosFolderComesFromUserDirsElseHomeVideos) {
  struct Case {
    const char* text;
    std::optional<std::string> found;
  };
  const Case cases[] = {
      {"XDG_VIDEOS_DIR=\"$HOME/Movies\"\n", "/home/op/Movies"},
      {"# comment\nXDG_MUSIC_DIR=\"$HOME/Music\"\n  XDG_VIDEOS_DIR=\"/srv/video/\"\r\n",
       "/srv/video"},
      {"XDG_VIDEOS_DIR=\"$HOME/a\"\nXDG_VIDEOS_DIR=\"$HOME/b\"", "/home/op/b"},  // the last
      {"XDG_VIDEOS_DIR=\"$HOME\"", "/home/op"},
      {"XDG_VIDEOS_DIR=\"relative/v\"", std::nullopt},
      {"XDG_VIDEOS_DIR=$HOME/unquoted", std::nullopt},
      {"XDG_VIDEOS_DIR=\"$HOMEx/v\"", std::nullopt},
      {"#XDG_VIDEOS_DIR=\"/commented\"", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(videos_folder_in_user_dirs(c.text, "/home/op"), c.found) << c.text;

  // The real lookup, against a home of our own.
  const std::filesystem::path home =
      std::filesystem::temp_directory_path() / ("vx-home-" + std::to_string(::getpid()));
  std::filesystem::create_directories(home / ".config");
  const std::string old_home = std::getenv("HOME") ? std::getenv("HOME") : "";
  const char* old_config = std::getenv("XDG_CONFIG_HOME");
  const std::string kept_config = old_config ? old_config : "";
  ::setenv("HOME", home.c_str(), 1);
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(user_videos_folder(), home.string() + "/Videos");
  std::ofstream(home / ".config" / "user-dirs.dirs") << "XDG_VIDEOS_DIR=\"$HOME/Filme\"\n";
  EXPECT_EQ(user_videos_folder(), home.string() + "/Filme");
  EXPECT_EQ(new_output_folder(), home.string() + "/Filme/Vantorix");
  ::setenv("XDG_CONFIG_HOME", (home / "elsewhere").c_str(), 1);
  EXPECT_EQ(user_videos_folder(), home.string() + "/Videos");
  ::setenv("HOME", old_home.c_str(), 1);
  if (old_config) {
    ::setenv("XDG_CONFIG_HOME", kept_config.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  std::filesystem::remove_all(home);
}

bool fd_is_open(int fd) {
  return fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

TEST(UniqueFd, ClosesOnceAndMovesOwnership) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const int read_end = ends[0];
  {
    UniqueFd first(ends[0]);
    UniqueFd second(std::move(first));
    EXPECT_FALSE(first.valid());
    EXPECT_EQ(second.get(), read_end);
    UniqueFd third;
    third = std::move(second);
    EXPECT_TRUE(fd_is_open(read_end));
  }
  EXPECT_FALSE(fd_is_open(read_end));

  UniqueFd write_end(ends[1]);
  const int raw = write_end.release();
  EXPECT_FALSE(write_end.valid());
  EXPECT_TRUE(fd_is_open(raw));
  close(raw);
}

}  // namespace
}  // namespace vx
