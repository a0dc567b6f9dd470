// The requests the page makes to the administration server, and the line that says when one
// of them failed.

import { $ } from './helpers.js';
import { state } from './state.js';

export function showPageError(text) {
  const box = $('page-error');
  box.textContent = text;
  box.hidden = !text;
}

// The JSON of an answer. A login page instead of JSON means the cookie is gone: the page reloads
// and the server shows its login.
function jsonOf(response) {
  const type = response.headers.get('Content-Type') || '';
  if (!type.includes('application/json')) {
    window.location.reload();
    throw new Error('logged out');
  }
  return response.json();
}

// A JSON answer, or an exception.
export async function getJson(path) {
  const response = await fetch(path, { credentials: 'same-origin', cache: 'no-store' });
  if (!response.ok) throw new Error(`${path}: ${response.status} ${response.statusText}`);
  return jsonOf(response);
}

// Posts `body` as JSON to `path`: the JSON answer, or an exception with the server's reason.
async function postJson(path, body) {
  const response = await fetch(path, {
    method: 'POST', credentials: 'same-origin', headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body),
  });
  if (!response.ok) throw new Error((await response.text()).trim() || `${response.status} ${response.statusText}`);
  return jsonOf(response);
}

function postConfig() {
  return fetch('config', {
    method: 'POST', credentials: 'same-origin', headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(state.config),
  });
}

// The server refused the post and said why (a port it cannot use, address rules or TLS files it
// cannot serve with, a change from another machine while no password is set): the page shows
// what is stored again, not the refused values.
async function showRefusal(response) {
  const reason = (await response.text()).trim() || `the server refused the configuration (${response.status})`;
  try {
    state.config = await getJson('config');
    showPageError(reason);
  } catch (error) {
    showPageError(`${reason} (the stored configuration could not be read again: ${error.message})`);
  }
}

// Posts the whole document; the answer (the document as the server normalised it) replaces ours.
// Resolves whether it was saved.
export async function sendConfig() {
  try {
    const response = await postConfig();
    if (!response.ok && (response.headers.get('Content-Type') || '').startsWith('text/plain')) {
      await showRefusal(response);
      return false;
    }
    if (!response.ok) throw new Error(`the server refused the configuration (${response.status})`);
    state.config = await response.json();
    showPageError('');
    return true;
  } catch (error) {
    showPageError(`The configuration was not saved: ${error.message}`);
    return false;
  }
}

// A refusal with a reason (a change from another machine while no password is set) is shown.
export async function channelAction(n, action) {
  const response = await fetch(`channel${n}?${action}`, { credentials: 'same-origin', cache: 'no-store' });
  if (response.status === 403) showPageError(await response.clone().text());
  return response;
}

// The address the target format entry `entry` of /rules starts with for channel n; '' when the
// server did not say.
export async function targetPreset(n, entry) {
  try {
    const answer = await getJson(`target_preset?channel=${n}&entry=${entry}`);
    return typeof answer.url === 'string' ? answer.url : '';
  } catch (error) {
    showPageError(`The address for the new format could not be asked for: ${error.message}`);
    return '';
  }
}

// Where the server says the output channel n serves over HTTP is watched; null when it serves
// none.
export async function servedUrl(n) {
  const response = await fetch(`served?channel=${n}`, { credentials: 'same-origin', cache: 'no-store' });
  if (!response.ok) return null;
  const answer = await response.json().catch(() => ({}));
  return typeof answer.url === 'string' ? answer.url : null;
}

// Channel n's live picture, asked for again only when it changed since the one tagged `tag` (its
// ETag; '' for none): resolves {tag, picture} (a Blob) for a new picture, {tag} for the same one,
// {} when the channel has none now (404, or anything but a JPEG), null when the request failed.
export async function thumbnail(n, tag) {
  try {
    const response = await fetch(`thumbnails/${n}.jpg`, {
      credentials: 'same-origin', cache: 'no-store', headers: tag ? { 'If-None-Match': tag } : {},
    });
    if (response.status === 304) return { tag };
    const type = response.headers.get('Content-Type') || '';
    if (!response.ok || !type.startsWith('image/jpeg')) return {};
    return { tag: response.headers.get('ETag') || '', picture: await response.blob() };
  } catch (error) {
    return null;
  }
}

