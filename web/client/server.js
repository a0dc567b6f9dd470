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

async function postConfig() {
  const response = await fetch('config', {
    method: 'POST', credentials: 'same-origin', headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(state.config),
  });
  if (!response.ok) throw new Error(`the server refused the configuration (${response.status})`);
  return response.json();
}

// Posts the whole document; the answer (the document as the server normalised it) replaces ours.
export async function sendConfig() {
  try {
    state.config = await postConfig();
    showPageError('');
  } catch (error) {
    showPageError(`The configuration was not saved: ${error.message}`);
  }
}

export async function channelAction(n, action) {
  return fetch(`channel${n}?${action}`, { credentials: 'same-origin', cache: 'no-store' });
}
