// What the browser tests share: the vantorix program started headless in a folder of its own
// on a free port, the system Chromium driven through playwright-core, screenshots, dialogs and
// the JSON interface read the way the page reads it.
//
//   const program = await startProgram({ password: 'pw' });
//   const browser = await launchBrowser();
//   try { ... } finally { await browser.close(); await program.stop(); }

import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

export const repoRoot = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
export const programPath = process.env.VX_PROGRAM || path.join(repoRoot, 'build', 'bin', 'vantorix');
export const outputFolder = process.env.VX_E2E_OUT || path.join(repoRoot, 'build', 'e2e');
export const chromiumPath = '/usr/bin/chromium';

// The port the program listens on when its configuration names none.
export const defaultHttpPort = 9527;

const kStartLimitMs = 20_000;
const kStopLimitMs = 15_000;
const kKeptOutput = 256 * 1024;

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Calls `probe` until it returns something other than undefined/false and returns that; throws
// `what` with the last answer or error after `timeoutMs`. An error with `fatal` set ends the wait
// at once.
export async function waitFor(probe, { timeoutMs = 10_000, intervalMs = 100, what = 'condition' } = {}) {
  const deadline = Date.now() + timeoutMs;
  let last;
  for (;;) {
    try {
      const value = await probe();
      if (value !== undefined && value !== false) return value;
      last = value;
    } catch (error) {
      if (error.fatal) throw error;
      last = error;
    }
    if (Date.now() >= deadline) {
      const detail = last instanceof Error ? last.message : JSON.stringify(last);
      throw new Error(`timed out after ${timeoutMs} ms waiting for ${what} (last: ${detail})`);
    }
    await sleep(intervalMs);
  }
}

// A TCP port on 127.0.0.1 that nothing listens on right now: the kernel's pick for port 0.
export async function freePort() {
  const server = net.createServer();
  server.listen(0, '127.0.0.1');
  await once(server, 'listening');
  const { port } = server.address();
  server.close();
  await once(server, 'close');
  return port;
}

// The session cookie's name; the server hands out a random token, never the password.
export const sessionCookieName = 'vx_session';

// Logs in through the login page's form, as a browser submits it (the password form-encoded
// whatever characters it holds). Resolves the session cookie ('vx_session=…') the answer sets;
// rejects when it sets none.
export async function logIn(port, password) {
  const answer = await request(port, '/login', {
    method: 'POST',
    body: `auth=${encodeURIComponent(password)}`,
    headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
  });
  const set = [answer.headers['set-cookie'] ?? []].flat().find((line) => line.startsWith(`${sessionCookieName}=`));
  if (!set) throw new Error(`POST /login: status ${answer.status}, no session: ${answer.body.slice(0, 200)}`);
  return set.slice(0, set.indexOf(';'));
}

// One HTTP request to 127.0.0.1, no redirects followed, no connection kept; `localAddress`
// sends it from another loopback address (127.0.0.2 ...), which the server counts apart.
// Resolves {status, headers, body} (body as text); rejects on a connection error or timeout.
export function request(port, target, { method = 'GET', body, cookie, headers = {}, timeoutMs = 5_000, localAddress } = {}) {
  return new Promise((resolve, reject) => {
    const sent = { ...headers };
    if (cookie) sent.Cookie = cookie;
    const payload = body === undefined ? undefined : typeof body === 'string' ? body : JSON.stringify(body);
    if (payload !== undefined) sent['Content-Length'] = Buffer.byteLength(payload);
    const req = http.request(
      { host: '127.0.0.1', port, path: target, method, headers: sent, agent: false, timeout: timeoutMs, localAddress },
      (res) => {
        const chunks = [];
        res.on('data', (chunk) => chunks.push(chunk));
        res.on('end', () => {
          const bytes = Buffer.concat(chunks);
          resolve({ status: res.statusCode, headers: res.headers, body: bytes.toString('utf8'), bytes });
        });
        res.on('error', reject);
      },
    );
    req.on('timeout', () => req.destroy(new Error(`${method} ${target}: no answer within ${timeoutMs} ms`)));
    req.on('error', reject);
    req.end(payload);
  });
}

// Programs started here and not yet stopped, with their folders. A test process that ends without
// stopping one kills it and removes its folder; one ended by a signal (the runner's time limit,
// Ctrl-C) first gives its programs kStopLimitMs to stop on SIGTERM, so that they take their
// transcoders with them. Nothing is left behind either way.
const running = new Map();

