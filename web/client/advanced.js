/*
 * Advanced settings pop-ups of the browser client: "Advanced Format Settings"
 * (input stream map, MPEG-TS muxer, RTMP, HLS, SRT, custom parameters) and
 * "Advanced Video Settings" (encoder, overlay, misc.).
 *
 * Every mapping between form fields and the channel's option strings lives in
 * `rules` as pure functions over plain field objects, so the text the
 * transcoder receives can be checked without a browser. The DOM part below
 * only copies values between the controls and those field objects.
 *
 * Nothing touches the DOM until init() is called, so node can import the
 * module and test its rules.
 */

import {
  $, asList, closePopup, firstSource, h, intOr, lc, openPopup, str, toInt
} from './helpers.js';

// ---------------------------------------------------------------- helpers

// PIDs are typed either in hexadecimal with "0x" or in decimal.
function pidValue(text) {
  const t = str(text).trim();
  const hex = /^0x([0-9a-f]+)/i.exec(t);
  return hex ? parseInt(hex[1], 16) : toInt(t);
}

function has(table, key) { return Object.prototype.hasOwnProperty.call(table, key); }

// Option values end up inside apostrophe-quoted option text; an apostrophe
// typed into a name would cut the option short, so it is dropped.
function noQuotes(v) { return str(v).split("'").join(''); }

function removeOption(list, texts) {
  const needles = (Array.isArray(texts) ? texts : [texts]).map(str).filter(function (t) { return t !== ''; });
  return asList(list).map(str).filter(function (entry) {
    return entry !== '' && !needles.some(function (t) { return entry.indexOf(t) >= 0; });
  });
}

// Runs of non-space characters; an apostrophe-quoted run (which may hold
// spaces, as in service_provider='My Site') stays inside its token.
function splitOptionTokens(text) {
  const s = str(text);
  const out = [];
  let cur = '';
  let quoted = false;
  for (let i = 0; i < s.length; i++) {
    const ch = s[i];
    if (ch === "'") {
      quoted = !quoted;
      cur += ch;
    } else if (!quoted && /\s/.test(ch)) {
      if (cur) { out.push(cur); cur = ''; }
    } else {
      cur += ch;
    }
  }
  if (cur) out.push(cur);
  return out;
}

// Splits at sep, except inside apostrophes (a program title or overlay text
// may contain a colon).
function splitOutsideQuotes(text, sep) {
  const s = str(text);
  const out = [];
  let cur = '';
  let quoted = false;
  for (let i = 0; i < s.length; i++) {
    const ch = s[i];
    if (ch === "'") quoted = !quoted;
    if (ch === sep && !quoted) { out.push(cur); cur = ''; } else cur += ch;
  }
  out.push(cur);
  return out;
}

function keyValue(pair) {
  const i = pair.indexOf('=');
  return i < 0 ? null : [pair.slice(0, i).trim(), pair.slice(i + 1)];
}

// The editor offers canonical names, but stored channels may carry aliases.
const FORMAT_ALIASES = { mpegts: 'udp', udpts: 'udp', rtp: 'rtpts' };
function normFormat(format) {
  const f = lc(format);
  return has(FORMAT_ALIASES, f) ? FORMAT_ALIASES[f] : f;
}

// ------------------------------------------------------- MPEG-TS input map

function mapToRows(map) {
  const rows = [];
  asList(map).forEach(function (entry) {
    const tok = str(entry).split(':');
    let program = '';
    let pid = '';
    for (let i = 0; i < tok.length; i++) {
      const t = tok[i].trim();
      if (t === 'p' && i + 1 < tok.length && tok[i + 1].trim().charAt(0) !== '#') {
        program = tok[++i].trim();
      } else if (t.charAt(0) === '#') {
        pid = t.slice(1);
      }
    }
    if (program || pid) rows.push({ program: program, pid: pid });
  });
  return rows;
}

function rowsToMap(rows) {
  const map = [];
  asList(rows).forEach(function (row) {
    const pid = str(row && row.pid).trim();
    const program = str(row && row.program).trim();
    if (pid) map.push('#' + pid);
    else if (program) map.push('p:' + program);
  });
  return map;
}

// ----------------------------------------------------------- MPEG-TS output

const TS_OUTPUT_FORMATS = ['udp', 'omxts', 'http', 'rtpts', 'srt'];
const TS_OUTPUT_KEYS = ['-program ', '-mpegts_pmt_start_pid ', '-mpegts_service_id ',
  '-streamid ', '-metadata ', '-fec '];

function programName(n) { return 'Program' + (n < 10 ? '0' : '') + n; }

function mpegtsOutputFromOptions(options, format, runtime) {
  const fmt = normFormat(format);
  const f = {
    enabled: TS_OUTPUT_FORMATS.indexOf(fmt) >= 0,
    fecPossible: fmt === 'rtpts',
    pmtPid: '0x1000',
    provider: str(runtime && runtime.website),
    videoPid: '0x100',
    audioPid: '0x101',
    subtitlePid: '0x102',
    fec: false,
    fecColumn: 5,
    fecRow: 5,
    programs: []
  };
  if (f.enabled) {
    asList(options).forEach(function (entry) {
      const e = str(entry);
      const tok = splitOptionTokens(e);
      if (tok.length < 2) return;
      const key = tok[0];
      const val = tok[1];
      if (key === '-program') {
        let num = 0;
        let title = '';
        let inputIndex = -1;
        splitOutsideQuotes(val, ':').forEach(function (pair) {
          const kv = keyValue(pair);
          if (!kv) return;
          if (kv[0] === 'program_num') num = intOr(kv[1], 0);
          else if (kv[0] === 'title') title = noQuotes(kv[1]);
          else if (kv[0] === 'if') inputIndex = intOr(kv[1], -1);
        });
        if (num > 0 && inputIndex >= 0) {
          f.programs.push({ program: String(num), name: title, source: String(inputIndex + 1) });
        }
      } else if (key === '-mpegts_pmt_start_pid') {
        f.pmtPid = val;
      } else if (key === '-streamid') {
        if (val.indexOf('0:') === 0) f.videoPid = val.slice(2);
        else if (val.indexOf('1:') === 0) f.audioPid = val.slice(2);
        else if (val.indexOf('2:') === 0) f.subtitlePid = val.slice(2);
      } else if (key === '-metadata') {
        const rest = e.slice(e.indexOf(key) + key.length);
        const m = /^\s*([^=\s]+)=(?:'([^']*)'|(\S*))/.exec(rest);
        if (m && m[1] === 'service_provider') f.provider = m[2] !== undefined ? m[2] : m[3];
      } else if (key === '-fec') {
        if (f.fecPossible && val.indexOf('prompeg') === 0) {
          f.fec = true;
          val.slice(8).split(':').forEach(function (part) {
            if (part.indexOf('l=') === 0) f.fecColumn = intOr(part.slice(2), f.fecColumn);
            else if (part.indexOf('d=') === 0) f.fecRow = intOr(part.slice(2), f.fecRow);
          });
        }
      }
    });
  }
  if (!f.programs.length) f.programs.push({ program: '1', name: programName(1), source: '1' });
  return f;
}

