// The administration page: the channel table with live states and machine load, the channel
// editor (source in the row, standby sources and targets on the right), channel commands, global settings, import
// and export, and the DeckLink and NDI pickers. Every change goes back to the server as the
// whole configuration document. This entry module loads the page's data and wires the parts.

import * as Advanced from './advanced.js';
import { $, h } from './helpers.js';
import { fillChoiceLists, selectRow, updateButtons, wireEditor } from './editor.js';
import { cancelEdit, onRowClick, onRowDoubleClick, wireEditing } from './editing.js';
import { showBanner, wirePopupControls, wirePopups } from './popups.js';
import { startGlance } from './glance.js';
import { preview, previewChannel } from './preview.js';
import { getJson, showPageError } from './server.js';
import { channels, state } from './state.js';
import { wireStandby } from './standby.js';
import { pollStatus, wireCommands } from './status.js';
import { buildRows, fillTable, makeColumnsResizable } from './table.js';

function closeMenus() {
  for (const id of ['start-menu', 'stop-menu']) $(id).hidden = true;
}

// Escape closes the open pop-ups first, then cancels the edit.
function onKeyDown(event) {
  if (event.key !== 'Escape') return;
  const open = document.querySelectorAll('.popup.open');
  if (open.length) {
    open.forEach((popup) => popup.classList.remove('open'));
    Advanced.closeAll();
  } else if (state.editing) {
    cancelEdit();
  }
  closeMenus();
}

function showBrand() {
  const name = $('logo-name');
  name.textContent = '';
  [...state.runtime.app].forEach((letter, index) => {
    const span = h('span', { text: letter });
    span.style.animationDelay = `${-index * 0.25}s`;
    name.append(span);
  });
  $('logo-big').textContent = state.runtime.app;
  $('version').textContent = `Version ${state.runtime.version}`;
}

function wireControls() {
  wireEditor();
  wireEditing();
  wireCommands();
  wirePopupControls();
  $('btn-preview').addEventListener('click', preview);
  $('btn-manual').addEventListener('click', () => window.open(state.runtime.manual, '_blank'));
  document.addEventListener('keydown', onKeyDown);
  document.addEventListener('click', (event) => {
    if (!event.target.closest('.split')) closeMenus();
  });
}

async function load() {
  wireControls();
  setInterval(pollStatus, 1000);
  try {
    state.runtime = await getJson('runtime');
    state.rules = await getJson('rules');
    fillChoiceLists();
    wireStandby();
    document.title = state.runtime.title;
    buildRows(state.runtime.channels, onRowClick, onRowDoubleClick, previewChannel);
    Advanced.init(state.runtime);
    wirePopups();
    showBrand();
    state.config = await getJson('config');
    showBanner();
    fillTable();
    pollStatus();
    startGlance();
    makeColumnsResizable();
    if (channels().length) selectRow(1); else updateButtons();
  } catch (error) {
    showPageError(`The page could not be loaded: ${error.message}`);
  }
}

document.addEventListener('DOMContentLoaded', load);
