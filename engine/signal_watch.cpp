#include "engine/signal_watch.h"

#include "engine/channel_log.h"

namespace vx {
namespace {

// Running and without signal are the two faces of one running transcoder: without signal while
// the failover shows a standby source or the slate, or the source has gone quiet.
void settle_signal_state(ChannelSlot& slot) {
  if (slot.state != ChannelState::running && slot.state != ChannelState::no_signal) return;
  slot.state = slot.input_on_air != kPrimaryInput || slot.source_quiet ? ChannelState::no_signal
                                                                       : ChannelState::running;
}

}  // namespace

void signal_watch_position(int slot_number, ChannelSlot& slot, std::int32_t position,
                           std::int64_t now) {
  const bool moved = position != slot.position_seconds;
  slot.position_seconds = position;
  if (!moved) return;
  if (slot.source_quiet) {
    engine_log_printf(slot_number, true, "the source delivers again after %lld s",
                      static_cast<long long>(now - slot.last_position_move));
    slot.source_quiet = false;
    settle_signal_state(slot);
  }
  slot.last_position_move = now;
}

void signal_watch_switch(ChannelSlot& slot, const SwitchReport& report) {
  if (report.to == kNoInputLeft) return;
  slot.input_on_air = report.to;
  ++slot.input_switches[static_cast<std::size_t>(report.reason)];
  settle_signal_state(slot);
}

bool progress_reported_at(int log_level) {
  return log_level == 0 || log_level >= kLowestProgressLogLevel;
}

void signal_watch_poll(int slot_number, ChannelSlot& slot, std::int64_t now, int log_level) {
  // A source that never delivers counts from the launch, as one that stopped does: after a
  // restart it would otherwise show as running for good.
  const int allowed = slot.position_seconds < 0 ? kFirstReportSeconds : kQuietSourceSeconds;
  if (slot.source_quiet || slot.state != ChannelState::running ||
      !progress_reported_at(log_level) || now - slot.last_position_move < allowed) {
    return;
  }
  slot.source_quiet = true;
  settle_signal_state(slot);
  engine_log_printf(slot_number, true, "no signal: the source has delivered nothing for %lld s",
                    static_cast<long long>(now - slot.last_position_move));
}

}  // namespace vx
