#include "transcoder/relayed_outputs.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/tcp_probe.h"
#include "platform/unique_fd.h"
#include "transcoder/relay_framing.h"
#include "transcoder/relay_link.h"
#include "vocabulary/ascii.h"
#include "vocabulary/transcoder_protocol.h"
#include "vocabulary/url_credentials.h"
#include "vocabulary/url_predicates.h"

namespace vx {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMilliseconds = 100;
constexpr std::size_t kReadSize = 64 * 1024;
// At the end of the stream a relay gets this long to take the rest and to finish its output.
constexpr auto kFinishLimit = std::chrono::seconds(5);
constexpr std::size_t kMessageLimit = 300;
// How long after a relay's end its loss is said, unless the whole transcoder is stopping.
constexpr auto kLossConfirmation = std::chrono::milliseconds(300);

// A line of ffmpeg's progress report ("frame=25", "bitrate= 198.9kbits/s"): a key of lower-case
// letters, digits and underscores, then "=". No reason for a loss.
bool is_progress_field(const std::string& line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos || equals == 0) return false;
  for (std::size_t k = 0; k < equals; ++k) {
    const char c = line[k];
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

// ffmpeg's own closing words after a muxer or protocol has said what went wrong ("Could not
// write header for output file #0 (incorrect codec parameters ?): Invalid data..."): they say
// that the output stopped, not why.
constexpr std::string_view kConsequenceLines[] = {
    "Could not write header", "Error initializing output stream", "Conversion failed",
    "Error writing trailer", "Error closing"};

bool is_consequence(std::string_view line) {
  for (const std::string_view consequence : kConsequenceLines) {
    if (line.starts_with(consequence)) return true;
  }
  return false;
}

// "[rtsp @ 0x7ffe49a533b0] AAC with no global headers..." -> "[rtsp] AAC with...": the address
// of ffmpeg's context means nothing to the operator.
std::string without_context_address(const std::string& line) {
  const std::size_t at = line.find(" @ 0x");
  const std::size_t close = line.find(']');
  if (line.empty() || line.front() != '[' || at == std::string::npos || close < at) return line;
  return line.substr(0, at) + line.substr(close);
}

bool set_non_blocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Where a relay connects: host and port from its URL (credentials and path left out), with the
// scheme's own port when none is given, and how to ask the peer whether it is there: a TCP
// connection, or for an SRT caller the first step of the SRT handshake over UDP. None for a relay
// that listens itself (an SRT listener waits for its peer anyway).
struct PeerAddress {
  std::string host;
  std::string port;
  bool srt = false;
};

std::optional<PeerAddress> peer_of(const std::string& url) {
  const std::size_t scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return std::nullopt;
  const std::string scheme = url.substr(0, scheme_end);
  const bool srt = iequals(scheme, "srt");
  if (srt && (url.find("mode=listener") != std::string::npos ||
              url.find("mode=rendezvous") != std::string::npos)) {
    return std::nullopt;
  }
  const char* default_port = srt ? "" : nullptr;
  if (iequals(scheme, "rtmp") || iequals(scheme, "rtmpt")) default_port = "1935";
  if (iequals(scheme, "rtmps") || iequals(scheme, "rtmpts") || iequals(scheme, "rtsps"))
    default_port = "443";
  if (iequals(scheme, "rtsp")) default_port = "554";
  if (iequals(scheme, "tcp")) default_port = "";
  if (default_port == nullptr) return std::nullopt;
  std::optional<UrlHostPort> address = url_host_and_port(url);
  if (!address) return std::nullopt;
  PeerAddress peer{std::move(address->host), std::move(address->port), srt};
  if (peer.port.empty()) peer.port = default_port;
  if (peer.port.empty()) return std::nullopt;
  return peer;
}

// The caller's first handshake packet of SRT (the induction request): a control packet of type
// handshake, version 4, extension field 2, handshake type 1, the socket id `id`. A listener
// answers it whatever it streams.
std::string srt_induction_request(std::uint32_t id) {
  std::string packet(64, '\0');
  const auto put = [&packet](std::size_t at, std::uint32_t value) {
    for (int k = 0; k < 4; ++k)
      packet[at + k] = static_cast<char>((value >> (24 - 8 * k)) & 0xff);
  };
  put(0, 0x80000000u);        // control packet, handshake
  put(16, 4);                 // version
  put(20, 2);                 // encryption 0, extension field 2
  put(24, id & 0x7fffffffu);  // initial sequence number
  put(28, 1500);              // maximum packet size
  put(32, 8192);              // flow window
  put(36, 1);                 // induction
  put(40, id);                // socket id
  return packet;
}

// Whether the peer takes a connection (TCP) or answers a handshake (SRT) now, within `limit`.
bool peer_answers(const PeerAddress& peer, std::chrono::milliseconds limit) {
  addrinfo hints{};
  hints.ai_socktype = peer.srt ? SOCK_DGRAM : SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(peer.host.c_str(), peer.port.c_str(), &hints, &found) != 0) return false;
  bool answered = false;
  for (const addrinfo* at = found; at != nullptr && !answered; at = at->ai_next) {
    if (!peer.srt) {
      answered = tcp_connects(*at, limit);
      continue;
    }
    const UniqueFd socket(
        ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol));
    if (!socket) continue;
    const std::string request =
        srt_induction_request(0x1000u + static_cast<std::uint32_t>(::getpid()));
    char reply[256];
    pollfd ready{socket.get(), POLLIN, 0};
    answered = ::connect(socket.get(), at->ai_addr, at->ai_addrlen) == 0 &&
               ::send(socket.get(), request.data(), request.size(), 0) ==
                   static_cast<ssize_t>(request.size()) &&
               ::poll(&ready, 1, static_cast<int>(limit.count())) == 1 &&
               ::recv(socket.get(), reply, sizeof reply, 0) >= 16;
  }
  ::freeaddrinfo(found);
  return answered;
}

