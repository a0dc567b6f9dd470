// The argument lines the engine composes, run through the installed ffmpeg exactly as the
// transcoder splits them, and the streams ffmpeg writes read back with ffprobe.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/command_line.h"
#include "engine/transcoder_protocol.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace vx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kProcessLimit = 60s;
constexpr CodecId kCodecAac = 8;

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A child started from PATH in `folder`, standard input from /dev/null, its output in files.
// One still running when the object goes is killed and reaped.
class Process {
 public:
  Process(const std::vector<std::string>& argv, const fs::path& folder, const fs::path& out,
          const fs::path& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::vector<char*> args;
    for (const std::string& arg : argv)
      args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) {
      pid_ = -1;
      status_ = 127;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() { kill_and_reap(); }

  bool running() {
    if (pid_ > 0) reap(WNOHANG);
    return pid_ > 0;
  }

  // The exit status (128 + the signal for a killed process), or nothing when the process was
  // still running after `limit` and had to be killed.
  std::optional<int> wait(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (running() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
    }
    if (pid_ > 0) {
      kill_and_reap();
      return std::nullopt;
    }
    return status_;
  }

 private:
  void reap(int flags) {
    int status = 0;
    if (waitpid(pid_, &status, flags) != pid_) return;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
  }
  void kill_and_reap() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  pid_t pid_ = -1;
  std::optional<int> status_;
};

std::vector<std::string> ffmpeg_argv(std::vector<std::string> arguments) {
  std::vector<std::string> argv = {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

struct Stream {
  std::string codec_type;
  std::string codec_name;
  std::string field_order;
};

// The streams ffprobe finds in `media` (its "flat" form keeps the file's stream list apart from
// the per-program copies a transport stream also lists).
std::vector<Stream> probe(const fs::path& media) {
  const fs::path out = media.string() + ".probe";
  const fs::path err = media.string() + ".probe-err";
  Process ffprobe({"ffprobe", "-v", "error", "-show_entries",
                   "stream=codec_type,codec_name,field_order", "-of", "flat", media.string()},
                  media.parent_path(), out, err);
  const std::optional<int> status = ffprobe.wait(kProcessLimit);
  if (status != 0) {
    ADD_FAILURE() << "ffprobe " << media << " failed: " << read_text(err);
    return {};
  }
  std::vector<Stream> streams;
  std::istringstream lines(read_text(out));
  const std::string prefix = "streams.stream.";
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with(prefix)) continue;
    std::size_t end = 0;
    const std::size_t index = std::stoul(line.substr(prefix.size()), &end);
    const std::string entry = line.substr(prefix.size() + end + 1);
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos) continue;
    std::string value = entry.substr(equals + 1);
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    if (streams.size() <= index) streams.resize(index + 1);
    const std::string key = entry.substr(0, equals);
    if (key == "codec_type") streams[index].codec_type = value;
    if (key == "codec_name") streams[index].codec_name = value;
    if (key == "field_order") streams[index].field_order = value;
  }
  return streams;
}

// "video h264", "audio aac", ... sorted, so that stream order does not matter.
std::vector<std::string> kinds(const std::vector<Stream>& streams) {
  std::vector<std::string> names;
  for (const Stream& stream : streams)
    names.push_back(stream.codec_type + " " + stream.codec_name);
  std::sort(names.begin(), names.end());
  return names;
}

const std::vector<std::string> kH264Aac = {"audio aac", "video h264"};

// An even UDP port on 127.0.0.1 that is free together with the `count` - 1 ports after it.
std::uint16_t free_udp_ports(int count) {
  const auto bind_port = [](std::uint16_t port) {
    UniqueFd fd(socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (!fd || bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      return UniqueFd();
    }
    return fd;
  };
  for (int attempt = 0; attempt < 100; ++attempt) {
    UniqueFd any = bind_port(0);
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (!any || getsockname(any.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) break;
    const int base = (ntohs(address.sin_port) + 1) & ~1;
    any.reset();
    if (base + count > 65536) continue;
    std::vector<UniqueFd> held;
    for (int i = 0; i < count; ++i) {
      UniqueFd fd = bind_port(static_cast<std::uint16_t>(base + i));
      if (!fd) break;
      held.push_back(std::move(fd));
    }
    if (static_cast<int>(held.size()) == count) return static_cast<std::uint16_t>(base);
  }
  return 0;
}

// Whether some socket is bound to the UDP port (read from /proc, so nothing races the owner).
bool udp_port_bound(std::uint16_t port) {
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, ":%04X", port);
  std::istringstream table(read_text("/proc/net/udp"));
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string slot, local;
    fields >> slot >> local;
    if (local.ends_with(suffix)) return true;
  }
  return false;
}

