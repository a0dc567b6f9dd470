// An output kept alive on an alternate input: a primary decoder turns the live input into raw
// pictures and sound, an alternate (the test picture with silence, or a looping media file)
// stands by, the switch sends one picture and its sound per frame period, and one encoder,
// never restarted, makes the channel's outputs from that.
#pragma once

#include <string>

#include "transcoder/failover_plan.h"
#include "transcoder/ffmpeg_session.h"
#include "transcoder/translation.h"

namespace vx {

struct PictureSize {
  int width = 0;
  int height = 0;
};

struct FrameRate {
  int numerator = 25;
  int denominator = 1;
};

// The picture size the output asks for ("-s:v WxH"), or {0, 0}.
PictureSize requested_size(const std::vector<std::string>& output);
// The frame rate the output asks for ("-r:v"), else 25.
FrameRate requested_rate(const std::vector<std::string>& output);

// Runs the failover until the encoder ends; returns the encoder's exit status (1 when the set
// could not start, after one line saying why).
int run_failover_session(const FailoverPlan& plan, const TranslationContext& context,
                         const SessionOptions& options);

}  // namespace vx
