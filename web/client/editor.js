// The editor beside the table: the state of the page's buttons, the settings of the selected
// channel with one tab per target, what the fields do while they change, and copying them back
// into the channel being edited.

import * as Advanced from './advanced.js';
import {
  $, addMissingOption, deepCopy, firstSource, firstTarget, h, hasOption, toFloat, toInt,
} from './helpers.js';
import { openDeckLinkPicker, openNdiPicker } from './popups.js';
import { previewPlan, tabLabel, targetsOf } from './rules.js';
import { checkEdit, showEditRefusal, sourceFields, targetPreset } from './server.js';
import { enableStandby, showStandby } from './standby.js';
import {
  channels, editedTarget, state, statusOf, takesSeveralTargets, targetFormatEntry,
} from './state.js';
import { fillRowTexts, markSelection, putEditFieldsInRow } from './table.js';

// ----- buttons and the shown channel ------------------------------------------------------------

export function updateButtons() {
  const n = state.selected;
  const editing = state.editing;
  $('btn-edit').disabled = editing || !n;
  $('btn-apply').disabled = !editing;
  $('btn-cancel').disabled = !editing;
  $('btn-new').disabled = editing;
  $('btn-remove').disabled = editing || !n;
  $('btn-start').disabled = editing || !n;
  $('btn-stop').disabled = editing || !n;
  // Not editing, the advanced pop-ups open to be looked at only.
  for (const id of ['btn-format-advanced', 'btn-video-advanced']) $(id).disabled = !state.curChannel;
  $('editor-hint').hidden = editing;
  const previewable = previewPlan(statusOf(n), firstTarget(state.curChannel)) !== '';
  $('btn-preview').disabled = !state.previewing && !previewable;
  $('editor').classList.toggle('readonly', !editing);
  for (const box of ['target-box', 'video-box', 'audio-box']) {
    for (const control of $(box).querySelectorAll('input, select, button')) {
      if (control.closest('#mbr-tabs')) continue;
      if (control.id === 'btn-format-advanced' || control.id === 'btn-video-advanced') continue;
      control.disabled = !editing;
    }
  }
  enableStandby();
  if (editing) applyVideoEnableRules();
}

// The server's frame size entry the select shows; "Other" has no size of its own.
function shownFrameSize() {
  return state.rules.frameSizes[toInt($('frame-size').value)] || {};
}

function applyVideoEnableRules() {
  const other = shownFrameSize().width === undefined;
  $('video-width').readOnly = !other;
  $('video-height').readOnly = !other;
}

// Shows channel n, or `copy` of it while it is edited; resolves once the edited row shows its
// fields (the server says what the source shows).
export async function updateSettings(n, copy) {
  const channel = copy || channels()[n - 1] || null;
  state.curChannel = channel;
  $('editor-title').textContent = n ? `Channel ${n}` : 'Channel';
  if (!channel) {
    showMbrTabs(false);
    updateButtons();
    await showStandby(null);
    return;
  }
  const source = firstSource(channel);
  if (source && !source.video) source.video = { options: [] };
  if (!state.editing && n) fillRowTexts(n);
  state.activeTarget = 0;
  showMbrTabs(takesSeveralTargets((firstTarget(channel) || {}).format));
  updateTarget(0);
  updateButtons();
  const standby = showStandby(channel);
  if (state.editing) await showSourceFields(n, channel);
  await standby;
}

// The edited row's fields, as the server shows the channel's first source. Without its answer the
// row keeps its texts, and the source, bind and memo stay as stored.
async function showSourceFields(n, channel) {
  const shown = await sourceFields('show', firstSource(channel));
  // The edit may have ended, or another begun, while the server answered.
  if (!shown || !state.editing || state.curChannel !== channel) return;
  putEditFieldsInRow(n, shown, channel.bind, channel.memo || '', onSourceFormatChange);
}

