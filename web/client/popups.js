// The page's pop-ups: Global Settings with configuration import and export, the DeckLink and NDI
// pickers (which hand the operator's choice to whoever opened them), the insecure-page banner and
// the logout button that stands in for it once a password is set, and the close buttons and
// title-bar dragging every pop-up shares.

import {
  $, asList, closePopup, escapeHtml, followMouse, h, openPopup, pageAddress, textOr, toInt,
} from './helpers.js';
import { clampIntoView, movedAdminAddress } from './rules.js';
import { getJson, logOut, sendConfig } from './server.js';
import { globalSettings, state } from './state.js';

// ----- every pop-up -----------------------------------------------------------------------------

export function wirePopups() {
  for (const popup of document.querySelectorAll('.popup')) {
    for (const close of popup.querySelectorAll('.popup-close, .popup-cancel')) {
      if (!close.onclick) close.addEventListener('click', () => popup.classList.remove('open'));
    }
    makeDraggable(popup);
  }
  window.addEventListener('resize', () => {
    for (const popup of document.querySelectorAll('.popup.open')) keepInView(popup);
  });
}

// A pop-up that was dragged (it has a position of its own) is put back inside the window.
function keepInView(popup) {
  if (!popup.style.left) return;
  const box = popup.getBoundingClientRect();
  const { left, top } = clampIntoView(box, { width: window.innerWidth, height: window.innerHeight });
  popup.style.left = `${left}px`;
  popup.style.top = `${top}px`;
}

// A pop-up moves with its title bar, and lands inside the window.
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
    followMouse((event) => {
      popup.style.left = `${event.clientX - dx}px`;
      popup.style.top = `${event.clientY - dy}px`;
    }, () => keepInView(popup));
  });
}

// ----- global settings --------------------------------------------------------------------------

function openGlobalSettings() {
  const global = globalSettings();
  $('g-log').checked = toInt(global.log) > 0;
  $('g-port').value = String(global.httpPort || '');
  $('g-cert').value = global.sslCert || '';
  $('g-key').value = global.sslKey || '';
  $('g-ssl').checked = global.sslEnable === true && Boolean(global.sslCert) && Boolean(global.sslKey);
  $('g-password').value = global.loginPass || '';
  $('g-password').classList.toggle('empty', global.loginPass === '');
  $('g-acl').value = global.ipACL || '';
  $('g-autorun').checked = global.autoRun === true;
  const restart = toInt(global.autoRestart);
  $('g-autorestart').checked = restart > 0;
  $('g-autorestart-seconds').value = String(restart);
  $('g-folder-recur').checked = global.folderRecur === true;
  $('g-folder-shuffle').checked = global.folderShuffle === true;
  const alternate = textOr(global.altInput);
  $('g-altinput').checked = alternate !== '';
  $('g-altinput-path').value = alternate === 'default' ? '' : alternate;
  $('g-altinput-path').disabled = alternate === '';
  $('g-omx-path').value = global.omxPath || '';
  $('g-ytdlp-path').value = global.ytdlpPath || '';
  // Empty while the server's default applies.
  $('g-viewers').value = global.viewersPerAddress == null ? '' : String(toInt(global.viewersPerAddress));
  $('g-device-kind').textContent = state.rules.captureDevices;
  openPopup('popup-global');
}

async function saveGlobalSettings() {
  if (!$('g-port').value.trim()) return;
  const viewers = $('g-viewers').value.trim();
  const before = globalSettings();
  const cert = $('g-cert').value.trim();
  const key = $('g-key').value.trim();
  const alternate = $('g-altinput').checked ? ($('g-altinput-path').value.trim() || 'default') : '';
  state.config.global = {
    log: $('g-log').checked ? 32 : 0,
    httpPort: toInt($('g-port').value),
    sslEnable: $('g-ssl').checked && Boolean(cert) && Boolean(key),
    sslCert: cert,
    sslKey: key,
    ipACL: $('g-acl').value,
    autoRun: $('g-autorun').checked,
    autoRestart: toInt($('g-autorestart-seconds').value),
    folderRecur: $('g-folder-recur').checked,
    folderShuffle: $('g-folder-shuffle').checked,
    altInput: alternate,
    omxPath: $('g-omx-path').value.trim(),
    ytdlpPath: $('g-ytdlp-path').value.trim(),
    loginPass: $('g-password').value,
  };
  // The server judges the number, and says what is wrong with it.
  if (viewers) state.config.global.viewersPerAddress = Number(viewers);
  closePopup('popup-global');
  const saved = await sendConfig();
  showBanner();
  const moved = saved ? movedAdminAddress(before, globalSettings(), pageAddress().host) : '';
  if (moved) followMovedServer(moved);
}

