// Every channel at a glance in the table: the live picture of each channel that is not idle,
// asked for every "thumbnailSeconds" of /rules and taken again only when it changed, and the
// sparklines of each channel's last "historySeconds", asked for every kHistoryPollSeconds while
// it is not idle and once more when it stops. Nothing is asked for while the page is hidden;
// showing it again asks at once.

import { firstTarget } from './helpers.js';
import { glancePolled, previewPlan } from './rules.js';
import { channelHistory, thumbnail } from './server.js';
import { channels, slotCount, state, statusOf } from './state.js';
import { markPreviewable, showHistory, showPicture } from './table.js';

// A sparkline spans ten minutes in some 160 pixels, a pixel every few seconds: its newest end
// moving every 10 s is close enough, at a sixth of the picture's requests.
const kHistoryPollSeconds = 10;
// A stopped channel's history is asked for again at each status poll until its last sample shows
// it idle (the server samples once a second, not in step with /status), at most this often.
const kStopHistoryTries = 5;

// What the page knows of each row n: the channel object it was drawn for, whether that channel
// is polled, the shown picture's tag, whether its history is due once more (and how many more
// tries a stopped channel's gets), and the requests under way (a slow answer is never asked for
// twice).
const rows = new Map();
let pictureTimer = 0;
let historyTimer = 0;

function rowGlance(n) {
  if (!rows.has(n)) {
    rows.set(n, {
      channel: null, polled: false, tag: '', historyDue: false, stopTries: 0, pictureBusy: false, historyBusy: false,
    });
  }
  return rows.get(n);
}

const visible = () => document.visibilityState === 'visible' && !state.leaving;

async function refreshPicture(n, glance) {
  glance.pictureBusy = true;
  try {
    const answer = await thumbnail(n, glance.tag);
    // A channel that stopped meanwhile keeps its placeholder.
    if (!answer || !glance.polled || answer.tag === glance.tag) return;
    glance.tag = answer.tag || '';
    showPicture(n, answer.picture || null);
  } finally {
    glance.pictureBusy = false;
  }
}

async function refreshHistory(n, glance) {
  glance.historyBusy = true;
  glance.historyDue = false;
  try {
    const history = await channelHistory(n);
    if (!history || glance.channel !== channels()[n - 1]) return;
    showHistory(n, history, state.rules.historySeconds);
    const states = Array.isArray(history.state) ? history.state : [];
    if (!glance.polled && glance.stopTries > 0 && states[states.length - 1] !== 'idle') {
      glance.stopTries -= 1;
      glance.historyDue = true;
    }
  } finally {
    glance.historyBusy = false;
  }
}

function pollPictures() {
  if (!visible()) return;
  for (const [n, glance] of rows) {
    if (glance.polled && !glance.pictureBusy) refreshPicture(n, glance);
  }
}

function pollHistories({ dueOnly = false } = {}) {
  if (!visible()) return;
  for (const [n, glance] of rows) {
    if ((glance.historyDue || (glance.polled && !dueOnly)) && !glance.historyBusy) refreshHistory(n, glance);
  }
}

function stopTimers() {
  clearInterval(pictureTimer);
  clearInterval(historyTimer);
  pictureTimer = 0;
  historyTimer = 0;
}

function onVisibilityChange() {
  stopTimers();
  if (!visible()) return;
  pollPictures();
  pollHistories();
  pictureTimer = setInterval(pollPictures, state.rules.thumbnailSeconds * 1000);
  historyTimer = setInterval(pollHistories, kHistoryPollSeconds * 1000);
}

// After each status poll: a channel that started is polled from the next round on; one that
// stopped shows the placeholder and its history once more; a row that holds another channel
// than before (applied, removed, imported) has its history drawn anew.
export function showGlance() {
  for (let n = 1; n <= slotCount(); n++) {
    const glance = rowGlance(n);
    const channel = channels()[n - 1] || null;
    const polled = Boolean(channel) && glancePolled(statusOf(n));
    if (glance.polled && !polled) {
      glance.tag = '';
      showPicture(n, null);
      glance.historyDue = Boolean(channel);
      glance.stopTries = kStopHistoryTries;
    }
    if (glance.channel !== channel) glance.historyDue = Boolean(channel);
    glance.channel = channel;
    glance.polled = polled;
    markPreviewable(n, Boolean(channel) && previewPlan(statusOf(n), firstTarget(channel)) !== '');
  }
  pollHistories({ dueOnly: true });
}

export function startGlance() {
  document.addEventListener('visibilitychange', onVisibilityChange);
  onVisibilityChange();
}