// The source the row's fields stand for, put into `channel` as the server stores it (the stored
// one, untouched, while the fields read what it shows). Resolves false when the server could not
// be asked; without fields the source stays as it is.
export async function storeShownSource(channel) {
  const select = $('edit-source-format');
  const address = $('edit-source-url');
  if (!select || !address) return true;
  const typed = { type: select.value, address: address.value };
  const answer = await sourceFields('store', firstSource(channel), typed);
  if (!answer || !answer.source || typeof answer.source !== 'object') return false;
  if (!channel.input || typeof channel.input !== 'object') channel.input = {};
  if (!Array.isArray(channel.input.sources)) channel.input.sources = [];
  channel.input.sources[0] = answer.source;
  // The type the typed address selects, as the window's cell shows it once committed.
  if (select.isConnected && select.value === typed.type) {
    addMissingOption(select, answer.type);
    select.value = answer.type;
  }
  return true;
}

export function selectRow(n) {
  Advanced.closeAll();
  state.selected = n;
  markSelection();
  updateSettings(n);
  updateButtons();
}

// ----- targets ----------------------------------------------------------------------------------

function showMbrTabs(show) {
  const bar = $('mbr-tabs');
  bar.hidden = !show;
  bar.textContent = '';
  if (!show || !state.curChannel) return;
  targetsOf(state.curChannel).forEach((target, index) => {
    const tab = h('button', {
      class: 'mbr-tab' + (index === state.activeTarget ? ' active' : ''), 'data-index': String(index),
      text: tabLabel(target, index), title: target.url || '',
    });
    tab.addEventListener('click', () => onTabClick(index));
    bar.append(tab);
  });
  const add = h('button', { id: 'mbr-add', text: '+', title: 'Add a target of another bit rate' });
  add.addEventListener('click', onAddTarget);
  const remove = h('button', { id: 'mbr-remove', text: '-', title: 'Remove this target' });
  remove.addEventListener('click', onRemoveTarget);
  bar.append(add, remove);
  add.disabled = remove.disabled = !state.editing;
}

function onTabClick(index) {
  if (state.editing) applyTarget();
  state.activeTarget = index;
  showMbrTabs(true);
  updateTarget(index);
}

function onAddTarget() {
  if (!state.editing) return;
  const targets = targetsOf(state.curChannel);
  const most = state.rules.maxTargets;
  if (targets.length >= most) {
    alert(`At most ${most} targets can be set for one channel.`);
    return;
  }
  applyTarget();
  targets.push(deepCopy(targets[targets.length - 1]));
  state.activeTarget = targets.length - 1;
  showMbrTabs(true);
  updateTarget(state.activeTarget);
}

function onRemoveTarget() {
  if (!state.editing) return;
  const targets = targetsOf(state.curChannel);
  if (targets.length < 2) return;
  targets.splice(state.activeTarget, 1);
  state.activeTarget = 0;
  showMbrTabs(true);
  updateTarget(0);
}

// A value with a list of common choices beside its field: the list shows it when it offers it.
function setChoice(select, field, value, zeroLabelValue = '0') {
  const text = value ? String(value) : zeroLabelValue;
  select.value = hasOption(select, text) ? text : '';
  field.value = String(value || 0);
}

function copyChoice(select, field) {
  if (select.value !== '') field.value = select.value;
}

// The target format list shows the server's entry for `format`, or the stored word itself when
// no entry has it.
function showTargetFormat(format) {
  const select = $('target-format');
  const entry = targetFormatEntry(format);
  if (entry >= 0) {
    select.value = String(entry);
  } else {
    addMissingOption(select, format);
    select.value = format;
  }
}

// The format the target format list stands for now.
function chosenTargetFormat() {
  const value = $('target-format').value;
  const entry = /^\d+$/.test(value) ? state.rules.targetFormats[Number(value)] : null;
  return entry ? entry.format : value;
}