// While a relay waits out its back-off, a thread of its own asks its peer twice a second whether
// it is there again, so a peer that comes back is
// served at once rather than after the rest of the wait. Name lookups and connects happen on
// that thread, never on the pump's, which must keep reading the encoder.
class PeerProbe {
 public:
  explicit PeerProbe(const std::string& url) : peer_(peer_of(url)) {
    if (peer_) thread_ = std::thread([this] { run(); });
  }
  PeerProbe(const PeerProbe&) = delete;
  PeerProbe& operator=(const PeerProbe&) = delete;
  ~PeerProbe() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
  }

  void watch(bool on) {
    if (!on) answered_ = false;
    if (watching_.exchange(on) != on && on) wake_.notify_one();
  }
  bool answered() const { return answered_; }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
      wake_.wait_for(lock, std::chrono::milliseconds(500));
      if (stopping_ || !watching_ || answered_) continue;
      lock.unlock();
      const bool answered = peer_answers(*peer_, std::chrono::milliseconds(1000));
      lock.lock();
      if (answered && watching_) answered_ = true;
    }
  }

  std::optional<PeerAddress> peer_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::atomic<bool> watching_{false};
  std::atomic<bool> answered_{false};
  std::thread thread_;
};

// Carries one relayed output from the encoder's pipe to its relay until the pipe ends.
class RelayPump {
 public:
  RelayPump(const RelayedOutput& plan, int encoder, const std::string& ffmpeg)
      : plan_(plan), encoder_(encoder), ffmpeg_(ffmpeg), framing_(plan.muxer), probe_(plan.url) {}

  void run() {
    say(target_text(kTargetRelayed) + "\n");
    while (!encoder_ended_) {
      const Clock::time_point now = Clock::now();
      // Only a relay that waits out its back-off asks: a peer that takes one connection only
      // (ffmpeg listening for an RTSP publication) would take the question for the stream.
      probe_.watch(relay_ < 0 && now < next_start_);
      start_due_ = relay_ < 0 && (now >= next_start_ || probe_.answered()) && !interrupted();
      if (wait_for_work()) read_encoder();
      write_relay();
      read_relay_messages();
      check_relay(Clock::now());
      report_loss(Clock::now());
    }
    finish();
  }

 private:
  // "morvi-transcoder: target N lost (URL)": the words the engine reads the target's state from.
  std::string target_text(std::string_view what) const {
    return std::string(kTargetLinePrefix) + std::to_string(plan_.target) + std::string(what) +
           url_without_credentials(plan_.url) + ")";
  }

  // Whether the encoder's pipe has something (or has ended).
  bool wait_for_work() {
    pollfd fds[3];
    nfds_t count = 0;
    fds[count++] = {encoder_, POLLIN, 0};
    if (relay_input_ && !link_.pending().empty()) fds[count++] = {relay_input_.get(), POLLOUT, 0};
    if (relay_messages_) fds[count++] = {relay_messages_.get(), POLLIN, 0};
    return ::poll(fds, count, kPollMilliseconds) > 0 && fds[0].revents != 0;
  }

