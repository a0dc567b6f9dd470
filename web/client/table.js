// The channel table: one row per channel slot with the stored channel's texts, the selection,
// the status cells, the fields a row turns into while its channel is edited, and columns the
// operator widens by dragging.

import { $, addMissingOption, firstSource, followMouse, h, textOr } from './helpers.js';
import { channels, slotCount, state } from './state.js';

export function buildRows(count, onClick, onDoubleClick) {
  const body = $('channels').tBodies[0];
  body.textContent = '';
  for (let k = 1; k <= count; k++) {
    const row = body.insertRow();
    row.dataset.row = String(k);
    for (const name of ['num', 'source', 'bind', 'memo', 'status']) row.insertCell().className = name;
    const status = row.cells[4];
    status.append(document.createElement('img'), document.createElement('span'));
    status.firstChild.hidden = true;
    row.addEventListener('click', () => onClick(k));
    row.addEventListener('dblclick', () => onDoubleClick(k));
  }
}

function tableRow(n) {
  return $('channels').tBodies[0].rows[n - 1] || null;
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
  row.cells[0].textContent = stored || (state.newChannel && state.selected === n) ? String(n) : '';
  row.cells[1].textContent = stored ? ' ' + url : '';
  row.cells[1].title = stored ? url : '';
  row.cells[2].textContent = stored && channel.bind > 0 ? String(channel.bind) : '';
  row.cells[3].textContent = stored ? textOr(channel.memo) : '';
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
  const cell = tableRow(n).cells[4];
  const image = cell.firstChild;
  const text = cell.lastChild;
  if (image.getAttribute('src') !== icon) {
    if (icon) image.setAttribute('src', icon); else image.removeAttribute('src');
    image.hidden = !icon;
  }
  if (text.textContent !== words) text.textContent = words;
}

// The source, bind and memo cells of the row become fields while the channel is edited.
// `shown`: the type ("value" of /rules' "sourceFormats") and address the server shows the source
// with.
export function putEditFieldsInRow(n, { type, address }, bind, memo, onFormatChange) {
  const row = tableRow(n);
  row.classList.add('editing');
  row.cells[0].textContent = String(n);
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
  row.cells[1].textContent = '';
  row.cells[1].title = '';
  row.cells[1].append(h('div', { class: 'source-edit' }, select, input));
  row.cells[2].textContent = '';
  row.cells[2].append(bindInput);
  row.cells[3].textContent = '';
  row.cells[3].append(memoInput);
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
