// Logging in to the administration page from a real browser: the login page the server answers
// while no valid session is sent, the form submission that starts a session (its cookie a random
// token, never the password), the logout, and the client page served straight away when no
// password is set.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { launchBrowser, openPage, repoRoot, screenshot, startProgram, watchPageErrors } from './harness.mjs';

// "+" would become a space and "%41" an "A" if either side decoded once too often or too few
// times; "&" and the space are field and cookie separators.
const kPassword = 'Pa+ss%41 w&rd';

// What the page's own scripts get for a GET of `target`: status, content type and text.
function fetchFromPage(page, target) {
  return page.evaluate(async (url) => {
    const answer = await fetch(url);
    return { status: answer.status, type: answer.headers.get('content-type'), text: await answer.text() };
  }, target);
}

async function expectLoginPage(page) {
  assert.equal(await page.title(), 'Vantorix');
  assert.equal((await page.locator('h2').textContent()).trim(), 'MORVI Login Authentication');
  const field = page.locator('input[name="auth"]');
  assert.equal(await field.count(), 1);
  assert.equal(await field.getAttribute('type'), 'password');
  assert.ok(await field.isVisible());
}

async function submitPassword(page, password) {
  await page.locator('input[name="auth"]').fill(password);
  await Promise.all([
    page.waitForResponse((answer) => new URL(answer.url()).pathname === '/login'),
    page.locator('input[type="submit"]').click(),
  ]);
  await page.waitForLoadState('load');
}

function assertJsonRuntime(answer) {
  assert.equal(answer.status, 200, answer.text.slice(0, 200));
  assert.match(answer.type ?? '', /^application\/json/);
  const runtime = JSON.parse(answer.text);
  assert.equal(typeof runtime, 'object');
  assert.notEqual(runtime, null);
}

describe('with a login password', () => {
  let program;
  let browser;
  before(async () => {
    program = await startProgram({ password: kPassword });
    browser = await launchBrowser();
  });
  after(async () => {
    await browser?.close();
    const exit = await program?.stop();
    assert.deepEqual(exit, { code: 0, signal: null }, 'SIGTERM ends the program cleanly');
  });

  test('the root page asks for the password and keeps the interface closed', async () => {
    const { context, page } = await openPage(browser, program, { loggedIn: false });
    try {
      const errors = watchPageErrors(page);
      const answer = await page.goto('/');
      assert.equal(answer.status(), 200);
      await expectLoginPage(page);
      assert.ok(await page.locator('input[name="auth"]').evaluate((field) => field.required));
      await screenshot(page, 'login-page');

      const runtime = await fetchFromPage(page, '/runtime');
      assert.match(runtime.text, /MORVI Login Authentication/, 'no JSON before logging in');
      assert.throws(() => JSON.parse(runtime.text));
      assert.deepEqual(errors, []);
    } finally {
      await context.close();
    }
  });

  test('the right password, "+" and "%" included, starts a session; Log Out ends it', async () => {
    const { context, page } = await openPage(browser, program, { loggedIn: false });
    try {
      await page.goto('/');
      await submitPassword(page, kPassword);
      assert.equal(new URL(page.url()).pathname, '/');
      assert.equal(await page.locator('input[name="auth"]').count(), 0, 'the login page is gone');
      assertJsonRuntime(await fetchFromPage(page, '/runtime'));

      const cookies = await context.cookies(program.baseUrl);
      assert.deepEqual(cookies.map((cookie) => cookie.name), ['vx_session'], JSON.stringify(cookies));
      const [session] = cookies;
      assert.match(session.value, /^[0-9a-f]{64}$/, 'a random token, not the password');
      assert.equal(session.httpOnly, true, 'the session cookie is HttpOnly');
      assert.equal(session.sameSite, 'Strict', 'the session cookie is SameSite=Strict');
      assert.equal(session.expires, -1, 'the browser forgets it when it closes');
      assert.equal(await page.evaluate(() => document.cookie), '', 'scripts cannot read the cookie');
      const shown = JSON.parse((await fetchFromPage(page, '/config')).text).global;
      assert.equal(shown.loginPass, '\u25CF'.repeat(8), 'the page gets a placeholder for the password');
      assert.equal('loginHash' in shown, false, 'and never its hash');

      await page.reload();
      assert.equal(await page.locator('input[name="auth"]').count(), 0, 'still logged in after a reload');

      await page.waitForSelector('#btn-logout:not([hidden])');
      await screenshot(page, 'client-with-logout');
      await Promise.all([page.waitForURL((url) => url.pathname === '/'), page.click('#btn-logout')]);
      await page.waitForSelector('input[name="auth"]');
      await expectLoginPage(page);
      const after = await program.request('/runtime', { cookie: `vx_session=${session.value}` });
      assert.match(after.body, /Login Authentication/, 'the ended session opens nothing any more');
    } finally {
      await context.close();
    }
  });

  test('a wrong password brings the login page back', async () => {
    // The password once too often decoded, with "+" taken as a space, and a plain wrong one.
    for (const wrong of ['Pa ssA w&rd', 'Pa+ssA w&rd', 'wrong']) {
      const { context, page } = await openPage(browser, program, { loggedIn: false });
      try {
        await page.goto('/');
        await submitPassword(page, wrong);
        await expectLoginPage(page);
        assert.match(await page.locator('body').textContent(), /Password incorrect/);
        const runtime = await fetchFromPage(page, '/runtime');
        assert.throws(() => JSON.parse(runtime.text), `${wrong}: ${runtime.text.slice(0, 80)}`);
      } finally {
        await context.close();
      }
    }
  });

  test('a context given the cookie by the harness is logged in', async () => {
    const { context, page } = await openPage(browser, program);
    try {
      await page.goto('/');
      assert.equal(await page.locator('input[name="auth"]').count(), 0);
      assertJsonRuntime(await fetchFromPage(page, '/runtime'));
    } finally {
      await context.close();
    }
  });
});

describe('without a login password', () => {
  let program;
  let browser;
  before(async () => {
    program = await startProgram({});
    browser = await launchBrowser();
  });
  after(async () => {
    await browser?.close();
    await program?.stop();
  });

  test('the root page is the client page itself', async () => {
    const { context, page } = await openPage(browser, program);
    try {
      const answer = await page.goto('/');
      assert.equal(answer.status(), 200);
      const served = await answer.text();
      const source = readFileSync(path.join(repoRoot, 'web', 'client', 'index.html'), 'utf8');
      assert.equal(served, source, 'GET / serves web/client/index.html');
      assert.equal(await page.locator('input[name="auth"]').count(), 0);
      assertJsonRuntime(await fetchFromPage(page, '/runtime'));
      assert.deepEqual(await context.cookies(program.baseUrl), [], 'no cookie is needed or set');
      assert.equal(await page.isVisible('#btn-logout'), false, 'nothing to log out of');
    } finally {
      await context.close();
    }
  });
});
