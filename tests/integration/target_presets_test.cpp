// Every address the editor fills in for a newly chosen target format, stored as the window stores
// it (channel 1, the default httpPort, the output folder in a temporary one), run through the
// engine and the real morvi-transcoder and seen streaming by a real receiver, or by the server the
// operator would run for it (nginx-rtmp, an RTSP server, an FTP server).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/document.h"
#include "config/json.h"
#include "config/store.h"
#include "engine/channel_compiler.h"
#include "engine/channel_status.h"
#include "engine/engine.h"
#include "window_logic/editor_panel.h"
#include "tests/integration/engine_start.h"
#include "tests/support/peers.h"
#include "vocabulary/product.h"

namespace vx {
namespace {

using namespace testing_support;

constexpr auto kStreamLimit = 15s;
// Long enough for a first HLS segment and a DASH one to be closed by the stop.
constexpr auto kRecordingTime = 3s;
constexpr char kTsSync = 0x47;
constexpr int kRtpVersion2 = 0x80;
constexpr int kRtpPayloadMpegTs = 33;

// A peer that takes one FTP upload into memory (any login, extended passive mode), on a thread.
class FtpReceiver {
 public:
  FtpReceiver() : control_(listening_socket()) {
    thread_ = std::thread([this] { serve(); });
  }
  FtpReceiver(const FtpReceiver&) = delete;
  FtpReceiver& operator=(const FtpReceiver&) = delete;
  ~FtpReceiver() {
    ::shutdown(control_.get(), SHUT_RDWR);
    if (data_) ::shutdown(data_.get(), SHUT_RDWR);
    thread_.join();
  }
  std::uint16_t port() const { return port_of(control_); }
  std::string received() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  static UniqueFd listening_socket() {
    UniqueFd fd = bound_socket(Transport::tcp, 0);
    if (fd) ::listen(fd.get(), 1);
    return fd;
  }
  void serve() {
    const UniqueFd client(::accept(control_.get(), nullptr, nullptr));
    const auto say = [&](const std::string& line) {
      const std::string text = line + "\r\n";
      ::send(client.get(), text.data(), text.size(), MSG_NOSIGNAL);
    };
    std::string pending;
    char buffer[64 * 1024];
    say("220 ready");
    for (ssize_t count; client && (count = ::recv(client.get(), buffer, sizeof buffer, 0)) > 0;) {
      pending.append(buffer, static_cast<std::size_t>(count));
      for (std::size_t end; (end = pending.find("\r\n")) != std::string::npos;) {
        const std::string command = pending.substr(0, std::min(pending.find(' '), end));
        pending.erase(0, end + 2);
        if (command == "USER") {
          say("331 password");
        } else if (command == "PASS") {
          say("230 in");
        } else if (command == "PWD") {
          say("257 \"/\"");
        } else if (command == "TYPE") {
          say("200 binary");
        } else if (command == "EPSV") {
          data_ = listening_socket();
          say("229 passive (|||" + std::to_string(port_of(data_)) + "|)");
        } else if (command == "STOR" && data_) {
          say("150 go");
          const UniqueFd upload(::accept(data_.get(), nullptr, nullptr));
          for (ssize_t size;
               upload && (size = ::recv(upload.get(), buffer, sizeof buffer, 0)) > 0;) {
            const std::lock_guard<std::mutex> lock(mutex_);
            received_.append(buffer, static_cast<std::size_t>(size));
          }
          say("226 stored");
        } else {
          say("502 not here");
        }
      }
    }
  }

