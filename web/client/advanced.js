/*
 * Advanced settings pop-ups of the browser client: "Advanced Format Settings"
 * (input stream map, MPEG-TS muxer, RTMP, HLS, SRT, custom parameters) and
 * "Advanced Video Settings" (encoder, overlay, misc.).
 *
 * The server translates: opening a pop-up posts the channel and the target and
 * shows the fields it answers (with the lists the video tabs offer); OK posts
 * the fields back and takes the channel with its option texts rewritten, or
 * shows why a tab refused them. This module only draws and forwards.
 */

import { $, closePopup, h, openPopup, str } from './helpers.js';
import { translateAdvanced } from './server.js';

let built = false;
let formatPopup = null;
let videoPopup = null;

function input(id, attrs) {
  return h('input', Object.assign({ id: id, type: 'text', autocomplete: 'off' }, attrs || {}));
}

function select(id, choices) {
  const s = h('select', { id: id });
  choices.forEach(function (c) { s.append(h('option', { value: c[0], text: c[1] })); });
  return s;
}

// One labelled line of a form: label, control(s), optional unit text.
function row(label, control) {
  const r = h('div', { class: 'adv-row' }, h('label', { for: control.id, text: label }), control);
  for (let i = 2; i < arguments.length; i++) {
    const extra = arguments[i];
    r.append(typeof extra === 'string' ? h('span', { class: 'adv-unit', text: extra }) : extra);
  }
  return r;
}

function group(title) {
  const g = h('fieldset', { class: 'adv-group' }, h('legend', { text: title }));
  for (let i = 1; i < arguments.length; i++) g.append(arguments[i]);
  return g;
}

function setDisabled(container, disabled) {
  container.querySelectorAll('input, select, textarea, button').forEach(function (e) {
    e.disabled = disabled;
  });
}

// The offered values, and a stored value outside them added so that it shows and survives a save.
function setOptions(sel, values, current) {
  sel.textContent = '';
  const list = values.slice();
  if (current !== '' && list.indexOf(current) < 0) list.push(current);
  list.forEach(function (v) { sel.append(h('option', { value: v, text: v })); });
  sel.value = current !== '' ? current : list[0];
}

// ------------------------------------------------------------ popup shell

function showTab(popup, name) {
  popup.querySelectorAll('.tabs .tab').forEach(function (b) {
    b.classList.toggle('active', b.getAttribute('data-tab') === name);
  });
  popup.querySelectorAll('.tab-panel').forEach(function (p) {
    const on = p.getAttribute('data-tab') === name;
    p.classList.toggle('active', on);
    p.hidden = !on;
  });
}

// The tab panels sit in one fieldset, so that a pop-up opened to be looked at only disables
// them all at once and gives every field its own state back when it is opened to edit.
function buildPopup(id, title, tabs, buttons) {
  const bar = h('div', { class: 'tabs' });
  const panels = h('fieldset', { class: 'adv-panels' });
  const body = h('div', { class: 'popup-body' }, bar, panels);
  const close = h('button', { type: 'button', class: 'popup-close', title: 'Close', text: '\u00d7' });
  const popup = h('div', { class: 'popup', id: id },
    h('div', { class: 'popup-title' }, h('span', { text: title }), close),
    body,
    h('div', { class: 'popup-buttons' }, buttons[0], buttons[1]));
  tabs.forEach(function (t) {
    const b = h('button', { type: 'button', class: 'tab', id: 'adv-tab-' + t.name, 'data-tab': t.name, text: t.label });
    b.addEventListener('click', function () { if (!b.disabled) showTab(popup, t.name); });
    bar.append(b);
    panels.append(h('div', { class: 'tab-panel', id: 'adv-panel-' + t.name, 'data-tab': t.name }, t.body));
  });
  buttons[0].classList.add('adv-ok');
  buttons[1].classList.add('adv-cancel');
  close.addEventListener('click', function () { closePopup(popup); });
  showTab(popup, tabs[0].name);
  return popup;
}

// Read-only: every field disabled, and Close instead of OK and Cancel.
function setReadOnly(popup, readOnly) {
  popup.querySelector('.adv-panels').disabled = readOnly;
  popup.querySelector('.adv-ok').hidden = readOnly;
  popup.querySelector('.adv-cancel').textContent = readOnly ? 'Close' : 'Cancel';
}