function mpegtsOutputToOptions(fields, options, format) {
  const f = fields || {};
  const fmt = normFormat(format);
  const out = removeOption(options, TS_OUTPUT_KEYS);
  if (TS_OUTPUT_FORMATS.indexOf(fmt) < 0) return out;
  asList(f.programs).forEach(function (row) {
    const p = toInt(row && row.program);
    const s = toInt(row && row.source);
    if (!p || !s) return;
    const name = noQuotes(row.name).trim();
    out.push('-program program_num=' + p + (name ? ":title='" + name + "'" : '') + ':if=' + (s - 1));
  });
  function pid(text, skip, prefix) {
    const n = pidValue(text);
    if (n >= 32 && n <= 8186 && n !== skip) out.push(prefix + str(text).trim());
  }
  pid(f.pmtPid, 4096, '-mpegts_pmt_start_pid ');
  pid(f.videoPid, 256, '-streamid 0:');
  pid(f.audioPid, 257, '-streamid 1:');
  pid(f.subtitlePid, 258, '-streamid 2:');
  const provider = noQuotes(f.provider).trim();
  if (provider) out.push("-metadata service_provider='" + provider + "'");
  if (f.fec && fmt === 'rtpts') {
    out.push('-fec prompeg=l=' + toInt(f.fecColumn) + ':d=' + toInt(f.fecRow));
  }
  return out;
}

// -------------------------------------------------------------------- RTMP

function rtmpFromTarget(target, format) {
  const r = (target && target.rtmp) || {};
  return {
    enabled: normFormat(format) === 'rtmp',
    flashVer: str(r.flashVer), swfUrl: str(r.swfUrl), user: str(r.user), passwd: str(r.passwd)
  };
}

function rtmpToTarget(fields, format) {
  const f = fields || {};
  const keep = normFormat(format) === 'rtmp';
  return {
    flashVer: keep ? str(f.flashVer).trim() : '',
    swfUrl: keep ? str(f.swfUrl).trim() : '',
    user: keep ? str(f.user).trim() : '',
    passwd: keep ? str(f.passwd).trim() : ''
  };
}

// --------------------------------------------------------------------- HLS

const HLS_KEYS = ['-hls_segment_type ', '-hls_time ', '-hls_list_size ', '-start_number ',
  '-hls_base_url ', '-hls_enc ', '-hls_key_info_file ', '-master_pl_name '];

function hlsFromOptions(options, format, targetCount) {
  const enabled = normFormat(format) === 'hls';
  const f = {
    enabled: enabled,
    masterEnabled: enabled && toInt(targetCount) >= 2,
    fmp4: false, time: '2', listSize: '5', start: '1',
    keyInfo: '', baseUrl: '', masterName: 'master.m3u8'
  };
  if (!enabled) return f;
  asList(options).forEach(function (entry) {
    const tok = splitOptionTokens(entry);
    if (tok.length < 2) return;
    const v = tok[1];
    switch (tok[0]) {
      case '-hls_segment_type': f.fmp4 = v.toLowerCase() === 'fmp4'; break;
      case '-hls_time': f.time = v; break;
      case '-hls_list_size': f.listSize = v; break;
      case '-start_number': f.start = v; break;
      case '-hls_key_info_file': f.keyInfo = v; break;
      case '-hls_base_url': f.baseUrl = v; break;
      case '-master_pl_name': f.masterName = v; break;
    }
  });
  return f;
}

function hlsToOptions(fields, options, format) {
  const f = fields || {};
  const out = removeOption(options, HLS_KEYS);
  if (normFormat(format) !== 'hls') return out;
  if (f.fmp4) out.push('-hls_segment_type fmp4');
  const time = toInt(f.time);
  if (time && time !== 2) out.push('-hls_time ' + time);
  const size = toInt(f.listSize);
  if (size && size !== 5) out.push('-hls_list_size ' + size);
  // The segmenter numbers from this value directly, so the operator's number
  // goes in unchanged (no zero-based correction).
  const start = toInt(f.start);
  if (start && start !== 1) out.push('-start_number ' + start);
  const keyInfo = str(f.keyInfo).trim();
  if (keyInfo) out.push('-hls_key_info_file ' + keyInfo);
  const baseUrl = str(f.baseUrl).trim();
  if (baseUrl) out.push('-hls_base_url ' + baseUrl);
  const master = str(f.masterName).trim();
  if (f.masterEnabled && master) out.push('-master_pl_name ' + master);
  return out;
}

// --------------------------------------------------------------------- SRT

const SRT_KEYS = ['-mode ', '-grouptype ', '-localaddr ', '-backup_remote ', '-backup_local ',
  '-minstable_timeout '];

// A source SRT wins: the pop-up edits one side only.
function srtSide(sourceFormat, targetFormat) {
  if (normFormat(sourceFormat) === 'srt') return 'source';
  if (normFormat(targetFormat) === 'srt') return 'target';
  return null;
}

// Host part of an address; the editor's source field holds it without the
// "scheme://", so both forms are accepted. A bracketed IPv6 host stays whole.
function hostSpan(url) {
  const s = str(url);
  const sep = s.indexOf('://');
  const start = sep < 0 ? 0 : sep + 3;
  const rest = s.slice(start);
  let end;
  if (rest.charAt(0) === '[' && rest.indexOf(']') > 0) end = rest.indexOf(']') + 1;
  else {
    end = rest.search(/[:/?]/);
    if (end < 0) end = rest.length;
  }
  return { text: s, start: start, end: start + end };
}

