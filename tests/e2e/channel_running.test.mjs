// Channels that really run, driven from the page: a new channel from a file clip to UDP started
// and stopped, Remove refused while a later channel runs, and the preview player playing the
// channel from the preview port.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';

import {
  channelStatus,
  freePort,
  launchBrowser,
  screenshot,
  sleep,
  startProgram,
  waitFor,
  waitForChannelState,
  watchDialogs,
  watchPageErrors,
} from './harness.mjs';
import {
  applyEdit,
  channelDocument,
  makeClip,
  openClient,
  portIsFree,
  row,
  selectRow,
  statusCell,
} from './client_page.mjs';

// "hh:mm:ss" then frames per second and bit rate, as a running transcoder reports them.
const kRunningText = /^(\d\d):(\d\d):(\d\d)\s+(\d+)fps@(\d+)Kbps$/;

let clip;
let browser;
before(async () => {
  clip = makeClip();
  browser = await launchBrowser();
});
after(async () => {
  await browser?.close();
  clip?.remove();
});

// Stops every channel of the program that is not idle, so that a failed case leaves nothing
// running for the next.
async function stopAll(program) {
  const status = await program.status();
  for (let index = 0; index < status.channels.length; index++) {
    if (status.channels[index].state !== 'idle') {
      await program.request(`/channel${index + 1}?stop`);
      await waitForChannelState(program, index, 'idle');
    }
  }
}

describe('a new channel from a file to UDP', () => {
  let program;
  before(async () => {
    program = await startProgram({ config: { global: {}, channels: [] } });
  });
  after(async () => {
    if (program) await stopAll(program).catch(() => {});
    await program?.stop();
  });

  test('New, Apply, Start shows the running time and rate, Stop makes it idle', async () => {
    const { context, page } = await openClient(browser, program);
    try {
      const dialogs = watchDialogs(page);
      const errors = watchPageErrors(page);
      const port = await freePort();

      await page.click('#btn-new');
      await page.waitForSelector('#edit-source-url');
      assert.equal((await row(page, 1).locator('td.num').textContent()).trim(), '1');
      assert.equal(await page.inputValue('#edit-source-format'), 'file');
      assert.equal(await page.$eval('#target-format', (select) => select.selectedOptions[0].text), 'MPEG-TS over UDP');
      assert.equal(await page.inputValue('#target-url'), 'udp://127.0.0.1:1234', 'the server\'s template');
      await page.fill('#edit-source-url', clip.file);
      await page.fill('#edit-memo', 'clip to udp');
      await page.fill('#target-url', `udp://127.0.0.1:${port}`);
      const posted = await applyEdit(page);
      assert.equal(posted.channels.length, 1);

      const stored = (await program.getConfig()).channels;
      assert.equal(stored.length, 1);
      assert.deepEqual(
        { format: stored[0].input.sources[0].format, url: stored[0].input.sources[0].url, memo: stored[0].memo },
        { format: 'file', url: clip.file, memo: 'clip to udp' },
      );
      const target = stored[0].output.targets[0];
      assert.deepEqual([target.format, target.url], ['udp', `udp://127.0.0.1:${port}`]);
      assert.deepEqual([target.video.enable, target.video.codec, target.audio.enable, target.audio.codec],
        [true, 'h264', true, 'aac']);
      assert.equal((await row(page, 1).locator('td.source').textContent()).trim(), clip.file);
      assert.equal((await row(page, 1).locator('td.memo').textContent()).trim(), 'clip to udp');

      await waitFor(async () => (await statusCell(page, 1)).text === 'IDLE', { what: 'the new channel idle' });
      await page.click('#btn-start');
      await waitForChannelState(program, 0, 'running', { timeoutMs: 10_000 });

      // The status cell moves: two different running texts, the later one further on.
      const first = await waitFor(async () => {
        const cell = await statusCell(page, 1);
        return kRunningText.test(cell.text) && cell.icon === 'running.png' ? cell.text : false;
      }, { timeoutMs: 15_000, what: 'a running status text in the table' });
      const later = await waitFor(async () => {
        const text = (await statusCell(page, 1)).text;
        return kRunningText.test(text) && text !== first ? text : false;
      }, { timeoutMs: 10_000, what: 'the status text to change' });
      const seconds = (text) => {
        const [, h, m, s] = kRunningText.exec(text);
        return Number(h) * 3600 + Number(m) * 60 + Number(s);
      };
      assert.ok(seconds(later) >= seconds(first), `${first} then ${later}`);
      assert.equal((await program.status()).channels[0].state, 'running');
      const fits = await row(page, 1).locator('td.status').evaluate((cell) => cell.scrollWidth <= cell.clientWidth);
      assert.equal(fits, true, 'the running text is not cut off');
      assert.equal(await page.isDisabled('#btn-preview'), true, 'no preview of a running UDP channel');
      await screenshot(page, 'main-page-running');

      await page.click('#btn-stop');
      await waitForChannelState(program, 0, 'idle');
      await waitFor(async () => {
        const cell = await statusCell(page, 1);
        return cell.text === 'IDLE' && cell.icon === 'idle.png';
      }, { what: 'the table to show IDLE' });
      assert.deepEqual(dialogs.messages(), []);
      assert.deepEqual(errors, []);
    } finally {
      await context.close();
    }
  });
});