function enableTab(name, enabled) {
  const b = $('adv-tab-' + name);
  if (b) b.disabled = !enabled;
  setDisabled($('adv-panel-' + name), !enabled);
}

// -------------------------------------------------------- editable tables

function makeTable(id, headers) {
  return h('table', { id: id, class: 'adv-table' },
    h('thead', {}, h('tr', {}, ...headers.map(function (t) { return h('th', { text: t }); }))),
    h('tbody', {}));
}

function selectRow(table, tr) {
  table.querySelectorAll('tbody tr').forEach(function (r) {
    r.classList.toggle('adv-selected', r === tr);
  });
}

function addRow(table, values) {
  const tr = h('tr', {});
  values.forEach(function (v) {
    tr.append(h('td', {}, h('input', { type: 'text', class: 'adv-cell', autocomplete: 'off', value: str(v) })));
  });
  tr.addEventListener('click', function () { selectRow(table, tr); });
  tr.addEventListener('focusin', function () { selectRow(table, tr); });
  table.tBodies[0].append(tr);
  return tr;
}

function editFirstCell(table, tr) {
  selectRow(table, tr);
  const cell = tr.querySelector('input');
  if (cell) { cell.focus(); cell.select(); }
}

function removeSelected(table) {
  const tr = table.querySelector('tbody tr.adv-selected');
  if (tr) tr.remove();
}

function readRows(table, keys) {
  return Array.prototype.map.call(table.tBodies[0].rows, function (tr) {
    const cells = tr.querySelectorAll('input');
    const rowValues = {};
    keys.forEach(function (k, i) { rowValues[k] = cells[i] ? cells[i].value : ''; });
    return rowValues;
  });
}

function fillRows(table, rows, keys) {
  table.tBodies[0].textContent = '';
  rows.forEach(function (r) { addRow(table, keys.map(function (k) { return r[k]; })); });
}

// ------------------------------------------------- format pop-up: panels

function buildTsInput() {
  const table = makeTable('adv-ts-map', ['Program #', 'PID']);
  const add = h('button', { type: 'button', id: 'adv-ts-add-map', text: 'Add' });
  const del = h('button', { type: 'button', id: 'adv-ts-delete-map', text: 'Delete' });
  add.addEventListener('click', function () {
    addTableRow('add_source_stream', 'adv-ts-map', 'mpegtsInput', 'sourceStreams', ['program', 'pid']);
  });
  del.addEventListener('click', function () { removeSelected(table); });
  return group('Select Source Streams in MPEG-TS', table, h('div', { class: 'adv-table-buttons' }, add, del));
}

function buildTsOutput() {
  const table = makeTable('adv-ts-programs', ['Program #', 'Program Name', 'Source #']);
  const add = h('button', { type: 'button', id: 'adv-ts-add-program', text: 'Add Program' });
  const del = h('button', { type: 'button', id: 'adv-ts-remove-program', text: 'Remove' });
  add.addEventListener('click', function () {
    addTableRow('add_program', 'adv-ts-programs', 'mpegtsOutput', 'programs', ['program', 'name', 'source']);
  });
  del.addEventListener('click', function () { removeSelected(table); });
  const fec = h('input', { type: 'checkbox', id: 'adv-ts-fec' });
  fec.addEventListener('change', syncFec);
  return h('div', {},
    group('Programs', table, h('div', { class: 'adv-table-buttons' }, add, del)),
    row('PMT PID', input('adv-ts-pmt-pid')),
    row('Provider', input('adv-ts-provider')),
    row('Video(PCR) PID', input('adv-ts-video-pid')),
    row('Audio PID', input('adv-ts-audio-pid')),
    row('Subtitle PID', input('adv-ts-subtitle-pid')),
    group('FEC',
      row('Enable FEC for MPEG-TS over RTP', fec),
      row('Column', input('adv-ts-fec-column', { type: 'number' })),
      row('Row', input('adv-ts-fec-row', { type: 'number' }))));
}

function syncFec() {
  const fec = $('adv-ts-fec');
  const off = fec.disabled || !fec.checked;
  $('adv-ts-fec-column').disabled = off;
  $('adv-ts-fec-row').disabled = off;
}