function extractAddr(url) {
  const h = hostSpan(url);
  return h.text.slice(h.start, h.end);
}

function replaceAddr(url, host) {
  const h = hostSpan(url);
  return h.text.slice(0, h.start) + str(host) + h.text.slice(h.end);
}

function srtFromOptions(options, side, url) {
  const enabled = side === 'source' || side === 'target';
  const f = {
    enabled: enabled,
    side: enabled ? side : null,
    mode: side === 'target' ? 'listener' : 'caller',
    remote1: enabled ? extractAddr(url) : '',
    local1: '', remote2: '', local2: '',
    bonding: 'backup',
    timeout: '200'
  };
  if (!enabled) return f;
  asList(options).forEach(function (entry) {
    const tok = splitOptionTokens(entry);
    if (tok.length < 2) return;
    const v = tok[1];
    switch (tok[0]) {
      case '-mode': f.mode = v.toLowerCase() === 'listener' ? 'listener' : 'caller'; break;
      case '-grouptype': f.bonding = v.toLowerCase() === 'broadcast' ? 'broadcast' : 'backup'; break;
      case '-localaddr': f.local1 = v; break;
      case '-backup_remote': f.remote2 = v; break;
      case '-backup_local': f.local2 = v; break;
      case '-minstable_timeout': f.timeout = v; break;
    }
  });
  return f;
}

// Returns the side's new options and its (possibly re-hosted) URL.
function srtToOptions(fields, options, url) {
  const f = fields || {};
  if (f.side !== 'source' && f.side !== 'target') {
    return { options: asList(options).slice(), url: str(url) };
  }
  const out = removeOption(options, SRT_KEYS);
  const startMode = f.side === 'target' ? 'listener' : 'caller';
  const mode = f.mode === 'listener' ? 'listener' : 'caller';
  if (mode !== startMode) out.push('-mode ' + mode);
  if (mode === 'listener') return { options: out, url: str(url) };
  const remote1 = str(f.remote1).trim();
  const newUrl = remote1 ? replaceAddr(url, remote1) : str(url);
  const local1 = str(f.local1).trim();
  const remote2 = str(f.remote2).trim();
  const local2 = str(f.local2).trim();
  if (local1) out.push('-localaddr ' + local1);
  if (remote2) out.push('-backup_remote ' + remote2);
  if (local2) out.push('-backup_local ' + local2);
  // Bonding settings mean nothing without a second connection.
  if (remote2 || local2) {
    if (f.bonding === 'broadcast') out.push('-grouptype broadcast');
    const timeout = toInt(f.timeout);
    if (timeout > 0 && timeout !== 200) out.push('-minstable_timeout ' + timeout);
  }
  return { options: out, url: newUrl };
}

// ----------------------------------------------------------- custom params

// A line break typed into the box separates options like a space does.
function customText(text) {
  return str(text).replace(/[\r\n]+/g, ' ').trim();
}

// ----------------------------------------------------------------- encoder

const videoPresets = ['ultrafast', 'superfast', 'veryfast', 'faster', 'fast', 'medium', 'slow',
  'slower', 'veryslow'];
const videoPresetsNV = ['fast', 'llhp', 'hp', 'default', 'bd', 'medium', 'hq', 'llhq', 'll'];
const videoPresetsAMF = ['speed', 'balanced', 'quality'];

const ENCODERS = {
  h264: { profiles: ['baseline', 'main', 'high', 'high10', 'high422', 'high444'], min: 0, max: 8, start: 3 },
  omx264: { profiles: ['baseline', 'main', 'extended', 'high', 'high10', 'high422', 'high444'], min: 1, max: 15, start: 9 },
  nv264: { profiles: ['baseline', 'main', 'high', 'high444p'], min: 0, max: 8, start: 3 },
  qsv264: { profiles: ['baseline', 'main', 'high'], min: 2, max: 8, start: 5 },
  amf264: { profiles: ['constrained_baseline', 'main', 'constrained_high', 'high'], min: 0, max: 2, start: 0 },
  h265: { profiles: ['main', 'main10', 'main444-8', 'main422-10', 'main444-10', 'main12', 'main422-12', 'main444-12'], min: 0, max: 8, start: 3 },
  omx265: { profiles: ['main', 'main10', 'main422-10'], min: 0, max: 0, start: 0 },
  nv265: { profiles: ['main', 'main10'], min: 0, max: 8, start: 3 },
  qsv265: { profiles: ['main', 'main10', 'mainsp'], min: 4, max: 6, start: 5 },
  amf265: { profiles: ['main'], min: 0, max: 2, start: 0 },
  vp8: { profiles: [], min: 0, max: 16, start: 13 },
  vp9: { profiles: [], min: 0, max: 8, start: 5 },
  av1: { profiles: [], min: 0, max: 13, start: 0 }
};
const NO_ENCODER = { profiles: [], min: 0, max: 0, start: 0 };
const THREAD_CODECS = ['h264', 'h265', 'vp8', 'vp9', 'av1'];
const LEVELS = ['default', '1', '1.1', '1.2', '1.3', '2', '2.1', '2.2', '3', '3.1', '3.2', '4', '4.1',
  '4.2', '5', '5.1'];
const THREADS = ['auto', '1', '2', '4', '8'];

const PIXEL_FORMATS = {
  'main444-12': 'yuv444p12', 'main444-10': 'yuv444p10', 'main444-8': 'yuv444p',
  high444: 'yuv444p', high444p: 'yuv444p',
  'main422-12': 'yuv422p12', 'main422-10': 'yuv422p10', high422: 'yuv422p',
  high10: 'yuv420p10', main10: 'yuv420p10', main12: 'yuv420p12'
};

function encoderTable(codec) {
  const c = lc(codec);
  return has(ENCODERS, c) ? ENCODERS[c] : NO_ENCODER;
}

function pixelFormat(profile) {
  const p = lc(profile);
  return has(PIXEL_FORMATS, p) ? PIXEL_FORMATS[p] : 'yuv420p';
}

