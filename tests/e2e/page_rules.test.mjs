// Rules of the administration page (web/client/rules.js, helpers.js) that the browser tests do
// not reach: presets for other formats, page addresses and platforms, how a stored source shows
// while it is edited and what applying it stores, the binds left after a removal, where a served stream and a moved
// administration page answer, stored sizes, DeckLink format codes and the one integer reading.
//
// Run: node --test tests/e2e/page_rules.test.mjs
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';

import { toInt } from '../../web/client/helpers.js';
import {
  channelsAfterRemoval, deckLinkFormatOption, editedSource, frameSizeName, movedAdminAddress, servedStreamUrl,
  sourceEditFields, sourceUrlWithScheme, targetUrlPreset,
} from '../../web/client/rules.js';

test('target URL presets follow the page address and the server platform', () => {
  const https = { protocol: 'https:', host: '10.1.2.3', port: '' };
  const http = { protocol: 'http:', host: 'box', port: '8080' };
  const linux = { platform: 'linux', outputFolder: '/home/op/Videos/Vantorix' };
  for (const [format, page, runtime, want] of [
    ['http', https, linux, 'https://10.1.2.3:443/morv_ch4'],
    ['html5', { ...http, port: '' }, linux, 'http://box:80/morv_ch4'],
    ['httpmjpg', http, linux, 'http://box:8080/morv_ch4'],
    ['rtpts', https, linux, 'rtp://10.1.2.3:1234'],
    ['file', https, { platform: 'windows', outputFolder: 'c:\\video' }, 'c:\\video\\morv_ch4_recorded.mp4'],
    ['dash', https, linux, '/home/op/Videos/Vantorix/morv_ch4.mpd'],
    ['device', https, linux, ''],
  ]) {
    assert.equal(targetUrlPreset(format, 4, page, runtime), want, format);
  }
});

test('target URL presets are the window\'s, listed in target_presets.json', () => {
  const presets = JSON.parse(readFileSync(new URL('./target_presets.json', import.meta.url), 'utf8'));
  const page = { protocol: 'http:', host: '127.0.0.1', port: '9527' };
  for (const [format, want] of Object.entries(presets)) {
    assert.equal(targetUrlPreset(format, 1, page, { platform: 'linux', outputFolder: '/out' }), want, format);
  }
});

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

test('stored sizes, DeckLink codes and integers', () => {
  assert.equal(frameSizeName(1280, 720), 'hd');
  assert.equal(frameSizeName(0, 0), 'original');
  assert.equal(frameSizeName(1280, 721), 'other');
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

test('removing channel 2 drops the binds to it and renumbers those to later channels', () => {
  const own = { url: '/a.mp4' };
  const list = [
    { input: { sources: [own, { bind: 2 }, { bind: 4 }] } },
    { bind: 1, input: { sources: [own, { bind: 3 }] } },
    { bind: 2, input: { sources: [own] } },
    { bind: 1, input: { sources: [own, { bind: 9 }] } },  // 9 names no channel: left alone
  ];
  assert.deepEqual(channelsAfterRemoval(list, 2), [
    { input: { sources: [own, { bind: 3 }] } }, { input: { sources: [own] } }, { bind: 1, input: { sources: [own, { bind: 9 }] } },
  ]);
  assert.equal(list[1].bind, 1, 'the list given is not changed');
});

test('a served HTML5 stream and a moved administration page are reached where the server listens', () => {
  for (const [url, n, global, want] of [
    ['http://0.0.0.0:8080/live/ch1', 1, { httpPort: 8000 }, 'http://page.host:8001'],
    ['https://127.0.0.1/morv_ch2', 2, {}, 'https://page.host:9529'],
    ['http://localhost:9528', 3, { httpPort: 0 }, 'http://page.host:9530'],
    ['http://10.1.2.3:9528/x', 1, { httpPort: 7000 }, 'http://10.1.2.3:7001'],
  ]) {
    assert.equal(servedStreamUrl(url, n, global, 'page.host'), want, url);
  }
  assert.equal(movedAdminAddress({}, { httpPort: 9527, sslEnable: false }, 'box'), '');
  assert.equal(movedAdminAddress({ httpPort: 9600 }, { httpPort: 9600, sslEnable: true }, 'box'), 'https://box:9600/');
});
