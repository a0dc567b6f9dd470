#include "engine/channel_figures.h"

#include <algorithm>

#include "engine/channel_slot.h"
#include "engine/engine.h"
#include "engine/engine_clock.h"
#include "engine/load_monitor.h"

namespace vx {

ChannelFigures engine_channel_figures(int slot_number) {
  ChannelFigures figures;
  const ChannelSlot* slot = engine_slot(slot_number);
  if (slot == nullptr) return figures;
  figures.state = slot->state;
  figures.starts = slot->starts;
  figures.ends = slot->ends;
  // A slot never started holds no report, only the record's first values.
  if (slot->starts > 0) {
    figures.fps = slot->fps;
    figures.bitrate_kbps = slot->bitrate_kbps;
    figures.position_seconds = slot->position_seconds;
    // A clock set back must not make the age negative.
    figures.seconds_since_start = std::max<std::int64_t>(0, engine_now() - slot->last_start_time);
  }
  if (slot->ends > 0) figures.last_exit_code = slot->last_transcoder_exit;
  figures.on_alternate_input = slot->input_on_air == kSlateInput;
  if (slot->runs_failover) {
    figures.failover =
        ChannelFigures::Failover{slot->standby_inputs, slot->slate_input, slot->input_on_air};
  }
  figures.input_switches = slot->input_switches;
  figures.served_viewers = slot->served_viewers;
  return figures;
}

ProgramFigures engine_program_figures() {
  ProgramFigures figures;
  figures.resident_bytes = engine_resident_bytes();
  if (const std::optional<std::int64_t> since = engine_first_initialised_at()) {
    figures.uptime_seconds = std::max<std::int64_t>(0, engine_now() - *since);
  }
  return figures;
}

}  // namespace vx