function clampPreset(table, p) {
  const n = toInt(p);
  return Math.min(table.max, Math.max(table.min, n));
}

function encoderFromOptions(options, codec) {
  const c = lc(codec);
  const t = encoderTable(c);
  const f = { profile: 'default', level: 'default', threads: 'auto', preset: t.start };
  // A stored value the slider cannot show leaves the codec's start position.
  function preset(p) {
    if (Number.isInteger(p) && p >= t.min && p <= t.max && t.max > 0) f.preset = p;
  }
  asList(options).forEach(function (entry) {
    const e = str(entry);
    const tok = splitOptionTokens(e);
    if (tok.length < 2) return;
    const v = tok[1];
    switch (tok[0]) {
      case '-profile:v': f.profile = noQuotes(v); break;
      case '-level': case '-level:v': f.level = noQuotes(v); break;
      case '-threads': case '-threads:v':
        if (THREAD_CODECS.indexOf(c) >= 0) {
          const n = toInt(v);
          f.threads = n > 0 ? String(n) : 'auto';
        }
        break;
      case '-preset': case '-preset:v':
        if (c === 'nv264' || c === 'nv265') preset(videoPresetsNV.indexOf(v.toLowerCase()));
        else if (c === 'av1') preset(13 - intOr(v, NaN));
        else preset(videoPresets.indexOf(v.toLowerCase()));
        break;
      case '-quality:v': preset(videoPresetsAMF.indexOf(v.toLowerCase())); break;
      case '-cpu-used':
        if (c === 'vp8') preset(16 - intOr(v, NaN));
        else if (c === 'vp9') preset(8 - intOr(v, NaN));
        break;
      case '-omx_param':
        if (c === 'omx264') {
          const m = /perf_level=(-?\d+)/.exec(e);
          if (m) preset(parseInt(m[1], 10));
        }
        break;
    }
  });
  return f;
}

function encoderToOptions(fields, codec) {
  const f = fields || {};
  const c = lc(codec);
  const t = encoderTable(c);
  const out = [];
  // A space inside a profile or level would split the option in two.
  const profile = lc(f.profile).replace(/\s+/g, '');
  if (profile && profile !== 'default') out.push('-profile:v ' + profile);
  if (c === 'h264' || c === 'h265') out.push('-pix_fmt:v ' + pixelFormat(profile));
  const level = lc(f.level).replace(/\s+/g, '');
  if (level && level !== 'default') out.push('-level:v ' + level);
  if (THREAD_CODECS.indexOf(c) >= 0 && lc(f.threads) !== 'auto') {
    const n = toInt(f.threads);
    if (n > 0) out.push('-threads:v ' + n);
  }
  const preset = presetSetting(c, f.preset);
  if (preset) out.push(preset.option + ' ' + preset.value);
  return out;
}

// The encoder option the preset slider's position p stands for with this codec, and what the
// slider shows for it: the preset's name, or the encoder's own number where it has no names.
// Null for a codec without presets.
function presetSetting(codec, p) {
  const c = lc(codec);
  const t = encoderTable(c);
  if (t.max === 0) return null;
  const n = clampPreset(t, p);
  const named = function (option, names) { return { option: option, value: names[n], label: names[n] }; };
  const numbered = function (option, value, name) {
    return { option: option, value: String(value), label: name + ' ' + value };
  };
  switch (c) {
    case 'h264': case 'h265': case 'qsv264': case 'qsv265': return named('-preset:v', videoPresets);
    case 'nv264': case 'nv265': return named('-preset:v', videoPresetsNV);
    case 'amf264': case 'amf265': return named('-quality:v', videoPresetsAMF);
    case 'omx264': return { option: '-omx_param', value: "'perf_level=" + n + "'", label: 'perf_level ' + n };
    case 'vp8': return numbered('-cpu-used', 16 - n, 'cpu-used');
    case 'vp9': return numbered('-cpu-used', 8 - n, 'cpu-used');
    case 'av1': return numbered('-preset:v', 13 - n, 'preset');
    default: return null;
  }
}

function presetLabel(codec, p) {
  const preset = presetSetting(codec, p);
  return preset ? preset.label : '';
}

// ----------------------------------------------------------------- overlay

const DEFAULT_COLOR = '#00ffff';

function overlayDefaults() {
  return {
    enable: false, video: '', text: '%timestamp',
    halign: 'left', hpad: 0, valign: 'top', vpad: 0,
    size: 16, color: DEFAULT_COLOR
  };
}

// The colour control only takes "#rrggbb".
function normColor(c) {
  const m = /^(?:#|0x)?([0-9a-f]{6})$/i.exec(str(c).trim());
  return m ? '#' + m[1].toLowerCase() : DEFAULT_COLOR;
}

// "W-w-10" / "w-tw-10" is measured from the far edge, a plain number from the near one.
function placement(part, farPrefix) {
  const p = str(part).trim();
  if (p.toLowerCase().indexOf(farPrefix.toLowerCase()) === 0) {
    return { far: true, pad: toInt(p.slice(farPrefix.length)) };
  }
  return { far: false, pad: toInt(p) };
}

function overlayFromFilters(filters) {
  const f = overlayDefaults();
  asList(filters).forEach(function (entry) {
    const e = str(entry);
    const movie = /movie='([^']*)'/.exec(e);
    // The placement follows the last "overlay=": the file path may contain the word.
    const over = /^([^:\s]*):([^:\s;,]*)/.exec(e.slice(e.lastIndexOf('overlay=') + 8));
    if (movie && over && e.indexOf('overlay=') >= 0) {
      const x = placement(over[1], 'W-w-');
      const y = placement(over[2], 'H-h-');
      f.enable = true;
      f.video = movie[1].trim();
      f.halign = x.far ? 'right' : 'left';
      f.hpad = x.pad;
      f.valign = y.far ? 'bottom' : 'top';
      f.vpad = y.pad;
      return;
    }
    const at = e.indexOf('drawtext=');
    if (at < 0) return;
    f.enable = true;
    f.text = '%timestamp';
    splitOutsideQuotes(e.slice(at + 9), ':').forEach(function (pair) {
      const kv = keyValue(pair);
      if (!kv) return;
      const v = kv[1].trim();
      switch (kv[0]) {
        case 'text': f.text = noQuotes(v); break;
        case 'fontsize': f.size = toInt(v) > 0 ? toInt(v) : 16; break;
        case 'fontcolor': f.color = normColor(v); break;
        case 'x': {
          const x = placement(v, 'w-tw-');
          f.halign = x.far ? 'right' : 'left';
          f.hpad = x.pad;
          break;
        }
        case 'y': {
          const y = placement(v, 'h-th-');
          f.valign = y.far ? 'bottom' : 'top';
          f.vpad = y.pad;
          break;
        }
      }
    });
  });
  return f;
}

