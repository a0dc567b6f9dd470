// Every channel at a glance: two channels running from a clip show their live pictures, renewed,
// and their frame and bit rate sparklines; an idle channel shows the placeholder and its picture
// is never asked for; a hidden page asks for nothing and asks again at once when shown; a click on
// a picture previews its channel; a stopped channel's picture goes and its history is read once
// more. Counts the page's picture and history requests per running channel and minute, and
// writes the screenshot the README shows (page-small.png, copied to docs/pictures/page.png).
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { statSync } from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';

import {
  freePort,
  launchBrowser,
  openPage,
  outputFolder,
  screenshot,
  sleep,
  startProgram,
  waitFor,
  waitForChannelState,
  watchPageErrors,
} from './harness.mjs';
import { channelDocument, makeClip, row, waitForClientReady } from './client_page.mjs';

// How long the requests are counted, and the most the README's copy of the screenshot may weigh.
const kCountedMs = 20_000;
const kSmallWidth = 1000;
const kSmallBytes = 150 * 1024;

let clip;
let browser;
let program;
before(async () => {
  clip = makeClip();
  browser = await launchBrowser();
  // Auto restart makes the clip loop, so the running channels never end on their own.
  program = await startProgram({
    config: {
      global: { autoRestart: 1 },
      channels: [
        channelDocument({ sourceUrl: clip.file, targetFormat: 'html5', targetUrl: 'http://127.0.0.1', memo: 'studio (HTML5)' }),
        channelDocument({ sourceUrl: clip.file, targetUrl: `udp://127.0.0.1:${await freePort()}`, memo: 'relay (UDP)' }),
        channelDocument({ sourceUrl: clip.file, targetUrl: `udp://127.0.0.1:${await freePort()}`, memo: 'spare' }),
      ],
    },
  });
});
after(async () => {
  for (const n of [1, 2, 3]) await program?.request(`/channel${n}?stop`).catch(() => {});
  await program?.stop();
  await browser?.close();
  clip?.remove();
});

// Every picture and history request the page makes: {at, kind ('picture'|'history'|'status'),
// channel, tag (If-None-Match)}, and its answer's {status, etag} once it came.
function logRequests(page) {
  const log = [];
  const byRequest = new Map();
  page.on('request', (request) => {
    const found = /^\/(?:thumbnails\/(\d+)\.jpg|history\/(\d+)|(status))$/.exec(new URL(request.url()).pathname);
    if (!found) return;
    const entry = {
      at: Date.now(),
      kind: found[1] ? 'picture' : found[2] ? 'history' : 'status',
      channel: Number(found[1] || found[2] || 0),
      tag: request.headers()['if-none-match'] ?? '',
      answer: null,
    };
    log.push(entry);
    byRequest.set(request, entry);
  });
  page.on('response', (response) => {
    const entry = byRequest.get(response.request());
    if (entry) entry.answer = { status: response.status(), etag: response.headers().etag ?? '' };
  });
  return log;
}

const between = (log, from, to, kind, channel) =>
  log.filter((entry) => entry.at >= from && entry.at < to && entry.kind === kind && (!channel || entry.channel === channel));

// Row n's picture: {shown, width (natural), src, placeholder}.
function picture(page, n) {
  return row(page, n).locator('.thumb').evaluate((box) => {
    const image = box.querySelector('img');
    return { shown: !image.hidden, width: image.naturalWidth, src: image.getAttribute('src'), placeholder: box.classList.contains('none') };
  });
}

// Row n's sparklines: for each figure the [x, y] points of its lines, the line's width and the
// value its top stands for.
function sparklines(page, n) {
  return row(page, n).locator('.sparks').evaluate((sparks) => Object.fromEntries(['fps', 'bitrate'].map((figure) => {
    const spark = sparks.querySelector(`.spark-row.${figure}`);
    const lines = [...spark.querySelectorAll('polyline')]
      .map((line) => line.getAttribute('points').split(' ').map((point) => point.split(',').map(Number)));
    const width = Number(spark.querySelector('svg').getAttribute('width'));
    return [figure, { lines, width, top: spark.querySelector('.spark-top').textContent }];
  })));
}