function buildRtmp() {
  return h('div', {},
    row('Flash Version String', input('adv-rtmp-flashver')),
    row('SWF URL Verify', input('adv-rtmp-swfurl')),
    row('Publish Username', input('adv-rtmp-user')),
    row('Publish Password', input('adv-rtmp-passwd')));
}

function buildHls() {
  const ts = h('input', { type: 'radio', name: 'adv-hls-type', id: 'adv-hls-type-ts', value: 'mpegts' });
  const mp4 = h('input', { type: 'radio', name: 'adv-hls-type', id: 'adv-hls-type-fmp4', value: 'fmp4' });
  return h('div', {},
    h('div', { class: 'adv-row' }, h('span', { class: 'adv-label', text: 'Segment Format' }),
      h('label', {}, ts, ' MPEG-TS'), h('label', {}, mp4, ' Fragmented MP4')),
    row('Segment Length', input('adv-hls-time', { type: 'number', min: '1', max: '9999' }), 'sec'),
    row('Playlist Entry Size', input('adv-hls-size', { type: 'number', min: '0' })),
    row('Segment Index Start', input('adv-hls-start', { type: 'number' })),
    row('AES128 Encryption Key Info File', input('adv-hls-keyinfo')),
    row('Playlist Base URL', input('adv-hls-baseurl')),
    row('Master Playlist Name', input('adv-hls-master')));
}

function buildSrt() {
  const mode = select('adv-srt-mode', [['caller', 'Caller'], ['listener', 'Listener']]);
  mode.addEventListener('change', syncSrtMode);
  return h('div', {},
    row('SRT Mode', mode),
    group('Connection #1',
      row('Remote IP', input('adv-srt-remote1')),
      row('Local IP', input('adv-srt-local1'))),
    group('Connection #2 (Bonded Connection)',
      row('Remote IP', input('adv-srt-remote2')),
      row('Local IP', input('adv-srt-local2'))),
    row('Bonding Type', select('adv-srt-bonding', [['backup', 'Main/Backup'], ['broadcast', 'Broadcast']])),
    row('Minimal Stable Timeout (ms)', input('adv-srt-timeout', { type: 'number', min: '0' })));
}

function syncSrtMode() {
  const mode = $('adv-srt-mode');
  const off = mode.disabled || mode.value === 'listener';
  ['adv-srt-remote1', 'adv-srt-local1', 'adv-srt-remote2', 'adv-srt-local2', 'adv-srt-bonding',
    'adv-srt-timeout'].forEach(function (id) { $(id).disabled = off; });
}

function buildCustom() {
  return h('div', {},
    row('Source Parameters', h('textarea', { id: 'adv-custom-source', rows: '4', spellcheck: 'false' })),
    row('Target Parameters', h('textarea', { id: 'adv-custom-target', rows: '4', spellcheck: 'false' })));
}

// ------------------------------------------------- format pop-up: fields

// A number box as the server reads it: what was typed, as a number (anything else is refused
// there, with the field's name).
function numberOf(id) { return Number($(id).value); }

// A select of two entries stands for the number 0 or 1.
function choiceOf(id, second) { return $(id).value === second ? 1 : 0; }

const RTMP_FIELDS = [['flashVer', 'adv-rtmp-flashver'], ['swfUrl', 'adv-rtmp-swfurl'],
  ['user', 'adv-rtmp-user'], ['passwd', 'adv-rtmp-passwd']];

