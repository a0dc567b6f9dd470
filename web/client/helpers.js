// The small helpers every part of the browser client uses: tolerant readers of the channel JSON
// (operators may edit the file by hand, so any type can stand where a string or number is
// expected) and the few DOM primitives for elements and pop-ups. Nothing here runs on import.

// ----- values -----------------------------------------------------------------------------------

export function str(value) {
  if (typeof value === 'string') return value;
  if (typeof value === 'number' || typeof value === 'boolean') return String(value);
  return '';
}

// A text member as stored, or `fallback` when it holds anything else.
export function textOr(value, fallback = '') {
  return typeof value === 'string' ? value : fallback;
}

export function lc(value) {
  return str(value).trim().toLowerCase();
}

export function asList(value) {
  return Array.isArray(value) ? value : [];
}

// Leading decimal digits, else 0; read the way the program reads a stored integer (a number is
// truncated, true is 1).
export function toInt(value) {
  if (typeof value === 'number') return Number.isFinite(value) ? Math.trunc(value) : 0;
  if (typeof value === 'boolean') return value ? 1 : 0;
  const n = parseInt(str(value).trim(), 10);
  return Number.isFinite(n) ? n : 0;
}

export function intOr(value, fallback) {
  const n = parseInt(str(value).trim(), 10);
  return Number.isFinite(n) ? n : fallback;
}

export function toFloat(text) {
  const value = parseFloat(text);
  return Number.isFinite(value) ? value : 0;
}

export function deepCopy(value) {
  return JSON.parse(JSON.stringify(value));
}

export function firstSource(channel) {
  const source = asList(channel && channel.input && channel.input.sources)[0];
  return source && typeof source === 'object' ? source : null;
}

export function firstTarget(channel) {
  const targets = channel && channel.output && channel.output.targets;
  return Array.isArray(targets) && targets[0] ? targets[0] : null;
}

export function escapeHtml(text) {
  return String(text).replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' }[c]));
}

// ----- page -------------------------------------------------------------------------------------

// Where the page was loaded from: presets and the preview point at the same machine.
export function pageAddress() {
  const { protocol, hostname, port } = window.location;
  return { protocol, host: hostname, port };
}

// ----- elements ---------------------------------------------------------------------------------

export const $ = (id) => document.getElementById(id);

// An element with attributes ("text" and "class" set the content and class name; false, null and
// undefined leave an attribute out) and children (strings become text).
export function h(tag, attrs, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (v === false || v === null || v === undefined) continue;
    if (k === 'text') e.textContent = v;
    else if (k === 'class') e.className = v;
    else e.setAttribute(k, v === true ? '' : v);
  }
  for (const c of children) {
    if (c === null || c === undefined) continue;
    e.append(typeof c === 'string' ? document.createTextNode(c) : c);
  }
  return e;
}

export function hasOption(select, value) {
  return [...select.options].some((option) => option.value === value);
}

// A stored value the list does not offer is added, so that it shows and survives a re-apply.
export function addMissingOption(select, value) {
  if (!hasOption(select, value)) select.add(new Option(value, value));
}

// Calls move(event) for every mouse move until the button is released, then done().
export function followMouse(move, done) {
  const up = () => {
    document.removeEventListener('mousemove', move);
    document.removeEventListener('mouseup', up);
    if (done) done();
  };
  document.addEventListener('mousemove', move);
  document.addEventListener('mouseup', up);
}

// ----- pop-ups (an element or its id) -----------------------------------------------------------

function popupElement(popup) {
  return typeof popup === 'string' ? $(popup) : popup;
}

// The pop-up opened last is drawn above the others (they share one z-index, so the later one in
// the document wins).
function raisePopup(popup) {
  const element = popupElement(popup);
  if (element && element.parentNode === document.body && document.body.lastElementChild !== element) {
    document.body.append(element);
  }
}

export function openPopup(popup) {
  raisePopup(popup);
  popupElement(popup).classList.add('open');
}

export function closePopup(popup) {
  const element = popupElement(popup);
  if (element) element.classList.remove('open');
}