describe('Remove while channels run', () => {
  let program;
  before(async () => {
    program = await startProgram({
      config: {
        global: {},
        channels: [
          channelDocument({ sourceUrl: clip.file, targetUrl: `udp://127.0.0.1:${await freePort()}`, memo: 'one' }),
          channelDocument({ sourceUrl: clip.file, targetUrl: `udp://127.0.0.1:${await freePort()}`, memo: 'two' }),
        ],
      },
    });
  });
  after(async () => {
    if (program) await stopAll(program).catch(() => {});
    await program?.stop();
  });

  test('asks first, and the server refuses while this or a later channel is not idle', async () => {
    const { context, page } = await openClient(browser, program);
    try {
      const dialogs = watchDialogs(page);
      assert.equal((await program.request('/channel2?start')).status, 200);
      await waitForChannelState(program, 1, 'running');
      await waitFor(async () => (await statusCell(page, 2)).icon === 'running.png', { what: 'row 2 running' });

      for (const n of [1, 2]) {
        const since = dialogs.seen.length;
        await selectRow(page, n);
        dialogs.answerNext(true);
        await page.click('#btn-remove');
        const refusal = await dialogs.waitFor(`channel ${n} was not removed: this channel or a later one is not idle; ` +
          'stop them before removing this channel', { since });
        assert.equal(refusal.type, 'alert');
      }
      assert.deepEqual((await program.getConfig()).channels.map((channel) => channel.memo), ['one', 'two']);

      assert.equal((await program.request('/channel2?stop')).status, 200);
      await waitForChannelState(program, 1, 'idle');
      await waitFor(async () => (await statusCell(page, 2)).text === 'IDLE', { what: 'row 2 idle' });

      await selectRow(page, 1);
      dialogs.answerNext(false);
      let since = dialogs.seen.length;
      await page.click('#btn-remove');
      assert.equal((await dialogs.waitFor('Warning: Remove this channel?', { since })).type, 'confirm');
      assert.deepEqual((await program.getConfig()).channels.map((channel) => channel.memo), ['one', 'two']);

      dialogs.answerNext(true);
      since = dialogs.seen.length;
      await Promise.all([
        page.waitForResponse((answer) => new URL(answer.url()).pathname === '/config' && answer.request().method() === 'GET'),
        page.click('#btn-remove'),
      ]);
      await dialogs.waitFor('Warning: Remove this channel?', { since });
      assert.deepEqual((await program.getConfig()).channels.map((channel) => channel.memo), ['two']);
      assert.equal((await row(page, 1).locator('td.memo').textContent()).trim(), 'two');
      assert.equal((await row(page, 2).locator('td.num').textContent()).trim(), '', 'row 2 is empty now');
    } finally {
      await context.close();
    }
  });
});