function updateTarget(index) {
  // The advanced pop-ups show one target; another one shown closes them.
  Advanced.closeAll();
  if (!state.curChannel) return;
  const target = targetsOf(state.curChannel)[index] || {};
  showTargetFormat(target.format || 'udp');
  $('target-url').value = target.url || '';
  $('target-url').title = target.url || '';
  const mux = target.mux || {};
  $('mux-bitrate').value = String(mux.bitRate || 0);
  $('cbr').checked = mux.cbr === true;
  updateTargetVideo(target);
  const audio = target.audio || {};
  $('audio-enable').checked = audio.enable === true;
  const audioCodec = String(audio.codec || 'aac').toLowerCase();
  addMissingOption($('audio-codec'), audioCodec);
  $('audio-codec').value = audioCodec;
  setChoice($('sample-rate-choice'), $('sample-rate'), audio.sampleRate);
  $('audio-channels').value = String(audio.channels === undefined ? 2 : audio.channels);
  setChoice($('audio-bitrate-choice'), $('audio-bitrate'), audio.bitRate);
}

function updateTargetVideo(target) {
  const video = target.video || {};
  $('video-enable').checked = video.enable === true;
  const codec = String(video.codec || 'h264').toLowerCase();
  addMissingOption($('video-codec'), codec);
  $('video-codec').value = codec;
  const width = toInt(video.width);
  const height = toInt(video.height);
  const sizes = state.rules.frameSizes;
  const same = sizes.findIndex((size) => size.width === width && size.height === height);
  $('frame-size').value = String(same >= 0 ? same : sizes.findIndex((size) => size.width === undefined));
  $('video-width').value = String(width);
  $('video-height').value = String(height);
  setChoice($('frame-rate-choice'), $('frame-rate'), toFloat(video.frameRate));
  addMissingOption($('quality'), String(toInt(video.quality)));
  $('quality').value = String(toInt(video.quality));
  setChoice($('video-bitrate-choice'), $('video-bitrate'), toInt(video.bitRate));
  $('keyframe-interval').value = String(toInt(video.keyFrameInterval));
  applyVideoEnableRules();
}

// Copies the fields into the target whose tab is shown.
export function applyTarget() {
  if (!state.curChannel) return;
  const target = editedTarget();
  target.format = chosenTargetFormat();
  target.url = $('target-url').value.trim();
  applyTargetVideo(target);
  target.audio = {
    enable: $('audio-enable').checked,
    codec: $('audio-codec').value,
    sampleRate: toInt($('sample-rate').value),
    channels: toInt($('audio-channels').value),
    bitRate: toInt($('audio-bitrate').value),
  };
  if (!target.mux || typeof target.mux !== 'object') target.mux = {};
  target.mux.bitRate = toInt($('mux-bitrate').value);
  target.mux.cbr = $('cbr').checked;
  if (target.format !== 'rtmp' || !target.rtmp) {
    const kept = target.format === 'rtmp' ? target.rtmp : null;
    target.rtmp = kept || { flashVer: '', swfUrl: '', user: '', passwd: '' };
  }
}

function applyTargetVideo(target) {
  if (!target.video || typeof target.video !== 'object') target.video = {};
  const video = target.video;
  video.enable = $('video-enable').checked;
  video.codec = $('video-codec').value;
  video.width = toInt($('video-width').value);
  video.height = toInt($('video-height').value);
  video.frameRate = toFloat($('frame-rate').value);
  video.quality = toInt($('quality').value);
  video.bitRate = toInt($('video-bitrate').value);
  video.keyFrameInterval = toInt($('keyframe-interval').value);
}

// ----- field changes ----------------------------------------------------------------------------

function addSourceFormatOption(option) {
  const input = state.curChannel.input;
  if (!Array.isArray(input.formatOptions)) input.formatOptions = [];
  input.formatOptions.push(option);
}

function useDeckLinkSource(device, mode) {
  $('edit-source-url').value = device.name;
  if (mode) addSourceFormatOption(mode.formatOption);
}

function useDeckLinkTarget(device, mode) {
  $('target-url').value = device.name;
  const target = targetsOf(state.curChannel)[0];
  if (!target.video) target.video = {};
  if (mode && mode.video) Object.assign(target.video, mode.video);
  if (state.activeTarget === 0) updateTargetVideo(target);
}

function useNdiSource(name, timeout) {
  $('edit-source-url').value = name;
  addSourceFormatOption(`-wait_sources ${timeout}`);
}