  void start_relay(Clock::time_point now) {
    Pipe input;
    Pipe messages;
    if (!input.open() || !messages.open() || !set_non_blocking(input.write_end.get()) ||
        !set_non_blocking(messages.read_end.get())) {
      next_start_ = now + backoff_.ended(now);
      return;
    }
    // Its progress report tells when it delivers: ffmpeg reports only once its output is open,
    // that is once the peer has taken the connection.
    std::vector<std::string> arguments = {ffmpeg_,     "-hide_banner",  "-nostdin",
                                          "-loglevel", "error",         "-progress",
                                          "pipe:1",    "-stats_period", "0.5"};
    arguments.insert(arguments.end(), plan_.relay_arguments.begin(), plan_.relay_arguments.end());
    ChildPlan child;
    child.argv = argv_of(arguments);
    child.input = input.read_end.get();
    child.output = messages.write_end.get();
    const pid_t pid = start_child(child);
    if (pid < 0) {
      next_start_ = now + backoff_.ended(now);
      return;
    }
    relay_ = pid;
    relay_input_ = std::move(input.write_end);
    relay_messages_ = std::move(messages.read_end);
    last_message_.clear();
    first_complaint_.clear();
    delivering_ = false;
    link_.relay_started(framing_.start_bytes());
    backoff_.started(now);
  }

  // Called only when poll said the pipe is readable, so it never blocks.
  void read_encoder() {
    char buffer[kReadSize];
    const ssize_t count = read_some(encoder_, buffer, sizeof buffer);
    if (count <= 0) {
      encoder_ended_ = true;
      return;
    }
    pieces_.clear();
    framing_.push(std::string_view(buffer, static_cast<std::size_t>(count)), pieces_);
    for (const StreamPiece& piece : pieces_) {
      // A relay starts at a key frame: its start bytes (the stream's headers and codec set-up,
      // which come before it) are then complete, and it streams at once.
      if (start_due_ && piece.unit_start) {
        start_due_ = false;
        start_relay(Clock::now());
      }
      link_.push(piece);
    }
  }