// Hides or shows the page as a browser does when its tab goes to the background or comes back:
// headless Chromium keeps every page visible, so the state is put in its place and the event sent.
function setVisible(page, visible) {
  return page.evaluate((visible) => {
    if (visible) delete document.visibilityState;
    else Object.defineProperty(document, 'visibilityState', { configurable: true, get: () => 'hidden' });
    document.dispatchEvent(new Event('visibilitychange'));
  }, visible);
}

test('the table shows each running channel\'s picture and sparklines, polled only while it is seen', async () => {
  const rules = await program.getJson('/rules');
  const pictureMs = rules.thumbnailSeconds * 1000;
  for (const n of [1, 2]) assert.equal((await program.request(`/channel${n}?start`)).status, 200);
  for (const index of [0, 1]) await waitForChannelState(program, index, 'running');

  const { context, page } = await openPage(browser, program);
  try {
    context.setDefaultTimeout(10_000);
    const errors = watchPageErrors(page);
    const log = logRequests(page);
    await page.goto('/');
    await waitForClientReady(page);
    // Each new picture the page shows in row 1, counted in the page.
    await row(page, 1).locator('.thumb img').evaluate((image) => {
      window.pictureSwaps = 0;
      new MutationObserver(() => (window.pictureSwaps += 1)).observe(image, { attributeFilter: ['src'] });
    });

    // The pictures load and are renewed; the sparklines have points and their scale.
    const first = {};
    for (const n of [1, 2]) {
      first[n] = await waitFor(async () => {
        const shown = await picture(page, n);
        return shown.shown && shown.width > 0 && !shown.placeholder ? shown : false;
      }, { timeoutMs: 15_000, what: `row ${n}'s picture` });
    }
    await waitFor(async () => {
      const shown = await picture(page, 1);
      return shown.src !== first[1].src && shown.width > 0;
    }, { timeoutMs: 3 * pictureMs, what: 'row 1\'s picture to be renewed' });
    for (const n of [1, 2]) {
      const drawn = await waitFor(async () => {
        const lines = await sparklines(page, n);
        return lines.fps.lines.flat().length >= 2 && lines.bitrate.lines.flat().length >= 2 ? lines : false;
      }, { timeoutMs: 15_000, what: `row ${n}'s sparklines` });
      assert.match(drawn.fps.top, /^\d+ fps$/);
      assert.match(drawn.bitrate.top, /^\d+ kbps$/);
    }

    // Counted: only running channels' pictures, each asked for again with the tag it had, a
    // picture shown only when it is a new one.
    const countFrom = Date.now();
    const swapsBefore = await page.evaluate(() => window.pictureSwaps);
    await sleep(kCountedMs);
    const countTo = Date.now();
    const perMinute = (count) => Math.round((count * 60_000) / (countTo - countFrom));
    for (const n of [1, 2]) {
      const pictures = between(log, countFrom, countTo, 'picture', n);
      const histories = between(log, countFrom, countTo, 'history', n);
      const answers = pictures.map((entry) => entry.answer?.status);
      console.log(`channel ${n}: ${perMinute(pictures.length)} picture and ${perMinute(histories.length)} history ` +
        `requests a minute (${perMinute(pictures.length + histories.length)} in all; pictures answered ` +
        `${answers.filter((status) => status === 200).length}x 200, ${answers.filter((status) => status === 304).length}x 304)`);
      const expected = kCountedMs / pictureMs;
      assert.ok(pictures.length >= expected - 2 && pictures.length <= expected + 1,
        `${pictures.length} picture requests in ${kCountedMs} ms, one every ${pictureMs} ms expected`);
      assert.ok(histories.length >= 1 && histories.length < pictures.length, `${histories.length} history requests`);
      const earlier = log.filter((entry) => entry.kind === 'picture' && entry.channel === n && entry.at < countFrom);
      let tag = earlier.map((entry) => entry.answer?.etag).filter(Boolean).at(-1);
      for (const entry of pictures) {
        assert.equal(entry.tag, tag, `channel ${n}'s picture is asked for with the tag of the one shown`);
        if (entry.answer?.status === 200) tag = entry.answer.etag;
      }
      if (n === 1) {
        const swaps = (await page.evaluate(() => window.pictureSwaps)) - swapsBefore;
        assert.ok(swaps >= 1 && swaps <= answers.filter((status) => status === 200).length + 1, `${swaps} pictures shown`);
      }
    }

    // The idle channel: the placeholder, no lines, its picture never asked for.
    assert.deepEqual(await picture(page, 3), { shown: false, width: 0, src: null, placeholder: true });
    assert.equal(await row(page, 3).locator('.thumb').textContent(), 'no picture');
    assert.deepEqual((await sparklines(page, 3)).fps.lines, []);
    assert.equal(log.filter((entry) => entry.kind === 'picture' && entry.channel === 3).length, 0);

    // Hidden, the page asks for neither pictures nor histories (the status poll goes on);
    // shown again, it asks at once, before the next round would have come.
    await setVisible(page, false);
    const hiddenAt = Date.now();
    await sleep(2.5 * pictureMs);
    const shownAt = Date.now();
    assert.deepEqual(between(log, hiddenAt, shownAt, 'picture').concat(between(log, hiddenAt, shownAt, 'history')), []);
    assert.ok(between(log, hiddenAt, shownAt, 'status').length >= 2, 'the status poll goes on');
    await setVisible(page, true);
    await waitFor(() => [1, 2].every((n) => between(log, shownAt, Infinity, 'picture', n).length > 0),
      { timeoutMs: pictureMs / 2, intervalMs: 50, what: 'the pictures to be asked for at once' });

    // A click on channel 1's picture previews it as Preview does: its HTML5 output, played.
    const servedPort = program.port + 1;
    await row(page, 1).locator('.thumb').click();
    await waitFor(async () => (await page.textContent('#btn-preview')) === 'Stop', { what: 'Preview to read Stop' });
    assert.match(await row(page, 1).getAttribute('class'), /\bselected\b/);
    assert.equal(new URL(await page.$eval('#preview-video', (video) => video.src)).port, String(servedPort));
    await waitFor(() => page.$eval('#preview-video', (video) => video.currentTime > 0),
      { timeoutMs: 20_000, what: 'the preview to play' });
    const shot = await screenshot(page, 'main-page-glance');
    const small = path.join(outputFolder, 'page-small.png');
    execFileSync('ffmpeg', ['-v', 'error', '-y', '-i', shot, '-vf',
      `scale=${kSmallWidth}:-1:flags=lanczos,split[a][b];[a]palettegen[p];[b][p]paletteuse=dither=none`, small]);
    assert.ok(statSync(small).size <= kSmallBytes, `${small}: ${statSync(small).size} bytes`);
    await page.click('#btn-preview');
    assert.equal(await page.isVisible('#preview-video'), false);
    assert.equal((await program.status()).channels[0].state, 'running', 'ending the player leaves the channel running');

    // Stopped: the placeholder, no more picture requests, and the history read until it ends
    // with the stop, so the line stops short of the right edge.
    assert.equal((await program.request('/channel2?stop')).status, 200);
    await waitForChannelState(program, 1, 'idle');
    const stoppedAt = Date.now();
    await waitFor(async () => (await picture(page, 2)).placeholder, { what: 'row 2\'s placeholder' });
    const lineEnd = await waitFor(async () => {
      const { lines, width } = (await sparklines(page, 2)).fps;
      const end = lines.flat().at(-1)?.[0];
      return end !== undefined && end < width ? end : false;
    }, { timeoutMs: 8_000, what: 'row 2\'s line to end before the right edge' });
    assert.ok(between(log, stoppedAt, Infinity, 'history', 2).length >= 1);
    const placeholderAt = Date.now();
    await sleep(1.5 * pictureMs);
    assert.deepEqual(between(log, placeholderAt, Infinity, 'picture', 2), []);
    console.log(`channel 2 stopped: its line ends at x ${lineEnd}`);
    assert.deepEqual(errors, []);
  } finally {
    await context.close();
  }
});
