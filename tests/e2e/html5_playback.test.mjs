// An HTML5 Video output with key frames 10 s apart, played by Chromium's <video> straight from
// the transcoder: a viewer who joins a second after the start, inside the first key-frame
// interval, starts playing long before the second key frame and plays on without stalling.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import { launchBrowser, sleep, startProgram, waitFor, waitForChannelState } from './harness.mjs';
import { channelDocument, makeClip } from './client_page.mjs';

const kKeyFrameSeconds = 10;
const kWatchMs = 4_000;
const kLongestStallMs = 1_500;

let clip;
let browser;
let program;
before(async () => {
  clip = makeClip();
  browser = await launchBrowser();
  const channel = channelDocument({ sourceUrl: clip.file, targetFormat: 'html5', targetUrl: 'http://127.0.0.1' });
  channel.output.targets[0].video.keyFrameInterval = kKeyFrameSeconds;
  program = await startProgram({ config: { global: {}, channels: [channel] } });
});
after(async () => {
  await program?.request('/channel1?stop').catch(() => {});
  await program?.stop();
  await browser?.close();
  clip?.remove();
});

test('a viewer joining inside the first key-frame interval plays at once and without stalls', async () => {
  const page = await browser.newPage();
  try {
    // Debian's Chromium must take H.264 and AAC in MP4 for this output to mean anything.
    const support = await page.evaluate(() => ({
      plain: document.createElement('video').canPlayType('video/mp4; codecs="avc1.64001e, mp4a.40.2"'),
      mse: globalThis.MediaSource?.isTypeSupported('video/mp4; codecs="avc1.64001e, mp4a.40.2"') ?? false,
    }));
    assert.notEqual(support.plain, '', `no H.264/AAC in MP4 in this Chromium: ${JSON.stringify(support)}`);

    assert.equal((await program.request('/channel1?start')).status, 200);
    await waitForChannelState(program, 0, 'running');
    await sleep(1_000);
    const joined = Date.now();
    // Channel n is served on the program's port + n.
    const served = `http://127.0.0.1:${program.port + 1}/1.mp4`;
    await page.setContent(`<video id="v" muted autoplay src="${served}"></video>`);
    // Before the second key frame; with one fragment per key-frame interval nothing arrives
    // until then. Chromium has the first bytes at once but begins only once it judges its
    // buffer enough, some 3.5 s later here.
    await waitFor(() => page.$eval('#v', (video) => video.currentTime > 0), {
      timeoutMs: (kKeyFrameSeconds - 2) * 1000,
      intervalMs: 50,
      what: 'the video to start playing',
    });
    const startedAfterMs = Date.now() - joined;

    // currentTime sampled while it plays: the longest time it stood still.
    let last = await page.$eval('#v', (video) => video.currentTime);
    let lastMoved = Date.now();
    let longestStallMs = 0;
    const first = last;
    for (const end = Date.now() + kWatchMs; Date.now() < end; ) {
      await sleep(100);
      const now = await page.$eval('#v', (video) => video.currentTime);
      if (now > last) {
        last = now;
        lastMoved = Date.now();
      }
      longestStallMs = Math.max(longestStallMs, Date.now() - lastMoved);
    }
    const state = await page.$eval('#v', (video) => ({ error: video.error?.message ?? null, width: video.videoWidth }));
    console.log(`html5 playback: started ${startedAfterMs} ms after joining, played ${(last - first).toFixed(2)} s ` +
      `in ${kWatchMs} ms, longest stall ${longestStallMs} ms; support ${JSON.stringify(support)}`);
    assert.equal(state.error, null);
    assert.equal(state.width, 320);
    assert.ok(longestStallMs < kLongestStallMs, `currentTime stood still for ${longestStallMs} ms`);
    assert.ok(last - first > (kWatchMs / 1000) * 0.6, `played only ${last - first} s in ${kWatchMs} ms`);
  } finally {
    await page.close();
  }
});
