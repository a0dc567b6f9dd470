// The administration page: the channel table with live states and machine load, the channel
// editor (source in the row, targets on the right), channel commands, global settings, import
// and export, and the DeckLink and NDI pickers. Every change goes back to the server as the
// whole configuration document.
'use strict';

const frameSizes = {
  original: [0, 0], qvga: [320, 240], nhd: [640, 360], vga: [640, 480], sd: [720, 576],
  hd: [1280, 720], fhd: [1920, 1080], qhd: [2048, 1080], uhd: [3840, 2160],
};
const frameSizeLabels = {
  original: 'Original', qvga: 'QVGA', nhd: 'nHD', vga: 'VGA', sd: 'SDTV', hd: 'HD', fhd: 'FullHD',
  qhd: '2K', uhd: '4K', other: 'Other',
};
const mbrFormats = ['rtmp', 'udp', 'omxts', 'rtpts', 'hls', 'dash'];
// Source formats whose URL gets "<format>://" in front when it was typed without a scheme.
const schemeFormats = ['ftp', 'http', 'udp', 'rtp', 'srt', 'rtsp', 'rtspt', 'rtmp', 'mms', 'mmst'];
const maxTargets = 5;

const state = {
  runtime: null,        // jsonRuntime
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

};

const $ = (id) => document.getElementById(id);

function ParseInt(text) {
  const value = parseInt(text, 10);
  return Number.isFinite(value) ? value : 0;
}

function ParseFloat(text) {
  const value = parseFloat(text);
  return Number.isFinite(value) ? value : 0;
}

function deepCopy(value) {
  return JSON.parse(JSON.stringify(value));
}

function channels() {
  if (!state.config || !Array.isArray(state.config.channels)) return [];
  return state.config.channels;
}

function showPageError(text) {
  const box = $('page-error');
  box.textContent = text;
  box.hidden = !text;
}

// ----- server ---------------------------------------------------------------------------------

// A JSON answer, or an exception. A login page instead of JSON means the cookie is gone: the
// page reloads and the server shows its login.
async function getJson(path) {
  const response = await fetch(path, { credentials: 'same-origin', cache: 'no-store' });
  if (!response.ok) throw new Error(`${path}: ${response.status} ${response.statusText}`);
  const type = response.headers.get('Content-Type') || '';
  if (!type.includes('application/json')) {
    window.location.reload();
    throw new Error('logged out');
  }
  return response.json();
}

async function postConfig() {
  const response = await fetch('config', {
    method: 'POST', credentials: 'same-origin', headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(state.config),
  });
  if (!response.ok) throw new Error(`the server refused the configuration (${response.status})`);
  return response.json();
}

async function channelAction(n, action) {
  return fetch(`channel${n}?${action}`, { credentials: 'same-origin', cache: 'no-store' });
}

// ----- channel table ----------------------------------------------------------------------------

function buildRows(count) {
  const body = $('channels').tBodies[0];
  body.textContent = '';
  for (let k = 1; k <= count; k++) {
    const row = body.insertRow();
    row.dataset.row = String(k);
    for (const name of ['num', 'source', 'bind', 'memo', 'status']) row.insertCell().className = name;
    const status = row.cells[4];
    status.append(document.createElement('img'), document.createElement('span'));
    status.firstChild.hidden = true;
    row.addEventListener('click', () => onRowClick(k));
    row.addEventListener('dblclick', () => onRowDoubleClick(k));
  }
}

function tableRow(n) {
  return $('channels').tBodies[0].rows[n - 1] || null;
}

function firstSource(channel) {
  const sources = channel && channel.input && channel.input.sources;
  return Array.isArray(sources) && sources[0] ? sources[0] : null;
}

function firstTarget(channel) {
  const targets = channel && channel.output && channel.output.targets;
  return Array.isArray(targets) && targets[0] ? targets[0] : null;
}

function fillRowTexts(n) {
  const row = tableRow(n);
  if (!row) return;
  const channel = channels()[n - 1];
  const stored = Boolean(channel);
  row.classList.toggle('stored', stored);
  row.classList.remove('editing');
  const source = firstSource(channel);
  const url = source && typeof source.url === 'string' ? source.url : '';
  row.cells[0].textContent = stored || (state.newChannel && state.selected === n) ? String(n) : '';
  row.cells[1].textContent = stored ? ' ' + url : '';
  row.cells[1].title = stored ? url : '';
  row.cells[2].textContent = stored && channel.bind > 0 ? String(channel.bind) : '';
  row.cells[3].textContent = stored && typeof channel.memo === 'string' ? channel.memo : '';
}

function fillTable() {
  const count = state.runtime ? state.runtime.channels : 0;
  for (let n = 1; n <= count; n++) fillRowTexts(n);
  markSelection();
}

function markSelection() {
  for (const row of $('channels').tBodies[0].rows) {
    row.classList.toggle('selected', Number(row.dataset.row) === state.selected);
  }
}

function onRowClick(n) {
  if (state.editing || n > channels().length) return;
  selectRow(n);
}

function onRowDoubleClick(n) {
  if (state.editing || n > channels().length) return;
  selectRow(n);
  startEdit();
}

function selectRow(n) {
  state.selected = n;
  markSelection();
  updateSettings(n);
  updateButtons();
}

// Columns can be widened or narrowed by dragging the right edge of a header cell.
function makeColumnsResizable() {
  const table = $('channels');
  const cols = table.querySelectorAll('col');
  table.tHead.rows[0].querySelectorAll('th').forEach((th, index) => {
    if (index === cols.length - 1) return;
    const grip = document.createElement('span');
    grip.className = 'grip';
    th.append(grip);
    grip.addEventListener('mousedown', (down) => {
      down.preventDefault();
      const startX = down.clientX;
      const startWidth = th.getBoundingClientRect().width;
      const move = (event) => {
        cols[index].style.width = `${Math.max(28, startWidth + event.clientX - startX)}px`;
      };
      const up = () => {
        document.removeEventListener('mousemove', move);
        document.removeEventListener('mouseup', up);
      };
      document.addEventListener('mousemove', move);
      document.addEventListener('mouseup', up);
    });
  });
}

