// The page's rules as pure functions over plain values: frame sizes, formats and their presets,
// the checks an edit passes before it is applied, the bookkeeping of bound channels, and what the
// status cells, load meters and pickers show. Nothing here touches the DOM, so node can test it.

import { textOr } from './helpers.js';

// ----- tables -----------------------------------------------------------------------------------

export const frameSizes = {
  original: [0, 0], qvga: [320, 240], nhd: [640, 360], vga: [640, 480], sd: [720, 576],
  hd: [1280, 720], fhd: [1920, 1080], qhd: [2048, 1080], uhd: [3840, 2160],
};
export const frameSizeLabels = {
  original: 'Original', qvga: 'QVGA', nhd: 'nHD', vga: 'VGA', sd: 'SDTV', hd: 'HD', fhd: 'FullHD',
  qhd: '2K', uhd: '4K', other: 'Other',
};
// Target formats that may carry several targets of different bit rates.
export const mbrFormats = ['rtmp', 'udp', 'omxts', 'rtpts', 'hls', 'dash'];
// Source formats whose URL gets "<format>://" in front when it was typed without a scheme.
const schemeFormats = ['ftp', 'http', 'udp', 'rtp', 'srt', 'rtsp', 'rtspt', 'rtmp', 'mms', 'mmst'];
export const maxTargets = 5;

export function frameSizeName(width, height) {
  for (const [name, size] of Object.entries(frameSizes)) {
    if (size[0] === width && size[1] === height) return name;
  }
  return 'other';
}

// ----- platform ---------------------------------------------------------------------------------

function isWindows(runtime) {
  return Boolean(runtime) && runtime.platform === 'windows';
}

// The capture device framework the sources of kind "device" use on the server's platform.
export function deviceKind(runtime) {
  return isWindows(runtime) ? 'DirectShow' : 'V4L2';
}

export function sourceFormatOptions(runtime) {
  return [
    ['file', 'Local File/Folder'], ['ftp', 'FTP/SFTP'], ['http', 'HTTP/HTTPS'], ['udp', 'UDP'],
    ['rtp', 'RTP'], ['rtsp', 'RTSP'], ['rtspt', 'RTSP over TCP'], ['rtmp', 'RTMP'], ['srt', 'SRT'],
    ['mms', 'MMS'], ['mmst', 'MMS over TCP'], ['ytdlp', 'yt-dlp'], ['device', deviceKind(runtime)],
    ['decklink', 'Decklink'], ['ndi', 'NewTek NDI'],
  ];
}

// ----- sources and targets ----------------------------------------------------------------------

function splitScheme(url) {
  const at = url.indexOf('://');
  if (at < 0) return { scheme: '', rest: url };
  let scheme = url.slice(0, at).toLowerCase();
  if (scheme === 'https') scheme = 'http';
  if (scheme === 'sftp') scheme = 'ftp';
  return { scheme, rest: url.slice(at + 3) };
}

// What the row's format choice and URL field show while a source is edited: a URL's scheme is
// its format (yt-dlp keeps its own) and is not typed again.
export function sourceEditFields(source) {
  const url = textOr(source && source.url);
  const format = textOr(source && source.format, 'file');
  const { scheme, rest } = splitScheme(url);
  if (format === 'ytdlp' || !scheme) return { format, url };
  // https and sftp keep their whole URL, so applying does not turn them into http/ftp.
  const whole = !url.toLowerCase().startsWith(`${scheme}://`);
  return { format: scheme, url: whole ? url : rest };
}

export function sourceUrlWithScheme(format, url) {
  return schemeFormats.includes(format) && !url.includes('://') ? `${format}://${url}` : url;
}

// A channel always has at least one (possibly empty) target to edit.
export function targetsOf(channel) {
  if (!channel.output) channel.output = {};
  if (!Array.isArray(channel.output.targets) || channel.output.targets.length === 0) {
    channel.output.targets = [{}];
  }
  return channel.output.targets;
}

export function tabLabel(target) {
  const url = textOr(target && target.url);
  const cut = Math.max(url.lastIndexOf('/'), url.lastIndexOf('\\'));
  return url.slice(cut + 1) || '(none)';
}

