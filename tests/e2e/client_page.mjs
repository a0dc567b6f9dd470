// What the feature tests of the administration page share: channel documents to start the program
// with, a short media clip, loading the page until its data is in, and the editor's steps as an
// operator takes them (select, edit, apply and wait for the post).
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import net from 'node:net';
import { once } from 'node:events';
import os from 'node:os';
import path from 'node:path';

import { openPage, waitFor } from './harness.mjs';

// A channel as the configuration stores it: one source, one target.
export function channelDocument({
  sourceFormat = 'file',
  sourceUrl = '/media/clip.mp4',
  targetFormat = 'udp',
  targetUrl = 'udp://127.0.0.1:1234',
  width = 0,
  height = 0,
  memo = '',
  videoOptions = ['-preset:v ultrafast'],
} = {}) {
  return {
    enable: false,
    input: {
      sources: [{ format: sourceFormat, url: sourceUrl, video: { options: [] } }],
      formatOptions: [],
      customOptions: '',
      filters: [],
      map: [],
    },
    output: {
      targets: [
        {
          format: targetFormat,
          url: targetUrl,
          video: {
            enable: true, codec: 'h264', width, height, frameRate: 0, keyFrameInterval: 5, quality: 0,
            bitRate: 0, scanType: 0, options: [...videoOptions],
          },
          audio: { enable: true, codec: 'aac', sampleRate: 0, channels: 2, bitRate: 0 },
          mux: { bitRate: 0, cbr: false },
        },
      ],
      formatOptions: [],
      customOptions: '',
    },
    memo,
  };
}

// A 20 s 320x240 H.264/AAC clip in a new folder; resolves {file, remove()}.
export function makeClip() {
  const folder = mkdtempSync(path.join(os.tmpdir(), 'vx-clip-'));
  const file = path.join(folder, 'clip.mp4');
  execFileSync(
    'ffmpeg',
    ['-v', 'error', '-y', '-f', 'lavfi', '-i', 'testsrc=size=320x240:rate=25:duration=20',
      '-f', 'lavfi', '-i', 'sine=duration=20', '-c:v', 'libx264', '-preset', 'ultrafast', '-c:a', 'aac', file],
    { stdio: ['ignore', 'ignore', 'pipe'], timeout: 30_000 },
  );
  return { file, remove: () => rmSync(folder, { recursive: true, force: true }) };
}

// True when nothing listens on 127.0.0.1:`port` and it can be bound.
export async function portIsFree(port) {
  const probe = net.createServer();
  probe.listen(port, '127.0.0.1');
  try {
    await once(probe, 'listening');
  } catch {
    return false;
  }
  probe.close();
  await once(probe, 'close');
  return true;
}

const isGetOf = (pathname) => (answer) =>
  new URL(answer.url()).pathname === pathname && answer.request().method() === 'GET';

// Opens a context and the page at "/", and waits until the page has its configuration, its
// table rows and a first status poll. Resolves {context, page}.
export async function openClient(browser, program, options) {
  const { context, page } = await openPage(browser, program, options);
  // A step that cannot happen fails well within the suite's time.
  context.setDefaultTimeout(10_000);
  await Promise.all([page.waitForResponse(isGetOf('/config')), page.goto('/')]);
  await waitForClientReady(page);
  return { context, page };
}

export async function waitForClientReady(page) {
  await page.waitForFunction(() => {
    const rows = document.querySelectorAll('#channels tbody tr').length;
    return rows > 0 && document.querySelectorAll('#cpu-load td').length > 0;
  });
}

export function row(page, n) {
  return page.locator(`#channels tbody tr[data-row="${n}"]`);
}

// The status cell's text and icon of row `n`.
export async function statusCell(page, n) {
  const cell = row(page, n).locator('td.status');
  return {
    text: (await cell.locator('span').textContent()) ?? '',
    icon: await cell.locator('img').getAttribute('src'),
  };
}

export async function selectRow(page, n) {
  await row(page, n).click();
  await waitFor(async () => (await row(page, n).getAttribute('class'))?.includes('selected'), {
    what: `row ${n} to be selected`,
  });
}

// Selects row n and opens the editor on it.
export async function editRow(page, n) {
  await selectRow(page, n);
  await page.click('#btn-edit');
  await page.locator('#edit-source-url').waitFor();
}

// Clicks Apply and resolves the posted document (the request's body) once the server answered
// and the page has shown the answer (Edit is offered again only then).
export async function applyEdit(page) {
  const [answer] = await Promise.all([
    page.waitForResponse((response) =>
      new URL(response.url()).pathname === '/config' && response.request().method() === 'POST'),
    page.click('#btn-apply'),
  ]);
  assert.equal(answer.status(), 200, 'POST /config is accepted');
  await page.waitForFunction(() => !document.getElementById('btn-edit').disabled);
  return JSON.parse(answer.request().postData());
}

// True when the pop-up with this id is shown.
export async function isPopupOpen(page, id) {
  return page.locator(`#${id}`).evaluate((element) => element.classList.contains('open'));
}
