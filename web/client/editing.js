// A channel's edit from start to apply or cancel, new channels and removing one: the edit works
// on a copy, and applying it posts the whole configuration document.

import * as Advanced from './advanced.js';
import { $, closePopup, deepCopy, toInt } from './helpers.js';
import {
  checkEdit, getJson, removeChannelOnServer, sendConfig, showPageError, showEditRefusal,
} from './server.js';
import { storeStandby } from './standby.js';
import { channels, state } from './state.js';
import { fillTable, markSelection, requireSelection } from './table.js';
import { applyTarget, selectRow, storeShownSource, updateButtons, updateSettings } from './editor.js';

export function onRowClick(n) {
  if (state.editing || n > channels().length) return;
  selectRow(n);
}

export function onRowDoubleClick(n) {
  if (state.editing || n > channels().length) return;
  selectRow(n);
  startEdit();
}

function startEdit() {
  if (!requireSelection()) return;
  const stored = channels()[state.selected - 1];
  if (!stored) return;
  Advanced.closeAll();
  state.editing = true;
  state.newChannel = false;
  updateSettings(state.selected, deepCopy(stored));
}

function closeEditor() {
  state.editing = false;
  Advanced.closeAll();
  for (const id of ['popup-decklink', 'popup-ndi']) closePopup(id);
}

// The row, the standby list and the panel go into the channel being edited (the source and the
// standby sources as the server stores them); the server checks it as the window's Apply does and
// answers the channels as they are stored (the extra targets of a single-target format dropped,
// the bind items moved), which are posted.
// Without the row's fields (the server did not say what the source shows) the source, bind and
// memo stay as stored.
async function applyEdit() {
  const n = state.selected;
  const channel = state.curChannel;
  if ($('edit-bind') && $('edit-memo')) {
    const bind = toInt($('edit-bind').value);
    if (bind > 0) channel.bind = bind; else delete channel.bind;
    channel.memo = $('edit-memo').value;
  }
  applyTarget();
  if (!(await storeShownSource(channel)) || !state.editing || state.curChannel !== channel) return;
  if (!(await storeStandby(channel, showEditRefusal)) || !state.editing || state.curChannel !== channel) return;
  const answer = await checkEdit('apply', n, channel, state.activeTarget);
  if (!answer || showEditRefusal(answer) || !Array.isArray(answer.channels) || !state.editing) return;
  state.config.channels = answer.channels;
  closeEditor();
  state.newChannel = false;
  await sendConfig();
  fillTable();
  updateSettings(n);
}

export function cancelEdit() {
  const wasNew = state.newChannel;
  closeEditor();
  state.newChannel = false;
  fillTable();
  if (wasNew) {
    const count = channels().length;
    state.selected = count;
    markSelection();
    updateSettings(count);
  } else {
    updateSettings(state.selected);
  }
  updateButtons();
}

async function newChannel() {
  if (channels().length >= state.runtime.channels) {
    alert(`All ${state.runtime.channels} channels are in use.`);
    return;
  }
  // The server's new channel, the one the window starts from.
  let template;
  try {
    template = await getJson('channel_template');
  } catch (error) {
    showPageError(`A new channel could not be started: ${error.message}`);
    return;
  }
  if (state.editing) return;
  Advanced.closeAll();
  state.selected = channels().length + 1;
  state.editing = true;
  state.newChannel = true;
  markSelection();
  await updateSettings(state.selected, template);
  const address = $('edit-source-url');
  if (address && state.curChannel === template) address.focus();
}

// The server removes the channel and renumbers the rest, or says why not (it or a later channel
// runs); either way the page shows the document the server holds.
async function removeChannel() {
  const n = state.selected;
  if (!requireSelection()) return;
  if (!confirm('Warning: Remove this channel?')) return;
  const refusal = await removeChannelOnServer(n);
  if (refusal) alert(refusal);
  try {
    state.config = await getJson('config');
  } catch (error) {
    showPageError(`The configuration could not be read again: ${error.message}`);
    return;
  }
  if (!refusal) showPageError('');
  state.selected = Math.min(n, channels().length);
  fillTable();
  updateSettings(state.selected);
}

export function wireEditing() {
  $('btn-edit').addEventListener('click', startEdit);
  $('btn-apply').addEventListener('click', applyEdit);
  $('btn-cancel').addEventListener('click', cancelEdit);
  $('btn-new').addEventListener('click', newChannel);
  $('btn-remove').addEventListener('click', removeChannel);
}
