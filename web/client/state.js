// The page's one shared state: the documents the server sent last and what the operator is
// doing with them (selection, edit, preview).

import { asList } from './helpers.js';
import { targetsOf } from './rules.js';

export const state = {
  runtime: null,        // jsonRuntime
  rules: null,          // the server's choice lists (/rules)
  config: null,         // jsonConfig
  channelStatus: [],    // "channels" of the last /status
  selected: 0,          // selected row number, 0 for none
  editing: false,
  newChannel: false,    // the edit is of a channel not stored yet
  curChannel: null,
  activeTarget: 0,
  previewing: false,
  previewStarted: false,  // the shown preview was started by this page ("?preview")
  previewChannel: 0,      // the channel the player shows
  leaving: false,         // the server moved to another address, which the page follows
};

export function channels() {
  return asList(state.config && state.config.channels);
}

export function globalSettings() {
  return (state.config && state.config.global) || {};
}

// The number of channel slots the program has (rows of the table).
export function slotCount() {
  return state.runtime ? state.runtime.channels : 0;
}

export function statusOf(n) {
  return state.channelStatus[n - 1] || null;
}

// The entry of the server's target format list that shows `format`: the first with that format.
export function targetFormatEntry(format) {
  const entries = (state.rules && state.rules.targetFormats) || [];
  const word = String(format || '').toLowerCase();
  return entries.findIndex((entry) => entry.format === word);
}

// Whether a first target of `format` may have further targets of other bit rates.
export function takesSeveralTargets(format) {
  const entries = (state.rules && state.rules.targetFormats) || [];
  const entry = entries[targetFormatEntry(format)];
  return Boolean(entry && entry.multiBitrate);
}

// The target whose tab the editor shows.
export function editedTarget() {
  return targetsOf(state.curChannel)[state.activeTarget];
}