function hasEnded(pid) {
  try {
    const stat = readFileSync(`/proc/${pid}/stat`, 'utf8');
    return /^[ZX]/.test(stat.slice(stat.lastIndexOf(')') + 2));
  } catch {
    return true;
  }
}

function abandonPrograms({ graceMs }) {
  const pause = new Int32Array(new SharedArrayBuffer(4));
  const deadline = Date.now() + graceMs;
  for (const child of running.keys()) {
    if (graceMs > 0) child.kill('SIGTERM');
  }
  for (const child of running.keys()) {
    while (!hasEnded(child.pid) && Date.now() < deadline) Atomics.wait(pause, 0, 0, 50);
    child.kill('SIGKILL');
  }
  for (const folder of running.values()) rmSync(folder, { recursive: true, force: true });
  running.clear();
}

process.on('exit', () => abandonPrograms({ graceMs: 0 }));
for (const signal of ['SIGINT', 'SIGTERM']) {
  process.once(signal, () => {
    abandonPrograms({ graceMs: kStopLimitMs });
    process.exit(signal === 'SIGINT' ? 130 : 143);
  });
}

function keepTail(text, chunk) {
  const joined = text + chunk;
  return joined.length > kKeptOutput ? joined.slice(joined.length - kKeptOutput) : joined;
}