function showFormatFields(f) {
  fillRows($('adv-ts-map'), f.mpegtsInput.sourceStreams, ['program', 'pid']);

  const ts = f.mpegtsOutput;
  fillRows($('adv-ts-programs'), ts.programs, ['program', 'name', 'source']);
  $('adv-ts-pmt-pid').value = ts.pmtPid;
  $('adv-ts-provider').value = ts.provider;
  $('adv-ts-video-pid').value = ts.videoPid;
  $('adv-ts-audio-pid').value = ts.audioPid;
  $('adv-ts-subtitle-pid').value = ts.subtitlePid;
  $('adv-ts-fec').checked = ts.fec;
  $('adv-ts-fec-column').value = String(ts.fecColumns);
  $('adv-ts-fec-row').value = String(ts.fecRows);
  enableTab('ts-output', ts.enabled);
  $('adv-ts-fec').disabled = !ts.enabled || !ts.fecEnabled;
  syncFec();

  RTMP_FIELDS.forEach(function (p) { $(p[1]).value = f.rtmp[p[0]]; });
  enableTab('rtmp', f.rtmp.enabled);

  const hls = f.hls;
  $('adv-hls-type-ts').checked = hls.segmentFormat !== 1;
  $('adv-hls-type-fmp4').checked = hls.segmentFormat === 1;
  $('adv-hls-time').value = String(hls.segmentLength);
  $('adv-hls-size').value = String(hls.playlistSize);
  $('adv-hls-start').value = String(hls.indexStart);
  $('adv-hls-keyinfo').value = hls.keyInfoFile;
  $('adv-hls-baseurl').value = hls.baseUrl;
  $('adv-hls-master').value = hls.masterName;
  enableTab('hls', hls.enabled);
  $('adv-hls-master').disabled = !hls.enabled || !hls.masterEnabled;

  const srt = f.srt;
  $('adv-srt-mode').value = srt.mode === 1 ? 'listener' : 'caller';
  $('adv-srt-remote1').value = srt.remote1;
  $('adv-srt-local1').value = srt.local1;
  $('adv-srt-remote2').value = srt.remote2;
  $('adv-srt-local2').value = srt.local2;
  $('adv-srt-bonding').value = srt.bonding === 1 ? 'broadcast' : 'backup';
  $('adv-srt-timeout').value = String(srt.minstableTimeout);
  enableTab('srt', srt.enabled);
  syncSrtMode();

  $('adv-custom-source').value = f.custom.sourceParams;
  $('adv-custom-target').value = f.custom.targetParams;
}

// The fields as the page shows them now; what it does not show goes back as it came.
function readFormatFields(loaded) {
  const rtmp = Object.assign({}, loaded.rtmp);
  RTMP_FIELDS.forEach(function (p) { rtmp[p[0]] = $(p[1]).value; });
  return Object.assign({}, loaded, {
    mpegtsInput: { sourceStreams: readRows($('adv-ts-map'), ['program', 'pid']) },
    mpegtsOutput: Object.assign({}, loaded.mpegtsOutput, {
      programs: readRows($('adv-ts-programs'), ['program', 'name', 'source']),
      pmtPid: $('adv-ts-pmt-pid').value,
      provider: $('adv-ts-provider').value,
      videoPid: $('adv-ts-video-pid').value,
      audioPid: $('adv-ts-audio-pid').value,
      subtitlePid: $('adv-ts-subtitle-pid').value,
      fec: $('adv-ts-fec').checked,
      fecColumns: numberOf('adv-ts-fec-column'),
      fecRows: numberOf('adv-ts-fec-row'),
    }),
    rtmp: rtmp,
    hls: Object.assign({}, loaded.hls, {
      segmentFormat: $('adv-hls-type-fmp4').checked ? 1 : 0,
      segmentLength: numberOf('adv-hls-time'),
      playlistSize: numberOf('adv-hls-size'),
      indexStart: numberOf('adv-hls-start'),
      keyInfoFile: $('adv-hls-keyinfo').value,
      baseUrl: $('adv-hls-baseurl').value,
      masterName: $('adv-hls-master').value,
    }),
    srt: Object.assign({}, loaded.srt, {
      mode: choiceOf('adv-srt-mode', 'listener'),
      remote1: $('adv-srt-remote1').value,
      local1: $('adv-srt-local1').value,
      remote2: $('adv-srt-remote2').value,
      local2: $('adv-srt-local2').value,
      bonding: choiceOf('adv-srt-bonding', 'broadcast'),
      minstableTimeout: numberOf('adv-srt-timeout'),
    }),
    custom: { sourceParams: $('adv-custom-source').value, targetParams: $('adv-custom-target').value },
  });
}

// ------------------------------------------------------ talking to the server

// What a pop-up was opened for: ctx ({channel, target, readOnly, onSaved(channel)}) and the
// fields the server answered. A new opening or a close makes an earlier answer stale.
const shown = { format: null, video: null };
const tickets = { format: 0, video: 0 };

function failed(error) {
  alert(`The server could not translate the settings: ${error.message}`);
}

