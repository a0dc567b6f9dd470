// GET /metrics: the channel and host figures in Prometheus's text exposition format (0.0.4), for
// the monitoring operators already run. Everything comes from what the engine and the document
// already hold, so a scrape costs no more than the status page.
#pragma once

#include "web/web_answer.h"

namespace vx {

// The exposition for the document's channels (up to the first invalid one, as the status page
// counts them) and the host. Takes the core lock itself, only while it copies the figures.
WebAnswer answer_metrics();

}  // namespace vx
