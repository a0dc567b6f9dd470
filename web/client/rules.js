// The page's rules as pure functions over plain values: the target tabs, and what the status
// cells, sparklines, load meters and pickers show. The choice lists, the edited row's source
// (/source_fields), the target presets, the new channel, the served addresses, channel removal
// and the checks of an edit are the server's (/rules and the paths beside it). Nothing here
// touches the DOM, so node can test it.

import { textOr, toInt } from './helpers.js';

// ----- targets ---------------------------------------------------------------------------------

// A channel always has at least one (possibly empty) target to edit.
export function targetsOf(channel) {
  if (!channel.output) channel.output = {};
  if (!Array.isArray(channel.output.targets) || channel.output.targets.length === 0) {
    channel.output.targets = [{}];
  }
  return channel.output.targets;
}

// The tab of the target at `index`: its number, then the last part of its URL after the last
// "/" or "\" (copies added with "+" share that part until their URL is changed).
export function tabLabel(target, index) {
  const url = textOr(target && target.url);
  const cut = Math.max(url.lastIndexOf('/'), url.lastIndexOf('\\'));
  return `${index + 1}: ${url.slice(cut + 1) || '(none)'}`;
}

// ----- web administration address ---------------------------------------------------------------

// The administration server's port: "httpPort", or the default when it is missing or 0.
export function adminPort(global) {
  return toInt(global && global.httpPort) || 9527;
}

function usesTls(global) {
  return Boolean(global) && global.sslEnable === true;
}

// Where the administration page answers after a post changed its port or TLS from `before` to
// `after` (the "global" objects), on the host the page was loaded from; '' when neither changed.
export function movedAdminAddress(before, after, pageHost) {
  if (adminPort(before) === adminPort(after) && usesTls(before) === usesTls(after)) return '';
  return `${usesTls(after) ? 'https' : 'http'}://${pageHost}:${adminPort(after)}/`;
}

// ----- status -----------------------------------------------------------------------------------

export function statusCellView(entry) {
  return { icon: entry ? `${entry.state}.png` : '', words: entry ? String(entry.status) : '' };
}

// The GPU meter of a status answer: the load while it is above 0, else a word in its place
// ("none" when the server has no GPU to report).
export function gpuMeter(answer) {
  const gpu = answer && typeof answer === 'object' ? answer.gpu : undefined;
  if (gpu) return { values: [gpu], note: '' };
  return { values: [], note: gpu === undefined ? 'none' : 'idle' };
}

// Green up to 50 %, then through yellow to red.
export function loadToRGB(load) {
  const red = Math.min(55 + 4 * load, 255);
  const green = load < 50 ? 255 : 255 - 5 * (load - 50);
  return `rgb(${red}, ${Math.max(0, green)}, 0)`;
}

// How channel n is previewed: an idle channel is started in preview mode ("start"), a running
// HTML5 output is played from its own URL ("html5"); anything else cannot be shown ('').
export function previewPlan(status, target) {
  if (!status || status.state === 'idle') return 'start';
  if (target && target.format === 'html5') return 'html5';
  return '';
}

// ----- the channel glance -----------------------------------------------------------------------

// Whether the channel of a /status entry has a live picture and moving figures to poll: any
// state but idle.
export function glancePolled(entry) {
  return Boolean(entry) && entry.state !== 'idle';
}

// The x of sample `index` of `count` on a line `width` wide spanning `slots` samples, the newest
// at the right edge: a history shorter than the span starts further right.
function slotX(index, count, slots, width) {
  const step = slots > 1 ? width / (slots - 1) : 0;
  return (slots - count + index) * step;
}

const rounded = (value) => Math.round(value * 10) / 10;

// The figures of a history list: a number from 0 up, else null (no figure).
function figuresOf(values) {
  const list = Array.isArray(values) ? values : [];
  return list.map((value) => (typeof value === 'number' && Number.isFinite(value) && value >= 0 ? value : null));
}

// A sparkline `width` x `height` of `values` (oldest first, one a sample, null where there was no
// figure) over `slots` samples: {top, lines}, where `top` is the largest value (0 without one),
// drawn at the top edge, and each of `lines` the "x,y x,y …" points of a stretch without a gap.
// A lone value is a dash one unit wide, so that it shows; values beyond the span are left out.
export function sparkline(values, slots, width, height) {
  const figures = figuresOf(values).slice(-slots);
  const top = Math.max(0, ...figures.filter((value) => value !== null));
  const lines = [];
  let points = [];
  const close = () => {
    if (points.length === 1) {
      const [x, y] = points[0];
      points = x >= 1 ? [[x - 1, y], [x, y]] : [[x, y], [x + 1, y]];
    }
    if (points.length) lines.push(points.map(([x, y]) => `${rounded(x)},${rounded(y)}`).join(' '));
    points = [];
  };
  figures.forEach((value, index) => {
    if (value === null) {
      close();
      return;
    }
    points.push([slotX(index, figures.length, slots, width), top > 0 ? height - (value / top) * height : height]);
  });
  close();
  return { top, lines };
}

// The stretches of `states` (as `values` above) that read `word`, as {x, width} on the same line:
// each sample covers half the step to either neighbour, the line's ends cut at its edges.
export function stateSpans(states, word, slots, width) {
  const list = (Array.isArray(states) ? states : []).slice(-slots);
  const half = slots > 1 ? width / (slots - 1) / 2 : width;
  const spans = [];
  let from = -1;
  list.forEach((state, index) => {
    if (state === word && from < 0) from = index;
    if (state === word && (index === list.length - 1 || list[index + 1] !== word)) {
      const x = Math.max(0, slotX(from, list.length, slots, width) - half);
      const end = Math.min(width, slotX(index, list.length, slots, width) + half);
      spans.push({ x: rounded(x), width: rounded(end - x) });
      from = -1;
    }
  });
  return spans;
}

// ----- pop-ups ----------------------------------------------------------------------------------

// The position ({left, top}) that puts a box ({left, top, width, height}) inside the view
// ({width, height}) with the least move; a box larger than the view keeps its top left corner
// (and with it the title bar) in view.
export function clampIntoView(box, view) {
  const clamp = (value, size, room) => Math.max(0, Math.min(value, room - size));
  return { left: clamp(box.left, box.width, view.width), top: clamp(box.top, box.height, view.height) };
}