  void write_relay() {
    while (relay_input_ && !link_.pending().empty()) {
      const std::string_view pending = link_.pending();
      const ssize_t written = ::write(relay_input_.get(), pending.data(), pending.size());
      if (written > 0) {
        link_.consumed(static_cast<std::size_t>(written));
      } else if (written < 0 && errno == EINTR) {
        continue;
      } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return;
      } else {
        relay_input_.reset();  // the relay is going; check_relay notices its end
      }
    }
  }

  // The reason a loss is given: the first complaint since the relay last reported progress
  // (the muxer's or the protocol's own line, which ffmpeg follows with lines that only say the
  // output stopped), else its last line.
  void read_relay_messages() {
    if (!relay_messages_) return;
    char buffer[4096];
    for (;;) {
      const ssize_t count = ::read(relay_messages_.get(), buffer, sizeof buffer);
      if (count <= 0) {
        if (count == 0) relay_messages_.reset();
        return;
      }
      take_messages(std::string_view(buffer, static_cast<std::size_t>(count)));
    }
  }

  void take_messages(std::string_view text) {
    for (const char c : text) {
      if (c == '\n' || c == '\r') {
        if (partial_.rfind("progress=", 0) == 0) {
          delivering_ = true;
          // The final report ("progress=end") follows the complaints that ended the relay.
          if (partial_ == "progress=continue") first_complaint_.clear();
        } else if (!partial_.empty() && !is_progress_field(partial_)) {
          if (first_complaint_.empty() && !is_consequence(partial_)) first_complaint_ = partial_;
          last_message_ = std::move(partial_);
        }
        partial_.clear();
      } else if (partial_.size() < kMessageLimit && static_cast<unsigned char>(c) >= 0x20) {
        partial_ += c;
      }
    }
  }

  void check_relay(Clock::time_point now) {
    if (relay_ < 0) return;
    int status = 0;
    if (::waitpid(relay_, &status, WNOHANG) == relay_) {
      relay_ended(exit_status_of(status), now);
      return;
    }
    if (lost_ && delivering_ && !loss_to_report_) {
      lost_ = false;
      say(target_text(kTargetBack) + "\n");
    }
  }

  void relay_ended(int status, Clock::time_point now) {
    relay_ = -1;
    relay_input_.reset();
    read_relay_messages();
    relay_messages_.reset();
    link_.relay_ended();
    if (encoder_ended_ || interrupted()) return;
    next_start_ = now + backoff_.ended(now);
    if (lost_) return;
    lost_ = true;
    const std::string& said = first_complaint_.empty() ? last_message_ : first_complaint_;
    std::string reason = !said.empty() ? without_context_address(said)
                                       : "the relay ended with status " + std::to_string(status);
    // ffmpeg names the URL in its complaint, credentials and all; the log never shows them.
    const std::string shown = url_without_credentials(plan_.url);
    for (std::size_t at = reason.find(plan_.url); at != std::string::npos && shown != plan_.url;
         at = reason.find(plan_.url, at + shown.size())) {
      reason.replace(at, plan_.url.size(), shown);
    }
    // Said a moment later: a stop for the whole group ends the relay too, perhaps before this
    // process has seen the same signal, and an orderly stop loses no target.
    loss_to_report_ = std::move(reason);
    loss_seen_at_ = now;
  }

  void report_loss(Clock::time_point now) {
    if (!loss_to_report_ || now - loss_seen_at_ < kLossConfirmation) return;
    if (!encoder_ended_ && !interrupted()) {
      say(target_text(kTargetLost) + ": " + *loss_to_report_ + "\n");
    }
    loss_to_report_.reset();
  }

  // The encoder's stream has ended: the relay gets what is left, then the end of its input, and
  // finishes its output (a trailer, the end of the publication) on its own.
  void finish() {
    const Clock::time_point deadline = Clock::now() + kFinishLimit;
    while (relay_ > 0 && relay_input_ && !link_.pending().empty() && Clock::now() < deadline) {
      pollfd ready{relay_input_.get(), POLLOUT, 0};
      ::poll(&ready, 1, kPollMilliseconds);
      write_relay();
      check_relay(Clock::now());
    }
    relay_input_.reset();
    while (relay_ > 0 && Clock::now() < deadline) {
      read_relay_messages();
      check_relay(Clock::now());
      if (relay_ > 0) ::poll(nullptr, 0, 50);
    }
    if (relay_ > 0) {
      ::kill(relay_, SIGKILL);
      wait_for(relay_);
      relay_ = -1;
    }
  }

  const RelayedOutput& plan_;
  const int encoder_;
  const std::string& ffmpeg_;
  RelayFraming framing_;
  RelayLink link_{kRelayQueueLimit};
  RelayBackoff backoff_;
  PeerProbe probe_;
  std::vector<StreamPiece> pieces_;
  pid_t relay_ = -1;
  UniqueFd relay_input_;
  UniqueFd relay_messages_;
  std::string partial_;
  std::string last_message_;
  std::string first_complaint_;
  Clock::time_point next_start_{};
  bool delivering_ = false;  // the running relay has reported progress
  std::optional<std::string> loss_to_report_;
  Clock::time_point loss_seen_at_{};
  bool encoder_ended_ = false;
  bool start_due_ = false;  // a relay is to start at the next key frame
  bool lost_ = false;
};

}  // namespace

bool RelayedOutputs::open(const std::vector<RelayedOutput>& relayed) {
  for (const RelayedOutput& output : relayed) {
    auto opened = std::make_unique<Output>();
    opened->plan = output;
    if (!opened->pipe.open()) {
      say("morvi-transcoder: no pipe for target " + std::to_string(output.target) +
          "; nothing started\n");
      return false;
    }
    outputs_.push_back(std::move(opened));
  }
  return true;
}

void RelayedOutputs::hand_to(ChildPlan& plan) const {
  for (const auto& output : outputs_) {
    plan.pipes.emplace_back(output->pipe.write_end.get(), output->plan.fd);
  }
}

void RelayedOutputs::start_pumping() {
  for (const auto& output : outputs_) {
    pumps_.emplace_back([this, &output = *output] {
      RelayPump(output.plan, output.pipe.read_end.get(), ffmpeg_).run();
    });
  }
}

void RelayedOutputs::close_write_ends() {
  for (const auto& output : outputs_)
    output->pipe.write_end.reset();
}

void RelayedOutputs::join() {
  close_write_ends();
  for (std::thread& thread : pumps_) {
    if (thread.joinable()) thread.join();
  }
}

}  // namespace vx