// Channel n's last minutes ({interval, fps, bitrate, state}, as /history/N answers), or null when
// they could not be read.
export async function channelHistory(n) {
  try {
    return await getJson(`history/${n}`);
  } catch (error) {
    return null;
  }
}

// Asks the server to remove channel n; it renumbers the rest and refuses (with its reason) while
// that channel or a later one runs. Resolves '' when it was removed, else the reason.
export async function removeChannelOnServer(n) {
  try {
    const response = await fetch(`channel${n}?remove`, { method: 'POST', credentials: 'same-origin' });
    if (response.ok) return '';
    return (await response.text()).trim() || `the server refused (${response.status})`;
  } catch (error) {
    return error.message;
  }
}

// Ends this browser's session and shows the login page.
export async function logOut() {
  try {
    await fetch('logout', { method: 'POST', credentials: 'same-origin' });
  } finally {
    window.location.assign('/');
  }
}

// Asks the server to translate between a channel and the advanced pop-ups' fields ("advanced_format"
// or "advanced_video", step "load" or "save"). Resolves the JSON answer, or {refusal} with the
// server's reason when it refused the fields; throws when the request failed.
export async function translateAdvanced(panel, step, body) {
  const response = await fetch(`${panel}?${step}`, {
    method: 'POST', credentials: 'same-origin', headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body),
  });
  const type = response.headers.get('Content-Type') || '';
  if (response.status === 400 && type.startsWith('text/plain')) return { refusal: (await response.text()).trim() };
  if (!response.ok) throw new Error(`${panel}: ${response.status} ${response.statusText}`);
  return jsonOf(response);
}

// Asks the server to check the channel being edited as the window would ("apply", or a change of
// the shown target: "video_encoding", "audio_encoding", "cbr"). Resolves {refusal: {title, text,
// control}}, {} (nothing refused) or, for "apply", {channels} as the document would store them;
// null when the server could not be asked (the page says so).
export async function checkEdit(step, channel, edited, target) {
  try {
    return await postJson(`edit_check?${step}`, { channel, edited, target });
  } catch (error) {
    showPageError(`The edit could not be checked: ${error.message}`);
    return null;
  }
}

// Asks the server what the edited row's source cells do with the channel's first source: "show"
// resolves {type, address} (type: a "value" of the "sourceFormats" of /rules), "store" with the
// fields' {type, address} resolves {type, source}, the source to store (the posted one, untouched,
// while the fields read what it shows). null when the server could not be asked (the page says so).
export async function sourceFields(step, source, typed) {
  try {
    return await postJson(`source_fields?${step}`, { ...typed, source: source || {} });
  } catch (error) {
    showPageError(`The source could not be read: ${error.message}`);
    return null;
  }
}

// Asks the server what the standby list and switch-on boxes do with the edited channel's input:
// "show" resolves {sources: [{type, address}], switchOn: {black, silence, frozen}} (texts),
// "store" with the rows and boxes resolves {input: {standby?, switchOn?}} to store, or {refusal}.
// null when the server could not be asked (the page says so).
export async function standbyFields(step, body) {
  try {
    return await postJson(`standby_fields?${step}`, body);
  } catch (error) {
    showPageError(`The standby sources could not be read: ${error.message}`);
    return null;
  }
}

// The controls a refusal of the server names, to put the focus on.
const refusedControls = {
  source_address: 'edit-source-url', bind: 'edit-bind', target_url: 'target-url', video_encoding: 'video-codec',
  audio_encoding: 'audio-codec', mux_bitrate: 'mux-bitrate', cbr: 'cbr',
};

// Shows the server's refusal of an edit; true when there was one.
export function showEditRefusal(answer) {
  if (!answer || !answer.refusal) return false;
  alert(answer.refusal.text);
  // The standby list's names are its ids with dashes ("standby_address_2", "switch_on_black").
  const named = String(answer.refusal.control || '');
  const control = refusedControls[named] || named.replaceAll('_', '-');
  if (control && $(control)) $(control).focus();
  return true;
}