// Starts `vantorix -quiet` without a display in a new folder holding XDG_CONFIG_HOME (whose
// user-dirs.dirs names <folder>/videos as the videos folder) and XDG_RUNTIME_DIR (0700).
//   config:   the configuration document ({global, channels}) written before the start; its
//             "httpPort" is replaced by a free port (and "loginPass" by `password` when given).
//             null writes no file: a first start, which writes the defaults and listens on the
//             default port 9527 (refused when that port is taken here).
//             Left out: an empty document with only the port (and password).
//   password: the login password, written in clear as older versions did (the program keeps only
//             its hash); the harness logs in through the login form once the program answers,
//             and every request it makes then carries that session's cookie.
// Resolves once GET /runtime answers 200. The result:
//   port, baseUrl ('http://127.0.0.1:<port>'), folder, configPath, password, cookie ('vx_session=…'
//   or ''), pid; readConfig() (the file on disk, parsed); request(target, options) (the harness's
//   request() with the cookie); getJson(target); getConfig() (GET /config, parsed);
//   postConfig(document); status() (GET /status, parsed); output() ({stdout, stderr} so far);
//   stop() (SIGTERM, SIGKILL after 15 s, folder removed; resolves {code, signal}; safe to call
//   twice).
export async function startProgram({ config, password, startLimitMs = kStartLimitMs, extraArgs = [] } = {}) {
  const folder = mkdtempSync(path.join(os.tmpdir(), 'vx-e2e-'));
  const configHome = path.join(folder, 'config');
  const runtimeDir = path.join(folder, 'run');
  const configFolder = path.join(configHome, 'Zentravia', 'morvi');
  const configPath = path.join(configFolder, 'morvi.json');
  mkdirSync(configFolder, { recursive: true });
  mkdirSync(runtimeDir, { mode: 0o700 });
  // The user's videos folder, below which new recordings and playlists go: <folder>/videos.
  writeFileSync(path.join(configHome, 'user-dirs.dirs'), `XDG_VIDEOS_DIR="${path.join(folder, 'videos')}"\n`);

  let port;
  try {
    if (config === null) {
      if (password !== undefined) throw new Error('a first start (config: null) cannot carry a password');
      port = defaultHttpPort;
      const probe = net.createServer();
      probe.listen(port, '127.0.0.1');
      await once(probe, 'listening'); // rejects when the port is taken
      probe.close();
      await once(probe, 'close');
    } else {
      port = await freePort();
      const document = structuredClone(config ?? { global: {}, channels: [] });
      document.global = { ...(document.global ?? {}), httpPort: port };
      if (password !== undefined) document.global.loginPass = password;
      writeFileSync(configPath, JSON.stringify(document, null, 2));
    }
  } catch (error) {
    rmSync(folder, { recursive: true, force: true });
    throw error;
  }

  const env = { ...process.env, XDG_CONFIG_HOME: configHome, XDG_RUNTIME_DIR: runtimeDir };
  delete env.DISPLAY;
  delete env.WAYLAND_DISPLAY;
  const child = spawn(programPath, ['-quiet', ...extraArgs], { cwd: folder, env, stdio: ['ignore', 'pipe', 'pipe'] });
  running.set(child, folder);
  // A program a test forgot to stop must not keep the test process waiting; it is killed when the
  // process ends.
  child.unref();
  child.stdout.unref();
  child.stderr.unref();
  let stdout = '';
  let stderr = '';
  child.stdout.setEncoding('utf8').on('data', (chunk) => (stdout = keepTail(stdout, chunk)));
  child.stderr.setEncoding('utf8').on('data', (chunk) => (stderr = keepTail(stderr, chunk)));
  let exit = null;
  const exited = new Promise((resolve) => {
    child.on('error', (error) => {
      exit = { code: null, signal: null, error };
      running.delete(child);
      resolve(exit);
    });
    child.on('exit', (code, signal) => {
      exit = { code, signal };
      running.delete(child);
      resolve(exit);
    });
  });

  let cookie = '';
  const baseUrl = `http://127.0.0.1:${port}`;
  let stopping = null;
  const program = {
    port,
    baseUrl,
    folder,
    configPath,
    password,
    get cookie() {
      return cookie;
    },
    pid: child.pid,
    output: () => ({ stdout, stderr }),
    readConfig: () => JSON.parse(readFileSync(configPath, 'utf8')),
    request: (target, options = {}) => request(port, target, { cookie, ...options }),
    async getJson(target) {
      const answer = await program.request(target);
      if (answer.status !== 200) throw new Error(`GET ${target}: status ${answer.status}`);
      try {
        return JSON.parse(answer.body);
      } catch {
        throw new Error(`GET ${target}: not JSON: ${answer.body.slice(0, 200)}`);
      }
    },
    getConfig: () => program.getJson('/config'),
    status: () => program.getJson('/status'),
    async postConfig(document) {
      const answer = await program.request('/config', { method: 'POST', body: document });
      if (answer.status !== 200) throw new Error(`POST /config: status ${answer.status}: ${answer.body}`);
      return answer;
    },
    stop() {
      stopping ??= (async () => {
        if (exit === null) {
          child.kill('SIGTERM');
          const timer = setTimeout(() => exit === null && child.kill('SIGKILL'), kStopLimitMs);
          await exited;
          clearTimeout(timer);
        }
        rmSync(folder, { recursive: true, force: true });
        return exit;
      })();
      return stopping;
    },
  };

  try {
    await waitFor(
      async () => {
        if (exit !== null) {
          throw Object.assign(new Error(`the program ended during start-up (${JSON.stringify(exit)})`), { fatal: true });
        }
        return (await program.request('/runtime', { timeoutMs: 1_000 })).status === 200;
      },
      { timeoutMs: startLimitMs, intervalMs: 100, what: `GET ${baseUrl}/runtime` },
    );
    if (password !== undefined) cookie = await logIn(port, password);
  } catch (error) {
    await program.stop();
    throw new Error(`${programPath} did not start: ${error.message}\n--- stdout\n${stdout}\n--- stderr\n${stderr}`);
  }
  return program;
}

// The state ("running", "idle", …) and status text of channel `index` (0-based) in /status.
export async function channelStatus(program, index) {
  const status = await program.status();
  const entry = status.channels?.[index];
  if (!entry) throw new Error(`/status has no channel ${index}: ${JSON.stringify(status)}`);
  return { state: entry.state, status: entry.status };
}

// Waits until channel `index` reports `state` in /status; resolves its {state, status}.
export function waitForChannelState(program, index, state, { timeoutMs = 20_000 } = {}) {
  let seen;
  return waitFor(
    async () => {
      seen = await channelStatus(program, index);
      return seen.state === state ? seen : false;
    },
    { timeoutMs, intervalMs: 250, what: `channel ${index} to be "${state}"` },
  );
}

// The system Chromium, headless. Each launch starts from a fresh profile: playwright makes a
// temporary user data folder for it and removes it on close (it refuses a --user-data-dir
// argument; launchPersistentContext is the way to name one, which would also take away separate
// contexts). Every browser.newContext() has its own cookie jar, so one browser serves a test file
// and each test opens its own context. The preview video may play without a user gesture.
export function launchBrowser({ args = [], ...options } = {}) {
  return chromium.launch({
    executablePath: chromiumPath,
    headless: true,
    args: [
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
      '--autoplay-policy=no-user-gesture-required',
      ...args,
    ],
    ...options,
  });
}

