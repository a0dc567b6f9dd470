// Rules of the administration page (web/client/rules.js, helpers.js) that the browser tests do
// not reach: presets for other formats, page addresses and platforms, how a stored source shows
// while it is edited and what applying it stores, the binds left after a removal, where served
// streams and a moved administration page answer, stored sizes, DeckLink format codes and the one
// integer reading of the page.
//
// Run: node --test tests/e2e/page_rules.test.mjs
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { toInt } from '../../web/client/helpers.js';
import {
  channelsAfterRemoval, clampIntoView, deckLinkFormatOption, editedSource, frameSizeName, movedAdminAddress,
  servedStreamUrl, sourceEditFields, sourceUrlWithScheme, targetUrlPreset,
} from '../../web/client/rules.js';

test('target URL presets follow the page address and the server platform', () => {
  const https = { protocol: 'https:', host: '10.1.2.3', port: '' };
  const http = { protocol: 'http:', host: 'box', port: '8080' };
  const linux = { platform: 'linux' };
  for (const [format, page, runtime, want] of [
    ['http', https, linux, 'https://10.1.2.3:443/morv_ch4'],
    ['html5', { ...http, port: '' }, linux, 'http://box:80/morv_ch4'],
    ['httpmjpg', http, linux, 'http://box:8080/morv_ch4'],
    ['rtpts', https, linux, 'rtp://10.1.2.3:1234'],
    ['file', https, { platform: 'windows' }, 'c:\\media\\morv_ch4_recorded.mp4'],
    ['dash', https, null, '/media/morv_ch4.mpd'],
    ['device', https, linux, ''],
  ]) {
    assert.equal(targetUrlPreset(format, 4, page, runtime), want, format);
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

test('applying a source stores it as it was unless its fields were changed', () => {
  const rtmps = { format: 'rtmp', url: 'rtmps://live.example/app/key' };
  for (const [source, typed, want] of [
    [rtmps, sourceEditFields(rtmps), rtmps],
    [{ format: 'file', url: 'tcp://10.0.0.5:9000' }, { format: 'file', url: 'tcp://10.0.0.5:9000' }, null],
    [{ format: 'rtsp', url: 'rtsps://cam/1' }, { format: 'rtsp', url: 'rtsps://cam/1' }, null],
    // Written by the desktop, which stores "file" for network addresses.
    [{ format: 'file', url: 'rtsp://cam/1' }, { format: 'rtsp', url: 'cam/1' }, { format: 'file', url: 'rtsp://cam/1' }],
    [{ format: 'file', url: 'rtsp://cam/1' }, { format: 'rtsp', url: 'cam/2' }, { format: 'rtsp', url: 'rtsp://cam/2' }],
    [rtmps, { format: 'rtmp', url: 'rtmps://live.example/app/other' }, { format: 'rtmp', url: 'rtmps://live.example/app/other' }],
    [{ format: 'file', url: '/a.mp4' }, { format: 'udp', url: '239.1.1.1:5000' }, { format: 'udp', url: 'udp://239.1.1.1:5000' }],
  ]) {
    assert.deepEqual(editedSource(source, typed), want ?? source, `${source.url} as ${typed.format} ${typed.url}`);
  }
});

test('removing a channel renumbers the binds of the later ones and drops those to it', () => {
  const own = { url: '/a.mp4' };
  const list = [
    { input: { sources: [own, { bind: 2 }, { bind: 4 }] } },   // master of 2 and 4
    { bind: 1, input: { sources: [own, { bind: 3 }] } },        // bound to 1, master of 3
    { bind: 2, input: { sources: [own] } },                     // bound to the one removed
    { bind: '1', input: { sources: [own, { bind: 9 }] } },      // 9 names no channel
  ];
  const before = JSON.stringify(list);
  assert.deepEqual(channelsAfterRemoval(list, 2), [
    { input: { sources: [own, { bind: 3 }] } },
    { input: { sources: [own] } },
    { bind: '1', input: { sources: [own, { bind: 9 }] } },
  ]);
  assert.equal(JSON.stringify(list), before, 'the list given is left as it was');
  assert.deepEqual(channelsAfterRemoval([{ bind: 2 }, { input: 5 }, { input: { sources: [{ bind: 1 }] } }], 1),
    [{ input: 5 }, { input: { sources: [] } }]);
});

test('served streams and a moved administration page are reached where the server listens', () => {
  for (const [url, n, global, want] of [
    ['http://0.0.0.0:8080/live/ch1', 1, { httpPort: 8000 }, 'http://page.host:8001'],
    ['https://127.0.0.1/morv_ch2', 2, {}, 'https://page.host:9529'],
    ['http://localhost:9528', 3, { httpPort: 0 }, 'http://page.host:9530'],
    ['http://10.1.2.3:9528/x', 1, { httpPort: 7000 }, 'http://10.1.2.3:7001'],
    ['http://:80/x', 16, {}, 'http://page.host:9543'],
  ]) {
    assert.equal(servedStreamUrl(url, n, global, 'page.host'), want, url);
  }
  for (const [before, after, want] of [
    [{ httpPort: 9527 }, { httpPort: 9527, sslEnable: false }, ''],
    [{}, { httpPort: 9527 }, ''],
    [{ httpPort: 9527 }, { httpPort: 9600 }, 'http://box:9600/'],
    [{ httpPort: 9600 }, { httpPort: 9600, sslEnable: true }, 'https://box:9600/'],
  ]) {
    assert.equal(movedAdminAddress(before, after, 'box'), want, JSON.stringify(after));
  }
});

test('a pop-up dragged out of the window lands inside it', () => {
  const view = { width: 1280, height: 800 };
  for (const [box, want] of [
    [{ left: -300, top: -40, width: 640, height: 400 }, { left: 0, top: 0 }],
    [{ left: 1200, top: 700, width: 640, height: 400 }, { left: 640, top: 400 }],
    [{ left: 100, top: 50, width: 640, height: 400 }, { left: 100, top: 50 }],
    [{ left: 100, top: 50, width: 1400, height: 900 }, { left: 0, top: 0 }],
  ]) {
    assert.deepEqual(clampIntoView(box, view), want, JSON.stringify(box));
  }
});
