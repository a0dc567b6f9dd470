// Rules of the administration page (web/client/rules.js, helpers.js) that the browser tests do
// not reach: how a stored source shows while it is edited and what applying it stores, where a
// moved administration page answers, DeckLink format codes and the one integer reading. Target
// presets, sizes, served addresses and removal are the server's (tests/web/page_answers_test.cpp).
//
// Run: node --test tests/e2e/page_rules.test.mjs
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { toInt } from '../../web/client/helpers.js';
import {
  deckLinkFormatOption, editedSource, movedAdminAddress, sourceEditFields, sourceUrlWithScheme,
} from '../../web/client/rules.js';

test('a stored source shows its scheme as the format, and applying it unchanged keeps the URL', () => {
  for (const [source, want] of [
    [{ format: 'file', url: 'rtsp://cam/1' }, { format: 'rtsp', url: 'cam/1' }],
    [{ format: 'http', url: 'HTTPS://x/y' }, { format: 'http', url: 'HTTPS://x/y' }],
    [{ format: 'ftp', url: 'sftp://x/y' }, { format: 'ftp', url: 'sftp://x/y' }],
    [{ format: 'ytdlp', url: 'https://video/1' }, { format: 'ytdlp', url: 'https://video/1' }],
    [{ url: '/media/a.mp4' }, { format: 'file', url: '/media/a.mp4' }],
  ]) {
    const fields = sourceEditFields(source);
    assert.deepEqual(fields, want, source.url);
    assert.equal(sourceUrlWithScheme(fields.format, fields.url), source.url, source.url);
  }
  assert.deepEqual(sourceEditFields({ format: 5, url: 7 }), { format: 'file', url: '' });
});

test('DeckLink codes and integers', () => {
  // 'Hp60' (1080p60) as the DeckLink API packs it, high byte first.
  assert.equal(deckLinkFormatOption({ fmtcode: 0x48703630 }), '-format_code Hp60');
  for (const [value, want] of [[' 12abc', 12], ['0x10', 0], ['-3', -3], [2.9, 2], [-2.9, -2],
    [true, 1], [Infinity, 0], ['', 0], [null, 0], [[5], 0]]) {
    assert.equal(toInt(value), want, String(value));
  }
});

test('a source whose fields were left as shown is stored as it was, scheme and format', () => {
  for (const [source, typed, want] of [
    [{ format: 'rtmp', url: 'rtmps://live.example/app' }, { format: 'rtmp', url: 'rtmps://live.example/app' }, null],
    [{ format: 'file', url: 'tcp://10.0.0.5:9000' }, { format: 'file', url: 'tcp://10.0.0.5:9000' }, null],
    [{ format: 'rtsp', url: 'rtsps://cam/1' }, { format: 'rtsp', url: 'rtsps://cam/1' }, null],
    [{ format: 'file', url: 'rtsp://cam/1' }, { format: 'rtsp', url: 'cam/1' }, null],  // as the desktop stores it
    [{ format: 'file', url: 'rtsp://cam/1' }, { format: 'rtsp', url: 'cam/2' }, { format: 'rtsp', url: 'rtsp://cam/2' }],
  ]) {
    if (!want) assert.deepEqual(sourceEditFields(source), typed, `${source.url} is shown as left`);
    assert.deepEqual(editedSource(source, typed), want ?? source, `${typed.format} ${typed.url}`);
  }
});

test('a moved administration page is reached where the server listens', () => {
  assert.equal(movedAdminAddress({}, { httpPort: 9527, sslEnable: false }, 'box'), '');
  assert.equal(movedAdminAddress({ httpPort: 9600 }, { httpPort: 9600, sslEnable: true }, 'box'), 'https://box:9600/');
});