describe('preview', () => {
  let program;
  before(async () => {
    program = await startProgram({
      config: {
        global: {},
        channels: [channelDocument({ sourceUrl: clip.file, targetUrl: `udp://127.0.0.1:${await freePort()}` })],
      },
    });
  });
  after(async () => {
    if (program) await stopAll(program).catch(() => {});
    await program?.stop();
  });

  test('plays the idle channel from the preview port, and Stop ends it', async (t) => {
    // Channel 1 previews on its own served port, which no other channel's output uses.
    const previewPort = program.port + 1;
    if (!(await portIsFree(previewPort))) {
      t.skip(`port ${previewPort}, channel 1's preview port, is taken on this machine`);
      return;
    }
    const { context, page } = await openClient(browser, program);
    try {
      const uncaught = [];
      page.on('pageerror', (error) => uncaught.push(error.message));
      await selectRow(page, 1);
      await waitFor(async () => (await statusCell(page, 1)).text === 'IDLE', { what: 'channel 1 idle' });
      assert.equal(await page.textContent('#btn-preview'), 'Preview');
      assert.equal(await page.isVisible('#preview-video'), false);

      await page.click('#btn-preview');
      await waitForChannelState(program, 0, 'preview', { timeoutMs: 10_000 });
      await waitFor(async () => (await page.textContent('#btn-preview')) === 'Stop', { what: 'Preview to read Stop' });
      assert.equal(await page.isVisible('#preview-video'), true);
      assert.equal(await page.isVisible('#logo'), false);
      const source = await page.$eval('#preview-video', (video) => video.src);
      assert.equal(new URL(source).port, String(previewPort));

      const played = await waitFor(
        () => page.$eval('#preview-video', (video) => (video.currentTime > 1 ?
          { time: video.currentTime, width: video.videoWidth, height: video.videoHeight } : false)),
        { timeoutMs: 20_000, intervalMs: 250, what: 'the preview video to play past 1 s' },
      );
      assert.deepEqual([played.width, played.height], [320, 240]);
      await screenshot(page, 'main-page-preview');

      await page.click('#btn-preview');
      await waitForChannelState(program, 0, 'idle');
      await waitFor(async () => (await page.textContent('#btn-preview')) === 'Preview', { what: 'Stop to read Preview' });
      assert.equal(await page.isVisible('#preview-video'), false);
      assert.equal(await page.isVisible('#logo'), true);
      assert.equal(await page.$eval('#preview-video', (video) => video.getAttribute('src')), null);

      // The Stop button ends a preview the same way.
      await waitFor(async () => (await statusCell(page, 1)).text === 'IDLE', { what: 'the table to show IDLE' });
      await page.click('#btn-preview');
      await waitForChannelState(program, 0, 'preview', { timeoutMs: 10_000 });
      await waitFor(async () => (await statusCell(page, 1)).icon === 'preview.png', { what: 'the table to show the preview' });
      await page.click('#btn-stop');
      await waitForChannelState(program, 0, 'idle');
      await waitFor(async () => (await page.textContent('#btn-preview')) === 'Preview', { what: 'Stop to read Preview' });
      assert.equal(await page.isVisible('#preview-video'), false);

      // Stop right after Preview, before any status poll has shown the preview, still ends it
      // on the server and in the page.
      await waitFor(async () => (await statusCell(page, 1)).text === 'IDLE', { what: 'the table to show IDLE' });
      await page.click('#btn-preview');
      await page.click('#btn-stop');
      await waitFor(async () => (await page.textContent('#btn-preview')) === 'Preview', { what: 'a quick Stop to read Preview' });
      await waitFor(async () => (await channelStatus(program, 0)).state === 'idle', { timeoutMs: 10_000, what: 'the quick stop to reach the server' });
      await sleep(1500);
      assert.equal((await channelStatus(program, 0)).state, 'idle', 'the preview does not come back');
      assert.equal(await page.isVisible('#preview-video'), false);
      assert.deepEqual(uncaught, []);
    } finally {
      await context.close();
    }
  });
});
