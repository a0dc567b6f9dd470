// One supervision pass over 16 busy slots whose transcoders report progress every 100 ms, as a
// channel list full of running channels sees it. The pass runs on the window thread ten times a
// second, so it has to stay far below a millisecond.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/engine.h"
#include "platform/host.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

namespace fs = std::filesystem;

// Real transcoders are not in step with each other; slot k starts its reports k * 6 ms late.
StartRequest progress_every_100ms(int slot) {
  StartRequest request;
  EngineSource source;
  source.kind = FormatId::file;
  source.url = "/media/clip.mp4";
  source.input_options = "\"--script=sleep " + std::to_string(slot * 6) +
                         "|repeat 100 frame=  250 fps= 25 q=28.0 size=    2048kB time=00:00:10.00 "
                         "bitrate=1677.7kbits/s speed=1x    \\r\" ";
  request.sources.push_back(source);
  EngineTarget target;
  target.format = FormatId::udp;
  target.url = "udp://127.0.0.1:1234";
  target.video.enable = true;
  target.video.codec = kCodecH264;
  target.audio.enable = true;
  target.audio.codec = 8;
  request.groups.push_back(TargetGroup{target});
  return request;
}

void BM_PollSixteenBusySlots(benchmark::State& state) {
  const fs::path folder = fs::temp_directory_path() / ("vx-bench-" + std::to_string(getpid()));
  fs::create_directories(folder / "bin");
  fs::create_symlink(fs::path(module_folder()) / "vx_fake_transcoder",
                     folder / "bin" / std::string(kTranscoderFileName));
  EngineSettings settings;
  settings.transcoder_folder = (folder / "bin").string();
  settings.log_folder = folder.string();
  settings.log_level = static_cast<int>(state.range(0));
  if (engine_init(settings) != 0) {
    state.SkipWithError("engine_init failed");
    return;
  }
  for (int slot = 0; slot < kMaxChannels; ++slot)
    engine_start_channel(slot, progress_every_100ms(slot));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  engine_poll_slots();

  for (auto _ : state) {
    // The window timer's pace: each pass finds about one new line per slot.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto started = std::chrono::steady_clock::now();
    engine_poll_slots();
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  }
  int running = 0;
  for (int slot = 0; slot < kMaxChannels; ++slot) {
    running += engine_get_state(slot) == ChannelState::running;
  }
  state.counters["running_slots"] = running;
  engine_shutdown();
  fs::remove_all(folder);
}
// Arg: the log level (0: no channel logs, 32: every line also goes to the log file).
BENCHMARK(BM_PollSixteenBusySlots)
    ->Arg(0)
    ->Arg(32)
    ->Iterations(50)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime();

}  // namespace
}  // namespace vx

BENCHMARK_MAIN();