async function load(panel, popup, ctx, key, show) {
  const ticket = ++tickets[key];
  try {
    const answer = await translateAdvanced(panel, 'load', { channel: ctx.channel, target: ctx.target });
    if (ticket !== tickets[key]) return;
    if (answer.refusal !== undefined) {
      alert(answer.refusal);
      return;
    }
    shown[key] = { ctx: ctx, fields: answer.fields };
    show(answer);
    setReadOnly(popup, ctx.readOnly === true);
    openPopup(popup);
  } catch (error) {
    if (ticket === tickets[key]) failed(error);
  }
}

// OK: the server writes the fields into the channel; a refusal keeps the pop-up open.
async function save(panel, popup, key, read) {
  const current = shown[key];
  if (!current || current.ctx.readOnly) { closePopup(popup); return; }
  const ticket = tickets[key];
  try {
    if (typeof current.ctx.commit === 'function') await current.ctx.commit();
    const answer = await translateAdvanced(panel, 'save',
      { channel: current.ctx.channel, target: current.ctx.target, fields: read(current.fields) });
    if (ticket !== tickets[key] || shown[key] !== current || !popup.classList.contains('open')) return;
    if (answer.refusal !== undefined) {
      alert(answer.refusal);
      return;
    }
    closePopup(popup);
    shown[key] = null;
    if (answer.warning) alert(answer.warning.text);
    if (typeof current.ctx.onSaved === 'function') current.ctx.onSaved(answer.channel);
  } catch (error) {
    failed(error);
  }
}

// A table's Add button: the server adds the row the window's panel adds to the rows shown (the
// one tab's fields sent; the others keep their values) and the table shows its answer, the new
// row's first cell to be typed into.
async function addTableRow(step, tableId, tab, list, keys) {
  const current = shown.format;
  if (!current || current.ctx.readOnly) return;
  const ticket = tickets.format;
  const fields = {};
  fields[tab] = {};
  fields[tab][list] = readRows($(tableId), keys);
  try {
    const answer = await translateAdvanced('advanced_format', step,
      { channel: current.ctx.channel, target: current.ctx.target, fields: fields });
    if (ticket !== tickets.format || shown.format !== current) return;
    if (answer.refusal !== undefined) {
      alert(answer.refusal);
      return;
    }
    const table = $(tableId);
    fillRows(table, answer.fields[tab][list], keys);
    const rows = table.tBodies[0].rows;
    if (rows.length > 0) editFirstCell(table, rows[rows.length - 1]);
  } catch (error) {
    failed(error);
  }
}

// ctx: the channel and the target position shown, readOnly to only look, commit() that puts what
// the editor shows into the channel before OK posts it (it may return a promise), and onSaved(channel) that takes the
// channel as OK rewrote it.
function openFormatSettings(ctx) {
  if (!built || !ctx || !ctx.channel) return;
  load('advanced_format', formatPopup, ctx, 'format', function (answer) {
    showFormatFields(answer.fields);
    showTab(formatPopup, 'ts-input');
  });
}

// -------------------------------------------------- video pop-up: panels

let presetNames = [];
let presetMinimum = 0;
let presetMoved = false;  // a stored position beyond the slider's ends is kept unless it moves

function showPresetName() {
  const position = Number($('adv-enc-preset').value);
  $('adv-enc-preset-value').textContent = presetNames[position - presetMinimum] || String(position);
}

function buildEncoder() {
  const preset = h('input', { type: 'range', id: 'adv-enc-preset', min: '0', max: '8', step: '1', value: '3' });
  const shownName = h('output', { id: 'adv-enc-preset-value', for: 'adv-enc-preset', text: '' });
  preset.addEventListener('input', function () {
    presetMoved = true;
    showPresetName();
  });
  return h('div', {},
    row('Profile', h('select', { id: 'adv-enc-profile' })),
    row('Level', input('adv-enc-level', { list: 'adv-enc-level-list' })),
    h('datalist', { id: 'adv-enc-level-list' }),
    row('Threads', input('adv-enc-threads', { list: 'adv-enc-threads-list' })),
    h('datalist', { id: 'adv-enc-threads-list' }),
    row('Encoding Preset', preset, shownName),
    h('div', { class: 'adv-row adv-range-ends' },
      h('span', { text: 'Better Speed' }), h('span', { text: 'Better Quality' })),
    h('p', { class: 'adv-tip', text: '<Tip> Change Encoding Preset to tune video quality in ' +
      'H.264/HEVC/VPX/AV1 encodings. Lower presets produce more smooth video on slow machines, ' +
      'with the trade-off against video quality. In most cases, keeping it less than 6 is recommended.' }));
}

