// GET /metrics: the channel and host figures in Prometheus's text exposition format (0.0.4), for
// the monitoring operators already run. Everything comes from what the engine and the document
// already hold, so a scrape costs no more than the status page.
#pragma once

#include <cjson/cJSON.h>

#include <string>

#include "web/web_answer.h"

namespace vx {

// The exposition for the document's channels (up to the first invalid one, as the status page
// counts them) and the host. The caller holds the core lock.
std::string metrics_text(const cJSON* document);

WebAnswer answer_metrics();

}  // namespace vx