function overlayToFilters(fields, filters) {
  const f = fields || {};
  const out = removeOption(filters, ['[logo]overlay=', 'drawtext=']);
  if (!f.enable) return out;
  const right = f.halign === 'right';
  const bottom = f.valign === 'bottom';
  const hpad = toInt(f.hpad);
  const vpad = toInt(f.vpad);
  const video = str(f.video).trim();
  const text = str(f.text);
  if (video) {
    out.push("movie='" + video + "', setpts=N/TB/FR[logo]; [0][logo]overlay=" +
      (right ? 'W-w-' : '') + hpad + ':' + (bottom ? 'H-h-' : '') + vpad);
  } else if (text.trim()) {
    const size = toInt(f.size) > 0 ? toInt(f.size) : 16;
    out.push('drawtext=' +
      (text.trim().toLowerCase() === '%timestamp' ? '' : "text='" + text + "':") +
      'fontsize=' + size + ':fontcolor=' + normColor(f.color) +
      ':x=' + (right ? 'w-tw-' : '') + hpad + ':y=' + (bottom ? 'h-th-' : '') + vpad);
  }
  return out;
}

// -------------------------------------------------------------------- misc

const DECODERS = [
  ['none', 'Disabled'],
  ['h264_cuvid', 'H.264 (NVDEC/CUVID)'],
  ['h264_qsv', 'H.264 (Quick Sync)'],
  ['h264_ni_quadra_dec', 'H.264 (NETINT Quadra)'],
  ['hevc_cuvid', 'HEVC (NVDEC/CUVID)'],
  ['hevc_qsv', 'HEVC (Quick Sync)'],
  ['h265_ni_quadra_dec', 'H.265 (NETINT Quadra)'],
  ['mpeg2_cuvid', 'MPEG2 (NVDEC/CUVID)']
];
const DECODER_NAMES = DECODERS.map(function (d) { return d[0]; });
const SCAN_TYPES = ['Keep Original', 'Interlaced => Progressive (Deinterlace)',
  'Progressive => Interlaced (Top Bottom)', 'Progressive => Interlaced (Bottom Top)'];
const NVENC_CODECS = ['nv264', 'nv265', 'nvav1'];
// Encoders that take hardware frames themselves, so decoded frames stay on the card.
const HW_ENCODERS = ['nv264', 'nv265', 'nvav1', 'qsv264', 'qsv265', 'qsvvp9', 'qsvmp2v', 'qsvav1',
  'amf264', 'amf265', 'amfav1'];

function scanValue(v) {
  const n = toInt(v);
  return n >= 0 && n <= 3 ? n : 0;
}

function miscFromOptions(targetOptions, scanType, sourceOptions) {
  const f = { aspect: false, scan: scanValue(scanType), gpu: 0, decoding: 'none' };
  asList(targetOptions).forEach(function (entry) {
    const tok = splitOptionTokens(entry);
    if (tok.length < 2) return;
    if (tok[0] === '-aspect' || tok[0] === '-aspect:v') f.aspect = true;
    else if (tok[0] === '-gpu' || tok[0] === '-gpu:v') f.gpu = Math.max(0, toInt(tok[1]));
  });
  asList(sourceOptions).forEach(function (entry) {
    const tok = splitOptionTokens(entry);
    if (tok.length >= 2 && tok[0] === '-c:v' && DECODER_NAMES.indexOf(tok[1].toLowerCase()) >= 0) {
      f.decoding = tok[1].toLowerCase();
    }
  });
  return f;
}

// input: { codec, width, height, targetOptions, filters } of the target being applied.
// Returns the target's options and scan type, the first source's options, the
// filter list, and the decoding choice that was actually used.
function miscApply(fields, input) {
  const f = fields || {};
  const a = input || {};
  const codec = lc(a.codec);
  const w = toInt(a.width);
  const h = toInt(a.height);
  const sized = w > 0 && h > 0;
  const scan = scanValue(f.scan);
  const gpu = Math.max(0, toInt(f.gpu));
  const t = removeOption(a.targetOptions, ['-aspect ', '-gpu ', '-aspect:v ', '-gpu:v ']);
  if (f.aspect && sized) t.push('-aspect:v ' + w + ':' + h);
  if (gpu && NVENC_CODECS.indexOf(codec) >= 0) t.push('-gpu:v ' + gpu);
  const s = [];
  const filters = asList(a.filters).slice();
  let decoding = DECODER_NAMES.indexOf(lc(f.decoding)) >= 0 ? lc(f.decoding) : 'none';
  // A picture filter needs the frames in system memory in their own format.
  if (filters.length) decoding = 'none';
  if (decoding === 'h264_cuvid' || decoding === 'hevc_cuvid') {
    s.push('-hwaccel cuda -hwaccel_output_format cuda');
    if (scan === 1) s.push('-deint adaptive', '-surfaces 9');
    if (sized) s.push('-resize ' + w + 'x' + h);
    if (gpu) s.push('-hwaccel_device ' + gpu, '-gpu ' + gpu);
  } else if (decoding === 'h264_qsv' || decoding === 'hevc_qsv') {
    s.push('-hwaccel qsv -hwaccel_output_format qsv');
    let vpp = scan === 1 ? 'vpp_qsv=deinterlace=2' : '';
    if (sized) vpp = vpp ? vpp + ':w=' + w + ':h=' + h : 'vpp_qsv=w=' + w + ':h=' + h;
    if (vpp) filters.unshift(vpp);
  } else if (scan === 1) {
    filters.unshift('yadif');
  }
  if (decoding !== 'none') {
    s.push('-c:v ' + decoding);
    if (HW_ENCODERS.indexOf(codec) < 0) filters.unshift('hwdownload', 'format=nv12');
  }
  return { targetOptions: t, scanType: scan, sourceOptions: s, filters: filters, decoding: decoding };
}