const kMoveDelayMs = 5000;

// The server answered and now restarts on its new port or protocol: the page says where and
// goes there after a few seconds.
function followMovedServer(address) {
  state.leaving = true;
  const notice = $('moved-notice');
  notice.textContent = '';
  notice.append('The web administration now answers at ', h('a', { href: address, text: address }),
    `. This page goes there in ${kMoveDelayMs / 1000} seconds.`);
  notice.hidden = false;
  setTimeout(() => window.location.assign(address), kMoveDelayMs);
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

// The server hands out a placeholder, never the password, in "loginPass" while one is set; sent
// back unchanged it keeps the password.
export function showBanner() {
  const global = globalSettings();
  const banner = $('banner');
  $('btn-logout').hidden = !global.loginPass;
  if (!global.loginPass) {
    banner.innerHTML = `<b>CAUTION</b> Your ${escapeHtml(state.runtime.appAbbr)} web interface is INSECURE! Channel configuration details and HTTP streams could be exposed to unexpected streamers over the internet. Please set up web login password in Global Settings immediately!`;
    banner.hidden = false;
  } else {
    banner.hidden = true;
  }
}

// ----- DeckLink picker --------------------------------------------------------------------------

let deckLinkForTarget = false;
let deckLinkDevices = [];
let deckLinkChosen = null;

// Lists the server's DeckLink outputs (for a target) or inputs (for a source); OK passes the
// chosen device and mode (null when none is chosen; a target must have one) to onChosen.
export async function openDeckLinkPicker(forTarget, onChosen) {
  deckLinkForTarget = forTarget;
  deckLinkChosen = onChosen;
  deckLinkDevices = [];
  $('dl-devices').textContent = '';
  $('dl-modes').textContent = '';
  $('dl-state').textContent = 'Searching...';
  openPopup('popup-decklink');
  try {
    const answer = await getJson(`decklink_config?output=${forTarget ? 1 : 0}`);
    deckLinkDevices = asList(answer.devices);
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
  const device = deckLinkDevices[toInt($('dl-devices').value)];
  const modes = $('dl-modes');
  modes.textContent = '';
  if (!device) return;
  (device.formats || []).forEach((mode, index) => {
    modes.add(new Option(String(mode.label), String(index)));
  });
  if (modes.options.length) modes.value = '0';
}

function applyDeckLinkChoice() {
  const device = deckLinkDevices[toInt($('dl-devices').value)];
  if (!device || $('dl-devices').value === '') {
    closePopup('popup-decklink');
    return;
  }
  const mode = $('dl-modes').value === '' ? null : (device.formats || [])[toInt($('dl-modes').value)];
  if (deckLinkForTarget && !mode) {
    alert('No device format selected');
    return;
  }
  deckLinkChosen(device, mode);
  closePopup('popup-decklink');
}

// ----- NDI picker -------------------------------------------------------------------------------

let ndiChosen = null;

async function searchNdi() {
  $('ndi-sources').textContent = '';
  $('ndi-state').textContent = 'Searching...';
  $('ndi-search').disabled = true;
  let sources = [];
  try {
    const answer = await getJson(`ndi_config?timeout=${toInt($('ndi-timeout').value)}`);
    sources = asList(answer.sources);
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

// Searches the network's NDI sources; OK passes the chosen name and the search timeout in
// seconds to onChosen.
export function openNdiPicker(onChosen) {
  ndiChosen = onChosen;
  openPopup('popup-ndi');
  searchNdi();
}

function applyNdiChoice() {
  const name = $('ndi-sources').value;
  if (name) ndiChosen(name, toInt($('ndi-timeout').value));
  closePopup('popup-ndi');
}

// ----- wiring -----------------------------------------------------------------------------------

export function wirePopupControls() {
  $('btn-global').addEventListener('click', openGlobalSettings);
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
  // Typing into the field replaces the placeholder of a stored password rather than adding to it.
  $('g-password').addEventListener('focus', () => $('g-password').select());
  $('g-import').addEventListener('click', () => $('g-import-file').click());
  $('g-import-file').addEventListener('change', onImportChosen);
  $('g-export').addEventListener('click', () => { window.location.href = 'config?dl=1'; });
  $('btn-logout').addEventListener('click', logOut);
  $('dl-devices').addEventListener('change', showDeckLinkModes);
  $('dl-ok').addEventListener('click', applyDeckLinkChoice);
  $('ndi-search').addEventListener('click', searchNdi);
  $('ndi-ok').addEventListener('click', applyNdiChoice);
}