// The URL a newly chosen target format starts with; page is {protocol, host, port} of the page
// (port '' for the protocol's default).
export function targetUrlPreset(format, n, page, runtime) {
  const host = page.host;
  const port = page.port || (page.protocol === 'https:' ? '443' : '80');
  const media = isWindows(runtime) ? 'c:\\media\\' : '/media/';
  switch (format) {
    case 'rtmp': return `rtmp://127.0.0.1/live/morv_ch${n}`;
    case 'udp': case 'omxts': return `udp://${host}:1234`;
    case 'http': case 'html5': case 'httpmjpg':
      return `${page.protocol}//${host}:${port}/morv_ch${n}`;
    case 'hls': return `${media}morv_ch${n}.m3u8`;
    case 'dash': return `${media}morv_ch${n}.mpd`;
    case 'file': return `${media}morv_ch${n}_recorded.mp4`;
    case 'srt': return 'srt://0.0.0.0:1234';
    case 'rtpts': return `rtp://${host}:1234`;
    case 'rtsp': return `rtsp://127.0.0.1:8554/morv_ch${n}`;
    case 'ftp': return 'ftp://192.168.1.2/media/stream.mp4';
    case 'ndi': return `morv_ch${n}`;
    default: return '';
  }
}

export function newChannelTemplate(host) {
  return {
    enable: false,
    input: {
      sources: [{ format: 'file', url: '', video: { options: [] } }],
      formatOptions: [], customOptions: '', filters: [], map: [],
    },
    output: {
      targets: [{
        format: 'udp', url: `udp://${host}:1234`,
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

// ----- edit checks ------------------------------------------------------------------------------

// Why the edit of channel n cannot be applied, as the operator is told, or '' when it can.
export function editError({ n, sourceUrl, bind, targetUrl, channelCount }) {
  if (!sourceUrl) return 'Setting Error: Source URL empty!';
  if (bind === n || bind > channelCount) return 'Error: Bind channel invalid!';
  if (!targetUrl) return 'Setting Error: Target URL empty!';
  return '';
}

export function hasDuplicateUrls(targets) {
  const urls = targets.map((target) => target.url);
  return new Set(urls).size !== urls.length;
}

export function cbrRefused(checked, videoBitRate) {
  return checked && videoBitRate === 0;
}

// The MainConcept encoders run only through the plug-in whose path the global settings hold.
export function needsOmxPath(codec, omxPath) {
  return (codec === 'omx264' || codec === 'omx265') && !omxPath;
}

// Channel n, edited as `channel`, becomes bound to `bind` (0 for none): the item {bind: n} moves
// from the sources of the master stored before to those of the new master.
export function applyBind(list, n, channel, bind) {
  const storedBind = list[n - 1] && list[n - 1].bind > 0 ? list[n - 1].bind : 0;
  if (bind > 0) channel.bind = bind; else delete channel.bind;
  if (bind === storedBind) return;
  const old = list[storedBind - 1];
  if (old && old.input && Array.isArray(old.input.sources)) {
    old.input.sources = old.input.sources.filter((item) => !(item && item.bind === n && Object.keys(item).length === 1));
  }
  const master = bind > 0 ? list[bind - 1] : null;
  if (master && master.input && Array.isArray(master.input.sources)) master.input.sources.push({ bind: n });
}

// ----- status -----------------------------------------------------------------------------------

export function statusCellView(entry) {
  return { icon: entry ? `${entry.state}.png` : '', words: entry ? String(entry.status) : '' };
}

// Green up to 50 %, then through yellow to red.
export function loadToRGB(load) {
  const red = Math.min(55 + 4 * load, 255);
  const green = load < 50 ? 255 : 255 - 5 * (load - 50);
  return `rgb(${red}, ${Math.max(0, green)}, 0)`;
}

// Removing channel n moves every later channel up one, so all of them must be idle.
export function removalBlocked(statuses, n, count) {
  for (let k = n; k <= count; k++) {
    const status = statuses[k - 1];
    if (status && status.state !== 'idle') return true;
  }
  return false;
}

// How channel n is previewed: an idle channel is started in preview mode ("start"), a running
// HTML5 output is played from its own URL ("html5"); anything else cannot be shown ('').
export function previewPlan(status, target) {
  if (!status || status.state === 'idle') return 'start';
  if (target && target.format === 'html5') return 'html5';
  return '';
}

// ----- DeckLink ---------------------------------------------------------------------------------

function fourCharacters(code) {
  return [24, 16, 8, 0].map((shift) => String.fromCharCode((code >>> shift) & 0xff)).join('');
}

export function deckLinkModeLabel(mode) {
  return `${mode.width}x${mode.height}${mode.interlaced ? 'i' : 'p'} @ ${mode.numFrame}/${mode.denFrame} fps`;
}

// The option that makes a DeckLink source capture in `mode`.
export function deckLinkFormatOption(mode) {
  return `-format_code ${fourCharacters(mode.fmtcode)}`;
}

// The video settings a DeckLink playback target takes from its mode.
export function deckLinkVideo(mode) {
  return {
    width: mode.width, height: mode.height, frameRate: mode.numFrame / mode.denFrame,
    scanType: mode.interlaced ? 2 : 0,
  };
}