const rules = {
  removeOption: removeOption,
  splitOptionTokens: splitOptionTokens,
  mapToRows: mapToRows,
  rowsToMap: rowsToMap,
  mpegtsOutputFromOptions: mpegtsOutputFromOptions,
  mpegtsOutputToOptions: mpegtsOutputToOptions,
  rtmpFromTarget: rtmpFromTarget,
  rtmpToTarget: rtmpToTarget,
  hlsFromOptions: hlsFromOptions,
  hlsToOptions: hlsToOptions,
  srtSide: srtSide,
  srtFromOptions: srtFromOptions,
  srtToOptions: srtToOptions,
  extractAddr: extractAddr,
  replaceAddr: replaceAddr,
  customText: customText,
  encoderTable: encoderTable,
  encoderFromOptions: encoderFromOptions,
  encoderToOptions: encoderToOptions,
  presetLabel: presetLabel,
  pixelFormat: pixelFormat,
  overlayFromFilters: overlayFromFilters,
  overlayToFilters: overlayToFilters,
  miscFromOptions: miscFromOptions,
  miscApply: miscApply,
  videoPresets: videoPresets,
  videoPresetsNV: videoPresetsNV,
  videoPresetsAMF: videoPresetsAMF
};

// ===================================================================== DOM

let built = false;
let runtime = {};
let formatCtx = null;
let formatPopup = null;
let videoPopup = null;
let presetCodec = '';  // the codec whose presets the slider shows

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

// A stored value outside the offered list is added, so that it survives a re-apply.
function setOptions(sel, values, current) {
  sel.textContent = '';
  const list = values.slice();
  const known = list.filter(function (v) { return v === lc(current); })[0];
  const shown = known || str(current).trim() || values[0];
  if (list.indexOf(shown) < 0) list.push(shown);
  list.forEach(function (v) { sel.append(h('option', { value: v, text: v })); });
  sel.value = shown;
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
  // The header row counts, so the first added row is program 1.
  add.addEventListener('click', function () {
    editFirstCell(table, addRow(table, [String(table.rows.length), '']));
  });
  del.addEventListener('click', function () { removeSelected(table); });
  return group('Select Source Streams in MPEG-TS', table, h('div', { class: 'adv-table-buttons' }, add, del));
}

function buildTsOutput() {
  const table = makeTable('adv-ts-programs', ['Program #', 'Program Name', 'Source #']);
  const add = h('button', { type: 'button', id: 'adv-ts-add-program', text: 'Add Program' });
  const del = h('button', { type: 'button', id: 'adv-ts-remove-program', text: 'Remove' });
  add.addEventListener('click', function () {
    const n = table.rows.length;
    editFirstCell(table, addRow(table, [String(n), programName(n), String(n)]));
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
      row('Column', input('adv-ts-fec-column', { type: 'number', min: '1' })),
      row('Row', input('adv-ts-fec-row', { type: 'number', min: '1' }))));
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
    row('Minimal Stable Timeout (ms)', input('adv-srt-timeout', { type: 'number', min: '1' })));
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

function writeTsOutput(f) {
  fillRows($('adv-ts-programs'), f.programs, ['program', 'name', 'source']);
  $('adv-ts-pmt-pid').value = f.pmtPid;
  $('adv-ts-provider').value = f.provider;
  $('adv-ts-video-pid').value = f.videoPid;
  $('adv-ts-audio-pid').value = f.audioPid;
  $('adv-ts-subtitle-pid').value = f.subtitlePid;
  $('adv-ts-fec').checked = f.fec;
  $('adv-ts-fec-column').value = f.fecColumn;
  $('adv-ts-fec-row').value = f.fecRow;
  enableTab('ts-output', f.enabled);
  $('adv-ts-fec').disabled = !f.enabled || !f.fecPossible;
  syncFec();
}

function readTsOutput() {
  return {
    programs: readRows($('adv-ts-programs'), ['program', 'name', 'source']),
    pmtPid: $('adv-ts-pmt-pid').value,
    provider: $('adv-ts-provider').value,
    videoPid: $('adv-ts-video-pid').value,
    audioPid: $('adv-ts-audio-pid').value,
    subtitlePid: $('adv-ts-subtitle-pid').value,
    fec: $('adv-ts-fec').checked && !$('adv-ts-fec').disabled,
    fecColumn: $('adv-ts-fec-column').value,
    fecRow: $('adv-ts-fec-row').value
  };
}

const RTMP_FIELDS = [['flashVer', 'adv-rtmp-flashver'], ['swfUrl', 'adv-rtmp-swfurl'],
  ['user', 'adv-rtmp-user'], ['passwd', 'adv-rtmp-passwd']];

function writeHls(f) {
  $('adv-hls-type-ts').checked = !f.fmp4;
  $('adv-hls-type-fmp4').checked = f.fmp4;
  $('adv-hls-time').value = f.time;
  $('adv-hls-size').value = f.listSize;
  $('adv-hls-start').value = f.start;
  $('adv-hls-keyinfo').value = f.keyInfo;
  $('adv-hls-baseurl').value = f.baseUrl;
  $('adv-hls-master').value = f.masterName;
  enableTab('hls', f.enabled);
  $('adv-hls-master').disabled = !f.masterEnabled;
}

function readHls() {
  return {
    fmp4: $('adv-hls-type-fmp4').checked,
    time: $('adv-hls-time').value,
    listSize: $('adv-hls-size').value,
    start: $('adv-hls-start').value,
    keyInfo: $('adv-hls-keyinfo').value,
    baseUrl: $('adv-hls-baseurl').value,
    masterName: $('adv-hls-master').value,
    masterEnabled: !$('adv-hls-master').disabled
  };
}

let srtSideShown = null;

function writeSrt(f) {
  srtSideShown = f.side;
  $('adv-srt-mode').value = f.mode;
  $('adv-srt-remote1').value = f.remote1;
  $('adv-srt-local1').value = f.local1;
  $('adv-srt-remote2').value = f.remote2;
  $('adv-srt-local2').value = f.local2;
  $('adv-srt-bonding').value = f.bonding;
  $('adv-srt-timeout').value = f.timeout;
  enableTab('srt', f.enabled);
  syncSrtMode();
}

