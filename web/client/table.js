// The channel table: one row per channel slot with the stored channel's texts, the selection,
// the status cells with the channel's live picture and sparklines, the fields a row turns into
// while its channel is edited, and columns the operator widens by dragging.

import { $, addMissingOption, firstSource, followMouse, h, textOr } from './helpers.js';
import { sparkline, stateSpans } from './rules.js';
import { channels, slotCount, state } from './state.js';

const kColumns = ['num', 'picture', 'source', 'bind', 'memo', 'status'];
// The sparklines' drawing area, in pixels.
const kSparkWidth = 160;
const kSparkHeight = 14;
const kSvg = 'http://www.w3.org/2000/svg';

function svg(tag, attrs = {}) {
  const element = document.createElementNS(kSvg, tag);
  for (const [name, value] of Object.entries(attrs)) element.setAttribute(name, String(value));
  return element;
}

// A sparkline of one figure: the line's box and, beside it, the value its top edge stands for.
function sparkElement(figure) {
  const line = svg('svg', {
    class: 'spark', width: kSparkWidth, height: kSparkHeight + 2, viewBox: `0 -1 ${kSparkWidth} ${kSparkHeight + 2}`,
  });
  line.append(svg('title'), svg('g', { class: 'tint' }), svg('g', { class: 'lines' }));
  return h('div', { class: `spark-row ${figure}` }, line, h('small', { class: 'spark-top' }));
}

// A click on the picture box previews the channel (onPictureClick(n)); it neither selects the
// row through the row's own handlers nor opens the editor on a double click.
function pictureBox(n, onPictureClick) {
  const box = h('div', { class: 'thumb none' }, h('img', { alt: `channel ${n}`, hidden: true }),
    h('span', { class: 'thumb-none', text: 'no picture' }));
  box.addEventListener('click', (event) => {
    event.stopPropagation();
    onPictureClick(n);
  });
  box.addEventListener('dblclick', (event) => event.stopPropagation());
  return box;
}

export function buildRows(count, onClick, onDoubleClick, onPictureClick) {
  const body = $('channels').tBodies[0];
  body.textContent = '';
  for (let k = 1; k <= count; k++) {
    const row = body.insertRow();
    row.dataset.row = String(k);
    for (const name of kColumns) row.insertCell().className = name;
    cellOf(row, 'picture').append(pictureBox(k, onPictureClick));
    cellOf(row, 'status').append(
      h('div', { class: 'status-line' }, h('img', { hidden: true }), h('span')),
      h('div', { class: 'sparks' }, sparkElement('fps'), sparkElement('bitrate')),
    );
    row.addEventListener('click', () => onClick(k));
    row.addEventListener('dblclick', () => onDoubleClick(k));
  }
}

function tableRow(n) {
  return $('channels').tBodies[0].rows[n - 1] || null;
}

function cellOf(row, name) {
  return row.cells[kColumns.indexOf(name)];
}

export function fillRowTexts(n) {
  const row = tableRow(n);
  if (!row) return;
  const channel = channels()[n - 1];
  const stored = Boolean(channel);
  row.classList.toggle('stored', stored);
  row.classList.remove('editing');
  const source = firstSource(channel);
  const url = textOr(source && source.url);
  cellOf(row, 'num').textContent = stored || (state.newChannel && state.selected === n) ? String(n) : '';
  cellOf(row, 'source').textContent = stored ? ' ' + url : '';
  cellOf(row, 'source').title = stored ? url : '';
  cellOf(row, 'bind').textContent = stored && channel.bind > 0 ? String(channel.bind) : '';
  cellOf(row, 'memo').textContent = stored ? textOr(channel.memo) : '';
}

export function fillTable() {
  for (let n = 1; n <= slotCount(); n++) fillRowTexts(n);
  markSelection();
}

export function markSelection() {
  for (const row of $('channels').tBodies[0].rows) {
    row.classList.toggle('selected', Number(row.dataset.row) === state.selected);
  }
}

export function requireSelection() {
  if (state.selected) return true;
  alert('Please select channel first.');
  return false;
}

// The status icon and words of row n; an unchanged cell is left alone.
export function showStatusCell(n, { icon, words }) {
  const line = cellOf(tableRow(n), 'status').firstChild;
  const image = line.firstChild;
  const text = line.lastChild;
  if (image.getAttribute('src') !== icon) {
    if (icon) image.setAttribute('src', icon); else image.removeAttribute('src');
    image.hidden = !icon;
  }
  if (text.textContent !== words) text.textContent = words;
}

// ----- the channel glance -----------------------------------------------------------------------