const OVERLAY_FIELDS = ['adv-ovl-video', 'adv-ovl-text', 'adv-ovl-size', 'adv-ovl-color',
  'adv-ovl-halign', 'adv-ovl-hpad', 'adv-ovl-valign', 'adv-ovl-vpad'];

function buildOverlay() {
  const enable = h('input', { type: 'checkbox', id: 'adv-ovl-enable' });
  enable.addEventListener('change', syncOverlay);
  return h('div', {},
    row('Enable', enable),
    row('Overlay Video', input('adv-ovl-video', { placeholder: 'image or video file on the server' })),
    row('Overlay Text', input('adv-ovl-text')),
    row('Fontsize', input('adv-ovl-size', { type: 'number' })),
    row('Color', input('adv-ovl-color', { type: 'color' })),
    row('Horizontal Placement', select('adv-ovl-halign', [['left', 'Left'], ['right', 'Right']]),
      input('adv-ovl-hpad', { type: 'number' }), 'px'),
    row('Vertical Placement', select('adv-ovl-valign', [['top', 'Top'], ['bottom', 'Bottom']]),
      input('adv-ovl-vpad', { type: 'number' }), 'px'));
}

function syncOverlay() {
  const off = $('adv-ovl-enable').disabled || !$('adv-ovl-enable').checked;
  OVERLAY_FIELDS.forEach(function (id) { $(id).disabled = off; });
}

function buildMisc() {
  return h('div', {},
    row('Override Original Video Aspect Ratio with Output Video Size',
      h('input', { type: 'checkbox', id: 'adv-misc-aspect' })),
    row('Scan Type', h('select', { id: 'adv-misc-scan' })),
    row('Use NVIDIA GPU #', input('adv-misc-gpu', { type: 'number' }), 'for NVENC Acceleration'),
    row('GPU Decoding', h('select', { id: 'adv-misc-decoding' })));
}

// -------------------------------------------------- video pop-up: fields

function fillList(list, values) {
  list.textContent = '';
  values.forEach(function (v) { list.append(h('option', { value: v })); });
}

function fillSelect(sel, entries) {
  sel.textContent = '';
  entries.forEach(function (e) { sel.append(h('option', { value: String(e[0]), text: e[1] })); });
}

function showVideoFields(f, choices) {
  const enc = f.encoder;
  const profile = $('adv-enc-profile');
  setOptions(profile, choices.profiles, enc.profile);
  profile.disabled = !enc.profileEnabled;
  fillList($('adv-enc-level-list'), choices.levels);
  $('adv-enc-level').value = enc.level;
  $('adv-enc-level').disabled = !enc.levelEnabled;
  fillList($('adv-enc-threads-list'), choices.threads);
  $('adv-enc-threads').value = enc.threads;
  $('adv-enc-threads').disabled = !enc.threadsEnabled;
  const preset = $('adv-enc-preset');
  preset.min = String(enc.presetMinimum);
  preset.max = String(enc.presetMaximum);
  preset.value = String(enc.preset);
  preset.disabled = !enc.enabled;
  presetNames = choices.presetNames;
  presetMinimum = enc.presetMinimum;
  presetMoved = false;
  showPresetName();

  const ovl = f.overlay;
  $('adv-ovl-enable').checked = ovl.enabled;
  $('adv-ovl-video').value = ovl.file;
  $('adv-ovl-text').value = ovl.text;
  $('adv-ovl-size').value = String(ovl.fontSize);
  $('adv-ovl-color').value = ovl.color;
  $('adv-ovl-halign').value = ovl.rightAligned ? 'right' : 'left';
  $('adv-ovl-hpad').value = String(ovl.horizontalOffset);
  $('adv-ovl-valign').value = ovl.bottomAligned ? 'bottom' : 'top';
  $('adv-ovl-vpad').value = String(ovl.verticalOffset);
  syncOverlay();

  const misc = f.misc;
  $('adv-misc-aspect').checked = misc.aspectOverride;
  fillSelect($('adv-misc-scan'), choices.scanTypes.map(function (text, i) { return [i, text]; }));
  $('adv-misc-scan').value = String(misc.scanType);
  $('adv-misc-gpu').value = String(misc.gpuNumber);
  $('adv-misc-gpu').disabled = !misc.gpuNumberEnabled;
  fillSelect($('adv-misc-decoding'), choices.decoders.map(function (d) { return [d.choice, d.text]; }));
  $('adv-misc-decoding').value = String(misc.decoderChoice);
}