function readSrt() {
  return {
    side: srtSideShown,
    mode: $('adv-srt-mode').value,
    remote1: $('adv-srt-remote1').value,
    local1: $('adv-srt-local1').value,
    remote2: $('adv-srt-remote2').value,
    local2: $('adv-srt-local2').value,
    bonding: $('adv-srt-bonding').value,
    timeout: $('adv-srt-timeout').value
  };
}

function call(fn, arg) {
  return typeof fn === 'function' ? fn(arg) : undefined;
}

// The editor's choices win over what is stored: the operator may have
// changed a format without applying yet.
function ctxFormats(ctx) {
  const ch = ctx.channel || {};
  const src = firstSource(ch) || {};
  const tgt = ctx.target || {};
  return {
    source: ctx.sourceFormat !== undefined ? str(ctx.sourceFormat) : str(src.format),
    target: ctx.targetFormat !== undefined ? str(ctx.targetFormat) : str(tgt.format)
  };
}

function sideUrl(ctx, side) {
  const ch = ctx.channel || {};
  if (side === 'source') {
    const u = call(ctx.getSourceUrl);
    return u !== undefined ? str(u) : str((firstSource(ch) || {}).url);
  }
  const u = call(ctx.getTargetUrl);
  return u !== undefined ? str(u) : str(ctx.target && ctx.target.url);
}

// ctx: the channel and target shown, the editor's format choices and URL fields (getters and
// setters; left out, the stored ones count), onApplied, and readOnly to only look.
function openFormatSettings(ctx) {
  if (!built || !ctx) return;
  formatCtx = ctx;
  const ch = ctx.channel || {};
  const inp = ch.input || {};
  const out = ch.output || {};
  const fmt = ctxFormats(ctx);

  fillRows($('adv-ts-map'), mapToRows(inp.map), ['program', 'pid']);
  writeTsOutput(mpegtsOutputFromOptions(out.formatOptions, fmt.target, runtime));

  const rtmp = rtmpFromTarget(ctx.target, fmt.target);
  RTMP_FIELDS.forEach(function (p) { $(p[1]).value = rtmp[p[0]]; });
  enableTab('rtmp', rtmp.enabled);

  writeHls(hlsFromOptions(out.formatOptions, fmt.target, asList(out.targets).length));

  const side = srtSide(fmt.source, fmt.target);
  const sideOptions = side === 'source' ? inp.formatOptions : out.formatOptions;
  writeSrt(srtFromOptions(sideOptions, side, side ? sideUrl(ctx, side) : ''));

  $('adv-custom-source').value = str(inp.customOptions);
  $('adv-custom-target').value = str(out.customOptions);

  setReadOnly(formatPopup, ctx.readOnly === true);
  showTab(formatPopup, 'ts-input');
  openPopup(formatPopup);
}

function applyFormatSettings() {
  const ctx = formatCtx;
  if (!ctx || !ctx.channel || ctx.readOnly) { closePopup(formatPopup); return; }
  const ch = ctx.channel;
  if (!ch.input || typeof ch.input !== 'object') ch.input = {};
  if (!ch.output || typeof ch.output !== 'object') ch.output = {};
  const inp = ch.input;
  const out = ch.output;
  const fmt = ctxFormats(ctx);

  inp.map = rowsToMap(readRows($('adv-ts-map'), ['program', 'pid']));
  out.formatOptions = mpegtsOutputToOptions(readTsOutput(), out.formatOptions, fmt.target);
  if (ctx.target && typeof ctx.target === 'object') {
    const r = {};
    RTMP_FIELDS.forEach(function (p) { r[p[0]] = $(p[1]).value; });
    ctx.target.rtmp = rtmpToTarget(r, fmt.target);
  }
  out.formatOptions = hlsToOptions(readHls(), out.formatOptions, fmt.target);

  const srt = readSrt();
  if (srt.side) {
    const url = sideUrl(ctx, srt.side);
    const res = srtToOptions(srt, srt.side === 'source' ? inp.formatOptions : out.formatOptions, url);
    if (srt.side === 'source') inp.formatOptions = res.options;
    else out.formatOptions = res.options;
    if (res.url !== url) call(srt.side === 'source' ? ctx.setSourceUrl : ctx.setTargetUrl, res.url);
  }

  inp.customOptions = customText($('adv-custom-source').value);
  out.customOptions = customText($('adv-custom-target').value);

  closePopup(formatPopup);
  call(ctx.onApplied);
}

// -------------------------------------------------- video pop-up: panels

function buildEncoder() {
  const levels = h('datalist', { id: 'adv-enc-level-list' });
  LEVELS.forEach(function (l) { levels.append(h('option', { value: l })); });
  const threads = h('datalist', { id: 'adv-enc-threads-list' });
  THREADS.forEach(function (t) { threads.append(h('option', { value: t })); });
  const preset = h('input', { type: 'range', id: 'adv-enc-preset', min: '0', max: '8', step: '1', value: '3' });
  const shown = h('output', { id: 'adv-enc-preset-value', for: 'adv-enc-preset', text: '3' });
  preset.addEventListener('input', function () { shown.textContent = presetLabel(presetCodec, preset.value); });
  return h('div', {},
    row('Profile', h('select', { id: 'adv-enc-profile' })),
    row('Level', input('adv-enc-level', { list: 'adv-enc-level-list' })), levels,
    row('Threads', input('adv-enc-threads', { list: 'adv-enc-threads-list' })), threads,
    row('Encoding Preset', preset, shown),
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
    row('Fontsize', input('adv-ovl-size', { type: 'number', min: '1', max: '32767' })),
    row('Color', input('adv-ovl-color', { type: 'color' })),
    row('Horizontal Placement', select('adv-ovl-halign', [['left', 'Left'], ['right', 'Right']]),
      input('adv-ovl-hpad', { type: 'number', min: '0' }), 'px'),
    row('Vertical Placement', select('adv-ovl-valign', [['top', 'Top'], ['bottom', 'Bottom']]),
      input('adv-ovl-vpad', { type: 'number', min: '0' }), 'px'));
}