// The new-channel template's target: h264 with the "faster" preset and a key frame every 5,
// stereo aac.
EngineTarget template_target(FormatId format, const fs::path& url) {
  EngineTarget target;
  target.format = format;
  target.url = url.string();
  target.video.enable = true;
  target.video.codec = kCodecH264;
  target.video.key_frame_interval = 5;
  target.video.quality = 0;
  target.video.bitrate_kbps = 0;
  target.video.options = "-preset:v faster";
  target.audio.enable = true;
  target.audio.codec = kCodecAac;
  target.audio.channels = 2;
  return target;
}

class EngineLine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = fs::temp_directory_path() / ("vx-integration-" + std::to_string(getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    clip_ = folder_ / "clip.mp4";
    Process maker(ffmpeg_argv({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=3", "-f",
                               "lavfi", "-i", "sine=frequency=440:duration=3", "-c:v", "libx264",
                               "-c:a", "aac", clip_.string()}),
                  folder_, "/dev/null", folder_ / "clip.err");
    clip_ready_ = maker.wait(kProcessLimit) == 0;
  }
  static void TearDownTestSuite() { fs::remove_all(folder_); }

  void SetUp() override {
    ASSERT_TRUE(clip_ready_) << "no test clip: " << read_text(folder_ / "clip.err");
  }

  static EngineSource clip_source() {
    EngineSource source;
    source.kind = FormatId::file;
    source.url = clip_.string();
    return source;
  }

  static fs::path session_file(int slot, const char* direction) {
    char name[32];
    std::snprintf(name, sizeof name, "morv_%03d_%s.sdp", slot + 1, direction);
    return folder_ / name;
  }

  static void compose(const StartRequest& request, int slot, std::string& line) {
    const CommandSettings settings{slot, 0, "", folder_.string() + "/"};
    ASSERT_EQ(build_command_line(request, settings, line), 0) << "built so far: " << line;
  }

  // Starts ffmpeg on the line, split as the transcoder splits it; its messages go to `err`.
  static std::unique_ptr<Process> start_ffmpeg(const std::string& line, const fs::path& err) {
    const std::vector<std::string> arguments = split_argument_line(line);
    EXPECT_EQ(std::count(arguments.begin(), arguments.end(), ""), 0) << "empty argument: " << line;
    return std::make_unique<Process>(ffmpeg_argv(arguments), folder_, "/dev/null", err);
  }

  static void expect_clean_exit(Process& ffmpeg, const std::string& line, const fs::path& err) {
    const std::optional<int> status = ffmpeg.wait(kProcessLimit);
    ASSERT_TRUE(status.has_value()) << "ffmpeg killed after " << kProcessLimit.count()
                                    << " s\nline: " << line << "\nffmpeg: " << read_text(err);
    ASSERT_EQ(*status, 0) << "line: " << line << "\nffmpeg: " << read_text(err);
  }

  // Composes the line for `request` in `slot` and requires ffmpeg to run it to a clean end.
  static void transcode(const StartRequest& request, int slot) {
    std::string line;
    ASSERT_NO_FATAL_FAILURE(compose(request, slot, line));
    const fs::path err = folder_ / ("slot" + std::to_string(slot) + ".err");
    ASSERT_NO_FATAL_FAILURE(expect_clean_exit(*start_ffmpeg(line, err), line, err));
  }

  static inline fs::path folder_;
  static inline fs::path clip_;
  static inline bool clip_ready_ = false;
};

