// The requests the page makes to the administration server, and the line that says when one
// of them failed.

import { $ } from './helpers.js';
import { state } from './state.js';

export function showPageError(text) {
  const box = $('page-error');
  box.textContent = text;
  box.hidden = !text;
}

// A JSON answer, or an exception. A login page instead of JSON means the cookie is gone: the
// page reloads and the server shows its login.
export async function getJson(path) {
  const response = await fetch(path, { credentials: 'same-origin', cache: 'no-store' });
  if (!response.ok) throw new Error(`${path}: ${response.status} ${response.statusText}`);
  const type = response.headers.get('Content-Type') || '';
  if (!type.includes('application/json')) {
    window.location.reload();
    throw new Error('logged out');
  }
  return response.json();
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
  if (!type.includes('application/json')) {
    window.location.reload();
    throw new Error('logged out');
  }
  return response.json();
}
