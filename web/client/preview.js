// The player under the table: Preview starts an idle channel in preview mode (or plays a running
// HTML5 output from where the server serves it) in the page, and the same button stops it. A
// click on a row's picture does what selecting the row and pressing Preview would.

import { $, firstTarget } from './helpers.js';
import { selectRow, updateButtons } from './editor.js';
import { previewPlan } from './rules.js';
import { channelAction, servedUrl } from './server.js';
import { channels, state, statusOf } from './state.js';
import { requireSelection } from './table.js';

const kPreviewRetries = 20;
const kPreviewRetryMs = 500;
let previewRetry = null;

async function stopPreview(video) {
  const shown = state.previewChannel;
  const status = statusOf(shown);
  clearTimeout(previewRetry);
  video.onerror = null;
  // A preview this page started is stopped even before the status poll has shown it.
  if (state.previewStarted || (status && status.state === 'preview')) await channelAction(shown, 'stop');
  state.previewStarted = false;
  video.pause();
  video.removeAttribute('src');
  video.load();
  video.hidden = true;
  $('logo').hidden = false;
  $('btn-preview').textContent = 'Preview';
  state.previewing = false;
  updateButtons();
}

// Where to play channel n from ({url}), or null when it cannot be previewed.
async function previewSource(n) {
  const target = firstTarget(channels()[n - 1]);
  const plan = previewPlan(statusOf(n), target);
  if (plan === 'html5') {
    const url = await servedUrl(n);
    return url ? { url } : null;
  }
  if (plan !== 'start') return null;
  const response = await channelAction(n, 'preview');
  if (!response.ok) return null;
  state.previewStarted = true;
  // The server says where the preview plays, on the name this browser reached it by.
  const { url } = await response.json().catch(() => ({}));
  return typeof url === 'string' ? { url } : null;
}

export async function preview() {
  if (!requireSelection()) return;
  const n = state.selected;
  const video = $('preview-video');
  if (state.previewing) {
    await stopPreview(video);
    return;
  }
  const found = await previewSource(n);
  if (!found) return;
  const source = found.url;
  state.previewing = true;
  state.previewChannel = n;
  $('logo').hidden = true;
  video.hidden = false;
  // The transcoder opens the preview port a moment after "?preview" was answered, so a refused
  // load is tried again for a while.
  let retries = kPreviewRetries;
  video.onerror = () => {
    if (!state.previewing || retries-- <= 0) return;
    clearTimeout(previewRetry);
    previewRetry = setTimeout(() => {
      if (!state.previewing) return;
      video.src = source;
      video.play().catch(() => {});
    }, kPreviewRetryMs);
  };
  video.src = source;
  video.play().catch(() => {});
  $('btn-preview').textContent = 'Stop';
  updateButtons();
}

// A click on row n's picture: the row is selected (unless another row is being edited) and the
// player shows channel n, ending what it showed of another channel first.
export async function previewChannel(n) {
  if (n > channels().length || (state.editing && state.selected !== n)) return;
  if (state.previewing && state.previewChannel === n) return;
  if (state.selected !== n) selectRow(n);
  if (state.previewing) await preview();
  await preview();
}
