// The page's global side: the warning banner while no password is set, setting a password from
// Global Settings without being logged out, the Global Settings form replacing the whole
// "global" object, a new web port that the page follows or the server refuses, and importing and
// exporting the configuration.
import assert from 'node:assert/strict';
import { once } from 'node:events';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import {
  freePort,
  logIn,
  launchBrowser,
  request,
  screenshot,
  sleep,
  startProgram,
  waitFor,
  watchDialogs,
  watchPageErrors,
} from './harness.mjs';
import { channelDocument, isPopupOpen, openClient, row, waitForClientReady } from './client_page.mjs';

const kInsecure =
  '<b>CAUTION</b> Your MORVI web interface is INSECURE! Channel configuration details and HTTP streams could be ' +
  'exposed to unexpected streamers over the internet. Please set up web login password in Global Settings immediately!';

const isConfigPost = (answer) =>
  new URL(answer.url()).pathname === '/config' && answer.request().method() === 'POST';

let browser;
before(async () => {
  browser = await launchBrowser();
});
after(async () => {
  await browser?.close();
});

describe('login password', () => {
  test('with a password set the banner stays hidden', async () => {
    const program = await startProgram({ password: 'kept-secret' });
    try {
      const { context, page } = await openClient(browser, program);
      try {
        assert.equal(await page.isVisible('#banner'), false);
        assert.equal(await page.locator('#banner').isHidden(), true);
      } finally {
        await context.close();
      }
    } finally {
      await program.stop();
    }
  });

  test('without one the banner warns; a password set in Global Settings keeps the page logged in', async () => {
    const program = await startProgram({ config: { global: {}, channels: [channelDocument({ memo: 'kept' })] } });
    try {
      const { context, page } = await openClient(browser, program);
      try {
        const errors = watchPageErrors(page);
        assert.equal(await page.isVisible('#banner'), true);
        assert.equal(await page.locator('#banner').innerHTML(), kInsecure);

        await page.click('#btn-global');
        assert.equal(await isPopupOpen(page, 'popup-global'), true);
        assert.equal(await page.inputValue('#g-password'), '');
        await page.fill('#g-password', 'Secret42');
        const [answer] = await Promise.all([page.waitForResponse(isConfigPost), page.click('#g-ok')]);
        assert.equal(answer.status(), 200);
        assert.match(await answer.headerValue('set-cookie'), /^vx_session=[0-9a-f]{64};/, 'a session for the new password');
        assert.equal(JSON.parse(answer.request().postData()).global.loginPass, 'Secret42');
        assert.equal(await isPopupOpen(page, 'popup-global'), false);
        await waitFor(async () => !(await page.isVisible('#banner')), { what: 'the banner to go' });
        assert.equal(await page.isVisible('#btn-logout'), true);

        const cookie = (await context.cookies(program.baseUrl)).find((entry) => entry.name === 'vx_session');
        assert.ok(cookie, 'the browser keeps the session');
        const anonymous = await request(program.port, '/config');
        assert.match(anonymous.body, /MORVI Login Authentication/, 'the interface is closed without the cookie');
        const stored = JSON.parse((await request(program.port, '/config', { cookie: await logIn(program.port, 'Secret42') })).body);
        assert.equal(stored.global.loginPass, '\u25CF'.repeat(8), 'a placeholder, never the password');
        assert.doesNotMatch(readFileSync(program.configPath, 'utf8'), /Secret42/, 'the file holds only its hash');

        // Opened again, the form shows the placeholder, and OK with it keeps the password.
        await page.click('#btn-global');
        assert.equal(await page.inputValue('#g-password'), '\u25CF'.repeat(8));
        await Promise.all([page.waitForResponse(isConfigPost), page.click('#g-ok')]);
        assert.ok(await logIn(program.port, 'Secret42'), 'the password stays');

        // The status poll goes on with the new cookie; a reload stays on the page.
        await sleep(2_500);
        assert.equal(await page.locator('input[name="auth"]').count(), 0);
        await Promise.all([page.waitForResponse((r) => new URL(r.url()).pathname === '/config'), page.reload()]);
        assert.equal(await page.locator('input[name="auth"]').count(), 0, 'not sent to the login page');
        await waitFor(async () => (await row(page, 1).locator('td.memo').textContent()) === 'kept', {
          what: 'the table after the reload',
        });
        assert.equal(await page.isVisible('#banner'), false);
        assert.deepEqual(errors, []);
      } finally {
        await context.close();
      }
    } finally {
      await program.stop();
    }
  });
});

