// The standby sources and switch-on seconds under the source in the page's editor: rows added,
// typed, reordered and removed, the seconds boxes, what Apply posts and the server keeps, a
// channel whose standby sources were not touched kept as stored, and the server's refusals shown
// with the focus on the row or box they name.
import assert from 'node:assert/strict';
import { after, before, beforeEach, describe, test } from 'node:test';

import { launchBrowser, screenshot, startProgram, waitFor, watchDialogs, watchPageErrors } from './harness.mjs';
import { applyEdit, channelDocument, editRow, openClient } from './client_page.mjs';

const storedStandby = [{ format: 'srt', url: 'srt://127.0.0.1:9000', video: { options: ['-latency 200000'] } }];

const twoChannels = () => {
  const second = channelDocument({ sourceUrl: '/media/two.mp4', targetUrl: 'udp://127.0.0.1:5002', memo: 'second' });
  second.input.standby = structuredClone(storedStandby);
  second.input.switchOn = { frozen: 5 };
  return [
    channelDocument({ sourceUrl: '/media/one.mp4', targetUrl: 'udp://127.0.0.1:5001', memo: 'first' }),
    second,
  ];
};

// What the rows show: [type, address] each.
async function shownRows(page) {
  return page.$$eval('#standby-rows .standby-row', (rows) =>
    rows.map((row) => [row.querySelector('select').value, row.querySelector('input').value]));
}

// The rows come from the server's answer, drawn when it arrives: waits for `expected`, then
// compares, so a wrong list fails with both lists shown.
async function expectRows(page, expected) {
  await waitFor(async () => JSON.stringify(await shownRows(page)) === JSON.stringify(expected), {
    what: `the standby rows ${JSON.stringify(expected)}`,
  }).catch(() => {});
  assert.deepEqual(await shownRows(page), expected);
}

describe('standby sources', () => {
  let program;
  let browser;
  let context;
  let page;
  let dialogs;
  let errors;

  before(async () => {
    program = await startProgram({ config: { global: {}, channels: twoChannels() } });
    browser = await launchBrowser();
  });
  after(async () => {
    await context?.close();
    await browser?.close();
    await program?.stop();
  });
  beforeEach(async () => {
    await context?.close();
    await program.postConfig({ global: { httpPort: program.port }, channels: twoChannels() });
    ({ context, page } = await openClient(browser, program, { viewport: { width: 1280, height: 1000 } }));
    dialogs = watchDialogs(page);
    errors = watchPageErrors(page);
  });

  test('two standby sources added and black set to 2 s are stored, and come back to be reordered', async () => {
    await editRow(page, 1);
    await expectRows(page, []);
    assert.equal(await page.isVisible('#standby-none'), true);
    assert.equal(await page.textContent('#standby-limit'), 'at most 4');

    await page.click('#standby-add');
    await page.selectOption('#standby-type-1', 'udp');
    assert.equal(await page.inputValue('#standby-address-1'), '0.0.0.0:1234', 'udp starts with the listening address');
    await page.fill('#standby-address-1', '239.1.1.2:5000');
    await page.click('#standby-add');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'standby-address-2', 'a new row takes the focus');
    await page.fill('#standby-address-2', '/media/standby.mp4');
    await page.fill('#switch-on-black', '2');
    assert.equal(await page.isDisabled('#standby-up-1'), true);
    assert.equal(await page.isDisabled('#standby-down-2'), true);
    await screenshot(page, 'editor-standby');

    const posted = await applyEdit(page);
    const expected = {
      standby: [
        { format: 'file', url: 'udp://239.1.1.2:5000', video: { options: [] } },
        { format: 'file', url: '/media/standby.mp4', video: { options: [] } },
      ],
      switchOn: { black: 2, silence: 0, frozen: 0 },
    };
    assert.deepEqual({ standby: posted.channels[0].input.standby, switchOn: posted.channels[0].input.switchOn }, expected);
    let stored = (await program.getConfig()).channels[0].input;
    assert.deepEqual({ standby: stored.standby, switchOn: stored.switchOn }, expected);
    assert.equal(stored.sources[0].url, '/media/one.mp4', 'the source itself is untouched');

    // Shown again, the rows read as the source cells read a source; moved down, the first goes
    // second with its own members. Only up to four rows can be added.
    await editRow(page, 1);
    await expectRows(page, [['udp', '239.1.1.2:5000'], ['file', '/media/standby.mp4']]);
    assert.equal(await page.inputValue('#switch-on-black'), '2');
    await page.click('#standby-down-1');
    await expectRows(page, [['file', '/media/standby.mp4'], ['udp', '239.1.1.2:5000']]);
    await page.click('#standby-add');
    await page.click('#standby-add');
    assert.equal(await page.isDisabled('#standby-add'), true, 'four rows are the most');
    await page.click('#standby-remove-4');
    await page.click('#standby-remove-3');
    await page.fill('#switch-on-black', '0');
    await applyEdit(page);
    stored = (await program.getConfig()).channels[0].input;
    assert.deepEqual(stored.standby, [expected.standby[1], expected.standby[0]]);
    assert.equal('switchOn' in stored, false, 'all boxes at 0 store no switchOn');
    assert.deepEqual(dialogs.messages(), []);
    assert.deepEqual(errors, []);
  });

  test('standby sources left alone stay as stored, and refusals name the row or box', async () => {
    await editRow(page, 2);
    await expectRows(page, [['srt', '127.0.0.1:9000']]);
    assert.deepEqual(await page.$$eval('.switch-on input', (boxes) => boxes.map((box) => box.value)), ['0', '0', '5']);

    let posts = 0;
    page.on('request', (request) => {
      if (request.method() === 'POST' && new URL(request.url()).pathname === '/config') posts += 1;
    });
    await page.fill('#switch-on-frozen', 'five');
    await page.click('#btn-apply');
    await dialogs.waitFor('Error: Switch on frozen takes whole seconds from 0 (off) to 3600!');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'switch-on-frozen');
    await page.fill('#switch-on-frozen', '5');
    await page.click('#standby-add');
    await page.click('#btn-apply');
    await dialogs.waitFor('Error: Standby source 2 address invalid!', { since: 1 });
    assert.equal(await page.evaluate(() => document.activeElement.id), 'standby-address-2');
    assert.equal(posts, 0, 'nothing refused is posted');
    await page.click('#standby-remove-2');

    await page.fill('#edit-memo', 'second, edited');
    await applyEdit(page);
    const stored = (await program.getConfig()).channels[1];
    assert.equal(stored.memo, 'second, edited');
    assert.deepEqual(stored.input.standby, storedStandby, 'byte for byte, its options included');
    assert.deepEqual(stored.input.switchOn, { frozen: 5 });

    // Not editing, the list shows the selected channel and cannot be changed.
    await expectRows(page, [['srt', '127.0.0.1:9000']]);
    assert.equal(await page.isDisabled('#standby-address-1'), true);
    assert.equal(await page.isDisabled('#standby-add'), true);
    assert.deepEqual(errors, []);
  });
});
