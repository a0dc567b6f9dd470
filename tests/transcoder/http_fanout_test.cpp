// The HTTP fan-out on 127.0.0.1 with real viewers: streams ffmpeg makes on the spot, fed in
// real time and read by curl, ffprobe and raw sockets; viewers that join between key frames; a
// viewer that stops reading; HTTPS with a certificate made here; addresses that cannot be served.
// Also the ring every viewer reads.
#include "transcoder/http_fanout.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"
#include "tests/support/http_client.h"
#include "tests/support/synthetic_ts.h"
#include "transcoder/stream_framing.h"
#include "transcoder/stream_ring.h"

extern char** environ;

namespace vx {
namespace {

namespace fs = std::filesystem;
using testing_support::connect_local;
using testing_support::count_not_closed;
using testing_support::kCrowdPorts;
using testing_support::peer_closed;
using testing_support::read_to_end;
using testing_support::Reply;
using testing_support::send_text;
using testing_support::split_reply;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------------------------
// Helpers: folders, processes, sockets

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "vx_fanout_XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

// A child started with an argv from PATH, standard input from /dev/null, standard error into a
// file, standard output into a file or (with an empty `out`) a pipe read through output().
// Killed by its pid and reaped when it is still running at the end.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const fs::path& out, const fs::path& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    int ends[2] = {-1, -1};
    if (out.empty() && ::pipe2(ends, O_CLOEXEC) == 0) {
      output_.reset(ends[0]);
      posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    } else {
      posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    }
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const std::string& arg : argv)
      args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (ends[1] >= 0) ::close(ends[1]);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  bool started() const { return pid_ > 0; }
  int output() const { return output_.get(); }