describe('global settings and configuration files', () => {
  let program;
  const startGlobal = {
    log: 32,
    autoRestart: 3,
    altInput: 'default',
    ipACL: 'allow 127.0.0.1',
    folderRecur: true,
    folderShuffle: false,
    omxPath: '/opt/mainconcept/omx_core.so',
    ytdlpPath: '/srv/cookies.txt',
    viewersPerAddress: 40,
    extraKey: 5,
  };
  before(async () => {
    program = await startProgram({ config: { global: startGlobal, channels: [channelDocument({ memo: 'before import' })] } });
  });
  after(async () => {
    await program?.stop();
  });

  test('the form shows "global" and OK replaces the whole object', async () => {
    const { context, page } = await openClient(browser, program);
    try {
      const dialogs = watchDialogs(page);
      let posts = 0;
      page.on('request', (sent) => {
        if (sent.method() === 'POST') posts += 1;
      });
      await page.click('#btn-global');
      assert.equal(await page.inputValue('#g-port'), String(program.port));
      assert.equal(await page.isChecked('#g-log'), true);
      assert.equal(await page.isChecked('#g-autorestart'), true);
      assert.equal(await page.inputValue('#g-autorestart-seconds'), '3');
      assert.equal(await page.isChecked('#g-altinput'), true, 'continuous streaming on for "default"');
      assert.equal(await page.inputValue('#g-altinput-path'), '', '"default" shows an empty path');
      assert.equal(await page.inputValue('#g-acl'), 'allow 127.0.0.1');
      assert.equal(await page.isChecked('#g-folder-recur'), true);
      assert.equal(await page.inputValue('#g-omx-path'), '/opt/mainconcept/omx_core.so');
      assert.equal(await page.inputValue('#g-ytdlp-path'), '/srv/cookies.txt');
      assert.equal(await page.inputValue('#g-viewers'), '40');
      assert.equal(await page.textContent('#g-device-kind'), 'V4L2');
      await page.click('#g-cancel');
      assert.equal(await isPopupOpen(page, 'popup-global'), false);
      assert.equal(posts, 0, 'Cancel posts nothing');

      await page.click('#btn-global');
      await page.uncheck('#g-autorestart');
      assert.equal(await page.inputValue('#g-autorestart-seconds'), '0');
      await page.check('#g-autorestart');
      assert.equal(await page.inputValue('#g-autorestart-seconds'), '1');
      await page.fill('#g-autorestart-seconds', '15');
      await page.fill('#g-altinput-path', '/media/fallback.mp4');
      await page.uncheck('#g-altinput');
      assert.equal(await page.inputValue('#g-altinput-path'), '', 'unticking empties the path');
      assert.equal(await page.isDisabled('#g-altinput-path'), true);
      await page.check('#g-altinput');
      assert.equal(await page.isEnabled('#g-altinput-path'), true);
      await page.fill('#g-acl', 'deny 10.0.0.0/8\nallow 127.0.0.1');
      await page.uncheck('#g-log');
      await page.check('#g-folder-shuffle');
      // SSL without both files is not switched on.
      await page.check('#g-ssl');
      await page.fill('#g-cert', '/etc/ssl/vx.pem');
      await page.fill('#g-viewers', '120');

      const [answer] = await Promise.all([page.waitForResponse(isConfigPost), page.click('#g-ok')]);
      const expected = {
        log: 0,
        httpPort: program.port,
        sslEnable: false,
        sslCert: '/etc/ssl/vx.pem',
        sslKey: '',
        ipACL: 'deny 10.0.0.0/8\nallow 127.0.0.1',
        autoRun: false,
        autoRestart: 15,
        folderRecur: true,
        folderShuffle: true,
        altInput: 'default',
        omxPath: '/opt/mainconcept/omx_core.so',
        ytdlpPath: '/srv/cookies.txt',
        loginPass: '',
        viewersPerAddress: 120,
      };
      assert.deepEqual(JSON.parse(answer.request().postData()).global, expected);
      // New address rules restart the server once the answer is out: the next request may find
      // it between its two listeners.
      const stored = (await waitFor(() => program.getConfig(), { what: 'the server after its restart' })).global;
      assert.equal('extraKey' in stored, false, 'a key the form does not know is gone');
      for (const [key, value] of Object.entries(expected)) {
        if (key in stored) assert.deepEqual(stored[key], value, key);
      }
      assert.deepEqual([stored.autoRestart, stored.altInput, stored.ipACL, stored.httpPort],
        [15, 'default', 'deny 10.0.0.0/8\nallow 127.0.0.1', program.port]);
      assert.deepEqual((await program.getConfig()).channels.map((channel) => channel.memo), ['before import']);

      // Opened again, the form shows what was stored.
      await page.click('#btn-global');
      assert.equal(await page.inputValue('#g-autorestart-seconds'), '15');
      assert.equal(await page.isChecked('#g-altinput'), true);
      assert.equal(await page.inputValue('#g-acl'), 'deny 10.0.0.0/8\nallow 127.0.0.1');
      assert.equal(await page.isChecked('#g-ssl'), false);
      assert.equal(await page.inputValue('#g-viewers'), '120');

      // A count out of range: the server says why, and keeps what it had.
      await page.fill('#g-viewers', '0');
      const [refused] = await Promise.all([page.waitForResponse(isConfigPost), page.click('#g-ok')]);
      assert.equal(refused.status(), 400);
      const reason = '"viewersPerAddress" must be a number from 1 to 100000; nothing was changed';
      await waitFor(async () => (await page.textContent('#page-error')) === reason, { what: 'the reason shown' });
      assert.equal((await program.getConfig()).global.viewersPerAddress, 120);
      assert.deepEqual(dialogs.messages(), []);
    } finally {
      await context.close();
    }
  });

  test('Export downloads morvi.json; Import asks, replaces the channels and reloads the page', async () => {
    const folder = mkdtempSync(path.join(os.tmpdir(), 'vx-import-'));
    const { context, page } = await openClient(browser, program, { acceptDownloads: true });
    try {
      const dialogs = watchDialogs(page);
      const exported = await program.request('/config?dl=1');
      assert.equal(exported.status, 200);
      assert.match(exported.headers['content-disposition'] ?? '', /^attachment/);
      assert.deepEqual(JSON.parse(exported.body), await program.getConfig());

      await page.click('#btn-global');
      const [download] = await Promise.all([page.waitForEvent('download'), page.click('#g-export')]);
      assert.equal(download.suggestedFilename(), 'morvi.json');
      const saved = JSON.parse(readFileSync(await download.path(), 'utf8'));
      assert.deepEqual(saved, await program.getConfig());

      const file = path.join(folder, 'import.json');
      const imported = {
        global: saved.global,
        channels: [
          channelDocument({ sourceUrl: '/media/imported-a.mp4', memo: 'imported a' }),
          channelDocument({ sourceUrl: '/media/imported-b.mp4', memo: 'imported b' }),
        ],
      };
      writeFileSync(file, JSON.stringify(imported, null, 2));

      // Cancel on the question clears the choice and changes nothing.
      assert.equal(await isPopupOpen(page, 'popup-global'), true, 'Export leaves the pop-up open');
      dialogs.answerNext(false);
      await page.setInputFiles('#g-import-file', file);
      const question = await dialogs.waitFor('Import all channels from <import.json>?');
      assert.equal(question.message, 'Import all channels from <import.json>?\nAll current channel settings will be OVERWRITTEN!');
      assert.equal(question.type, 'confirm');
      assert.equal(await page.inputValue('#g-import-file'), '');
      await sleep(300);
      assert.deepEqual((await program.getConfig()).channels.map((channel) => channel.memo), ['before import']);

      dialogs.answerNext(true);
      const since = dialogs.seen.length;
      await Promise.all([
        page.waitForResponse((answer) => new URL(answer.url()).pathname === '/config' && answer.request().method() === 'GET'),
        page.setInputFiles('#g-import-file', file),
      ]);
      await dialogs.waitFor('Import all channels', { since });
      assert.equal(new URL(page.url()).pathname, '/');
      assert.deepEqual((await program.getConfig()).channels.map((channel) => channel.memo), ['imported a', 'imported b']);
      await waitFor(async () => (await row(page, 2).locator('td.memo').textContent()) === 'imported b', {
        what: 'the reloaded table',
      });
      assert.equal((await row(page, 1).locator('td.source').textContent()).trim(), '/media/imported-a.mp4');
      assert.equal(await isPopupOpen(page, 'popup-global'), false, 'a fresh page');
    } finally {
      await context.close();
      rmSync(folder, { recursive: true, force: true });
    }
  });
});

