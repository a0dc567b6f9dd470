// The once-a-second status poll (channel states and machine load) and the channel commands whose
// effect it shows: start and stop, one channel or all.

import { $, asList } from './helpers.js';
import { updateButtons } from './editor.js';
import { showGlance } from './glance.js';
import { preview } from './preview.js';
import { gpuMeter, loadToRGB, statusCellView } from './rules.js';
import { channelAction, getJson } from './server.js';
import { channels, slotCount, state, statusOf } from './state.js';
import { requireSelection, showStatusCell } from './table.js';

// ----- status poll ------------------------------------------------------------------------------

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
  state.channelStatus = asList(answer.channels);
  for (let n = 1; n <= slotCount(); n++) showStatusCell(n, statusCellView(state.channelStatus[n - 1]));
  showLoadCells($('cpu-load'), asList(answer.cpu));
  const gpu = gpuMeter(answer);
  showLoadCells($('gpu-load'), gpu.values);
  $('gpu-note').textContent = gpu.note;
  updateButtons();
  showGlance();
}

export async function pollStatus() {
  if (state.leaving) return;
  try {
    showStatus(await getJson('status'));
  } catch (error) {
    // The next poll tries again; a server that went away shows nothing new meanwhile.
  }
}

// ----- channel commands -------------------------------------------------------------------------

async function startChannel() {
  if (!requireSelection()) return;
  const n = state.selected;
  const status = statusOf(n);
  if (status && status.state !== 'idle') return;
  const response = await channelAction(n, 'start');
  if (response.ok) {
    showStatusCell(n, { icon: 'running.png', words: 'RUNNING' });
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

export function wireCommands() {
  $('btn-start').addEventListener('click', startChannel);
  $('btn-stop').addEventListener('click', stopChannel);
  $('btn-start-all').addEventListener('click', startAll);
  $('btn-stop-all').addEventListener('click', stopAll);
  $('btn-start-menu').addEventListener('click', () => { $('start-menu').hidden = !$('start-menu').hidden; });
  $('btn-stop-menu').addEventListener('click', () => { $('stop-menu').hidden = !$('stop-menu').hidden; });
}
