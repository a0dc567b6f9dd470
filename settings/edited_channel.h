// What Apply does to the channel list besides putting the edited channel in place, shared by the
// window's editing workflow and the administration server's answer to the browser page.
#pragma once

#include <cjson/cJSON.h>

namespace vx {

// The run mark ("enable") of an edited channel: a new one (`stored` null) runs only once it is
// started, so a mark it carries becomes false; an edited one takes the stored channel's mark,
// which starting or stopping may have changed while it was edited.
void keep_run_mark(cJSON* edited, const cJSON* stored);

// The master's source list holds one {"bind": n} item for each channel n bound to it: the item
// follows channel `number` (from 1) of `channels` from the master it had (`master_before`, 0 for
// none) to the one it has now. A master without a source list gets no item.
void move_bind_item(cJSON* channels, int number, int master_before, int master_now);

}  // namespace vx
