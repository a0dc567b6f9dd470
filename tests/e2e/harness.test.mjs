// The harness the browser tests stand on: the program's folder, port, password and orderly stop,
// the answers it gives to the page's dialogs, and the screenshots it saves.
import assert from 'node:assert/strict';
import { existsSync, readFileSync, statSync } from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import {
  channelStatus,
  launchBrowser,
  outputFolder,
  request,
  screenshot,
  startProgram,
  watchDialogs,
} from './harness.mjs';

describe('startProgram', () => {
  test('runs the program in a folder of its own on a free port and stops it cleanly', async () => {
    const program = await startProgram({ config: { global: { autoRestart: 0 }, channels: [] }, password: 'p w' });
    let exit;
    try {
      const written = program.readConfig();
      assert.equal(written.global.httpPort, program.port);
      assert.equal('loginPass' in written.global, false, 'the clear password was written back hashed');
      assert.match(written.global.loginHash, /^\$argon2id\$/);
      assert.equal(written.global.autoRestart, 0, 'the given keys are kept');
      assert.equal(program.configPath, path.join(program.folder, 'config', 'Zentravia', 'morvi', 'morvi.json'));
      assert.equal(statSync(path.join(program.folder, 'run')).mode & 0o777, 0o700);
      assert.equal(program.baseUrl, `http://127.0.0.1:${program.port}`);
      assert.match(program.cookie, /^vx_session=[0-9a-f]{64}$/, 'a session from the login form');

      const anonymous = await request(program.port, '/runtime');
      assert.match(anonymous.body, /Login Authentication/, 'a request without the cookie gets the login page');
      assert.equal((await program.getConfig()).global.httpPort, program.port);
      const status = await program.status();
      assert.ok(Array.isArray(status.channels) && Array.isArray(status.cpu), JSON.stringify(status));
      await assert.rejects(channelStatus(program, 0), /no channel 0/);
    } finally {
      exit = await program.stop();
    }
    assert.deepEqual(exit, { code: 0, signal: null });
    assert.equal(existsSync(program.folder), false, 'the folder is removed');
    assert.throws(() => process.kill(program.pid, 0), { code: 'ESRCH' });
    assert.deepEqual(await program.stop(), exit, 'a second stop answers the same');
    await assert.rejects(request(program.port, '/runtime', { timeoutMs: 1_000 }), { code: 'ECONNREFUSED' });
  });

  test('two programs at once get different ports and folders', async () => {
    const first = await startProgram();
    try {
      const second = await startProgram();
      try {
        assert.notEqual(first.port, second.port);
        assert.notEqual(first.folder, second.folder);
        assert.equal(typeof (await first.getJson('/runtime')), 'object');
        assert.equal(typeof (await second.getJson('/runtime')), 'object');
      } finally {
        await second.stop();
      }
    } finally {
      await first.stop();
    }
  });
});

describe('browser helpers', () => {
  let browser;
  let context;
  let page;
  before(async () => {
    browser = await launchBrowser();
    context = await browser.newContext();
    page = await context.newPage();
  });
  after(async () => {
    await browser?.close();
  });

  test('dialogs are recorded and answered as asked', async () => {
    const dialogs = watchDialogs(page);
    await page.setContent(`
      <button id="alert" onclick="alert('saved'); this.textContent = 'after alert'">a</button>
      <button id="confirm" onclick="this.textContent = String(confirm('remove channel 1?'))">c</button>
      <button id="prompt" onclick="this.textContent = String(prompt('name?', 'x'))">p</button>`);

    await page.click('#alert');
    assert.equal(await page.textContent('#alert'), 'after alert');
    await page.click('#confirm');
    assert.equal(await page.textContent('#confirm'), 'false', 'a confirm is dismissed unless asked');
    dialogs.answerNext(true);
    await page.click('#confirm');
    assert.equal(await page.textContent('#confirm'), 'true');
    dialogs.answerNext('studio');
    await page.click('#prompt');
    assert.equal(await page.textContent('#prompt'), 'studio');
    await page.click('#prompt');
    assert.equal(await page.textContent('#prompt'), 'null', 'a prompt is dismissed unless asked');

    assert.deepEqual(dialogs.messages(), ['saved', 'remove channel 1?', 'remove channel 1?', 'name?', 'name?']);
    assert.deepEqual(
      dialogs.seen.map((entry) => [entry.type, entry.answer]),
      [['alert', true], ['confirm', false], ['confirm', true], ['prompt', 'studio'], ['prompt', false]],
    );
    assert.equal((await dialogs.waitFor(/^remove/)).answer, false, 'the first match, raised earlier');
    const later = dialogs.waitFor('saved', { since: dialogs.seen.length, timeoutMs: 5_000 });
    await page.click('#alert');
    assert.equal((await later).type, 'alert');
    await assert.rejects(dialogs.waitFor('never shown', { timeoutMs: 200 }), /no dialog matching never shown/);
  });

  test('a screenshot is a PNG file named after the test', async () => {
    await page.setContent('<h1 style="color: teal">harness</h1>');
    const file = await screenshot(page, 'harness check/1');
    assert.equal(file, path.join(outputFolder, 'harness_check_1.png'));
    const bytes = readFileSync(file);
    assert.deepEqual([...bytes.subarray(0, 8)], [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
  });
});