// ----- status poll ------------------------------------------------------------------------------

function loadToRGB(load) {
  const red = Math.min(55 + 4 * load, 255);
  const green = load < 50 ? 255 : 255 - 5 * (load - 50);
  return `rgb(${red}, ${Math.max(0, green)}, 0)`;
}

function showLoadCells(table, values) {
  const body = table.tBodies[0];
  if (body.dataset.count !== String(values.length)) {
    body.textContent = '';
    let row = null;
    values.forEach((_, index) => {
      if (index % 16 === 0) row = body.insertRow();
      row.insertCell();
    });
    body.dataset.count = String(values.length);
  }
  const cells = body.querySelectorAll('td');
  values.forEach((value, index) => {
    const load = Number(value) || 0;
    cells[index].textContent = `${load}%`;
    cells[index].style.background = loadToRGB(load);
  });
}

function showStatus(answer) {
  state.channelStatus = Array.isArray(answer.channels) ? answer.channels : [];
  const count = state.runtime ? state.runtime.channels : 0;
  for (let n = 1; n <= count; n++) {
    const cell = tableRow(n).cells[4];
    const entry = state.channelStatus[n - 1];
    const image = cell.firstChild;
    const text = cell.lastChild;
    const icon = entry ? `${entry.state}.png` : '';
    if (image.getAttribute('src') !== icon) {
      if (icon) image.setAttribute('src', icon); else image.removeAttribute('src');
      image.hidden = !icon;
    }
    const words = entry ? String(entry.status) : '';
    if (text.textContent !== words) text.textContent = words;
  }
  showLoadCells($('cpu-load'), Array.isArray(answer.cpu) ? answer.cpu : []);
  showLoadCells($('gpu-load'), answer.gpu ? [answer.gpu] : []);
  updateButtons();
}

async function pollStatus() {
  try {
    showStatus(await getJson('status'));
  } catch (error) {
    // The next poll tries again; a server that went away shows nothing new meanwhile.
  }
}

function statusOf(n) {
  return state.channelStatus[n - 1] || null;
}

// ----- the editor -------------------------------------------------------------------------------

function updateButtons() {
  const n = state.selected;
  const editing = state.editing;
  $('btn-edit').disabled = editing || !n;
  $('btn-apply').disabled = !editing;
  $('btn-cancel').disabled = !editing;
  $('btn-new').disabled = editing;
  $('btn-remove').disabled = editing || !n;
  $('btn-start').disabled = editing || !n;
  $('btn-stop').disabled = editing || !n;
  for (const id of ['btn-format-advanced', 'btn-video-advanced']) $(id).disabled = !editing;
  const status = statusOf(n);
  const target = firstTarget(state.curChannel);
  const html5 = target && target.format === 'html5';
  $('btn-preview').disabled = !state.previewing && Boolean(status) &&
      !(status.state === 'idle' || html5);
  $('editor').classList.toggle('readonly', !editing);
  for (const box of ['target-box', 'video-box', 'audio-box']) {
    for (const control of $(box).querySelectorAll('input, select, button')) {
      if (control.closest('#mbr-tabs')) continue;
      if (control.id === 'btn-format-advanced' || control.id === 'btn-video-advanced') continue;
      control.disabled = !editing;
    }
  }
  if (editing) applyVideoEnableRules();
}

function applyVideoEnableRules() {
  const other = $('frame-size').value === 'other';
  $('video-width').readOnly = !other;
  $('video-height').readOnly = !other;
}

function splitScheme(url) {
  const at = url.indexOf('://');
  if (at < 0) return { scheme: '', rest: url };
  let scheme = url.slice(0, at).toLowerCase();
  if (scheme === 'https') scheme = 'http';
  if (scheme === 'sftp') scheme = 'ftp';
  return { scheme, rest: url.slice(at + 3) };
}

function sourceFormatOptions() {
  const device = state.runtime && state.runtime.platform === 'windows' ? 'DirectShow' : 'V4L2';
  return [
    ['file', 'Local File/Folder'], ['ftp', 'FTP/SFTP'], ['http', 'HTTP/HTTPS'], ['udp', 'UDP'],
    ['rtp', 'RTP'], ['rtsp', 'RTSP'], ['rtspt', 'RTSP over TCP'], ['rtmp', 'RTMP'], ['srt', 'SRT'],
    ['mms', 'MMS'], ['mmst', 'MMS over TCP'], ['ytdlp', 'yt-dlp'], ['device', device],
    ['decklink', 'Decklink'], ['ndi', 'NewTek NDI'],
  ];
}

// The source, bind and memo cells of the row become fields while the channel is edited.
function putEditFieldsInRow(n, format, url, bind, memo) {
  const row = tableRow(n);
  row.classList.add('editing');
  row.cells[0].textContent = String(n);
  const box = document.createElement('div');
  box.className = 'source-edit';
  const select = document.createElement('select');
  select.id = 'edit-source-format';
  for (const [value, label] of sourceFormatOptions()) select.add(new Option(label, value));
  if (![...select.options].some((option) => option.value === format)) {
    select.add(new Option(format, format));
  }
  select.value = format;
  const input = document.createElement('input');
  input.id = 'edit-source-url';
  input.type = 'text';
  input.spellcheck = false;
  input.value = url;
  box.append(select, input);
  row.cells[1].textContent = '';
  row.cells[1].title = '';
  row.cells[1].append(box);
  const bindInput = document.createElement('input');
  bindInput.id = 'edit-bind';
  bindInput.type = 'text';
  bindInput.value = bind > 0 ? String(bind) : '';
  row.cells[2].textContent = '';
  row.cells[2].append(bindInput);
  const memoInput = document.createElement('input');
  memoInput.id = 'edit-memo';
  memoInput.type = 'text';
  memoInput.value = memo;
  row.cells[3].textContent = '';
  row.cells[3].append(memoInput);
  select.addEventListener('change', onSourceFormatChange);
}