function syncOverlay() {
  const off = !$('adv-ovl-enable').checked;
  OVERLAY_FIELDS.forEach(function (id) { $(id).disabled = off; });
}

function buildMisc() {
  return h('div', {},
    row('Override Original Video Aspect Ratio with Output Video Size',
      h('input', { type: 'checkbox', id: 'adv-misc-aspect' })),
    row('Scan Type', select('adv-misc-scan', SCAN_TYPES.map(function (t, i) { return [String(i), t]; }))),
    row('Use NVIDIA GPU #', input('adv-misc-gpu', { type: 'number', min: '0', max: '32767' }),
      'for NVENC Acceleration'),
    row('GPU Decoding', select('adv-misc-decoding', DECODERS)));
}

// -------------------------------------------------- video pop-up: fields

function updateVideoTabs(channel, target) {
  if (!built) return;
  const v = (target && target.video) || {};
  const codec = lc(v.codec);
  const t = encoderTable(codec);
  const enc = encoderFromOptions(v.options, codec);
  const encoding = t.max > 0 || t.profiles.length > 0;

  const profile = $('adv-enc-profile');
  setOptions(profile, ['default'].concat(t.profiles), enc.profile);
  profile.disabled = !t.profiles.length;
  const level = $('adv-enc-level');
  level.value = enc.level;
  level.disabled = !encoding;
  const threads = $('adv-enc-threads');
  threads.value = enc.threads;
  threads.disabled = THREAD_CODECS.indexOf(codec) < 0;
  const preset = $('adv-enc-preset');
  preset.min = String(t.min);
  preset.max = String(t.max);
  preset.value = String(enc.preset);
  preset.disabled = t.max === 0;
  presetCodec = codec;
  $('adv-enc-preset-value').textContent = presetLabel(codec, enc.preset);

  const src = firstSource(channel);
  const misc = miscFromOptions(v.options, v.scanType, src && src.video && src.video.options);
  $('adv-misc-aspect').checked = misc.aspect;
  $('adv-misc-scan').value = String(misc.scan);
  $('adv-misc-gpu').value = String(misc.gpu);
  $('adv-misc-decoding').value = misc.decoding;
}

function updateOverlay(channel) {
  if (!built) return;
  const f = overlayFromFilters(channel && channel.input && channel.input.filters);
  $('adv-ovl-enable').checked = f.enable;
  $('adv-ovl-video').value = f.video;
  $('adv-ovl-text').value = f.text;
  $('adv-ovl-size').value = String(f.size);
  $('adv-ovl-color').value = f.color;
  $('adv-ovl-halign').value = f.halign;
  $('adv-ovl-hpad').value = String(f.hpad);
  $('adv-ovl-valign').value = f.valign;
  $('adv-ovl-vpad').value = String(f.vpad);
  syncOverlay();
}

function applyVideoTabs(channel, target) {
  if (!built || !channel || typeof channel !== 'object' || !target || typeof target !== 'object') return;
  if (!target.video || typeof target.video !== 'object') target.video = {};
  if (!channel.input || typeof channel.input !== 'object') channel.input = {};
  const v = target.video;
  const codec = lc(v.codec);

  v.options = encoderToOptions({
    profile: $('adv-enc-profile').value,
    level: $('adv-enc-level').value,
    threads: $('adv-enc-threads').value,
    preset: $('adv-enc-preset').value
  }, codec);

  channel.input.filters = [];
  channel.input.filters = overlayToFilters({
    enable: $('adv-ovl-enable').checked,
    video: $('adv-ovl-video').value,
    text: $('adv-ovl-text').value,
    size: $('adv-ovl-size').value,
    color: $('adv-ovl-color').value,
    halign: $('adv-ovl-halign').value,
    hpad: $('adv-ovl-hpad').value,
    valign: $('adv-ovl-valign').value,
    vpad: $('adv-ovl-vpad').value
  }, channel.input.filters);

  const src = firstSource(channel);
  if (src && (!src.video || typeof src.video !== 'object')) src.video = { options: [] };
  const res = miscApply({
    aspect: $('adv-misc-aspect').checked,
    scan: $('adv-misc-scan').value,
    gpu: $('adv-misc-gpu').value,
    // Decoder options need a source to live in.
    decoding: src ? $('adv-misc-decoding').value : 'none'
  }, { codec: codec, width: v.width, height: v.height, targetOptions: v.options, filters: channel.input.filters });
  v.options = res.targetOptions;
  v.scanType = res.scanType;
  if (src) src.video.options = res.sourceOptions;
  channel.input.filters = res.filters;
  $('adv-misc-decoding').value = res.decoding;
}

// ------------------------------------------------------------------ setup

function button(id, text) { return h('button', { type: 'button', id: id, text: text }); }

function init(rt) {
  runtime = rt && typeof rt === 'object' ? rt : {};
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
  formatOk.addEventListener('click', applyFormatSettings);
  formatCancel.addEventListener('click', function () { closePopup(formatPopup); });

  const videoOk = button('adv-video-ok', 'OK');
  const videoCancel = button('adv-video-cancel', 'Cancel');
  videoPopup = buildPopup('adv-video', 'Advanced Video Settings', [
    { name: 'encoding', label: 'H.264/HEVC/VPX/AV1 Encodings', body: buildEncoder() },
    { name: 'overlay', label: 'Overlay', body: buildOverlay() },
    { name: 'misc', label: 'Misc.', body: buildMisc() }
  ], [videoOk, videoCancel]);
  // The video fields are stored by the editor's Apply, so both buttons only close.
  videoOk.addEventListener('click', function () { closePopup(videoPopup); });
  videoCancel.addEventListener('click', function () { closePopup(videoPopup); });

  document.body.append(formatPopup, videoPopup);
  built = true;
  updateOverlay(null);
  updateVideoTabs(null, null);
}

// The video tabs show the target the editor shows; readOnly while the channel is not edited.
function openVideoSettings(readOnly) {
  if (!built) return;
  setReadOnly(videoPopup, readOnly === true);
  openPopup(videoPopup);
}

function closeAll() {
  closePopup(formatPopup);
  closePopup(videoPopup);
}

export {
  init, openFormatSettings, openVideoSettings, updateVideoTabs, updateOverlay, applyVideoTabs,
  closeAll, rules
};
