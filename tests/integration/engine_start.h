// The engine as the integration tests run it: the real morvi-transcoder, built beside the tests,
// and every channel log line written into the test's folder.
#pragma once

#include <filesystem>

#include "engine/engine.h"
#include "tests/support/peers.h"

namespace vx::testing_support {

inline int start_engine_with_transcoder(const std::filesystem::path& log_folder) {
  EngineSettings settings;
  settings.transcoder_folder = module_folder();
  settings.log_folder = log_folder.string();
  settings.log_level = 32;
  return engine_init(settings);
}

}  // namespace vx::testing_support