function updateSettings(n, copy) {
  const channel = copy || channels()[n - 1] || null;
  state.curChannel = channel;
  $('editor-title').textContent = n ? `Channel ${n}` : 'Channel';
  if (!channel) {
    showMbrTabs(false);
    updateButtons();
    return;
  }
  const source = firstSource(channel);
  if (source && !source.video) source.video = { options: [] };
  const url = source && typeof source.url === 'string' ? source.url : '';
  const format = source && typeof source.format === 'string' ? source.format : 'file';
  if (state.editing) {
    const { scheme, rest } = splitScheme(url);
    if (format !== 'ytdlp' && scheme) {
      // https and sftp keep their whole URL, so applying does not turn them into http/ftp.
      const whole = !url.toLowerCase().startsWith(`${scheme}://`);
      putEditFieldsInRow(n, scheme, whole ? url : rest, channel.bind, channel.memo || '');
    } else {
      putEditFieldsInRow(n, format, url, channel.bind, channel.memo || '');
    }
  } else if (n) {
    fillRowTexts(n);
  }
  Advanced.updateOverlay(channel);
  state.activeTarget = 0;
  showMbrTabs(mbrFormats.includes((firstTarget(channel) || {}).format));
  updateTarget(0);
  updateButtons();
}

// ----- targets ----------------------------------------------------------------------------------

function targetsOf(channel) {
  if (!channel.output) channel.output = {};
  if (!Array.isArray(channel.output.targets) || channel.output.targets.length === 0) {
    channel.output.targets = [{}];
  }
  return channel.output.targets;
}

function activeTarget() {
  return targetsOf(state.curChannel)[state.activeTarget];
}

function tabLabel(target) {
  const url = target && typeof target.url === 'string' ? target.url : '';
  const cut = Math.max(url.lastIndexOf('/'), url.lastIndexOf('\\'));
  return url.slice(cut + 1) || '(none)';
}