// One source (the clip) to one template target; only the format and the scan type vary.
struct OneOutputCase {
  const char* name;
  int slot;
  FormatId format;
  const char* file;  // written in the temporary folder
  std::int32_t scan_type;
  std::vector<std::string> streams;
  const char* field_order;  // of the video stream; nullptr: not checked
};

void PrintTo(const OneOutputCase& c, std::ostream* out) {
  *out << c.name;
}

class EngineLineToOneOutput : public EngineLine,
                              public ::testing::WithParamInterface<OneOutputCase> {};

TEST_P(EngineLineToOneOutput, FfmpegWritesTheStreamsAskedFor) {
  const OneOutputCase& c = GetParam();
  StartRequest request;
  request.sources = {clip_source()};
  EngineTarget target = template_target(c.format, folder_ / c.file);
  target.video.scan_type = c.scan_type;
  request.groups = {{target}};
  ASSERT_NO_FATAL_FAILURE(transcode(request, c.slot));

  const std::vector<Stream> streams = probe(folder_ / c.file);
  EXPECT_EQ(kinds(streams), c.streams);
  if (c.field_order == nullptr) return;
  const auto video = std::find_if(streams.begin(), streams.end(),
                                  [](const Stream& s) { return s.codec_type == "video"; });
  ASSERT_NE(video, streams.end());
  EXPECT_EQ(video->field_order, c.field_order);
}

// The udp targets would send to a network address; they write to a file here so that ffprobe
// can read what the mpegts muxer produced.
INSTANTIATE_TEST_SUITE_P(
    Formats, EngineLineToOneOutput,
    ::testing::Values(
        OneOutputCase{"udp_template", 0, FormatId::udp, "out.ts", 0, kH264Aac, "progressive"},
        OneOutputCase{"dash", 1, FormatId::dash, "out.mpd", 0, kH264Aac, nullptr},
        OneOutputCase{"recorded_mp4", 2, FormatId::file, "out.mp4", 0, kH264Aac, nullptr},
        OneOutputCase{"udp_top_field_first", 3, FormatId::udp, "tff.ts", 2, kH264Aac, "tt"}),
    [](const ::testing::TestParamInfo<OneOutputCase>& param) { return param.param.name; });

// Several HLS targets run as one output: the channel compiler leaves every group but the last
// without a URL (they only contribute their encoder settings, numbered by variant) and gives the
// last one the maps and the variant stream map.
TEST_F(EngineLine, HlsVariantsWriteOnePlaylistEach) {
  StartRequest request;
  request.sources = {clip_source()};
  for (const int kbps : {800, 400}) {
    EngineTarget variant = template_target(FormatId::hls, "");
    variant.video.bitrate_kbps = kbps;
    variant.format_options = "-hls_time 2 ";
    request.groups.push_back({variant});
  }
  EngineTarget& last = request.groups.back().front();
  last.url = (folder_ / "%v.m3u8").string();
  last.format_options +=
      "-map 0:v -map 0:a -map 0:v -map 0:a -var_stream_map \"v:0,a:0,name:v0 v:1,a:1,name:v1 \"";
  ASSERT_NO_FATAL_FAILURE(transcode(request, 4));

  std::uintmax_t bytes[2] = {};
  for (int variant = 0; variant < 2; ++variant) {
    const std::string name = "v" + std::to_string(variant);
    SCOPED_TRACE(name);
    ASSERT_TRUE(fs::exists(folder_ / (name + ".m3u8")));
    EXPECT_EQ(kinds(probe(folder_ / (name + ".m3u8"))), kH264Aac);
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
      const std::string file = entry.path().filename().string();
      if (file.starts_with(name) && file.ends_with(".ts")) bytes[variant] += entry.file_size();
    }
  }
  // Each variant is encoded at its own constant rate, 800 against 400 kbit/s; the same audio and
  // container overhead bring the ratio of the sizes down to about 1.5.
  EXPECT_GT(bytes[0], bytes[1] * 5 / 4) << bytes[0] << " against " << bytes[1] << " bytes";
}