function onSourceFormatChange() {
  const format = $('edit-source-format').value;
  // The address the server says a newly chosen type starts with.
  const entry = state.rules.sourceFormats.find((type) => type.value === format);
  $('edit-source-url').value = (entry && entry.defaultAddress) || '';
  if (format === 'decklink') openDeckLinkPicker(false, useDeckLinkSource);
  if (format === 'ndi') openNdiPicker(useNdiSource);
  const channel = state.curChannel;
  if (!channel.input) channel.input = {};
  channel.input.formatOptions = [];
  const source = firstSource(channel);
  if (source) source.video = { ...(source.video || {}), options: [] };
}

async function onTargetFormatChange() {
  const entry = $('target-format').value;
  const format = chosenTargetFormat();
  const channel = state.curChannel;
  $('video-enable').checked = true;
  $('audio-enable').checked = true;
  $('video-codec').value = 'h264';
  onVideoCodecChange();
  $('quality').value = '0';
  $('mux-bitrate').value = '0';
  $('cbr').checked = false;
  $('audio-codec').value = 'aac';
  setChoice($('sample-rate-choice'), $('sample-rate'), 0);
  $('audio-channels').value = '2';
  if (format === 'httpmjpg') {
    $('video-codec').value = 'mjpeg';
    onVideoCodecChange();
    $('audio-enable').checked = false;
  }
  const targets = targetsOf(channel);
  targets.splice(1);
  state.activeTarget = 0;
  channel.output.formatOptions = [];
  showMbrTabs(takesSeveralTargets(format));
  if (format === 'decklink') {
    openDeckLinkPicker(true, useDeckLinkTarget);
    return;
  }
  $('target-url').value = '';
  const url = await targetPreset(state.selected, entry);
  // Another format may have been chosen, or the edit ended, while the server answered.
  if (state.editing && $('target-format').value === entry) $('target-url').value = url;
}

// The shown target with one member of its `object` changed, as the server is asked about it.
function withShownTarget(object, key, value) {
  const channel = deepCopy(state.curChannel);
  const target = targetsOf(channel)[state.activeTarget];
  if (!target[object] || typeof target[object] !== 'object') target[object] = {};
  target[object][key] = value;
  return channel;
}

// A codec the server refuses (MainConcept without its plug-in, an encoder its ffmpeg lacks)
// leaves the list as it was; the edit may have ended while it answered.
async function encodingRefused(step, object, codec) {
  const answer = await checkEdit(step, state.selected, withShownTarget(object, 'codec', codec), state.activeTarget);
  return !state.editing || !answer || showEditRefusal(answer);
}

async function onVideoCodecPicked() {
  const select = $('video-codec');
  const codec = select.value;
  if (await encodingRefused('video_encoding', 'video', codec)) {
    select.value = String((editedTarget().video || {}).codec || 'h264').toLowerCase();
    return;
  }
  if (select.value === codec) onVideoCodecChange();
}

async function onAudioCodecPicked() {
  const select = $('audio-codec');
  const codec = select.value;
  if (!(await encodingRefused('audio_encoding', 'audio', codec))) return;
  const stored = String((editedTarget().audio || {}).codec || 'aac').toLowerCase();
  addMissingOption(select, stored);
  select.value = stored;
}

function onVideoCodecChange() {
  const select = $('video-codec');
  const codec = select.value;
  const target = editedTarget();
  if (!target.video) target.video = {};
  target.video.codec = codec;
  if (codec === 'copy') {
    Object.assign(target.video, { width: 0, height: 0, frameRate: 0, quality: 0, bitRate: 0, keyFrameInterval: 5 });
  } else {
    // The fields as they stand now; the codec change keeps what the operator typed.
    Object.assign(target.video, {
      width: toInt($('video-width').value), height: toInt($('video-height').value),
      frameRate: toFloat($('frame-rate').value), quality: toInt($('quality').value),
      bitRate: toInt($('video-bitrate').value), keyFrameInterval: toInt($('keyframe-interval').value),
    });
  }
  target.video.enable = $('video-enable').checked;
  target.video.options = [];
  updateTargetVideo(target);
}

