// The standby sources and switch-on seconds under the source: a list the operator adds to,
// removes from, reorders and types addresses into, and three boxes of seconds. The server says
// what a channel shows and what the rows and boxes store (/standby_fields), how many rows a
// channel takes and which seconds a box takes (/rules); the page draws the rows and forwards them.

import { $, addMissingOption, h } from './helpers.js';
import { standbyFields } from './server.js';
import { state } from './state.js';

// The switch-on boxes, as the server names them.
const conditions = ['black', 'silence', 'frozen'];

// The rows as drawn: {type, address, from} ("from": the position in the channel's "standby" the
// row was shown from, null for a row added here), and the boxes' texts.
const shown = { channel: null, rows: [], seconds: { black: '0', silence: '0', frozen: '0' } };

function maxRows() {
  return (state.rules && state.rules.maxStandbySources) || 0;
}

function typeSelect(row, number) {
  const select = h('select', { id: `standby-type-${number}`, 'aria-label': `standby source ${number} type` });
  for (const entry of state.rules.sourceFormats) select.add(new Option(entry.text, entry.value));
  addMissingOption(select, row.type);
  select.value = row.type;
  select.addEventListener('change', () => {
    row.type = select.value;
    // The address the server says a newly chosen type starts with.
    const entry = state.rules.sourceFormats.find((type) => type.value === row.type);
    row.address = (entry && entry.defaultAddress) || '';
    $(`standby-address-${number}`).value = row.address;
  });
  return select;
}

function rowButton(id, text, title, onClick) {
  const button = h('button', { id, class: 'standby-button', text, title, type: 'button' });
  button.addEventListener('click', onClick);
  return button;
}

function moveRow(index, by) {
  const rows = shown.rows;
  const to = index + by;
  if (to < 0 || to >= rows.length) return;
  [rows[index], rows[to]] = [rows[to], rows[index]];
  drawStandby();
}

function removeRow(index) {
  shown.rows.splice(index, 1);
  drawStandby();
}

function addRow() {
  if (!state.editing || shown.rows.length >= maxRows()) return;
  shown.rows.push({ type: state.rules.sourceFormats[0].value, address: '', from: null });
  drawStandby();
  $(`standby-address-${shown.rows.length}`).focus();
}

function drawRow(row, index) {
  const number = index + 1;
  const address = h('input', {
    id: `standby-address-${number}`, type: 'text', spellcheck: 'false', 'aria-label': `standby source ${number} address`,
  });
  address.value = row.address;
  address.title = row.address;
  address.addEventListener('input', () => { row.address = address.value; });
  return h('div', { class: 'row standby-row', 'data-index': String(index) },
    h('span', { class: 'standby-number', text: String(number) }),
    typeSelect(row, number),
    address,
    rowButton(`standby-up-${number}`, '↑', 'Try this source earlier', () => moveRow(index, -1)),
    rowButton(`standby-down-${number}`, '↓', 'Try this source later', () => moveRow(index, 1)),
    rowButton(`standby-remove-${number}`, '×', 'Remove this standby source', () => removeRow(index)));
}

// Only an edit of the shown channel changes the rows and boxes, and no more rows are added than
// the server allows.
export function enableStandby() {
  const editing = state.editing && state.curChannel === shown.channel;
  for (const control of $('standby-box').querySelectorAll('input, select, button')) control.disabled = !editing;
  if (editing) {
    $('standby-up-1')?.setAttribute('disabled', '');
    $(`standby-down-${shown.rows.length}`)?.setAttribute('disabled', '');
  }
  $('standby-add').disabled = !editing || shown.rows.length >= maxRows();
}

function drawStandby() {
  const list = $('standby-rows');
  list.textContent = '';
  shown.rows.forEach((row, index) => list.append(drawRow(row, index)));
  $('standby-none').hidden = shown.rows.length > 0;
  for (const key of conditions) $(`switch-on-${key}`).value = shown.seconds[key];
  enableStandby();
}

// Shows the channel's standby sources and seconds as the server shows them; without its answer
// the list stays empty and an edit keeps what the channel holds.
export async function showStandby(channel) {
  shown.channel = null;
  shown.rows = [];
  shown.seconds = { black: '0', silence: '0', frozen: '0' };
  drawStandby();
  if (!channel) return;
  const answer = await standbyFields('show', { input: channel.input || {} });
  if (!answer || state.curChannel !== channel || !Array.isArray(answer.sources)) return;
  shown.channel = channel;
  shown.rows = answer.sources.map((row, index) => ({ type: row.type, address: row.address, from: index }));
  for (const key of conditions) {
    if (typeof (answer.switchOn || {})[key] === 'string') shown.seconds[key] = answer.switchOn[key];
  }
  drawStandby();
}

// Puts the rows and boxes into `channel` as the server stores them. Resolves false when the
// server refused them (it said why) or could not be asked; true when the list was never shown.
export async function storeStandby(channel, showRefusal) {
  if (shown.channel !== channel) return true;
  const body = { input: channel.input || {}, sources: shown.rows, switchOn: shown.seconds };
  const answer = await standbyFields('store', body);
  if (!answer || showRefusal(answer) || !answer.input || typeof answer.input !== 'object') return false;
  if (!channel.input || typeof channel.input !== 'object') channel.input = {};
  for (const key of ['standby', 'switchOn']) {
    if (key in answer.input) channel.input[key] = answer.input[key]; else delete channel.input[key];
  }
  // Each row now stands for the stored source at its own position.
  shown.rows.forEach((row, index) => { row.from = index; });
  return true;
}

// Called once /rules is read: the boxes say which seconds they take.
export function wireStandby() {
  $('standby-add').addEventListener('click', addRow);
  const seconds = state.rules.switchOnSeconds || {};
  const range = `whole seconds from ${seconds.min} to ${seconds.max}, 0 = off`;
  for (const key of conditions) {
    const box = $(`switch-on-${key}`);
    box.title = `Switch on ${key}: ${range}`;
    box.addEventListener('input', () => { shown.seconds[key] = box.value; });
  }
  $('standby-limit').textContent = `at most ${maxRows()}`;
}