function showMbrTabs(show) {
  const bar = $('mbr-tabs');
  bar.hidden = !show;
  bar.textContent = '';
  if (!show || !state.curChannel) return;
  targetsOf(state.curChannel).forEach((target, index) => {
    const tab = document.createElement('button');
    tab.className = 'mbr-tab' + (index === state.activeTarget ? ' active' : '');
    tab.dataset.index = String(index);
    tab.textContent = tabLabel(target);
    tab.title = target.url || '';
    tab.addEventListener('click', () => onTabClick(index));
    bar.append(tab);
  });
  const add = document.createElement('button');
  add.id = 'mbr-add';
  add.textContent = '+';
  add.title = 'Add a target of another bit rate';
  add.addEventListener('click', onAddTarget);
  const remove = document.createElement('button');
  remove.id = 'mbr-remove';
  remove.textContent = '-';
  remove.title = 'Remove this target';
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
  if (targets.length >= maxTargets) {
    alert(`At most ${maxTargets} targets can be set for one channel.`);
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

function setChoice(select, field, value, zeroLabelValue = '0') {
  const text = value ? String(value) : zeroLabelValue;
  select.value = [...select.options].some((option) => option.value === text) ? text : '';
  field.value = String(value || 0);
}

function updateTarget(index) {
  if (!state.curChannel) return;
  const target = targetsOf(state.curChannel)[index] || {};
  $('target-format').value = target.format || 'udp';
  $('target-url').value = target.url || '';
  $('target-url').title = target.url || '';
  const mux = target.mux || {};
  $('mux-bitrate').value = String(mux.bitRate || 0);
  $('cbr').checked = mux.cbr === true;
  updateTargetVideo(target);
  const audio = target.audio || {};
  $('audio-enable').checked = audio.enable === true;
  $('audio-codec').value = String(audio.codec || 'aac').toLowerCase();
  setChoice($('sample-rate-choice'), $('sample-rate'), audio.sampleRate);
  $('audio-channels').value = String(audio.channels === undefined ? 2 : audio.channels);
  setChoice($('audio-bitrate-choice'), $('audio-bitrate'), audio.bitRate);
}

function frameSizeName(width, height) {
  for (const [name, size] of Object.entries(frameSizes)) {
    if (size[0] === width && size[1] === height) return name;
  }
  return 'other';
}

function updateTargetVideo(target) {
  const video = target.video || {};
  $('video-enable').checked = video.enable === true;
  const codec = String(video.codec || 'h264').toLowerCase();
  if (![...$('video-codec').options].some((option) => option.value === codec)) {
    $('video-codec').add(new Option(codec, codec));
  }
  $('video-codec').value = codec;
  const width = ParseInt(video.width);
  const height = ParseInt(video.height);
  $('frame-size').value = frameSizeName(width, height);
  $('video-width').value = String(width);
  $('video-height').value = String(height);
  setChoice($('frame-rate-choice'), $('frame-rate'), ParseFloat(video.frameRate));
  $('quality').value = String(ParseInt(video.quality));
  setChoice($('video-bitrate-choice'), $('video-bitrate'), ParseInt(video.bitRate));
  $('keyframe-interval').value = String(ParseInt(video.keyFrameInterval));
  applyVideoEnableRules();
  Advanced.updateVideoTabs(state.curChannel, target);
}

function applyTarget() {
  if (!state.curChannel) return;
  const target = activeTarget();
  target.format = $('target-format').value;
  target.url = $('target-url').value.trim();
  applyTargetVideo(target);
  target.audio = {
    enable: $('audio-enable').checked,
    codec: $('audio-codec').value,
    sampleRate: ParseInt($('sample-rate').value),
    channels: ParseInt($('audio-channels').value),
    bitRate: ParseInt($('audio-bitrate').value),
  };
  if (!target.mux || typeof target.mux !== 'object') target.mux = {};
  target.mux.bitRate = ParseInt($('mux-bitrate').value);
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
  video.width = ParseInt($('video-width').value);
  video.height = ParseInt($('video-height').value);
  video.frameRate = ParseFloat($('frame-rate').value);
  video.quality = ParseInt($('quality').value);
  video.bitRate = ParseInt($('video-bitrate').value);
  video.keyFrameInterval = ParseInt($('keyframe-interval').value);
  Advanced.applyVideoTabs(state.curChannel, target);
}

// ----- editing controls -------------------------------------------------------------------------

function pageHost() {
  return window.location.hostname;
}

function pagePort() {
  return window.location.port || (window.location.protocol === 'https:' ? '443' : '80');
}

function mediaFolder() {
  return state.runtime && state.runtime.platform === 'windows' ? 'c:\\media\\' : '/media/';
}

function targetUrlPreset(format, n) {
  const host = pageHost();
  switch (format) {
    case 'rtmp': return `rtmp://127.0.0.1/live/morv_ch${n}`;
    case 'udp': case 'omxts': return `udp://${host}:1234`;
    case 'http': case 'html5': case 'httpmjpg':
      return `${window.location.protocol}//${host}:${pagePort()}/morv_ch${n}`;
    case 'hls': return `${mediaFolder()}morv_ch${n}.m3u8`;
    case 'dash': return `${mediaFolder()}morv_ch${n}.mpd`;
    case 'file': return `${mediaFolder()}morv_ch${n}_recorded.mp4`;
    case 'srt': return 'srt://0.0.0.0:1234';
    case 'rtpts': return `rtp://${host}:1234`;
    case 'rtsp': return `rtsp://127.0.0.1:8554/morv_ch${n}`;
    case 'ftp': return 'ftp://192.168.1.2/media/stream.mp4';
    case 'ndi': return `morv_ch${n}`;
    default: return '';
  }
}

function onSourceFormatChange() {
  const format = $('edit-source-format').value;
  const url = $('edit-source-url');
  url.value = '';
  if (format === 'decklink') openDeckLinkPicker(false);
  if (format === 'ndi') openNdiPicker();
  if (format === 'udp' || format === 'rtp') url.value = '0.0.0.0:1234';
  if (format === 'srt') url.value = `${pageHost()}:1234`;
  const channel = state.curChannel;
  if (!channel.input) channel.input = {};
  channel.input.formatOptions = [];
  const source = firstSource(channel);
  if (source) source.video = { ...(source.video || {}), options: [] };
}

function onTargetFormatChange() {
  const format = $('target-format').value;
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
  if (format === 'decklink') {
    openDeckLinkPicker(true);
  } else {
    $('target-url').value = targetUrlPreset(format, state.selected);
  }
  if (format === 'httpmjpg') {
    $('video-codec').value = 'mjpeg';
    onVideoCodecChange();
    $('audio-enable').checked = false;
  }
  const targets = targetsOf(channel);
  targets.splice(1);
  state.activeTarget = 0;
  channel.output.formatOptions = [];
  showMbrTabs(mbrFormats.includes(format));
}

function onVideoCodecChange() {
  const select = $('video-codec');
  const codec = select.value;
  const target = activeTarget();
  if (!target.video) target.video = {};
  const omxPath = state.config && state.config.global ? state.config.global.omxPath : '';
  if ((codec === 'omx264' || codec === 'omx265') && !omxPath) {
    alert('Please make sure to install MainConcept FFmpeg Plugin and\nconfigure plugin core file path in Global Settings to use MainConcept encoder.');
    select.value = String(target.video.codec || 'h264').toLowerCase();
    return;
  }
  target.video.codec = codec;
  if (codec === 'copy') {
    Object.assign(target.video, { width: 0, height: 0, frameRate: 0, quality: 0, bitRate: 0, keyFrameInterval: 5 });
  } else {
    // The fields as they stand now; the codec change keeps what the operator typed.
    Object.assign(target.video, {
      width: ParseInt($('video-width').value), height: ParseInt($('video-height').value),
      frameRate: ParseFloat($('frame-rate').value), quality: ParseInt($('quality').value),
      bitRate: ParseInt($('video-bitrate').value), keyFrameInterval: ParseInt($('keyframe-interval').value),
    });
  }
  target.video.enable = $('video-enable').checked;
  target.video.options = [];
  updateTargetVideo(target);
}

function onCbrChange() {
  if ($('cbr').checked && ParseInt($('video-bitrate').value) === 0) {
    $('cbr').checked = false;
    alert('Cannot enable CBR with ZERO video bitrate!');
  }
}

function onFrameSizeChange() {
  const name = $('frame-size').value;
  if (name !== 'other') {
    $('video-width').value = String(frameSizes[name][0]);
    $('video-height').value = String(frameSizes[name][1]);
  }
  applyVideoEnableRules();
}

function copyChoice(select, field) {
  if (select.value !== '') field.value = select.value;
}

// ----- edit, apply, cancel, new, remove ---------------------------------------------------------

function startEdit() {
  if (!state.selected) {
    alert('Please select channel first.');
    return;
  }
  const stored = channels()[state.selected - 1];
  if (!stored) return;
  state.editing = true;
  state.newChannel = false;
  updateSettings(state.selected, deepCopy(stored));
}

function closeEditor() {
  state.editing = false;
  Advanced.closeAll();
  for (const id of ['popup-decklink', 'popup-ndi']) $(id).classList.remove('open');
}

async function applyEdit() {
  const n = state.selected;
  const channel = state.curChannel;
  const format = $('edit-source-format').value;
  let url = $('edit-source-url').value.trim();
  if (!url) {
    alert('Setting Error: Source URL empty!');
    return;
  }
  const bind = ParseInt($('edit-bind').value);
  if (bind === n || bind > state.runtime.channels) {
    alert('Error: Bind channel invalid!');
    return;
  }
  if (!$('target-url').value.trim()) {
    alert('Setting Error: Target URL empty!');
    return;
  }
  if (schemeFormats.includes(format) && !url.includes('://')) url = `${format}://${url}`;
  channel.enable = false;
  const source = firstSource(channel);
  source.format = format;
  source.url = url;
  applyTarget();
  const targets = targetsOf(channel);
  if (!mbrFormats.includes(targets[0].format)) {
    targets.splice(1);
  } else {
    const urls = targets.map((target) => target.url);
    if (new Set(urls).size !== urls.length &&
        !confirm('Duplicated target URLs found in multi-bitrate output!\nSure to continue?')) {
      return;
    }
  }
  const list = channels();
  const storedBind = list[n - 1] && list[n - 1].bind > 0 ? list[n - 1].bind : 0;
  if (bind > 0) channel.bind = bind; else delete channel.bind;
  if (bind !== storedBind) {
    const old = list[storedBind - 1];
    if (old && old.input && Array.isArray(old.input.sources)) {
      old.input.sources = old.input.sources.filter((item) => !(item && item.bind === n && Object.keys(item).length === 1));
    }
    const master = bind > 0 ? list[bind - 1] : null;
    if (master && master.input && Array.isArray(master.input.sources)) master.input.sources.push({ bind: n });
  }
  channel.memo = $('edit-memo').value;
  if (n - 1 < list.length) list[n - 1] = channel; else list.push(channel);
  closeEditor();
  state.newChannel = false;
  await sendConfig();
  fillTable();
  updateSettings(n);
}

// Posts the whole document; the answer (the document as the server normalised it) replaces ours.
async function sendConfig() {
  try {
    state.config = await postConfig();
    showPageError('');
  } catch (error) {
    showPageError(`The configuration was not saved: ${error.message}`);
  }
}

function cancelEdit() {
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

function newChannelTemplate() {
  return {
    enable: false,
    input: {
      sources: [{ format: 'file', url: '', video: { options: [] } }],
      formatOptions: [], customOptions: '', filters: [], map: [],
    },
    output: {
      targets: [{
        format: 'udp', url: `udp://${pageHost()}:1234`,
        video: {
          enable: true, codec: 'h264', width: 0, height: 0, frameRate: 0, keyFrameInterval: 5, quality: 0,
          bitRate: 0, scanType: 0, options: ['-preset:v faster'], IP: '127.0.0.1', port: 1234, globalHeader: 'inBand',
        },
        audio: { enable: true, codec: 'aac', sampleRate: 0, channels: 2, bitRate: 0 },
        mux: { bitRate: 0, cbr: false },
        rtmp: { flashVer: '', swfUrl: '', user: '', passwd: '' },
      }],
      formatOptions: [], customOptions: '',
    },
    memo: '',
  };
}

function newChannel() {
  if (channels().length >= state.runtime.channels) {
    alert(`All ${state.runtime.channels} channels are in use.`);
    return;
  }
  state.selected = channels().length + 1;
  state.editing = true;
  state.newChannel = true;
  markSelection();
  updateSettings(state.selected, newChannelTemplate());
  $('edit-source-url').focus();
}

async function removeChannel() {
  const n = state.selected;
  if (!n) {
    alert('Please select channel first.');
    return;
  }
  for (let k = n; k <= channels().length; k++) {
    const status = statusOf(k);
    if (status && status.state !== 'idle') {
      alert('Please stop all channels before removing this channel.');
      return;
    }
  }
  if (!confirm('Warning: Remove this channel?')) return;
  channels().splice(n - 1, 1);
  await sendConfig();
  state.selected = Math.min(n, channels().length);
  fillTable();
  updateSettings(state.selected);
}

// ----- channel commands -------------------------------------------------------------------------

function requireSelection() {
  if (state.selected) return true;
  alert('Please select channel first.');
  return false;
}

async function startChannel() {
  if (!requireSelection()) return;
  const n = state.selected;
  const status = statusOf(n);
  if (status && status.state !== 'idle') return;
  const response = await channelAction(n, 'start');
  if (response.ok) {
    const cell = tableRow(n).cells[4];
    cell.firstChild.src = 'running.png';
    cell.firstChild.hidden = false;
    cell.lastChild.textContent = 'RUNNING';
  } else {
    const reason = (await response.text()) || response.statusText;
    alert(`Channel start error! ${reason}`);
  }
  const channel = channels()[n - 1];
  if (channel) channel.enable = true;
}

async function startAll() {
  $('start-menu').hidden = true;
  const list = channels();
  for (let k = 1; k <= list.length; k++) {
    list[k - 1].enable = true;
    const status = statusOf(k);
    if (!status || status.state === 'idle') await channelAction(k, 'start');
  }
  pollStatus();
}

async function stopChannel() {
  if (!requireSelection()) return;
  const n = state.selected;
  const channel = channels()[n - 1];
  if (channel) channel.enable = false;
  // The preview this page shows is ended through the player (which stops it on the server);
  // any other state, a preview started elsewhere included, gets a plain stop.
  if (state.previewing && state.previewChannel === n) {
    await preview();
    return;
  }
  await channelAction(n, 'stop');
  pollStatus();
}

async function stopAll() {
  $('stop-menu').hidden = true;
  const list = channels();
  for (let k = 1; k <= list.length; k++) {
    list[k - 1].enable = false;
    await channelAction(k, 'stop');
  }
  pollStatus();
}

const kPreviewRetries = 20;
const kPreviewRetryMs = 500;
let previewRetry = null;

async function preview() {
  if (!requireSelection()) return;
  const n = state.selected;
  const video = $('preview-video');
  if (state.previewing) {
    const shown = state.previewChannel;
    const status = statusOf(shown);
    clearTimeout(previewRetry);
    video.onerror = null;
    // A preview this page started is stopped even before the status poll has shown it.
    if (state.previewStarted || (status && status.state === 'preview')) await channelAction(shown, 'stop');
    state.previewStarted = false;
    video.pause();
    video.removeAttribute('src');
    video.load();
    video.hidden = true;
    $('logo').hidden = false;
    $('btn-preview').textContent = 'Preview';
    state.previewing = false;
    updateButtons();
    return;
  }
  const status = statusOf(n);
  const target = firstTarget(channels()[n - 1]);
  let source = '';
  if (!status || status.state === 'idle') {
    const response = await channelAction(n, 'preview');
    if (!response.ok) return;
    state.previewStarted = true;
    source = `${window.location.protocol}//${pageHost()}:${state.runtime.previewPort}`;
  } else if (target && target.format === 'html5') {
    source = target.url;
  } else {
    return;
  }
  state.previewing = true;
  state.previewChannel = n;
  $('logo').hidden = true;
  video.hidden = false;
  // The transcoder opens the preview port a moment after "?preview" was answered, so a refused
  // load is tried again for a while.
  let retries = kPreviewRetries;
  video.onerror = () => {
    if (!state.previewing || retries-- <= 0) return;
    clearTimeout(previewRetry);
    previewRetry = setTimeout(() => {
      if (!state.previewing) return;
      video.src = source;
      video.play().catch(() => {});
    }, kPreviewRetryMs);
  };
  video.src = source;
  video.play().catch(() => {});
  $('btn-preview').textContent = 'Stop';
  updateButtons();
}

// ----- global settings --------------------------------------------------------------------------

function openGlobalSettings() {
  const global = (state.config && state.config.global) || {};
  $('g-log').checked = ParseInt(global.log) > 0;
  $('g-port').value = String(global.httpPort || '');
  $('g-cert').value = global.sslCert || '';
  $('g-key').value = global.sslKey || '';
  $('g-ssl').checked = global.sslEnable === true && Boolean(global.sslCert) && Boolean(global.sslKey);
  $('g-password').value = global.loginPass || '';
  $('g-password').classList.toggle('empty', global.loginPass === '');
  $('g-acl').value = global.ipACL || '';
  $('g-autorun').checked = global.autoRun === true;
  const restart = ParseInt(global.autoRestart);
  $('g-autorestart').checked = restart > 0;
  $('g-autorestart-seconds').value = String(restart);
  $('g-folder-recur').checked = global.folderRecur === true;
  $('g-folder-shuffle').checked = global.folderShuffle === true;
  const alternate = typeof global.altInput === 'string' ? global.altInput : '';
  $('g-altinput').checked = alternate !== '';
  $('g-altinput-path').value = alternate === 'default' ? '' : alternate;
  $('g-altinput-path').disabled = alternate === '';
  $('g-omx-path').value = global.omxPath || '';
  $('g-ytdlp-path').value = global.ytdlpPath || '';
  $('g-device-kind').textContent = state.runtime && state.runtime.platform === 'windows' ? 'DirectShow' : 'V4L2';
  openPopup('popup-global');
}

async function saveGlobalSettings() {
  if (!$('g-port').value.trim()) return;
  const cert = $('g-cert').value.trim();
  const key = $('g-key').value.trim();
  const alternate = $('g-altinput').checked ? ($('g-altinput-path').value.trim() || 'default') : '';
  state.config.global = {
    log: $('g-log').checked ? 32 : 0,
    httpPort: ParseInt($('g-port').value),
    sslEnable: $('g-ssl').checked && Boolean(cert) && Boolean(key),
    sslCert: cert,
    sslKey: key,
    ipACL: $('g-acl').value,
    autoRun: $('g-autorun').checked,
    autoRestart: ParseInt($('g-autorestart-seconds').value),
    folderRecur: $('g-folder-recur').checked,
    folderShuffle: $('g-folder-shuffle').checked,
    altInput: alternate,
    omxPath: $('g-omx-path').value.trim(),
    ytdlpPath: $('g-ytdlp-path').value.trim(),
    loginPass: $('g-password').value,
  };
  closePopup('popup-global');
  await sendConfig();
  showBanner();
}

function onImportChosen() {
  const input = $('g-import-file');
  const file = input.files && input.files[0];
  if (!file) return;
  if (confirm(`Import all channels from <${file.name}>?\nAll current channel settings will be OVERWRITTEN!`)) {
    $('import-form').submit();
  } else {
    input.value = '';
  }
}

function showBanner() {
  const global = (state.config && state.config.global) || {};
  const banner = $('banner');
  if (!global.loginPass) {
    banner.innerHTML = `<b>CAUTION</b> Your ${escapeHtml(state.runtime.appAbbr)} web interface is INSECURE! Channel configuration details and HTTP streams could be exposed to unexpected streamers over the internet. Please set up web login password in Global Settings immediately!`;
    banner.hidden = false;
  } else {
    banner.hidden = true;
  }
}

function escapeHtml(text) {
  return String(text).replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' }[c]));
}

// ----- pickers ----------------------------------------------------------------------------------

let deckLinkForTarget = false;
let deckLinkDevices = [];

async function openDeckLinkPicker(forTarget) {
  deckLinkForTarget = forTarget;
  deckLinkDevices = [];
  $('dl-devices').textContent = '';
  $('dl-modes').textContent = '';
  $('dl-state').textContent = 'Searching...';
  openPopup('popup-decklink');
  try {
    const answer = await getJson(`decklink_config?output=${forTarget ? 1 : 0}`);
    deckLinkDevices = Array.isArray(answer.devices) ? answer.devices : [];
  } catch (error) {
    deckLinkDevices = [];
  }
  $('dl-state').textContent = deckLinkDevices.length ? '' : 'No Decklink devices found';
  deckLinkDevices.forEach((device, index) => $('dl-devices').add(new Option(device.name, String(index))));
  if (deckLinkDevices.length) {
    $('dl-devices').value = '0';
    showDeckLinkModes();
  }
}

function showDeckLinkModes() {
  const device = deckLinkDevices[ParseInt($('dl-devices').value)];
  const modes = $('dl-modes');
  modes.textContent = '';
  if (!device) return;
  (device.formats || []).forEach((mode, index) => {
    const label = `${mode.width}x${mode.height}${mode.interlaced ? 'i' : 'p'} @ ${mode.numFrame}/${mode.denFrame} fps`;
    modes.add(new Option(label, String(index)));
  });
  if (modes.options.length) modes.value = '0';
}

function fourCharacters(code) {
  return [24, 16, 8, 0].map((shift) => String.fromCharCode((code >>> shift) & 0xff)).join('');
}

function applyDeckLinkChoice() {
  const device = deckLinkDevices[ParseInt($('dl-devices').value)];
  if (!device || $('dl-devices').value === '') {
    closePopup('popup-decklink');
    return;
  }
  const mode = $('dl-modes').value === '' ? null : (device.formats || [])[ParseInt($('dl-modes').value)];
  const channel = state.curChannel;
  if (deckLinkForTarget) {
    if (!mode) {
      alert('No device format selected');
      return;
    }
    $('target-url').value = device.name;
    const target = targetsOf(channel)[0];
    if (!target.video) target.video = {};
    Object.assign(target.video, {
      width: mode.width, height: mode.height, frameRate: mode.numFrame / mode.denFrame,
      scanType: mode.interlaced ? 2 : 0,
    });
    if (state.activeTarget === 0) updateTargetVideo(target);
  } else {
    $('edit-source-url').value = device.name;
    if (mode) {
      if (!Array.isArray(channel.input.formatOptions)) channel.input.formatOptions = [];
      channel.input.formatOptions.push(`-format_code ${fourCharacters(mode.fmtcode)}`);
    }
  }
  closePopup('popup-decklink');
}

async function searchNdi() {
  $('ndi-sources').textContent = '';
  $('ndi-state').textContent = 'Searching...';
  $('ndi-search').disabled = true;
  let sources = [];
  try {
    const answer = await getJson(`ndi_config?timeout=${ParseInt($('ndi-timeout').value)}`);
    sources = Array.isArray(answer.sources) ? answer.sources : [];
  } catch (error) {
    sources = [];
  }
  $('ndi-search').disabled = false;
  $('ndi-state').textContent = sources.length ? '' : 'No NDI sources found';
  for (const source of sources) {
    const option = new Option(`${source.name} (${source.addr})`, source.name);
    $('ndi-sources').add(option);
  }
  if (sources.length) $('ndi-sources').selectedIndex = 0;
}

function openNdiPicker() {
  openPopup('popup-ndi');
  searchNdi();
}

function applyNdiChoice() {
  const name = $('ndi-sources').value;
  if (name) {
    $('edit-source-url').value = name;
    const input = state.curChannel.input;
    if (!Array.isArray(input.formatOptions)) input.formatOptions = [];
    input.formatOptions.push(`-wait_sources ${ParseInt($('ndi-timeout').value)}`);
  }
  closePopup('popup-ndi');
}

// ----- pop-ups ----------------------------------------------------------------------------------

// The pop-up opened last is drawn above the others (they share one z-index, so the later one in
// the document wins).
function raisePopup(popup) {
  if (popup && popup.parentNode === document.body && document.body.lastElementChild !== popup) {
    document.body.append(popup);
  }
}

function openPopup(id) {
  raisePopup($(id));
  $(id).classList.add('open');
}

function closePopup(id) {
  $(id).classList.remove('open');
}

function wirePopups() {
  for (const popup of document.querySelectorAll('.popup')) {
    for (const close of popup.querySelectorAll('.popup-close, .popup-cancel')) {
      if (!close.onclick) close.addEventListener('click', () => popup.classList.remove('open'));
    }
    makeDraggable(popup);
  }
}

// A pop-up moves with its title bar.
function makeDraggable(popup) {
  const bar = popup.querySelector('.popup-title');
  if (!bar || bar.dataset.draggable) return;
  bar.dataset.draggable = '1';
  bar.addEventListener('mousedown', (down) => {
    if (down.target.closest('button')) return;
    down.preventDefault();
    const box = popup.getBoundingClientRect();
    const dx = down.clientX - box.left;
    const dy = down.clientY - box.top;
    popup.style.transform = 'none';
    const move = (event) => {
      popup.style.left = `${Math.max(0, event.clientX - dx)}px`;
      popup.style.top = `${Math.max(0, event.clientY - dy)}px`;
    };
    const up = () => {
      document.removeEventListener('mousemove', move);
      document.removeEventListener('mouseup', up);
    };
    document.addEventListener('mousemove', move);
    document.addEventListener('mouseup', up);
  });
}

function onKeyDown(event) {
  if (event.key !== 'Escape') return;
  const open = document.querySelectorAll('.popup.open');
  if (open.length) {
    open.forEach((popup) => popup.classList.remove('open'));
    Advanced.closeAll();
  } else if (state.editing) {
    cancelEdit();
  }
  for (const id of ['start-menu', 'stop-menu']) $(id).hidden = true;
}

// ----- page -------------------------------------------------------------------------------------

function fillChoices() {
  const sizes = $('frame-size');
  for (const name of [...Object.keys(frameSizes), 'other']) sizes.add(new Option(frameSizeLabels[name], name));
  const quality = $('quality');
  quality.add(new Option('Default', '0'));
  for (let q = 1; q <= 51; q++) quality.add(new Option(String(q), String(q)));
}

function showBrand() {
  const name = $('logo-name');
  name.textContent = '';
  [...state.runtime.app].forEach((letter, index) => {
    const span = document.createElement('span');
    span.textContent = letter;
    span.style.animationDelay = `${-index * 0.25}s`;
    name.append(span);
  });
  $('logo-big').textContent = state.runtime.app;
  $('version').textContent = `Version ${state.runtime.version}`;
}

function wireControls() {
  $('btn-edit').addEventListener('click', startEdit);
  $('btn-apply').addEventListener('click', applyEdit);
  $('btn-cancel').addEventListener('click', cancelEdit);
  $('btn-new').addEventListener('click', newChannel);
  $('btn-remove').addEventListener('click', removeChannel);
  $('btn-start').addEventListener('click', startChannel);
  $('btn-stop').addEventListener('click', stopChannel);
  $('btn-start-all').addEventListener('click', startAll);
  $('btn-stop-all').addEventListener('click', stopAll);
  $('btn-start-menu').addEventListener('click', () => { $('start-menu').hidden = !$('start-menu').hidden; });
  $('btn-stop-menu').addEventListener('click', () => { $('stop-menu').hidden = !$('stop-menu').hidden; });
  $('btn-preview').addEventListener('click', preview);
  $('btn-global').addEventListener('click', openGlobalSettings);
  $('btn-manual').addEventListener('click', () => window.open(`https://${state.runtime.website}/manual`, '_blank'));
  $('target-format').addEventListener('change', onTargetFormatChange);
  $('video-codec').addEventListener('change', onVideoCodecChange);
  $('cbr').addEventListener('change', onCbrChange);
  $('frame-size').addEventListener('change', onFrameSizeChange);
  $('frame-rate-choice').addEventListener('change', () => copyChoice($('frame-rate-choice'), $('frame-rate')));
  $('video-bitrate-choice').addEventListener('change', () => copyChoice($('video-bitrate-choice'), $('video-bitrate')));
  $('sample-rate-choice').addEventListener('change', () => copyChoice($('sample-rate-choice'), $('sample-rate')));
  $('audio-bitrate-choice').addEventListener('change', () => copyChoice($('audio-bitrate-choice'), $('audio-bitrate')));
  $('btn-format-advanced').addEventListener('click', () => {
    Advanced.openFormatSettings({
      channel: state.curChannel,
      target: activeTarget(),
      sourceFormat: $('edit-source-format').value,
      targetFormat: $('target-format').value,
      getSourceUrl: () => $('edit-source-url').value,
      setSourceUrl: (text) => { $('edit-source-url').value = text; },
      getTargetUrl: () => $('target-url').value,
      setTargetUrl: (text) => { $('target-url').value = text; },
      onApplied: () => {},
    });
    raisePopup($('adv-format'));
  });
  $('btn-video-advanced').addEventListener('click', () => {
    Advanced.openVideoSettings();
    raisePopup($('adv-video'));
  });
  $('g-ok').addEventListener('click', saveGlobalSettings);
  $('g-autorestart').addEventListener('change', () => {
    $('g-autorestart-seconds').value = $('g-autorestart').checked ? '1' : '0';
  });
  $('g-altinput').addEventListener('change', () => {
    const on = $('g-altinput').checked;
    if (!on) $('g-altinput-path').value = '';
    $('g-altinput-path').disabled = !on;
  });
  $('g-password').addEventListener('input', () => $('g-password').classList.toggle('empty', $('g-password').value === ''));
  $('g-import').addEventListener('click', () => $('g-import-file').click());
  $('g-import-file').addEventListener('change', onImportChosen);
  $('g-export').addEventListener('click', () => { window.location.href = 'config?dl=1'; });
  $('dl-devices').addEventListener('change', showDeckLinkModes);
  $('dl-ok').addEventListener('click', applyDeckLinkChoice);
  $('ndi-search').addEventListener('click', searchNdi);
  $('ndi-ok').addEventListener('click', applyNdiChoice);
  document.addEventListener('keydown', onKeyDown);
  document.addEventListener('click', (event) => {
    if (!event.target.closest('.split')) for (const id of ['start-menu', 'stop-menu']) $(id).hidden = true;
  });
}

async function load() {
  fillChoices();
  wireControls();
  setInterval(pollStatus, 1000);
  try {
    state.runtime = await getJson('runtime');
    document.title = state.runtime.title;
    buildRows(state.runtime.channels);
    Advanced.init(state.runtime);
    wirePopups();
    showBrand();
    state.config = await getJson('config');
    showBanner();
    fillTable();
    pollStatus();
    makeColumnsResizable();
    if (channels().length) selectRow(1); else updateButtons();
  } catch (error) {
    showPageError(`The page could not be loaded: ${error.message}`);
  }
}

document.addEventListener('DOMContentLoaded', load);