  UniqueFd control_;
  UniqueFd data_;
  std::thread thread_;
  std::mutex mutex_;
  std::string received_;
};

// The URL with `port` in place of its own (inserted after the host when it names none).
std::string with_port(const std::string& url, std::uint16_t port) {
  const std::size_t host = url.find("://") + 3;
  const std::size_t end = url.find_first_of(":/?", host);
  const std::size_t rest = url[end] == ':' ? url.find_first_of("/?", end) : end;
  return url.substr(0, end) + ":" + std::to_string(port) +
         (rest == std::string::npos ? "" : url.substr(rest));
}

// The preset's port, or a free one when something else on this machine holds it: the port is
// then the only difference from the preset, and the trace says so.
std::uint16_t usable_port(Transport transport, std::uint16_t preset) {
  if (!port_taken(transport, preset)) return preset;
  const std::uint16_t free = transport == Transport::tcp ? free_tcp_port() : free_udp_ports(2);
  std::cout << "port " << preset << " is taken here; the preset runs on " << free << "\n";
  return free;
}

// "" when the stream was seen, else what is missing so far.
using Verdict = std::function<std::string()>;

// What a receiving program has printed so far; it is started again when it ends before its
// output passes (a receiver may come before the channel is ready for it).
Verdict rerun_until(std::vector<std::string> argv, fs::path out,
                    std::function<bool(const std::string&)> passes) {
  auto peer = std::make_shared<std::unique_ptr<Peer>>();
  return [=]() -> std::string {
    if (*peer && passes(read_text(out))) return "";
    if (*peer && (*peer)->running()) return "nothing yet from " + (*peer)->report();
    const std::string before = *peer ? (*peer)->report() : "not started";
    peer->reset();  // the old one is reaped before its files are opened again
    *peer = std::make_unique<Peer>(argv, out, out.string() + ".err");
    return before;
  };
}

bool holds(std::string_view text, std::string_view marker) {
  return text.find(marker) != std::string::npos;
}

bool shows_video(const std::string& listing) {
  for (const Stream& stream : parse_probe(listing)) {
    if (stream.type == "video" && stream.packets > 0) return true;
  }
  return false;
}

std::string probed_video(const fs::path& folder, const fs::path& media) {
  const ProbeResult result = probe(folder, media.string());
  if (!result.error.empty()) return result.error;
  return result.packets("video") > 0 ? "" : "no pictures in " + media.string();
}

// What a case needs while its channel runs: the peers and sockets it holds, and how it sees the
// stream. Files are judged only once the channel has stopped and closed them.
struct Watch {
  std::vector<std::shared_ptr<void>> held;
  Verdict verdict;
  bool after_stop = false;
};

struct PresetRun {
  std::string url;  // the preset; a port in it may be moved (usable_port)
  fs::path folder;  // for the peers' files
  int http_port = kDefaultHttpPort;
};

// The transcoder serves the channel on httpPort + 1; the administration server holds httpPort.
Watch served(PresetRun& run, std::string marker) {
  Watch watch;
  UniqueFd admin = bound_socket(Transport::tcp, static_cast<std::uint16_t>(run.http_port));
  if (admin) ::listen(admin.get(), 1);  // else it is held already, as a running server holds it
  watch.held.push_back(std::make_shared<UniqueFd>(std::move(admin)));
  const std::string address = "http://127.0.0.1:" + std::to_string(run.http_port + 1) + "/";
  watch.verdict = rerun_until({"curl", "-s", "-m", "2", address}, run.folder / "served.out",
                              [marker](const std::string& got) { return holds(got, marker); });
  return watch;
}

std::shared_ptr<UniqueFd> datagram_receiver(PresetRun& run, std::uint16_t preset) {
  const std::uint16_t port = usable_port(Transport::udp, preset);
  if (port != preset) run.url = with_port(run.url, port);
  auto socket = std::make_shared<UniqueFd>(bound_socket(Transport::udp, port));
  const timeval wait{0, 100000};
  ::setsockopt(socket->get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  return socket;
}

Watch udp_receiver(PresetRun& run) {
  auto socket = datagram_receiver(run, 1234);
  return {{socket}, [socket]() -> std::string {
            char datagram[2048];
            const ssize_t size = ::recv(socket->get(), datagram, sizeof datagram, 0);
            return size >= 188 && datagram[0] == kTsSync ? "" : "no MPEG-TS datagram";
          }};
}

Watch rtp_receiver(PresetRun& run) {
  auto socket = datagram_receiver(run, 1234);
  return {{socket}, [socket]() -> std::string {
            unsigned char packet[2048];
            const ssize_t size = ::recv(socket->get(), packet, sizeof packet, 0);
            const bool rtp = size > 12 && (packet[0] & 0xc0) == kRtpVersion2 &&
                             (packet[1] & 0x7f) == kRtpPayloadMpegTs && packet[12] == kTsSync;
            return rtp ? "" : "no RTP packet of MPEG-TS";
          }};
}

// The transcoder listens; srt-live-transmit calls it and writes what it gets. ffmpeg opens a
// listening SRT output only once a caller has come: until then the channel runs without figures.
Watch srt_caller(PresetRun& run) {
  const std::uint16_t port = usable_port(Transport::udp, 1234);
  if (port != 1234) run.url = with_port(run.url, port);
  return {{},
          rerun_until({"srt-live-transmit", "-q", "-a:no",
                       "srt://127.0.0.1:" + std::to_string(port), "file://con"},
                      run.folder / "srt.out", [](const std::string& got) {
                        return got.size() >= 188 && got[0] == kTsSync;
                      })};
}

// nginx with the RTMP module on the preset's server, and ffprobe playing what is published.
Watch rtmp_server(PresetRun& run) {
  const std::uint16_t port = usable_port(Transport::tcp, 1935);
  if (port != 1935) run.url = with_port(run.url, port);
  const fs::path conf = run.folder / "nginx.conf";
  std::ofstream(conf) << "daemon off;\nmaster_process off;\npid " << (run.folder / "nginx.pid")
                      << ";\nerror_log " << (run.folder / "nginx.err")
                      << ";\nload_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\nevents {}\n"
                      << "rtmp { server { listen 127.0.0.1:" << port
                      << "; application live { live on; } } }\n";
  auto nginx = std::make_shared<Peer>(
      std::vector<std::string>{"nginx", "-e", (run.folder / "nginx.err").string(), "-p",
                               run.folder.string(), "-c", conf.string()},
      run.folder / "nginx.out", run.folder / "nginx.err");
  wait_until([&] { return port_taken(Transport::tcp, port) || !nginx->running(); }, 10s);
  return {{nginx},
          rerun_until(probe_argv({"-read_intervals", "%+1"}, run.url), run.folder / "rtmp.out",
                      shows_video)};
}

// ffprobe is the RTSP server the transcoder publishes to.
Watch rtsp_server(PresetRun& run) {
  const std::uint16_t port = usable_port(Transport::tcp, 8554);
  if (port != 8554) run.url = with_port(run.url, port);
  auto server = std::make_shared<Peer>(
      probe_argv({"-rtsp_flags", "listen", "-listen_timeout", "20", "-read_intervals", "%+1"},
                 run.url),
      run.folder / "rtsp.out", run.folder / "rtsp.err");
  wait_until([&] { return port_taken(Transport::tcp, port) || !server->running(); }, 10s);
  return {{server}, [server]() -> std::string {
            if (server->running()) return "the server is still reading";
            return shows_video(server->out()) ? "" : server->report();
          }};
}

// The test's own FTP server takes the upload on a free port rather than the system port 21 the
// preset implies: the port is the only difference.
Watch ftp_server(PresetRun& run) {
  auto server = std::make_shared<FtpReceiver>();
  run.url = with_port(run.url, server->port());
  std::cout << "the FTP preset runs on port " << server->port() << "\n";
  return {{server}, [server]() -> std::string {
            const std::string got = server->received();
            return got.size() >= 188 && got[0] == kTsSync ? "" : "no MPEG-TS uploaded";
          }};
}

Watch written(PresetRun& run, std::string prefix) {
  const fs::path folder = fs::path(run.url).parent_path();
  Watch watch;
  watch.after_stop = true;
  watch.verdict = [folder, prefix, probes = run.folder]() -> std::string {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with(prefix)) return probed_video(probes, entry.path());
    }
    return "nothing named " + prefix + "... in " + folder.string();
  };
  return watch;
}

struct PresetCase {
  TargetFormatEntry entry;
  std::function<Watch(PresetRun&)> watch;
};

// MainConcept MPEG-TS (its plug-in), Decklink (a card) and NDI (its runtime) need what this
// machine lacks and are left out.
const PresetCase kCases[] = {
    {TargetFormatEntry::rtmp, rtmp_server},
    {TargetFormatEntry::udp, udp_receiver},
    {TargetFormatEntry::http, [](PresetRun& run) { return served(run, std::string(1, kTsSync)); }},
    {TargetFormatEntry::html5, [](PresetRun& run) { return served(run, "ftyp"); }},
    {TargetFormatEntry::rtpts, rtp_receiver},
    {TargetFormatEntry::hls, [](PresetRun& run) { return written(run, "morv_ch1.m3u8"); }},
    {TargetFormatEntry::dash, [](PresetRun& run) { return written(run, "morv_ch1.mpd"); }},
    {TargetFormatEntry::srt, srt_caller},
    {TargetFormatEntry::rtsp, rtsp_server},
    {TargetFormatEntry::local_file,
     [](PresetRun& run) { return written(run, "morv_ch1_recorded-"); }},
    {TargetFormatEntry::ftp, ftp_server},
    {TargetFormatEntry::httpmjpg, [](PresetRun& run) { return served(run, "\xff\xd8"); }},
};

class TargetPresets : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fresh_test_folder("vx-presets");
    ASSERT_TRUE(make_test_clip(folder_ / "clip.mp4", 2, folder_ / "clip"));
    ASSERT_EQ(start_engine_with_transcoder(folder_), 0);
  }
  void TearDown() override {
    engine_shutdown();
    config_free();
    fs::remove_all(folder_);
  }

  // The new-channel template with the clip as its source and `format` chosen in the editor.
  JsonPtr chosen(TargetFormatEntry format, const fs::path& output_folder, int http_port) const {
    JsonPtr channel = channel_template();
    config_set_string(
        cJSON_GetArrayItem(config_array(config_object(channel.get(), "input"), "sources"), 0),
        "url", (folder_ / "clip.mp4").string());
    const JsonPtr global = json_parse(R"({"httpPort": )" + std::to_string(http_port) + "}");
    EditorEnvironment environment = editor_environment(global.get(), 1, "", {});
    environment.output_folder = output_folder.string();
    EditorPanel panel;
    panel.load(channel.get(), 0);
    panel.choose_target_format(static_cast<int>(format), environment, channel.get());
    const std::optional<EditRefusal> refusal = panel.validate();
    EXPECT_FALSE(refusal) << refusal->message.text;
    panel.save(channel.get(), 0);
    return channel;
  }

  static bool poll_until(const std::function<bool()>& done, Clock::duration limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
      engine_poll_slots();
      if (done()) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }

  fs::path folder_;
};