describe('a new web port', () => {
  test('one the server cannot listen on is refused with its reason; another the page follows', async () => {
    const program = await startProgram({ config: { global: { autoRestart: 4 }, channels: [channelDocument({ memo: 'moved' })] } });
    const holder = net.createServer().listen(0, '127.0.0.1');
    try {
      await once(holder, 'listening');
      const { context, page } = await openClient(browser, program, { viewport: { width: 1280, height: 800 } });
      const post = async (port) => {
        await page.click('#btn-global');
        await page.fill('#g-port', String(port));
        await page.fill('#g-autorestart-seconds', '9');
        return (await Promise.all([page.waitForResponse(isConfigPost), page.click('#g-ok')]))[0];
      };
      const refused = await post(holder.address().port);
      assert.equal(refused.status(), 409);
      const reason = await refused.text();
      assert.match(reason, /^port \d+ cannot be used: .+; nothing was changed$/);
      await waitFor(async () => (await page.textContent('#page-error')) === reason, { what: 'the reason shown' });
      await screenshot(page, 'main-page-port-refused');
      await page.click('#btn-global');
      assert.deepEqual([await page.inputValue('#g-port'), await page.inputValue('#g-autorestart-seconds')],
        [String(program.port), '4'], 'the form shows what is stored, not what was refused');
      await page.click('#g-cancel');

      const port = await freePort();
      assert.equal((await post(port)).status(), 200);
      await page.locator('#moved-notice').waitFor({ state: 'visible' });
      assert.equal(await page.getAttribute('#moved-notice a', 'href'), `http://127.0.0.1:${port}/`);
      await screenshot(page, 'main-page-moved');
      await page.waitForURL(`http://127.0.0.1:${port}/`, { timeout: 15_000 });
      await waitForClientReady(page);
      assert.equal(await row(page, 1).locator('td.memo').textContent(), 'moved');
      await context.close();
    } finally {
      holder.close();
      await program.stop();
    }
  });
});