async function onCbrChange() {
  if (!$('cbr').checked) return;
  const channel = withShownTarget('mux', 'cbr', true);
  targetsOf(channel)[state.activeTarget].video = { ...(editedTarget().video || {}), bitRate: toInt($('video-bitrate').value) };
  const answer = await checkEdit('cbr', state.selected, channel, state.activeTarget);
  if (answer && answer.refusal) {
    $('cbr').checked = false;
    showEditRefusal(answer);
  }
}

function onFrameSizeChange() {
  const size = shownFrameSize();
  if (size.width !== undefined) {
    $('video-width').value = String(size.width);
    $('video-height').value = String(size.height);
  }
  applyVideoEnableRules();
}

// ----- wiring -----------------------------------------------------------------------------------

function fillList(id, entries, value) {
  const select = $(id);
  select.textContent = '';
  entries.forEach((entry, index) => select.add(new Option(entry.text, String(value(entry, index)))));
}

// The lists the server's rules name (/rules); the target format and frame size lists keep the
// entry's position, since two target format entries store the same format.
export function fillChoiceLists() {
  const rules = state.rules;
  fillList('target-format', rules.targetFormats, (entry, index) => index);
  fillList('video-codec', rules.videoEncodings, (entry) => entry.codec);
  fillList('audio-codec', rules.audioEncodings, (entry) => entry.codec);
  fillList('audio-channels', rules.audioChannels, (entry) => entry.channels);
  fillList('frame-size', rules.frameSizes, (entry, index) => index);
  fillList('frame-rate-choice', rules.frameRates, (entry) => entry.value);
  fillList('quality', rules.qualities, (entry) => entry.value);
  fillList('video-bitrate-choice', rules.videoBitrates, (entry) => entry.value);
  fillList('sample-rate-choice', rules.sampleRates, (entry) => entry.value);
  fillList('audio-bitrate-choice', rules.audioBitrates, (entry) => entry.value);
}

// What the row and the panel show, put into the channel being edited: the advanced pop-ups
// translate the channel as the operator sees it. Resolves false when the source could not be
// stored.
function commitShownFields() {
  applyTarget();
  return storeShownSource(state.curChannel);
}

// The channel as a pop-up's OK rewrote it; the URL fields show a rewritten address (SRT caller).
async function takeAdvancedChannel(channel) {
  const edited = state.curChannel;
  if (!edited || !channel || typeof channel !== 'object') return;
  for (const key of Object.keys(edited)) delete edited[key];
  Object.assign(edited, channel);
  const target = editedTarget();
  if (target && typeof target.url === 'string') $('target-url').value = target.url;
  const source = firstSource(edited);
  if (!source) return;
  const shown = await sourceFields('show', source);
  if (!shown || state.curChannel !== edited || !$('edit-source-url')) return;
  addMissingOption($('edit-source-format'), shown.type);
  $('edit-source-format').value = shown.type;
  $('edit-source-url').value = shown.address;
}

async function openAdvanced(open) {
  const channel = state.curChannel;
  if (!channel) return;
  if (!state.editing) {
    open({ channel, target: state.activeTarget, readOnly: true });
    return;
  }
  if (!(await commitShownFields()) || !state.editing || state.curChannel !== channel) return;
  open({
    channel: state.curChannel, target: state.activeTarget, commit: commitShownFields, onSaved: takeAdvancedChannel,
  });
}

export function wireEditor() {
  $('target-format').addEventListener('change', onTargetFormatChange);
  $('video-codec').addEventListener('change', onVideoCodecPicked);
  $('audio-codec').addEventListener('change', onAudioCodecPicked);
  $('cbr').addEventListener('change', onCbrChange);
  $('frame-size').addEventListener('change', onFrameSizeChange);
  for (const name of ['frame-rate', 'video-bitrate', 'sample-rate', 'audio-bitrate']) {
    $(`${name}-choice`).addEventListener('change', () => copyChoice($(`${name}-choice`), $(name)));
  }
  $('btn-format-advanced').addEventListener('click', () => openAdvanced(Advanced.openFormatSettings));
  $('btn-video-advanced').addEventListener('click', () => openAdvanced(Advanced.openVideoSettings));
}