  // The exit status; -1 when it was still running after `limit` and had to be killed.
  int wait(Clock::duration limit) {
    const auto deadline = Clock::now() + limit;
    while (pid_ > 0) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (Clock::now() > deadline) break;
      std::this_thread::sleep_for(20ms);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  UniqueFd output_;
};

struct Run {
  int status = -1;
  std::string out;
  std::string err;
};

Run run(const std::vector<std::string>& argv, const TempDir& dir, const std::string& name) {
  Run result;
  {
    Child child(argv, dir / (name + ".out"), dir / (name + ".err"));
    result.status = child.wait(60s);
  }
  result.out = read_file(dir / (name + ".out"));
  result.err = read_file(dir / (name + ".err"));
  return result;
}

bool wait_until(const std::function<bool()>& condition, Clock::duration limit = 10s) {
  const auto deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

std::string request(const std::string& method, const std::string& path) {
  return method + " " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
}

// A viewer on a thread of its own reading one HTTP/1.0 response to its end.
std::future<Reply> watch(std::uint16_t port, const std::string& path = "/live") {
  return std::async(std::launch::async, [port, path] {
    UniqueFd fd = connect_local(port);
    if (!fd || !send_text(fd.get(), request("GET", path))) return Reply{};
    return split_reply(read_to_end(fd.get()));
  });
}

bool is_suffix(const std::string& whole, const std::string& part) {
  return part.size() <= whole.size() &&
         whole.compare(whole.size() - part.size(), part.size(), part) == 0;
}

std::unique_ptr<HttpFanout> start_fanout(FanoutConfig config) {
  if (config.host.empty()) config.host = "127.0.0.1";
  std::string error;
  auto fanout = HttpFanout::start(config, error);
  EXPECT_NE(fanout, nullptr) << error;
  return fanout;
}

std::string url(const HttpFanout& fanout, const std::string& path, bool tls = false) {
  return std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(fanout.port()) +
         path;
}

// ---------------------------------------------------------------------------------------------
// Streams: from ffmpeg in real time, or numbered MPEG-TS packets made here

// `gop` pictures (25 a second) from one key frame to the next, `seconds` long.
std::vector<std::string> ffmpeg_args(const std::vector<std::string>& output,
                                     const std::string& gop = "25",
                                     const std::string& seconds = "4") {
  std::vector<std::string> argv = {"ffmpeg",
                                   "-hide_banner",
                                   "-loglevel",
                                   "error",
                                   "-re",
                                   "-f",
                                   "lavfi",
                                   "-i",
                                   "testsrc=size=320x240:rate=25",
                                   "-f",
                                   "lavfi",
                                   "-i",
                                   "sine=frequency=440:sample_rate=48000",
                                   "-t",
                                   seconds,
                                   "-c:v",
                                   "libx264",
                                   "-preset",
                                   "ultrafast",
                                   "-g",
                                   gop,
                                   "-pix_fmt",
                                   "yuv420p",
                                   "-c:a",
                                   "aac"};
  argv.insert(argv.end(), output.begin(), output.end());
  return argv;
}

// Feeds what ffmpeg writes to its standard output into the fan-out, re-cut at random sizes;
// `tick` gets the seconds since the start after every read. Returns every byte fed.
std::string feed_from_ffmpeg(HttpFanout& fanout, const std::vector<std::string>& argv,
                             const TempDir& dir, const std::function<void(double)>& tick) {
  Child ffmpeg(argv, {}, dir / "ffmpeg.err");
  EXPECT_TRUE(ffmpeg.started());
  std::string fed;
  std::mt19937 generator(7);
  const auto start = Clock::now();
  char buffer[65536];
  while (Clock::now() - start < 60s) {
    pollfd waiting{ffmpeg.output(), POLLIN, 0};
    if (::poll(&waiting, 1, 200) <= 0) continue;
    const ssize_t count = ::read(ffmpeg.output(), buffer, sizeof buffer);
    if (count <= 0) break;
    std::string_view chunk(buffer, static_cast<std::size_t>(count));
    while (!chunk.empty()) {
      const std::size_t size = std::min<std::size_t>(chunk.size(), 1 + generator() % 5000);
      fanout.feed(chunk.substr(0, size));
      fed.append(chunk.substr(0, size));
      chunk.remove_prefix(size);
    }
    tick(std::chrono::duration<double>(Clock::now() - start).count());
  }
  EXPECT_EQ(ffmpeg.wait(10s), 0) << read_file(dir / "ffmpeg.err");
  return fed;
}

// Packet n carries n in its payload, so any gap or reordering shows.
std::string numbered_packets(std::uint32_t first, std::uint32_t count) {
  std::string stream;
  stream.reserve(count * kTsPacketSize);
  for (std::uint32_t n = first; n < first + count; ++n) {
    std::string packet(kTsPacketSize, '\x11');
    packet[0] = kTsSyncByte;
    packet[1] = 0x01;
    packet[3] = static_cast<char>(0x10 | (n & 0x0f));
    std::memcpy(packet.data() + 4, &n, sizeof n);
    stream += packet;
  }
  return stream;
}

// Feeds `packets` packets in chunks of `chunk` packets, pausing between chunks so that reading
// viewers keep up; returns every byte fed.
std::string feed_numbered(HttpFanout& fanout, std::uint32_t packets, std::uint32_t chunk,
                          Clock::duration pause) {
  std::string fed;
  for (std::uint32_t n = 0; n < packets; n += chunk) {
    const std::string bytes = numbered_packets(n, std::min(chunk, packets - n));
    fanout.feed(bytes);
    fed += bytes;
    std::this_thread::sleep_for(pause);
  }
  return fed;
}

// ffprobe's view of a file or URL: every "key=value" line of -show_streams. A stream joined
// between key frames makes the decoder complain until the next one, which players ride out.
std::string probe(const std::string& target, const TempDir& dir, const std::string& name,
                  bool joined_between_key_frames = false) {
  const Run result = run({"ffprobe", "-v", "error", "-show_streams", target}, dir, name);
  EXPECT_EQ(result.status, 0) << target << ": " << result.err;
  if (!joined_between_key_frames) {
    EXPECT_EQ(result.err, "") << target;
  }
  return result.out;
}

void expect_h264_and_aac(const std::string& streams, const std::string& what) {
  EXPECT_NE(streams.find("codec_name=h264"), std::string::npos) << what << "\n" << streams;
  EXPECT_NE(streams.find("width=320"), std::string::npos) << what;
  EXPECT_NE(streams.find("codec_name=aac"), std::string::npos) << what;
}

// ---------------------------------------------------------------------------------------------
// The ring every viewer reads from

TEST(StreamRing, CopiesAcrossTheWrapAndForgetsWhatWasOverwritten) {
  StreamRing ring(10);
  ring.append("abcdefgh");
  ring.append("ijklm");  // wraps: holds "defghijklm"
  EXPECT_EQ(ring.begin(), 3U);
  EXPECT_EQ(ring.end(), 13U);
  char out[16] = {};
  EXPECT_EQ(ring.copy(3, out, sizeof out), 10U);
  EXPECT_EQ(std::string(out, 10), "defghijklm");
  EXPECT_EQ(ring.copy(7, out, 4), 4U);
  EXPECT_EQ(std::string(out, 4), "hijk");
  EXPECT_EQ(ring.copy(2, out, sizeof out), 0U);   // overwritten
  EXPECT_EQ(ring.copy(13, out, sizeof out), 0U);  // not written yet
  ring.append("0123456789ABCDEF");                // more than it holds: only the newest ten stay
  EXPECT_EQ(ring.begin(), 19U);
  EXPECT_EQ(ring.copy(19, out, sizeof out), 10U);
  EXPECT_EQ(std::string(out, 10), "6789ABCDEF");
}

TEST(StreamRing, ReadersFollowingInSmallStepsSeeEveryByteInOrder) {
  StreamRing ring(1000);
  std::mt19937 generator(5);
  std::string written;
  std::string read;
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(generator() % 400, '\0');
    for (char& byte : bytes)
      byte = static_cast<char>(generator());
    ring.append(bytes);
    written += bytes;
    char out[500];
    while (read.size() < written.size()) {
      const std::size_t copied = ring.copy(read.size(), out, 1 + generator() % sizeof out);
      ASSERT_GT(copied, 0U);
      read.append(out, copied);
    }
  }
  EXPECT_EQ(read, written);
}

// ---------------------------------------------------------------------------------------------
// Real streams

std::unique_ptr<Child> start_curl(const std::string& address, const TempDir& dir,
                                  const std::string& name) {
  return std::make_unique<Child>(
      std::vector<std::string>{"curl", "-s", "-S", "--max-time", "60", "-o",
                               (dir / (name + ".body")).string(), address},
      dir / (name + ".out"), dir / (name + ".err"));
}

// Three curl viewers and a live ffprobe connect before ffmpeg starts; one more curl joins
// after `late_at` seconds. Checks what holds for every kind: the early viewers get every byte
// and ffprobe accepts the stream over HTTP and every saved copy. Returns the late viewer's copy.
std::string view_live_stream(StreamKind kind, const std::vector<std::string>& ffmpeg_output,
                             double late_at, bool late_between_key_frames, std::string& fed) {
  TempDir dir;
  auto fanout = start_fanout({.kind = kind});
  if (!fanout) return {};
  const std::string address = url(*fanout, "/any/path");
  std::vector<std::unique_ptr<Child>> early;
  for (int i = 0; i < 3; ++i)
    early.push_back(start_curl(address, dir, "early" + std::to_string(i)));
  Child live_probe({"ffprobe", "-v", "error", "-show_streams", address}, dir / "live.out",
                   dir / "live.err");
  EXPECT_TRUE(wait_until([&] { return fanout->viewer_count() == 4; }));

  std::unique_ptr<Child> late;
  fed = feed_from_ffmpeg(*fanout, ffmpeg_args(ffmpeg_output), dir, [&](double seconds) {
    if (!late && seconds >= late_at) late = start_curl(address, dir, "late");
  });
  fanout->finish();

  for (int i = 0; i < 3; ++i) {
    const std::string name = "early" + std::to_string(i);
    EXPECT_EQ(early[static_cast<std::size_t>(i)]->wait(20s), 0) << read_file(dir / (name + ".err"));
    // Connected before the first byte, so they get every byte.
    EXPECT_TRUE(read_file(dir / (name + ".body")) == fed) << name;
    expect_h264_and_aac(probe((dir / (name + ".body")).string(), dir, name + "_probe"), name);
  }
  EXPECT_EQ(live_probe.wait(20s), 0) << read_file(dir / "live.err");
  expect_h264_and_aac(read_file(dir / "live.out"), "ffprobe over HTTP");

  if (!late) {
    ADD_FAILURE() << "the stream ended before the late viewer was due";
    return {};
  }
  EXPECT_EQ(late->wait(20s), 0) << read_file(dir / "late.err");
  expect_h264_and_aac(
      probe((dir / "late.body").string(), dir, "late_probe", late_between_key_frames),
      "late viewer");
  EXPECT_TRUE(wait_until([&] { return fanout->viewer_count() == 0; }));
  return read_file(dir / "late.body");
}

std::uint16_t pid_of(std::string_view packet) {
  return static_cast<std::uint16_t>(((packet[1] & 0x1f) << 8) | (packet[2] & 0xff));
}

TEST(HttpFanout, MpegTsViewersAndALateJoinerEachGetAPlayableStream) {
  std::string fed;
  const std::string joined =
      view_live_stream(StreamKind::mpegts, {"-f", "mpegts", "pipe:1"}, 2.5, false, fed);
  ASSERT_GT(fed.size(), 100'000U);
  ASSERT_EQ(fed.size() % kTsPacketSize, 0U);
  EXPECT_GT(joined.size(), 10'000U);
  EXPECT_LT(joined.size(), fed.size() * 3 / 4);
  EXPECT_EQ(joined.size() % kTsPacketSize, 0U);
  // The PAT and the PMT first, then the stream from the packet that starts a key frame.
  ASSERT_GT(joined.size(), 3 * kTsPacketSize);
  EXPECT_EQ(pid_of(joined), 0);
  const std::string rest = joined.substr(2 * kTsPacketSize);
  EXPECT_EQ(pid_of(rest), 0x100) << "ffmpeg's first video PID";
  EXPECT_NE(rest[1] & 0x40, 0) << "not the start of a PES";
  EXPECT_TRUE(is_suffix(fed, rest)) << "the late viewer got a gap or foreign bytes";
}

// Feeds ffmpeg's stream to the fan-out while three viewers join at random moments in
// [from, to) seconds; `start_viewer(name)` starts one. The viewers, in the order they joined.
std::vector<std::unique_ptr<Child>> join_three_viewers(
    HttpFanout& fanout, const std::vector<std::string>& ffmpeg, const TempDir& dir, double from,
    double to, const std::function<std::unique_ptr<Child>(const std::string&)>& start_viewer) {
  std::random_device seed;
  std::mt19937 generator(seed());
  std::uniform_real_distribution<double> moment(from, to);
  std::vector<double> moments = {moment(generator), moment(generator), moment(generator)};
  std::sort(moments.begin(), moments.end());
  SCOPED_TRACE(::testing::Message()
               << "joining at " << moments[0] << ", " << moments[1] << ", " << moments[2] << " s");
  std::vector<std::unique_ptr<Child>> viewers;
  feed_from_ffmpeg(fanout, ffmpeg, dir, [&](double seconds) {
    if (viewers.size() == moments.size() || seconds < moments[viewers.size()]) return;
    viewers.push_back(start_viewer("viewer" + std::to_string(viewers.size())));
  });
  fanout.finish();
  return viewers;
}

// ffmpeg decoding one picture and ending. It would read a live MPEG-TS for its whole analysis
// time (new streams may still turn up) before decoding anything; a player starts at once.
std::vector<std::string> first_picture_argv(const std::string& address) {
  return {"ffmpeg",           "-v", "error", "-probesize", "32",
          "-analyzeduration", "0",  "-i",    address,      "-an",
          "-frames:v",        "1",  "-f",    "null",       "-"};
}

// ffmpeg writes a key frame every 10 s, so viewers joining at random moments between two of
// them decode their first picture at once only when they start at the last one.
TEST(HttpFanout, MpegTsViewersJoiningBetweenKeyFramesDecodeTheirFirstPictureWithoutErrors) {
  TempDir dir;
  auto fanout = start_fanout({.kind = StreamKind::mpegts});
  ASSERT_NE(fanout, nullptr);
  const auto viewers = join_three_viewers(
      *fanout, ffmpeg_args({"-f", "mpegts", "pipe:1"}, "250", "5"), dir, 0.5, 3.5,
      [&](const std::string& name) {
        return std::make_unique<Child>(first_picture_argv(url(*fanout, "/live.ts")),
                                       dir / (name + ".out"), dir / (name + ".err"));
      });
  ASSERT_EQ(viewers.size(), 3U);
  for (std::size_t k = 0; k < viewers.size(); ++k) {
    const std::string name = "viewer" + std::to_string(k);
    EXPECT_EQ(viewers[k]->wait(20s), 0) << name;
    EXPECT_EQ(read_file(dir / (name + ".err")), "") << name;
  }
  EXPECT_EQ(fanout->statistics().viewers_started_at_key_frame, 3U);
}

// Fragments cut every half second whatever the pictures, so most start without a key frame:
// every viewer must still start at one.
TEST(HttpFanout, Mp4ViewersStartAtTheLatestFragmentThatBeginsWithAKeyFrame) {
  TempDir dir;
  auto fanout = start_fanout({.kind = StreamKind::fragmented_mp4});
  ASSERT_NE(fanout, nullptr);
  const auto viewers = join_three_viewers(
      *fanout,
      ffmpeg_args({"-f", "mp4", "-movflags", "empty_moov+default_base_moof", "-frag_duration",
                   "500000", "pipe:1"},
                  "250", "5"),
      dir, 1.0, 3.5,
      [&](const std::string& name) { return start_curl(url(*fanout, "/1.mp4"), dir, name); });
  ASSERT_EQ(viewers.size(), 3U);
  for (std::size_t k = 0; k < viewers.size(); ++k) {
    const std::string name = "viewer" + std::to_string(k);
    ASSERT_EQ(viewers[k]->wait(20s), 0) << read_file(dir / (name + ".err"));
    const auto frames =
        run({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "frame=key_frame",
             "-of", "default=nw=1:nk=1", (dir / (name + ".body")).string()},
            dir, name + "_frames");
    EXPECT_EQ(frames.status, 0) << frames.err;
    EXPECT_EQ(frames.err, "") << name;
    EXPECT_TRUE(frames.out.starts_with("1\n")) << name << ": " << frames.out.substr(0, 40);
  }
  EXPECT_EQ(fanout->statistics().viewers_started_at_key_frame, 3U);
}

// A key frame further back than the bound would leave a viewer too little room to catch up: it
// joins at the live edge instead, as before key frames were kept.
TEST(HttpFanout, KeyFrameFurtherBackThanTheBoundIsNotWhereAViewerStarts) {
  using namespace testing_support;
  auto fanout = start_fanout({.kind = StreamKind::mpegts, .viewer_backlog_limit = 64 * 1024});
  ASSERT_NE(fanout, nullptr);
  std::string fed;
  auto feed = [&](const std::string& bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += 20 * kTsPacketSize) {
      fanout->feed(std::string_view(bytes).substr(at, 20 * kTsPacketSize));
      std::this_thread::sleep_for(2ms);
    }
    fed += bytes;
  };
  auto pictures = [](std::size_t bytes) {
    std::string stream;
    while (stream.size() < bytes)
      stream += ts_pes(kVideoPid, h264_picture(false) + std::string(1500, 'p'), false);
    return stream;
  };
  const std::string tables = ts_pat() + ts_pmt(0x1b);
  feed(tables);
  const std::size_t key_at = fed.size();
  feed(ts_pes(kVideoPid, h264_picture(true), false) + pictures(20 * 1024));
  auto near = watch(fanout->port());
  ASSERT_TRUE(wait_until([&] { return fanout->viewer_count() == 1; }));
  feed(pictures(20 * 1024));  // now more than half the ring since the key frame
  auto far = watch(fanout->port());
  ASSERT_TRUE(wait_until([&] { return fanout->viewer_count() == 2; }));
  const std::size_t far_joined = fed.size();
  feed(pictures(8 * 1024));
  fanout->finish();

  EXPECT_TRUE(near.get().body == tables + fed.substr(key_at));
  EXPECT_TRUE(far.get().body == fed.substr(far_joined));
  const FanoutStatistics statistics = fanout->statistics();
  EXPECT_EQ(statistics.viewers_started_at_key_frame, 1U);
  EXPECT_EQ(statistics.viewers_dropped, 0U);
}

// Where each fragment of a fragmented MP4 begins (its first styp, sidx or moof) and whether it
// opens with a key frame; `init` becomes what comes before the first.
struct Mp4Fragment {
  std::size_t at = 0;
  bool sync = false;
};

std::vector<Mp4Fragment> mp4_fragments(const std::string& stream, std::string& init) {
  std::vector<Mp4Fragment> fragments;
  std::vector<Mp4TrackDefaults> defaults;
  bool in_head = false;
  for (std::size_t at = 0; at + 8 <= stream.size();) {
    Mp4BoxHeader box;
    if (parse_mp4_box_header(std::string_view(stream).substr(at), box) != Mp4HeaderParse::complete)
      break;
    const bool head = box.is("styp") || box.is("sidx") || box.is("moof");
    if (head && !in_head) {
      if (fragments.empty()) {
        init = stream.substr(0, at);
        defaults = read_mp4_track_defaults(init);
      }
      fragments.push_back({at, false});
    }
    if (box.is("moof")) {
      fragments.back().sync = classify_mp4_fragment(std::string_view(stream).substr(at, box.size),
                                                    defaults) == Mp4FragmentStart::sync;
    }
    in_head = head;
    at += box.size;
  }
  return fragments;
}

// Half-second fragments as the engine's HTML5 line asks for, a key frame every 2 s. A viewer
// whose latest key frame lies beyond the instant-start bound must not start at the next fragment,
// which opens between key frames and cannot be decoded: it waits for the next key frame.
TEST(HttpFanout, Mp4ViewerTooFarFromAKeyFrameStartsAtTheNextOneNotAtTheNextFragment) {
  TempDir dir;
  std::vector<std::string> argv = ffmpeg_args(
      {"-movflags", "dash+frag_keyframe", "-frag_duration", "500000", "-f", "mp4", "pipe:1"}, "50",
      "5");
  argv.erase(std::find(argv.begin(), argv.end(), "-re"));
  const auto made = run(argv, dir, "stream");
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string& stream = made.out;
  std::string init;
  const std::vector<Mp4Fragment> fragments = mp4_fragments(stream, init);
  std::vector<std::size_t> keys;
  for (const Mp4Fragment& fragment : fragments)
    if (fragment.sync) keys.push_back(fragment.at);
  ASSERT_GE(keys.size(), 3U);
  ASSERT_GT(fragments.size(), 3 * keys.size()) << "fragments are not cut between key frames";
  // The viewer comes three fragments after the second key frame, a bound too short to reach it.
  std::size_t join_at = 0;
  for (std::size_t k = 0; k < fragments.size(); ++k)
    if (fragments[k].at == keys[1]) join_at = fragments[k + 3].at;
  ASSERT_LT(join_at, keys[2]);

  auto fanout = start_fanout(
      {.kind = StreamKind::fragmented_mp4, .instant_start_limit = (join_at - keys[1]) / 2});
  ASSERT_NE(fanout, nullptr);
  auto feed = [&](std::size_t from, std::size_t to) {
    for (std::size_t at = from; at < to; at += 1000)
      fanout->feed(std::string_view(stream).substr(at, std::min<std::size_t>(1000, to - at)));
  };
  feed(0, join_at);
  auto viewer = watch(fanout->port());
  ASSERT_TRUE(wait_until([&] { return fanout->viewer_count() == 1; }));
  feed(join_at, stream.size());
  fanout->finish();
  ASSERT_EQ(viewer.wait_for(10s), std::future_status::ready);
  const std::string body = viewer.get().body;
  EXPECT_TRUE(body == init + stream.substr(keys[2]))
      << "got " << body.size() << " bytes; from the next key frame would be "
      << init.size() + stream.size() - keys[2];
}

TEST(HttpFanout, FragmentedMp4ViewersGetTheInitSegmentThenWholeFragments) {
  std::string fed;
  const std::string joined = view_live_stream(
      StreamKind::fragmented_mp4,
      {"-f", "mp4", "-movflags", "frag_keyframe+empty_moov+default_base_moof", "pipe:1"}, 2.0,
      false, fed);
  const std::size_t first_fragment = fed.find("moof") - 4;
  ASSERT_LT(first_fragment, 10'000U);
  const std::string init = fed.substr(0, first_fragment);
  ASSERT_EQ(init.substr(4, 4), "ftyp");
  ASSERT_NE(init.find("moov"), std::string::npos);

  ASSERT_GT(joined.size(), init.size() + 8);
  EXPECT_EQ(joined.substr(0, init.size()), init);
  const std::string rest = joined.substr(init.size());
  EXPECT_EQ(rest.substr(4, 4), "moof") << "the late viewer did not start at a fragment";
  EXPECT_LT(rest.size(), fed.size() * 3 / 4);
  EXPECT_TRUE(is_suffix(fed, rest)) << "the late viewer got a gap or foreign bytes";
}

struct Part {
  std::string headers;
  std::string jpeg;
};

// Splits a multipart/x-mixed-replace body; false when it is not well formed, including a
// missing closing delimiter.
bool parse_parts(const std::string& body, const std::string& boundary, std::vector<Part>& parts) {
  const std::string delimiter = "--" + boundary;
  std::size_t at = 0;
  while (true) {
    if (body.compare(at, delimiter.size(), delimiter) != 0) return false;
    at += delimiter.size();
    if (body.compare(at, 4, "--\r\n") == 0) return at + 4 == body.size();
    if (body.compare(at, 2, "\r\n") != 0) return false;
    const std::size_t headers_end = body.find("\r\n\r\n", at);
    if (headers_end == std::string::npos) return false;
    Part part;
    part.headers = body.substr(at + 2, headers_end - at - 2);
    const std::size_t length_at = part.headers.find("Content-Length: ");
    if (length_at == std::string::npos) return false;
    const std::size_t length = std::stoul(part.headers.substr(length_at + 16));
    at = headers_end + 4;
    if (at + length + 2 > body.size()) return false;
    part.jpeg = body.substr(at, length);
    at += length;
    if (body.compare(at, 2, "\r\n") != 0) return false;
    at += 2;
    parts.push_back(std::move(part));
  }
}

TEST(HttpFanout, MjpegViewersGetWholePicturesAsMultipartParts) {
  TempDir dir;
  auto fanout = start_fanout({.kind = StreamKind::mjpeg});
  ASSERT_NE(fanout, nullptr);
  auto early = watch(fanout->port(), "/camera.mjpg");
  ASSERT_TRUE(wait_until([&] { return fanout->viewer_count() == 1; }));
  std::future<Reply> late;
  const std::string fed =
      feed_from_ffmpeg(*fanout,
                       {"ffmpeg", "-hide_banner", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                        "testsrc=size=320x240:rate=10", "-t", "3", "-c:v", "mjpeg", "-q:v", "5",
                        "-f", "mjpeg", "pipe:1"},
                       dir, [&](double seconds) {
                         if (!late.valid() && seconds >= 1.5)
                           late = watch(fanout->port(), "/other");
                       });
  fanout->finish();

  ASSERT_TRUE(late.valid());
  for (Reply reply : {early.get(), late.get()}) {
    const std::string type = "Content-Type: multipart/x-mixed-replace; boundary=";
    const std::size_t type_at = reply.head.find(type);
    ASSERT_NE(type_at, std::string::npos) << reply.head;
    EXPECT_EQ(reply.head.find("HTTP/1.1 200"), 0U) << reply.head;
    const std::string boundary = reply.head.substr(
        type_at + type.size(), reply.head.find("\r\n", type_at) - type_at - type.size());
    std::vector<Part> parts;
    ASSERT_TRUE(parse_parts(reply.body, boundary, parts)) << reply.body.substr(0, 200);
    ASSERT_GE(parts.size(), 5U);
    std::string pictures;
    for (const Part& part : parts) {
      EXPECT_NE(part.headers.find("Content-Type: image/jpeg"), std::string::npos);
      ASSERT_GE(part.jpeg.size(), 4U);
      EXPECT_EQ(part.jpeg.substr(0, 2), "\xff\xd8");
      EXPECT_EQ(part.jpeg.substr(part.jpeg.size() - 2), "\xff\xd9");
      pictures += part.jpeg;
    }
    // The mjpeg muxer writes pictures back to back, so a viewer's pictures are a tail of it.
    EXPECT_TRUE(is_suffix(fed, pictures));
    std::ofstream(dir / "picture.jpg", std::ios::binary) << parts.back().jpeg;
    const std::string streams = probe((dir / "picture.jpg").string(), dir, "picture");
    EXPECT_NE(streams.find("codec_name=mjpeg"), std::string::npos) << streams;
    EXPECT_NE(streams.find("width=320"), std::string::npos) << streams;
  }
}

// ---------------------------------------------------------------------------------------------
// Slow viewers, ends, TLS, failures

TEST(HttpFanout, ViewerThatStopsReadingIsDroppedWhileOthersGetEveryByte) {
  auto fanout = start_fanout({.kind = StreamKind::mpegts, .viewer_backlog_limit = 4 << 20});
  ASSERT_NE(fanout, nullptr);
  auto first = watch(fanout->port());
  auto second = watch(fanout->port());
  UniqueFd stalled = connect_local(fanout->port(), 4096);
  ASSERT_TRUE(stalled);
  ASSERT_TRUE(send_text(stalled.get(), request("GET", "/live")));
  ASSERT_TRUE(wait_until([&] { return fanout->viewer_count() == 3; }));

  // 24 MB: far more than the stalled viewer's socket buffers and its backlog limit together.
  const std::string fed = feed_numbered(*fanout, (24U << 20) / kTsPacketSize, 200, 5ms);
  EXPECT_EQ(fanout->statistics().viewers_dropped, 1U);
  EXPECT_EQ(fanout->viewer_count(), 2U);
  // Its connection goes at once, though it still reads nothing.
  EXPECT_TRUE(wait_until([&] { return fanout->statistics().open_responses == 2; }));
  fanout->finish();

  EXPECT_TRUE(first.get().body == fed);
  EXPECT_TRUE(second.get().body == fed);
  // The dropped viewer's connection is closed; what it got before is the stream's start.
  bool closed = false;
  const Reply cut = split_reply(read_to_end(stalled.get(), 10s, &closed));
  EXPECT_TRUE(closed);
  EXPECT_LT(cut.body.size(), fed.size());
  EXPECT_EQ(fed.compare(0, cut.body.size(), cut.body), 0);
  EXPECT_TRUE(wait_until([&] { return fanout->viewer_count() == 0; }));
  EXPECT_EQ(fanout->statistics().viewers_served, 3U);
}

TEST(HttpFanout, FinishEndsViewersStillWaitingForTheirFirstFragment) {
  auto fanout = start_fanout({.kind = StreamKind::fragmented_mp4});
  ASSERT_NE(fanout, nullptr);
  auto waiting = watch(fanout->port());
  ASSERT_TRUE(wait_until([&] { return fanout->viewer_count() == 1; }));
  fanout->feed(std::string("\0\0\0\x10", 4) + "ftyp" + std::string(8, 'i'));  // no fragment yet
  fanout->finish();
  ASSERT_EQ(waiting.wait_for(10s), std::future_status::ready);
  const Reply reply = waiting.get();
  EXPECT_EQ(reply.head.find("HTTP/1.1 200"), 0U);
  EXPECT_EQ(reply.body, "");
}

TEST(HttpFanout, DestroyingTheFanoutClosesEveryViewer) {
  auto fanout = start_fanout({.kind = StreamKind::mpegts});
  ASSERT_NE(fanout, nullptr);
  auto first = watch(fanout->port());
  auto second = watch(fanout->port());
  ASSERT_TRUE(wait_until([&] { return fanout->viewer_count() == 2; }));
  const std::string fed = numbered_packets(0, 100);
  fanout->feed(fed);
  // Most likely both have read everything and wait, suspended, when the server goes away.
  std::this_thread::sleep_for(200ms);
  fanout.reset();
  for (auto* viewer : {&first, &second}) {
    ASSERT_EQ(viewer->wait_for(10s), std::future_status::ready);
    const std::string body = viewer->get().body;
    EXPECT_EQ(fed.compare(0, body.size(), body), 0);
  }
}

TEST(HttpFanout, AnswersHeadWithHeadersOnlyAndRefusesOtherMethods) {
  const std::vector<std::pair<StreamKind, std::string>> kinds = {
      {StreamKind::mpegts, "Content-Type: video/mp2t\r\n"},
      {StreamKind::fragmented_mp4, "Content-Type: video/mp4\r\n"},
      {StreamKind::mjpeg, "Content-Type: multipart/x-mixed-replace; boundary="}};
  for (const auto& [kind, type] : kinds) {
    auto fanout = start_fanout({.kind = kind});
    ASSERT_NE(fanout, nullptr);
    UniqueFd head = connect_local(fanout->port());
    ASSERT_TRUE(send_text(head.get(), request("HEAD", "/x")));
    const Reply reply = split_reply(read_to_end(head.get(), 10s));
    EXPECT_EQ(reply.head.find("HTTP/1.1 200"), 0U) << reply.head;
    EXPECT_NE(reply.head.find(type), std::string::npos) << reply.head;
    EXPECT_NE(reply.head.find("Cache-Control: no-cache"), std::string::npos) << reply.head;
    EXPECT_EQ(reply.body, "");

    UniqueFd post = connect_local(fanout->port());
    ASSERT_TRUE(send_text(post.get(), request("POST", "/x")));
    const Reply refused = split_reply(read_to_end(post.get(), 10s));
    EXPECT_EQ(refused.head.find("HTTP/1.1 405"), 0U) << refused.head;
    EXPECT_NE(refused.head.find("Allow: GET, HEAD"), std::string::npos) << refused.head;
    EXPECT_EQ(fanout->statistics().viewers_served, 0U);
  }
}

bool make_certificate(const TempDir& dir) {
  const Run made = run(
      {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1",
       "-days", "1", "-keyout", (dir / "key.pem").string(), "-out", (dir / "cert.pem").string()},
      dir, "openssl");
  return made.status == 0;
}

TEST(HttpFanout, ServesHttpsWithACertificateFromPemFiles) {
  TempDir dir;
  ASSERT_TRUE(make_certificate(dir)) << "openssl could not make a test certificate";
  auto fanout = start_fanout({.kind = StreamKind::mpegts,
                              .tls_cert_path = (dir / "cert.pem").string(),
                              .tls_key_path = (dir / "key.pem").string()});
  ASSERT_NE(fanout, nullptr);
  Child curl({"curl", "-k", "-s", "-S", "--max-time", "60", "-o", (dir / "got.ts").string(),
              url(*fanout, "/secure.ts", true)},
             dir / "curl.out", dir / "curl.err");
  // One more viewer hangs up in the middle of the stream, which must not harm the server.
  Child quitter({"curl", "-k", "-s", "--max-time", "0.3", "-o", "/dev/null",
                 url(*fanout, "/secure.ts", true)},
                dir / "quitter.out", dir / "quitter.err");
  ASSERT_TRUE(wait_until([&] { return fanout->viewer_count() == 2; }));
  const std::string fed = feed_numbered(*fanout, 20'000, 500, 25ms);
  fanout->finish();
  EXPECT_EQ(quitter.wait(20s), 28) << "curl should have given up on its time limit";
  ASSERT_EQ(curl.wait(20s), 0) << read_file(dir / "curl.err");
  EXPECT_TRUE(read_file(dir / "got.ts") == fed);
}

// ---------------------------------------------------------------------------------------------
// Connections that hold descriptors without watching

constexpr std::uint32_t kCrowd = 0x7f000002;      // 127.0.0.2
constexpr std::uint32_t kElsewhere = 0x7f000003;  // 127.0.0.3
constexpr std::uint32_t kNeighbour = 0x7f000004;  // 127.0.0.4

std::vector<UniqueFd> idle_sockets(std::uint16_t port, std::uint32_t source, std::size_t count) {
  std::vector<UniqueFd> sockets;
  for (std::size_t k = 0; k < count; ++k) {
    sockets.push_back(connect_local(port, 0, source, static_cast<std::uint16_t>(kCrowdPorts + k)));
    EXPECT_TRUE(sockets.back()) << "connection " << k;
  }
  return sockets;
}

// Stream bytes a viewer from `source` gets while packets are fed, within `limit`; empty when
// the server closed it or sent nothing.
std::string first_stream_bytes(HttpFanout& fanout, std::uint32_t source,
                               Clock::duration limit = 5s) {
  UniqueFd fd = connect_local(fanout.port(), 0, source);
  if (!fd || !send_text(fd.get(), request("GET", "/live"))) return {};
  std::string received;
  const auto deadline = Clock::now() + limit;
  std::uint32_t next = 0;
  char buffer[65536];
  while (Clock::now() < deadline) {
    fanout.feed(numbered_packets(next++, 1));
    pollfd waiting{fd.get(), POLLIN, 0};
    if (::poll(&waiting, 1, 20) <= 0) continue;
    const ssize_t count = ::recv(fd.get(), buffer, sizeof buffer, 0);
    if (count <= 0) return {};
    received.append(buffer, static_cast<std::size_t>(count));
    const Reply reply = split_reply(received);
    if (reply.status() == 200 && !reply.body.empty()) return reply.body;
  }
  return {};
}

TEST(HttpFanout, AddressesBeyondTheirShareAreTurnedAwayAtOnceAndOthersStillWatch) {
  struct Case {
    std::string name;
    std::size_t per_address;
    std::size_t connection_limit;  // 0: the descriptor budget
    std::size_t crowd;             // idle sockets from 127.0.0.2
    std::size_t neighbours;        // idle sockets from 127.0.0.4
    std::size_t crowd_kept;
    bool elsewhere_watches;  // a viewer from 127.0.0.3
  };
  const Case cases[] = {
      {"one address over its limit", 20, 0, 35, 0, 20, true},
      {"one address at its limit", 20, 0, 20, 5, 20, true},
      // Every place taken: the next one is closed at once rather than left waiting.
      {"every connection taken", 20, 25, 20, 5, 20, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto fanout = start_fanout({.kind = StreamKind::mpegts,
                                .viewers_per_address = c.per_address,
                                .connection_limit = c.connection_limit});
    ASSERT_NE(fanout, nullptr);
    const std::vector<UniqueFd> crowd = idle_sockets(fanout->port(), kCrowd, c.crowd);
    const std::vector<UniqueFd> neighbours = idle_sockets(fanout->port(), kNeighbour, c.neighbours);
    EXPECT_TRUE(wait_until([&] { return count_not_closed(crowd) == c.crowd_kept; }, 5s))
        << count_not_closed(crowd) << " of " << c.crowd << " still open";
    const auto asked = Clock::now();
    const std::string body = first_stream_bytes(*fanout, kElsewhere);
    EXPECT_LT(Clock::now() - asked, 2s) << "the viewer was kept waiting";
    EXPECT_EQ(!body.empty(), c.elsewhere_watches);
    if (!body.empty()) {
      EXPECT_EQ(body[0], kTsSyncByte);
    }
    // The connections kept are still there once the others have come and gone.
    EXPECT_EQ(count_not_closed(crowd), c.crowd_kept);
    EXPECT_EQ(count_not_closed(neighbours), c.neighbours);
  }
}

TEST(HttpFanout, RequestHeadsNotDoneInTimeAreClosedWhileViewersWatchOn) {
  auto fanout = start_fanout({.kind = StreamKind::mpegts, .head_deadline = 1s});
  ASSERT_NE(fanout, nullptr);
  auto viewer = watch(fanout->port());
  ASSERT_TRUE(wait_until([&] { return fanout->viewer_count() == 1; }));
  const auto connected = Clock::now();
  UniqueFd silent = connect_local(fanout->port());
  UniqueFd trickling = connect_local(fanout->port());
  ASSERT_TRUE(silent && trickling);
  ASSERT_TRUE(send_text(trickling.get(), "GET /live HTTP/1.1\r\nX-Slow: "));

  // A byte every 50 ms, far inside the idle timeout, and packets for the viewer meanwhile.
  std::string fed;
  Clock::duration trickler_closed_after{};
  std::uint32_t next = 0;
  while (Clock::now() - connected < 3s) {
    if (trickler_closed_after == Clock::duration{} && !send_text(trickling.get(), "x"))
      trickler_closed_after = Clock::now() - connected;
    const std::string packets = numbered_packets(next, 10);
    next += 10;
    fanout->feed(packets);
    fed += packets;
    std::this_thread::sleep_for(50ms);
  }
  fanout->finish();

  EXPECT_TRUE(peer_closed(silent.get()));
  EXPECT_TRUE(peer_closed(trickling.get()));
  // Closed for its deadline, not for anything before it.
  EXPECT_GE(trickler_closed_after, 1s);
  EXPECT_LT(trickler_closed_after, 2500ms);
  // The viewer connected before both and watched through to the end.
  ASSERT_EQ(viewer.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(viewer.get().body == fed);
  EXPECT_EQ(fanout->statistics().viewers_dropped, 0U);
}

TEST(HttpFanout, StartFailuresNameTheAddressAndTheReason) {
  TempDir dir;
  // A port someone else listens on.
  UniqueFd taken(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(taken.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(taken.get(), 1), 0);
  ASSERT_EQ(::getsockname(taken.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::uint16_t busy = ntohs(address.sin_port);
  const std::string port = std::to_string(busy);

  std::string error;
  EXPECT_EQ(HttpFanout::start({.host = "127.0.0.1", .port = busy}, error), nullptr);
  EXPECT_NE(error.find("127.0.0.1:" + port), std::string::npos) << error;
  EXPECT_NE(error.find("port " + port + " is already in use"), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;

  error.clear();
  EXPECT_EQ(HttpFanout::start({.host = "127.0.0.1",
                               .tls_cert_path = (dir / "missing.pem").string(),
                               .tls_key_path = (dir / "missing-key.pem").string()},
                              error),
            nullptr);
  EXPECT_NE(error.find("missing.pem"), std::string::npos) << error;

  error.clear();
  EXPECT_EQ(HttpFanout::start({.host = "127.0.0.1", .tls_cert_path = "cert.pem"}, error), nullptr);
  EXPECT_NE(error.find("both a certificate and a key"), std::string::npos) << error;

  // Files that are no PEM at all: the daemon refuses them, and must let go of the port.
  std::ofstream(dir / "junk.pem") << "not a certificate\n";
  taken.reset();
  error.clear();
  EXPECT_EQ(HttpFanout::start({.host = "127.0.0.1",
                               .port = busy,
                               .tls_cert_path = (dir / "junk.pem").string(),
                               .tls_key_path = (dir / "junk.pem").string()},
                              error),
            nullptr);
  EXPECT_NE(error.find("https://127.0.0.1:" + port + ": the certificate or key is not usable"),
            std::string::npos)
      << error;
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  error.clear();
  EXPECT_NE(HttpFanout::start({.host = "127.0.0.1", .port = busy}, error), nullptr) << error;
}

}  // namespace
}  // namespace vx