// A context on the program's address, with the login cookie already set when the program has a
// password (unless `loggedIn` is false), and a page in it.
export async function openPage(browser, program, { loggedIn = true, ...contextOptions } = {}) {
  const context = await browser.newContext({ baseURL: program.baseUrl, ...contextOptions });
  if (loggedIn && program.cookie) {
    await context.addCookies([
      {
        name: sessionCookieName,
        value: program.cookie.slice(sessionCookieName.length + 1),
        url: program.baseUrl,
        httpOnly: true,
        sameSite: 'Strict',
      },
    ]);
  }
  const page = await context.newPage();
  return { context, page };
}

// Saves a full-page PNG as <VX_E2E_OUT>/<name>.png and returns its path.
export async function screenshot(page, name) {
  mkdirSync(outputFolder, { recursive: true });
  const file = path.join(outputFolder, `${name.replace(/[^\w.-]+/g, '_')}.png`);
  await page.screenshot({ path: file, fullPage: true });
  return file;
}

// Collects the page's alert/confirm/prompt/beforeunload dialogs and answers them. Without a
// queued answer an alert or beforeunload is accepted and a confirm or prompt is dismissed (the
// page is never left waiting; a destructive step happens only when a test asked for it).
//   dialogs.seen              [{type, message, answer}] in order
//   dialogs.messages()        the messages only
//   dialogs.answerNext(a)     queue an answer for the next dialog: true accepts, false
//                             dismisses, a string accepts a prompt with that text
//   dialogs.waitFor(match)    resolves the first dialog whose message matches a string
//                             (contained) or RegExp, among those seen from index `since`
//                             (default 0: a dialog the last click already raised counts; pass
//                             since: dialogs.seen.length before an action to see only later ones)
//   dialogs.clear()
export function watchDialogs(page) {
  const seen = [];
  const queued = [];
  const waiters = [];
  page.on('dialog', async (dialog) => {
    const type = dialog.type();
    const message = dialog.message();
    let answer = queued.length > 0 ? queued.shift() : type === 'alert' || type === 'beforeunload';
    const entry = { type, message, answer };
    seen.push(entry);
    for (const waiter of [...waiters]) waiter(entry, seen.length - 1);
    try {
      if (answer === false) await dialog.dismiss();
      else await dialog.accept(typeof answer === 'string' ? answer : undefined);
    } catch {
      // the page closed meanwhile
    }
  });
  const matches = (entry, match) =>
    match === undefined || (match instanceof RegExp ? match.test(entry.message) : entry.message.includes(match));
  return {
    seen,
    messages: () => seen.map((entry) => entry.message),
    answerNext(answer) {
      queued.push(answer);
    },
    clear() {
      seen.length = 0;
    },
    waitFor(match, { timeoutMs = 10_000, since = 0 } = {}) {
      const earlier = seen.slice(since).find((entry) => matches(entry, match));
      if (earlier) return Promise.resolve(earlier);
      return new Promise((resolve, reject) => {
        const waiter = (entry) => {
          if (!matches(entry, match)) return;
          clearTimeout(timer);
          waiters.splice(waiters.indexOf(waiter), 1);
          resolve(entry);
        };
        const timer = setTimeout(() => {
          waiters.splice(waiters.indexOf(waiter), 1);
          reject(new Error(`no dialog matching ${match} within ${timeoutMs} ms; seen: ${JSON.stringify(seen)}`));
        }, timeoutMs);
        waiters.push(waiter);
      });
    },
  };
}

// Uncaught exceptions and console errors of a page, to assert a page ran without script faults.
// A channel's picture or history the server does not have (404) is no fault: the page asks for a
// running channel's picture before its transcoder has made the first one (and shows the
// placeholder meanwhile), and a page showing an older document may ask for the history of a
// channel removed since.
export function watchPageErrors(page) {
  const errors = [];
  const glanceNotThere = (message) =>
    /status of 404\b/.test(message.text()) &&
    /^\/(thumbnails\/\d+\.jpg|history\/\d+)$/.test(new URL(message.location().url || 'x:/').pathname);
  page.on('pageerror', (error) => errors.push(`uncaught: ${error.message}`));
  page.on('console', (message) => {
    if (message.type() === 'error' && !glanceNotThere(message)) errors.push(`console: ${message.text()}`);
  });
  return errors;
}