// Row n's picture box shows `picture` (a JPEG Blob), or the placeholder for null; the picture it
// showed before is let go.
export function showPicture(n, picture) {
  const row = tableRow(n);
  if (!row) return;
  const box = cellOf(row, 'picture').firstChild;
  const image = box.firstChild;
  const shown = image.getAttribute('src');
  if (!picture && !shown) return;
  if (picture) image.src = URL.createObjectURL(picture); else image.removeAttribute('src');
  if (shown) URL.revokeObjectURL(shown);
  image.hidden = !picture;
  box.classList.toggle('none', !picture);
}

// Whether a click on row n's picture box would preview the channel (what the Preview button would
// do for it), so that the box says so.
export function markPreviewable(n, previewable) {
  const row = tableRow(n);
  if (!row) return;
  const box = cellOf(row, 'picture').firstChild;
  if (box.classList.contains('previewable') === previewable) return;
  box.classList.toggle('previewable', previewable);
  box.title = previewable ? `Preview channel ${n}` : '';
}

function spanWords(seconds) {
  return seconds % 60 === 0 ? `${seconds / 60} min` : `${seconds} s`;
}

// One sparkline of row's history: `values` over `slots` samples spanning `seconds`, the seconds
// without a signal tinted.
function drawSpark(element, { values, states, slots, seconds }, { name, unit }) {
  const { top, lines } = sparkline(values, slots, kSparkWidth, kSparkHeight);
  const spans = stateSpans(states, 'no_signal', slots, kSparkWidth);
  const [title, tint, drawn] = element.querySelector('svg').children;
  tint.replaceChildren(...spans.map((span) => svg('rect', { x: span.x, y: -1, width: span.width, height: kSparkHeight + 2 })));
  drawn.replaceChildren(...lines.map((points) => svg('polyline', { points })));
  const topWords = lines.length ? `${top} ${unit}` : '';
  title.textContent = `${name} over the last ${spanWords(seconds)}` +
    (lines.length ? `, the top edge at ${topWords}` : ': no figures') + (spans.length ? '; red: no signal' : '');
  element.querySelector('.spark-top').textContent = topWords;
}

// Row n's sparklines of `history` (as /history/N answers) on a line spanning `seconds`.
export function showHistory(n, history, seconds) {
  const row = tableRow(n);
  if (!row) return;
  const interval = history.interval > 0 ? history.interval : 1;
  const span = { states: history.state, slots: Math.max(1, Math.floor(seconds / interval)), seconds };
  const [fps, bitrate] = cellOf(row, 'status').lastChild.children;
  drawSpark(fps, { ...span, values: history.fps }, { name: 'Frame rate', unit: 'fps' });
  drawSpark(bitrate, { ...span, values: history.bitrate }, { name: 'Bit rate', unit: 'kbps' });
}

// The source, bind and memo cells of the row become fields while the channel is edited.
// `shown`: the type ("value" of /rules' "sourceFormats") and address the server shows the source
// with.
export function putEditFieldsInRow(n, { type, address }, bind, memo, onFormatChange) {
  const row = tableRow(n);
  row.classList.add('editing');
  cellOf(row, 'num').textContent = String(n);
  const select = h('select', { id: 'edit-source-format' });
  for (const entry of state.rules.sourceFormats) select.add(new Option(entry.text, entry.value));
  addMissingOption(select, type);
  select.value = type;
  const input = h('input', { id: 'edit-source-url', type: 'text', spellcheck: 'false' });
  input.value = address;
  const bindInput = h('input', { id: 'edit-bind', type: 'text' });
  bindInput.value = bind > 0 ? String(bind) : '';
  const memoInput = h('input', { id: 'edit-memo', type: 'text' });
  memoInput.value = memo;
  const [sourceCell, bindCell, memoCell] = ['source', 'bind', 'memo'].map((name) => cellOf(row, name));
  sourceCell.textContent = '';
  sourceCell.title = '';
  sourceCell.append(h('div', { class: 'source-edit' }, select, input));
  bindCell.textContent = '';
  bindCell.append(bindInput);
  memoCell.textContent = '';
  memoCell.append(memoInput);
  select.addEventListener('change', onFormatChange);
}

// Columns can be widened or narrowed by dragging the right edge of a header cell.
export function makeColumnsResizable() {
  const table = $('channels');
  const cols = table.querySelectorAll('col');
  table.tHead.rows[0].querySelectorAll('th').forEach((th, index) => {
    if (index === cols.length - 1) return;
    const grip = h('span', { class: 'grip' });
    th.append(grip);
    grip.addEventListener('mousedown', (down) => {
      down.preventDefault();
      const startX = down.clientX;
      const startWidth = th.getBoundingClientRect().width;
      followMouse((event) => {
        cols[index].style.width = `${Math.max(28, startWidth + event.clientX - startX)}px`;
      });
    });
  });
}