TEST_F(TargetPresets, EveryPresetStreamsAsItComes) {
  // The served outputs move to another httpPort only when this machine holds the default's + 1.
  const int http_port =
      port_taken(Transport::tcp, kDefaultHttpPort + 1) ? free_tcp_port() - 1 : kDefaultHttpPort;
  for (const PresetCase& c : kCases) {
    const std::string name(kTargetFormatChoices[static_cast<std::size_t>(c.entry)].text);
    SCOPED_TRACE(name);
    const fs::path run_folder = folder_ / std::to_string(static_cast<int>(c.entry));
    fs::create_directories(run_folder / "out");
    const JsonPtr channel = chosen(c.entry, run_folder / "out", http_port);
    cJSON* target =
        cJSON_GetArrayItem(config_array(config_object(channel.get(), "output"), "targets"), 0);
    PresetRun run{config_string(target, "url"), run_folder, http_port};
    SCOPED_TRACE("preset " + run.url);
    Watch watch = c.watch(run);
    config_set_string(target, "url", run.url);
    cJSON* document = config_normalise(R"({"global": {"log": 32, "autoRestart": 1, "httpPort": )" +
                                       std::to_string(http_port) + R"(}, "channels": [)" +
                                       json_print(channel.get()).value_or("") + "]}");
    ASSERT_NE(document, nullptr);
    ASSERT_EQ(compile_and_start_channel(document, 0), 0);
    const ChannelStatusSettings stored =
        channel_status_settings(cJSON_GetArrayItem(config_array(document, "channels"), 0));
    const auto log = [&] { return last_part(read_text(folder_ / "morv_001.log")); };

    std::string missing = "not looked at";
    if (watch.after_stop) {
      EXPECT_TRUE(poll_until([&] { return channel_state(stored, 0) == ChannelState::running; },
                             kStreamLimit))
          << log();
      poll_until([] { return false; }, kRecordingTime);
    } else {
      poll_until([&] { return (missing = watch.verdict()).empty(); }, kStreamLimit);
      EXPECT_EQ(missing, "") << log();
      EXPECT_EQ(channel_state(stored, 0), ChannelState::running) << log();
    }
    stop_compiled_channel(document, 0, StopMode::orderly);
    EXPECT_TRUE(poll_until([&] { return channel_state(stored, 0) == ChannelState::idle; }, 20s));
    if (watch.after_stop) {
      EXPECT_EQ(watch.verdict(), "") << log();
    }
  }
}

}  // namespace
}  // namespace vx