function readVideoFields(loaded) {
  return Object.assign({}, loaded, {
    encoder: Object.assign({}, loaded.encoder, {
      profile: $('adv-enc-profile').value,
      level: $('adv-enc-level').value,
      threads: $('adv-enc-threads').value,
      preset: presetMoved ? numberOf('adv-enc-preset') : loaded.encoder.preset,
    }),
    overlay: Object.assign({}, loaded.overlay, {
      enabled: $('adv-ovl-enable').checked,
      file: $('adv-ovl-video').value,
      text: $('adv-ovl-text').value,
      fontSize: numberOf('adv-ovl-size'),
      color: $('adv-ovl-color').value,
      rightAligned: $('adv-ovl-halign').value === 'right',
      horizontalOffset: numberOf('adv-ovl-hpad'),
      bottomAligned: $('adv-ovl-valign').value === 'bottom',
      verticalOffset: numberOf('adv-ovl-vpad'),
    }),
    misc: Object.assign({}, loaded.misc, {
      aspectOverride: $('adv-misc-aspect').checked,
      scanType: numberOf('adv-misc-scan'),
      gpuNumber: numberOf('adv-misc-gpu'),
      decoderChoice: numberOf('adv-misc-decoding'),
    }),
  });
}

// ------------------------------------------------------------------ setup

function button(id, text) { return h('button', { type: 'button', id: id, text: text }); }

function init() {
  if (built || typeof document === 'undefined') return;

  const formatOk = button('adv-format-ok', 'OK');
  const formatCancel = button('adv-format-cancel', 'Cancel');
  formatPopup = buildPopup('adv-format', 'Advanced Format Settings', [
    { name: 'ts-input', label: 'MPEG-TS Input', body: buildTsInput() },
    { name: 'ts-output', label: 'MPEG-TS Output', body: buildTsOutput() },
    { name: 'rtmp', label: 'RTMP Config', body: buildRtmp() },
    { name: 'hls', label: 'HLS Config', body: buildHls() },
    { name: 'srt', label: 'SRT Config', body: buildSrt() },
    { name: 'custom', label: 'Custom Param', body: buildCustom() }
  ], [formatOk, formatCancel]);
  formatOk.addEventListener('click', function () {
    save('advanced_format', formatPopup, 'format', readFormatFields);
  });
  formatCancel.addEventListener('click', function () { closePopup(formatPopup); });

  const videoOk = button('adv-video-ok', 'OK');
  const videoCancel = button('adv-video-cancel', 'Cancel');
  videoPopup = buildPopup('adv-video', 'Advanced Video Settings', [
    { name: 'encoding', label: 'H.264/HEVC/VPX/AV1 Encodings', body: buildEncoder() },
    { name: 'overlay', label: 'Overlay', body: buildOverlay() },
    { name: 'misc', label: 'Misc.', body: buildMisc() }
  ], [videoOk, videoCancel]);
  videoOk.addEventListener('click', function () {
    save('advanced_video', videoPopup, 'video', readVideoFields);
  });
  videoCancel.addEventListener('click', function () { closePopup(videoPopup); });

  document.body.append(formatPopup, videoPopup);
  built = true;
}

// The same ctx as openFormatSettings.
function openVideoSettings(ctx) {
  if (!built || !ctx || !ctx.channel) return;
  load('advanced_video', videoPopup, ctx, 'video', function (answer) {
    showVideoFields(answer.fields, answer.choices);
  });
}

// Closing drops what an answer still on its way would have shown or saved.
function closeAll() {
  tickets.format += 1;
  tickets.video += 1;
  shown.format = null;
  shown.video = null;
  closePopup(formatPopup);
  closePopup(videoPopup);
}

export { init, openFormatSettings, openVideoSettings, closeAll };
