// The page's pop-ups: the DeckLink and NDI pickers as this machine answers them (no cards, no
// sources), Escape closing pop-ups before it cancels an edit, dragging by the title bar, and a
// screenshot of the main page and of each pop-up.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';

import { launchBrowser, screenshot, sleep, startProgram, waitFor, watchDialogs, watchPageErrors } from './harness.mjs';
import { channelDocument, editRow, isPopupOpen, openClient, row, selectRow } from './client_page.mjs';

const kPopups = ['popup-global', 'popup-decklink', 'popup-ndi', 'adv-format', 'adv-video'];

async function openPopups(page) {
  const open = [];
  for (const id of kPopups) if (await isPopupOpen(page, id)) open.push(id);
  return open;
}

describe('pop-ups', () => {
  let program;
  let browser;
  before(async () => {
    program = await startProgram({
      config: {
        global: {},
        channels: [
          channelDocument({ sourceUrl: '/media/news.mp4', targetUrl: 'udp://127.0.0.1:5001', memo: 'news' }),
          channelDocument({ sourceFormat: 'rtsp', sourceUrl: 'rtsp://127.0.0.1:8554/cam', targetUrl: 'udp://127.0.0.1:5002', memo: 'camera' }),
        ],
      },
    });
    browser = await launchBrowser();
  });
  after(async () => {
    await browser?.close();
    await program?.stop();
  });

  test('DeckLink and NDI pickers ask the server and say when nothing is found', async () => {
    const { context, page } = await openClient(browser, program, { viewport: { width: 1280, height: 800 } });
    try {
      const errors = watchPageErrors(page);
      const dialogs = watchDialogs(page);
      await screenshot(page, 'main-page');

      await editRow(page, 1);
      let [asked] = await Promise.all([
        page.waitForRequest((sent) => new URL(sent.url()).pathname === '/decklink_config'),
        page.selectOption('#target-format', { label: 'Decklink Playback Card' }),
      ]);
      assert.equal(new URL(asked.url()).searchParams.get('output'), '1', 'a target asks for outputs');
      assert.equal(await isPopupOpen(page, 'popup-decklink'), true);
      await waitFor(async () => (await page.textContent('#dl-state')) === 'No Decklink devices found', {
        what: 'the empty DeckLink list',
      });
      assert.equal(await page.locator('#dl-devices option').count(), 0);
      await screenshot(page, 'popup-decklink');
      await page.click('#popup-decklink .popup-cancel');
      assert.equal(await isPopupOpen(page, 'popup-decklink'), false);

      [asked] = await Promise.all([
        page.waitForRequest((sent) => new URL(sent.url()).pathname === '/decklink_config'),
        page.selectOption('#edit-source-format', 'decklink'),
      ]);
      assert.equal(new URL(asked.url()).searchParams.get('output'), '0', 'a source asks for inputs');
      await waitFor(async () => (await page.textContent('#dl-state')) === 'No Decklink devices found', {
        what: 'the empty DeckLink list',
      });
      await page.click('#dl-ok');
      assert.equal(await isPopupOpen(page, 'popup-decklink'), false);
      assert.equal(await page.inputValue('#edit-source-url'), '', 'no device, no URL');

      [asked] = await Promise.all([
        page.waitForRequest((sent) => new URL(sent.url()).pathname === '/ndi_config'),
        page.selectOption('#edit-source-format', 'ndi'),
      ]);
      assert.equal(new URL(asked.url()).searchParams.get('timeout'), '1');
      assert.equal(await isPopupOpen(page, 'popup-ndi'), true);
      await waitFor(async () => (await page.textContent('#ndi-state')) === 'No NDI sources found', {
        what: 'the empty NDI list',
      });
      // The server here answers at once; held back, the search shows its state meanwhile.
      await page.route((url) => url.pathname === '/ndi_config', async (route) => {
        await sleep(600);
        await route.continue();
      });
      await page.fill('#ndi-timeout', '2');
      [asked] = await Promise.all([
        page.waitForRequest((sent) => new URL(sent.url()).pathname === '/ndi_config'),
        page.click('#ndi-search'),
      ]);
      assert.equal(new URL(asked.url()).searchParams.get('timeout'), '2');
      assert.equal(await page.textContent('#ndi-state'), 'Searching...');
      assert.equal(await page.isDisabled('#ndi-search'), true);
      await waitFor(async () => (await page.textContent('#ndi-state')) === 'No NDI sources found', {
        timeoutMs: 8_000, what: 'the second NDI search',
      });
      assert.equal(await page.isEnabled('#ndi-search'), true);
      await screenshot(page, 'popup-ndi');
      await page.click('#ndi-ok');
      assert.equal(await isPopupOpen(page, 'popup-ndi'), false);
      assert.equal(await page.inputValue('#edit-source-url'), '');
      await page.click('#btn-cancel');
      assert.deepEqual(dialogs.messages(), []);
      assert.deepEqual(errors, []);
    } finally {
      await context.close();
    }
  });

  test('Escape closes the open pop-ups first, then cancels the edit', async () => {
    const { context, page } = await openClient(browser, program, { viewport: { width: 1280, height: 800 } });
    try {
      // The advanced pop-ups ask the server to translate; only a post of the document saves.
      let posts = 0;
      page.on('request', (sent) => {
        if (sent.method() === 'POST' && new URL(sent.url()).pathname === '/config') posts += 1;
      });
      await selectRow(page, 2);
      // Before Edit the advanced pop-ups only show the channel.
      for (const [button, popup, field] of [['#btn-format-advanced', 'adv-format', '#adv-custom-source'],
        ['#btn-video-advanced', 'adv-video', '#adv-misc-scan']]) {
        await page.click(button);
        await page.locator(`#${popup}.open`).waitFor();
        await screenshot(page, `${popup}-readonly`);
        assert.equal(await page.isDisabled(field), true);
        assert.deepEqual([await page.isVisible(`#${popup}-ok`), await page.textContent(`#${popup}-cancel`)], [false, 'Close']);
        await page.click(`#${popup}-cancel`);
      }

      await editRow(page, 2);
      assert.equal(await page.inputValue('#edit-source-format'), 'rtsp');
      await page.fill('#edit-memo', 'typed, then abandoned');

      await page.click('#btn-format-advanced');
      await page.locator('#adv-format.open').waitFor();
      assert.equal(await page.isVisible('#adv-format-ok'), true);
      await screenshot(page, 'popup-adv-format');
      await page.keyboard.press('Escape');
      assert.deepEqual(await openPopups(page), []);
      assert.equal(await page.isEnabled('#btn-apply'), true, 'the first Escape leaves the edit open');

      await page.click('#btn-video-advanced');
      await page.click('#adv-tab-overlay');
      await page.check('#adv-ovl-enable');
      await screenshot(page, 'popup-adv-video');
      await page.click('#btn-global');
      assert.deepEqual(await openPopups(page), ['popup-global', 'adv-video']);
      // The pop-up opened last is the one on top: its first field, where the two overlap, takes
      // the click point.
      const onTop = await page.locator('#g-port').evaluate((field) => {
        const box = field.getBoundingClientRect();
        return document.elementFromPoint(box.x + box.width / 2, box.y + box.height / 2) === field;
      });
      assert.equal(onTop, true, 'Global Settings is drawn above Advanced Video Settings');
      await screenshot(page, 'popup-global');
      await page.keyboard.press('Escape');
      assert.deepEqual(await openPopups(page), [], 'one Escape closes every open pop-up');
      assert.equal(await page.isEnabled('#btn-apply'), true);

      await page.keyboard.press('Escape');
      assert.equal(await page.isDisabled('#btn-apply'), true, 'the second Escape cancels the edit');
      assert.equal(await page.locator('#edit-memo').count(), 0);
      assert.equal(await row(page, 2).locator('td.memo').textContent(), 'camera');
      assert.equal(await page.isEnabled('#btn-edit'), true);
      await sleep(200);
      assert.equal(posts, 0, 'nothing was posted');
      assert.equal((await program.getConfig()).channels[1].memo, 'camera');
    } finally {
      await context.close();
    }
  });

  test('a pop-up moves with its title bar and closes with its title-bar button', async () => {
    const { context, page } = await openClient(browser, program, { viewport: { width: 1280, height: 800 } });
    try {
      await page.click('#btn-global');
      const popup = page.locator('#popup-global');
      const before = await popup.boundingBox();
      const title = await page.locator('#popup-global-title').boundingBox();
      const x = title.x + 10;
      const y = title.y + title.height / 2;
      await page.mouse.move(x, y);
      await page.mouse.down();
      await page.mouse.move(x - 150, y + 60, { steps: 5 });
      await page.mouse.up();
      const moved = await popup.boundingBox();
      assert.ok(Math.abs(moved.x - (before.x - 150)) <= 1, `x ${before.x} -> ${moved.x}`);
      assert.ok(Math.abs(moved.y - (before.y + 60)) <= 1, `y ${before.y} -> ${moved.y}`);

      // Dragging the body does not move it.
      const body = await page.locator('#popup-global .popup-body').boundingBox();
      await page.mouse.move(body.x + 5, body.y + 5);
      await page.mouse.down();
      await page.mouse.move(body.x + 105, body.y + 105, { steps: 3 });
      await page.mouse.up();
      const still = await popup.boundingBox();
      assert.deepEqual([Math.round(still.x), Math.round(still.y)], [Math.round(moved.x), Math.round(moved.y)]);

      await page.click('#popup-global .popup-close');
      assert.equal(await isPopupOpen(page, 'popup-global'), false);
    } finally {
      await context.close();
    }
  });
});