TEST_F(EngineLine, TwoInputsEncodedIntoOneOutput) {
  StartRequest request;
  request.sources = {clip_source(), clip_source()};
  request.sources[0].map_options = "-map 0:v -map 0:a";
  request.sources[1].map_options = "-map 1:v -map 1:a";
  // The network address is replaced by a file, as above.
  EngineTarget first = template_target(FormatId::udp, folder_ / "two.ts");
  first.video.options = "-preset:v:0 faster";  // tagged with the input's stream index
  EngineTarget second = first;
  second.video.codec = kCodecMpeg2Video;
  second.video.quality = 50;
  second.video.options.clear();  // the preset belongs to the h264 encoder
  request.groups = {{first, second}};
  ASSERT_NO_FATAL_FAILURE(transcode(request, 5));

  EXPECT_EQ(kinds(probe(folder_ / "two.ts")),
            (std::vector<std::string>{"audio aac", "audio aac", "video h264", "video mpeg2video"}));
}

TEST_F(EngineLine, RtpNativeInputIsReadThroughItsSessionFile) {
  const int slot = 6;
  const std::uint16_t port = free_udp_ports(2);
  ASSERT_NE(port, 0);
  StartRequest request;
  EngineSource source;
  source.kind = FormatId::rtp_native;
  source.url = "rtp://127.0.0.1:" + std::to_string(port);
  source.video.enable = true;
  source.video.codec = kCodecH264;
  source.video.rtp.local_address = inet_addr("127.0.0.1");
  source.video.rtp.local_port = port;
  request.sources = {source};
  // Written to a file instead of the network; "-t 2" ends the otherwise endless input.
  EngineTarget target = template_target(FormatId::udp, folder_ / "from_rtp.ts");
  target.format_options = "-t 2";
  request.groups = {{target}};

  std::string line;
  ASSERT_NO_FATAL_FAILURE(compose(request, slot, line));
  const std::string description = read_text(session_file(slot, "in"));
  EXPECT_NE(description.find("m=video " + std::to_string(port)), std::string::npos) << description;

  const fs::path err = folder_ / "rtp_in.err";
  const std::unique_ptr<Process> receiver = start_ffmpeg(line, err);
  // The sender's only key frame comes first, so it may start once the receiver listens.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!udp_port_bound(port) && receiver->running() &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  Process sender(ffmpeg_argv({"-re", "-i", clip_.string(), "-map", "0:v", "-c:v", "libx264", "-f",
                              "rtp", "rtp://127.0.0.1:" + std::to_string(port)}),
                 folder_, "/dev/null", folder_ / "rtp_sender.err");
  ASSERT_NO_FATAL_FAILURE(expect_clean_exit(*receiver, line, err));
  sender.wait(kProcessLimit);  // its status does not matter: the receiver may have gone first

  EXPECT_EQ(kinds(probe(folder_ / "from_rtp.ts")), std::vector<std::string>{"video h264"});
}

TEST_F(EngineLine, RtpNativeOutputWritesItsSessionFile) {
  const int slot = 7;
  const std::uint16_t port = free_udp_ports(4);
  ASSERT_NE(port, 0);
  StartRequest request;
  request.sources = {clip_source()};
  EngineTarget target =
      template_target(FormatId::rtp_native, "rtp://127.0.0.1:" + std::to_string(port));
  target.video.rtp.remote_address = inet_addr("127.0.0.1");
  target.video.rtp.remote_port = port;
  target.audio.rtp.remote_address = inet_addr("127.0.0.1");
  target.audio.rtp.remote_port = static_cast<std::uint16_t>(port + 2);
  request.groups = {{target}};
  // Nothing listens on the ports: the packets are simply dropped.
  ASSERT_NO_FATAL_FAILURE(transcode(request, slot));

  const std::string description = read_text(session_file(slot, "out"));
  EXPECT_NE(description.find("m=video " + std::to_string(port) + " "), std::string::npos)
      << description;
  EXPECT_NE(description.find("m=audio " + std::to_string(port + 2) + " "), std::string::npos)
      << description;
}

}  // namespace
}  // namespace vx
