// Keeps web/client/openapi.json true to the running server. Two vantorix programs answer real
// requests (one without a password, one with), every answer is checked against the document
// (its status described for that path and method, its Content-Type, the headers the document
// requires, the body against the schema), and the table of requests must cover the document:
// every operation, every status but the few that cannot be reached on loopback, and every path
// web/router.cpp routes.
//
// Adding a path: describe it in openapi.json, add its rows to `rows` below (a success and the
// errors it can give here), and list any status that cannot be reached here in `notReachedHere`.
//
//   node --test tests/e2e/openapi_check.mjs        (after a build; ctest: openapi_document)
import assert from 'node:assert/strict';
import { once } from 'node:events';
import { mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import Ajv2020 from 'ajv/dist/2020.js';

import { channelDocument, makeClip } from './client_page.mjs';
import { repoRoot, request, startProgram, waitFor, waitForChannelState } from './harness.mjs';

const document = JSON.parse(readFileSync(path.join(repoRoot, 'web', 'client', 'openapi.json'), 'utf8'));
const clientFiles = readdirSync(path.join(repoRoot, 'web', 'client')).sort();
const routerSource = readFileSync(path.join(repoRoot, 'web', 'router.cpp'), 'utf8');

const kPassword = 'open sesame';
const kMethods = ['get', 'post'];

// Statuses the server gives that a test on loopback cannot bring about.
const notReachedHere = new Set([
  'post /config 503', // the password could not be hashed (no memory)
  'post /setup 503', // the same, from the setup form
]);

// ----- the document ------------------------------------------------------------------------

const ajv = new Ajv2020({ strict: false, validateFormats: false, allErrors: true });
ajv.addSchema(document, 'api');

// The example the document gives at `keys`.
const exampleAt = (...keys) => keys.reduce((node, key) => node?.[key], document.paths).example;

const pointer = (keys) => keys.map((key) => encodeURIComponent(String(key).replaceAll('~', '~0').replaceAll('/', '~1'))).join('/');

// A response of an operation with the JSON pointer of where it is written ($ref followed).
function describedResponse(operationKeys, status) {
  let keys = [...operationKeys, 'responses', status];
  let response = document.paths[operationKeys[1]][operationKeys[2]].responses[status];
  if (response?.$ref) {
    keys = response.$ref.slice(2).split('/');
    response = keys.reduce((node, key) => node?.[key], document);
    assert.ok(response, `${response} does not resolve`);
  }
  return { response, keys, shared: keys[0] === 'components' ? keys.join('/') : undefined };
}

function validate(keys, value) {
  const check = ajv.getSchema(`api#/${pointer(keys)}`);
  assert.ok(check, `no schema at ${keys.join('/')}`);
  return check(value) ? '' : ajv.errorsText(check.errors);
}

const operations = Object.entries(document.paths).flatMap(([name, item]) =>
  kMethods.filter((method) => item[method]).map((method) => `${method} ${name}`),
);

// ----- the table ---------------------------------------------------------------------------

// One real request: on which program (`open`: no password; `locked`: a password), as whom
// (`session`, the default on `locked`; `nobody`; `basic`/`bearer` with the password; `wrong`
// with a wrong one), and the status it must get. `path` is the document's path; `target` the
// URL when it differs; `from` another loopback address; `prepare` runs first; `check` looks
// further at the answer. Functions get the context (programs, setup token, ...).
const formHeaders = { 'Content-Type': 'application/x-www-form-urlencoded' };
const crossSite = { 'Sec-Fetch-Site': 'cross-site' };
const unknownHost = { Host: 'rebound.example' };

function header(answer, name) {
  const value = answer.headers[name.toLowerCase()];
  return Array.isArray(value) ? value.join('\n') : value;
}

// Five wrong passwords from `from`, so that its next guess is held back.
async function exhaustGuesses(context, from) {
  for (let i = 0; i < 5; i++) {
    const answer = await request(context.locked.port, '/login', { method: 'POST', body: 'auth=wrong', headers: formHeaders, localAddress: from });
    assert.equal(answer.status, 403, 'a wrong password before the lock-out');
  }
}

const rows = [
  // the page and its files
  { path: '/', on: 'open', status: 200, check: (a) => assert.match(a.body, /^<!DOCTYPE html>/) },
  { path: '/', on: 'locked', as: 'nobody', status: 200, check: (a) => assert.match(a.body, /action="login"/) },
  { path: '/', on: 'locked', as: 'wrong', status: 401 },
  { path: '/', on: 'open', headers: unknownHost, status: 403 },
  ...clientFiles
    .filter((name) => !(`/${name}` in document.paths))
    .map((name) => ({ path: '/{file}', target: `/${name}`, on: 'locked', status: 200 })),
  {
    path: '/{file}', target: '/STYLE.CSS?dl=1', on: 'open', status: 200,
    check: (a) => assert.equal(header(a, 'Content-Disposition'), 'attachment'),
  },
  { path: '/{file}', target: '/no-such-file.js', on: 'open', status: 404 },
  {
    path: '/{file}', target: '/LIVE', on: 'locked', as: 'nobody', status: 301,
    check: (a, c) => assert.equal(header(a, 'Location'), `http://127.0.0.1:${c.locked.port + 2}`),
  },
  {
    path: '/openapi.json', on: 'open', status: 200,
    check: (a) => assert.deepEqual(JSON.parse(a.body), document, 'the program serves this document'),
  },
  { path: '/openapi.json', on: 'locked', as: 'nobody', status: 200 },
  // what runs, and the configuration
  { path: '/status', on: 'open', status: 200, check: (a) => assert.equal(JSON.parse(a.body).channels.length, 2) },
  { path: '/status', on: 'locked', as: 'bearer', status: 200 },
  { path: '/status', on: 'locked', as: 'nobody', status: 200 },
  { path: '/runtime', on: 'open', status: 200 },
  { path: '/config', on: 'locked', status: 200, check: (a) => assert.equal(JSON.parse(a.body).global.loginPass, '●●●●●●●●') },
  {
    path: '/config', target: '/config?dl=1', on: 'open', status: 200,
    check: (a) => assert.equal(header(a, 'Content-Disposition'), 'attachment; filename=morvi.json'),
  },
  { path: '/config', method: 'post', on: 'locked', body: (c) => c.stored.locked, status: 200 },
  { path: '/config', method: 'post', target: '/config?import', on: 'locked', body: (c) => c.stored.locked, status: 301 },
  { path: '/config', method: 'post', on: 'open', body: '{"global": ', status: 400 },
  {
    path: '/config', method: 'post', on: 'open', status: 400,
    body: (c) => ({ ...c.stored.open, global: { ...c.stored.open.global, viewersPerAddress: 0 } }),
    check: (a) => assert.match(a.body, /viewersPerAddress.*nothing was changed/),
  },
  {
    path: '/config', method: 'post', on: 'open', status: 409,
    prepare: async (c) => {
      c.holder = net.createServer().listen(0, '127.0.0.1');
      await once(c.holder, 'listening');
    },
    body: (c) => ({ ...c.stored.open, global: { ...c.stored.open.global, httpPort: c.holder.address().port } }),
    check: (a, c) => c.holder.close(),
  },
  { path: '/config', method: 'post', on: 'open', headers: crossSite, body: (c) => c.stored.open, status: 403 },
  { path: '/config', method: 'post', on: 'locked', as: 'wrong', body: (c) => c.stored.locked, status: 401 },
  {
    path: '/config', method: 'post', on: 'locked', as: 'wrong', from: '127.0.0.3', body: '{}', status: 429,
    prepare: (c) => exhaustGuesses(c, '127.0.0.3'),
  },
  // channels
  { path: '/channel{n}', target: '/channel1?stop', on: 'open', status: 200, check: (a) => assert.equal(a.body, '') },
  {
    path: '/channel{n}', target: '/channel1?preview', on: 'open', status: 200,
    check: (a, c) => assert.deepEqual(JSON.parse(a.body), { port: c.open.port + 1, url: `http://127.0.0.1:${c.open.port + 1}` }),
  },
  { path: '/channel{n}', target: '/channel1', on: 'open', status: 400 },
  {
    path: '/channel{n}', target: '/channel2?start', on: 'open', status: 400,
    check: (a) => assert.ok(a.body.length > 0, 'the refusal says why'),
  },
  { path: '/channel{n}', target: '/channel3?start', on: 'open', status: 404 },
  { path: '/channel{n}', target: '/channel1?start', on: 'open', headers: crossSite, status: 403 },
  { path: '/channel{n}', target: '/channel1?stop', on: 'locked', as: 'basic', status: 200 },
  {
    path: '/channel{n}', target: '/channel1?remove', on: 'open', status: 405,
    check: async (a, c) => assert.equal((await c.open.getConfig()).channels.length, 2, 'nothing was removed'),
  },
  { path: '/channel{n}', method: 'post', target: '/channel2?start', on: 'open', body: '', status: 400 },
  { path: '/channel{n}', method: 'post', target: '/channel9?remove', on: 'locked', body: '', status: 404 },
  // Removing: the locked program's third channel plays a clip; while it runs, no channel before
  // it may go (it would move), and once it is idle it goes itself.
  {
    path: '/channel{n}', method: 'post', target: '/channel2?remove', on: 'locked', body: '', status: 409,
    prepare: async (c) => {
      assert.equal((await c.locked.request('/channel3?start')).status, 200);
      await waitForChannelState(c.locked, 2, 'running');
    },
    check: async (a, c) => {
      assert.match(a.body, /^channel 2 was not removed: /);
      assert.equal((await c.locked.getConfig()).channels.length, 3, 'nothing was removed');
    },
  },
  // While the third channel plays: its picture, the same picture again, its last seconds.
  {
    path: '/thumbnails/{n}.jpg', target: '/thumbnails/3.jpg', on: 'locked', status: 200,
    prepare: (c) =>
      waitFor(async () => (await c.locked.request('/thumbnails/3.jpg')).status === 200, { timeoutMs: 15_000, what: 'a thumbnail' }),
    check: (a) => {
      assert.deepEqual([...a.bytes.subarray(0, 2)], [0xff, 0xd8], 'a JPEG');
      assert.deepEqual([...a.bytes.subarray(-2)], [0xff, 0xd9], 'a whole JPEG');
    },
  },
  { path: '/thumbnails/{n}.jpg', target: '/thumbnails/3.jpg', on: 'locked', headers: { 'If-None-Match': '*' }, status: 304 },
  {
    path: '/history/{n}', target: '/history/3', on: 'locked', status: 200,
    // The program may be younger than two seconds here: the running seconds come one a second.
    prepare: (c) =>
      waitFor(async () => JSON.parse((await c.locked.request('/history/3')).body).state.includes('running'), { what: 'a running second' }),
    check: (a) => {
      const history = JSON.parse(a.body);
      assert.ok(history.state.length > 0 && history.state.length <= 600);
      assert.deepEqual([history.fps.length, history.bitrate.length], [history.state.length, history.state.length]);
      assert.ok(history.state.includes('running'), 'the seconds it ran');
    },
  },
  { path: '/thumbnails/{n}.jpg', target: '/thumbnails/1.jpg', on: 'open', status: 404, check: (a) => assert.equal(a.body, 'the channel has no picture now') },
  { path: '/thumbnails/{n}.jpg', target: '/thumbnails/03.jpg', on: 'locked', status: 404 },
  { path: '/history/{n}', target: '/history/4', on: 'locked', status: 404, check: (a) => assert.equal(a.body, 'no such channel') },
  {
    path: '/channel{n}', method: 'post', target: '/channel3?remove', on: 'locked', body: '', status: 200,
    prepare: async (c) => {
      assert.equal((await c.locked.request('/channel3?stop')).status, 200);
      await waitForChannelState(c.locked, 2, 'idle');
    },
    check: async (a, c) => {
      const urls = (await c.locked.getConfig()).channels.map((channel) => channel.output.targets[0].url);
      assert.deepEqual(urls, ['udp://127.0.0.1:1234', 'http://127.0.0.1:9527/live'], 'the third channel, and only it, is gone');
    },
  },
  // the channel editor
  {
    path: '/rules', on: 'open', status: 200,
    check: (a, c) => (c.rules = JSON.parse(a.body)),
  },
  {
    path: '/channel_template', on: 'open', status: 200,
    check: (a) => assert.deepEqual(JSON.parse(a.body), exampleAt('/channel_template', 'get', 'responses', '200', 'content', 'application/json')),
  },
  {
    path: '/target_preset', target: '/target_preset?channel=2&entry=0', on: 'open', status: 200,
    check: (a) => assert.deepEqual(JSON.parse(a.body), exampleAt('/target_preset', 'get', 'responses', '200', 'content', 'application/json')),
  },
  // Every type /rules offers has an address, and none beyond.
  {
    path: '/target_preset', target: (c) => `/target_preset?channel=16&entry=${c.rules.targetFormats.length - 1}`, on: 'open', status: 200,
  },
  {
    path: '/target_preset', target: (c) => `/target_preset?channel=1&entry=${c.rules.targetFormats.length}`, on: 'open', status: 400,
    check: (a, c) => assert.match(a.body, new RegExp(`"entry=".* from 0 to ${c.rules.targetFormats.length - 1}$`)),
  },
  { path: '/target_preset', target: '/target_preset?channel=-1&entry=0', on: 'open', status: 400, check: (a) => assert.match(a.body, /"channel="/) },
  {
    path: '/served', target: '/served?channel=2', on: 'locked', status: 200,
    check: (a, c) => assert.deepEqual(JSON.parse(a.body), { url: `http://127.0.0.1:${c.locked.port + 2}` }),
  },
  { path: '/served', target: '/served?channel=1', on: 'open', status: 404, check: (a) => assert.match(a.body, /^channel 1 serves no output over HTTP/) },
  { path: '/served', target: '/served?channel=3', on: 'open', status: 404, check: (a) => assert.equal(a.body, 'there is no channel 3') },
  { path: '/served', target: '/served?channel=17', on: 'open', status: 400, check: (a) => assert.match(a.body, /"channel=" with a channel number from 1 to 16$/) },
  // the advanced panels: nothing is stored
  {
    path: '/advanced_format', method: 'post', target: '/advanced_format?load', on: 'open', status: 200,
    body: { channel: channelDocument({ targetFormat: 'hls', targetUrl: '/srv/hls/live.m3u8' }) },
    check: (a) => {
      const { fields } = JSON.parse(a.body);
      assert.deepEqual([fields.hls.enabled, fields.rtmp.enabled, fields.srt.side], [true, false, 'none']);
    },
  },
  {
    path: '/advanced_format', method: 'post', target: '/advanced_format?save', on: 'open', status: 200,
    body: exampleAt('/advanced_format', 'post', 'requestBody', 'content', 'application/json'),
    check: (a) => assert.deepEqual(JSON.parse(a.body), exampleAt('/advanced_format', 'post', 'responses', '200', 'content', 'application/json')),
  },
  {
    path: '/advanced_format', method: 'post', target: '/advanced_format?save', on: 'open', status: 400,
    body: { channel: channelDocument({ targetFormat: 'hls', targetUrl: '/srv/hls/live.m3u8' }), fields: { hls: { segmentLength: 0 } } },
    check: (a) => assert.equal(a.body, 'HLS segment length invalid!'),
  },
  {
    path: '/advanced_format', method: 'post', target: '/advanced_format?add_program', on: 'open', status: 200,
    body: { channel: channelDocument(), fields: { mpegtsOutput: { programs: [] } } },
    check: (a) => assert.deepEqual(JSON.parse(a.body).fields.mpegtsOutput.programs, [{ program: '1', name: 'Program01', source: '1' }]),
  },
  {
    path: '/advanced_format', method: 'post', target: '/advanced_format?add_source_stream', on: 'open', status: 200,
    body: { channel: channelDocument(), fields: { mpegtsInput: { sourceStreams: [{ program: '1', pid: '' }] } } },
    check: (a) => assert.deepEqual(JSON.parse(a.body).fields.mpegtsInput.sourceStreams.map((row) => row.program), ['1', '2']),
  },
  { path: '/advanced_format', method: 'post', target: '/advanced_format?load', on: 'open', body: '[{"channel": {}}]', status: 400 },
  {
    path: '/advanced_format', method: 'post', target: '/advanced_format?load', on: 'open', status: 400,
    body: { channel: channelDocument(), target: 1 }, check: (a) => assert.match(a.body, /^"target"/),
  },
  { path: '/advanced_format', method: 'post', target: '/advanced_format?load&save', on: 'open', body: { channel: {} }, status: 400 },
  { path: '/advanced_format', method: 'post', target: '/advanced_format?load', on: 'open', headers: crossSite, body: { channel: {} }, status: 403 },
  { path: '/advanced_format', target: '/advanced_format?load', on: 'open', status: 405 },
  { path: '/advanced_format', on: 'locked', as: 'nobody', status: 200 },
  {
    path: '/advanced_video', method: 'post', target: '/advanced_video?load', on: 'locked', status: 200, body: { channel: channelDocument() },
    check: (a) => {
      const { fields, choices } = JSON.parse(a.body);
      assert.equal(choices.presetNames.length, fields.encoder.presetMaximum - fields.encoder.presetMinimum + 1, 'a name for every preset position');
      assert.equal(choices.presetNames[fields.encoder.preset - fields.encoder.presetMinimum], 'ultrafast', 'the channel\'s preset');
    },
  },
  {
    path: '/advanced_video', method: 'post', target: '/advanced_video?SAVE', on: 'open', status: 200,
    body: exampleAt('/advanced_video', 'post', 'requestBody', 'content', 'application/json'),
    check: async (a, c) => {
      assert.deepEqual(JSON.parse(a.body), exampleAt('/advanced_video', 'post', 'responses', '200', 'content', 'application/json'));
      assert.deepEqual((await c.open.getConfig()).channels, c.stored.open.channels, 'nothing was stored');
    },
  },
  {
    path: '/advanced_video', method: 'post', target: '/advanced_video?save', on: 'open', status: 400,
    body: { channel: channelDocument(), fields: { overlay: { color: 'red' } } },
    check: (a) => assert.match(a.body, /^fields\.overlay\.color: /),
  },
  { path: '/advanced_video', on: 'open', status: 405 },
  { path: '/advanced_video', target: '/advanced_video?load', on: 'locked', as: 'nobody', status: 200 },
  // devices
  { path: '/decklink_config', on: 'open', status: 200 },
  { path: '/decklink_config', target: '/decklink_config?output=1', on: 'locked', status: 200 },
  { path: '/ndi_config', target: '/ndi_config?timeout=0', on: 'open', status: 200 },
  // monitoring
  { path: '/metrics', on: 'open', status: 200 },
  { path: '/metrics', on: 'locked', as: 'basic', status: 200 },
  { path: '/metrics', on: 'locked', as: 'nobody', status: 401, check: (a) => assert.equal(a.body, 'A password is needed.') },
  { path: '/metrics', on: 'locked', as: 'wrong', from: '127.0.0.4', status: 429, prepare: (c) => exhaustGuesses(c, '127.0.0.4') },
  { path: '/healthz', on: 'locked', as: 'nobody', status: 200 },
  { path: '/healthz', on: 'open', headers: unknownHost, status: 200 },
  // access
  {
    path: '/login', method: 'post', on: 'locked', as: 'nobody', headers: formHeaders,
    body: `auth=${encodeURIComponent(kPassword)}`, status: 301,
    check: (a) => assert.ok(header(a, 'Set-Cookie'), 'a session'),
  },
  { path: '/login', method: 'post', on: 'open', headers: formHeaders, body: 'auth=anything', status: 301 },
  { path: '/login', method: 'post', on: 'locked', as: 'nobody', headers: formHeaders, body: 'password=x', status: 400 },
  {
    path: '/login', method: 'post', on: 'locked', as: 'nobody', headers: formHeaders, body: 'auth=wrong', status: 403,
    check: (a) => assert.equal(header(a, 'Set-Cookie'), undefined, 'no cookie for a wrong password'),
  },
  {
    path: '/login', method: 'post', on: 'locked', as: 'nobody', from: '127.0.0.5', headers: formHeaders,
    body: `auth=${encodeURIComponent(kPassword)}`, status: 429, prepare: (c) => exhaustGuesses(c, '127.0.0.5'),
  },
  { path: '/logout', method: 'post', on: 'locked', as: 'nobody', body: '', status: 301 },
  { path: '/logout', method: 'post', on: 'locked', headers: crossSite, body: '', status: 403 },
  { path: '/setup', target: (c) => `/setup?token=${c.setupToken}`, on: 'open', status: 200 },
  { path: '/setup', target: '/setup?token=0123', on: 'open', status: 403 },
  { path: '/setup', on: 'locked', status: 404 },
  { path: '/setup', on: 'locked', as: 'nobody', status: 200, check: (a) => assert.match(a.body, /action="login"/) },
  { path: '/setup', on: 'locked', as: 'wrong', status: 401 },
  { path: '/setup', on: 'locked', as: 'wrong', from: '127.0.0.6', status: 429, prepare: (c) => exhaustGuesses(c, '127.0.0.6') },
  {
    path: '/setup', method: 'post', on: 'open', headers: formHeaders, status: 400,
    body: (c) => `token=${c.setupToken}&auth=one&confirm=two`,
  },
  { path: '/setup', method: 'post', on: 'open', headers: formHeaders, body: 'token=0123&auth=a&confirm=a', status: 403 },
  { path: '/setup', method: 'post', on: 'locked', headers: formHeaders, body: 'token=0123&auth=a&confirm=a', status: 404 },
  // Last on the open program: it has a password afterwards.
  {
    path: '/setup', method: 'post', on: 'open', headers: formHeaders, status: 301,
    body: (c) => `token=${c.setupToken}&auth=first&confirm=first`,
    check: (a) => assert.match(header(a, 'Set-Cookie'), /^vx_session=[0-9a-f]{64};/),
  },
  // the channel editor's checks
  { path: '/edit_check', on: 'locked', status: 405 },
  {
    path: '/edit_check', method: 'post', target: '/edit_check?apply', on: 'locked', status: 200,
    body: (c) => ({ channel: 2, edited: c.stored.locked.channels[1], target: 0 }),
    check: async (a, c) => assert.equal(JSON.parse(a.body).channels.length, (await c.locked.getConfig()).channels.length),
  },
  {
    path: '/edit_check', method: 'post', target: '/edit_check?apply', on: 'locked', status: 200,
    body: (c) => {
      const edited = structuredClone(c.stored.locked.channels[0]);
      edited.output.targets[0].url = '';
      return { channel: 1, edited, target: 0 };
    },
    check: (a) => assert.deepEqual(JSON.parse(a.body).refusal, { title: 'Settings Error', text: 'Target URL invalid!', control: 'target_url' }),
  },
  {
    path: '/edit_check', method: 'post', target: '/edit_check?cbr', on: 'locked', status: 200,
    body: (c) => ({ channel: 1, edited: c.stored.locked.channels[0], target: 0 }),
    check: (a) => assert.equal(a.body.trim(), '{}'),
  },
  { path: '/edit_check', method: 'post', target: '/edit_check?save', on: 'locked', body: '{}', status: 400 },
  // the edited row's source: nothing is stored
  { path: '/source_fields', on: 'locked', status: 405 },
  {
    path: '/source_fields', method: 'post', target: '/source_fields?show', on: 'locked', status: 200,
    body: { source: { format: 'file', url: 'rtsp://127.0.0.1/cam' } },
    check: (a) => assert.deepEqual(JSON.parse(a.body), { type: 'rtsp', address: '127.0.0.1/cam' }),
  },
  {
    path: '/source_fields', method: 'post', target: '/source_fields?store', on: 'locked', status: 200,
    body: exampleAt('/source_fields', 'post', 'requestBody', 'content', 'application/json'),
    check: (a) => assert.deepEqual(JSON.parse(a.body), exampleAt('/source_fields', 'post', 'responses', '200', 'content', 'application/json')),
  },
  {
    path: '/source_fields', method: 'post', target: '/source_fields?store', on: 'locked', status: 400,
    body: { type: 'udp', address: '@:5000' }, check: (a) => assert.match(a.body, /^"source"/),
  },
  // the standby list and switch-on boxes under it: nothing is stored
  { path: '/standby_fields', on: 'locked', status: 405 },
  {
    path: '/standby_fields', method: 'post', target: '/standby_fields?show', on: 'locked', status: 200,
    body: { input: { standby: [{ format: 'srt', url: 'srt://127.0.0.1:9000' }], switchOn: { frozen: 5 } } },
    check: (a) => assert.deepEqual(JSON.parse(a.body), {
      sources: [{ type: 'srt', address: '127.0.0.1:9000' }], switchOn: { black: '0', silence: '0', frozen: '5' },
    }),
  },
  {
    path: '/standby_fields', method: 'post', target: '/standby_fields?store', on: 'locked', status: 200,
    body: exampleAt('/standby_fields', 'post', 'requestBody', 'content', 'application/json'),
    check: (a) => assert.deepEqual(JSON.parse(a.body), exampleAt('/standby_fields', 'post', 'responses', '200', 'content', 'application/json')),
  },
  {
    path: '/standby_fields', method: 'post', target: '/standby_fields?store', on: 'locked', status: 200,
    body: { input: {}, sources: [], switchOn: { black: '3601', silence: '0', frozen: '0' } },
    check: (a) => assert.equal(JSON.parse(a.body).refusal.control, 'switch_on_black'),
  },
  {
    path: '/standby_fields', method: 'post', target: '/standby_fields?store', on: 'locked', status: 400,
    body: { input: {}, sources: [{ type: 'udp', address: '@:5000', from: 0 }] }, check: (a) => assert.match(a.body, /"from"/),
  },
];

// ----- the requests ------------------------------------------------------------------------

function credentials(as, context, on) {
  const program = context[on];
  switch (as ?? (on === 'locked' ? 'session' : 'nobody')) {
    case 'session':
      return { cookie: program.cookie };
    case 'basic':
      return { headers: { Authorization: `Basic ${Buffer.from(`anyone:${kPassword}`).toString('base64')}` } };
    case 'bearer':
      return { headers: { Authorization: `Bearer ${kPassword}` } };
    case 'wrong':
      return { headers: { Authorization: 'Bearer not the password' } };
    default:
      return {};
  }
}

const given = (value, context) => (typeof value === 'function' ? value(context) : value);

async function send(row, context) {
  const method = row.method ?? 'get';
  const target = given(row.target, context) ?? row.path;
  const auth = credentials(row.as, context, row.on);
  let body = given(row.body, context);
  if (body !== undefined && typeof body !== 'string') body = JSON.stringify(body);
  return request(context[row.on].port, target, {
    method: method.toUpperCase(),
    body,
    cookie: auth.cookie,
    headers: { ...auth.headers, ...row.headers },
    localAddress: row.from,
  });
}

// The answer as the document describes it for the row's operation; returns the response's
// shared name when it is one of the components.
function checkAgainstDocument(row, answer) {
  const method = row.method ?? 'get';
  const { response, keys, shared } = describedResponse(['paths', row.path, method], String(answer.status));
  assert.ok(response, `${method.toUpperCase()} ${row.path}: status ${answer.status} is not described`);
  for (const [name, written] of Object.entries(response.headers ?? {})) {
    // A header shared among answers is written once under components and named by its $ref.
    const headerKeys = written.$ref ? written.$ref.slice(2).split('/') : [...keys, 'headers', name];
    const described = headerKeys.reduce((node, key) => node?.[key], document);
    const value = header(answer, name);
    if (value === undefined) {
      assert.ok(!described.required, `the header ${name} is missing`);
      continue;
    }
    const problem = validate([...headerKeys, 'schema'], value);
    assert.equal(problem, '', `the header ${name}: ${value}`);
  }
  if (!response.content) {
    assert.equal(answer.body, '', 'a body where the document describes none');
    return shared;
  }
  if (answer.body === '' && response['x-may-be-empty']) return shared;
  const type = header(answer, 'Content-Type');
  assert.ok(type && response.content[type], `Content-Type ${type} is not described for ${answer.status}`);
  const value = type.startsWith('application/json') ? JSON.parse(answer.body) : answer.body;
  const problem = validate([...keys, 'content', type, 'schema'], value);
  assert.equal(problem, '', `the body does not match the document: ${answer.body.slice(0, 300)}`);
  return shared;
}

// ----- the tests ---------------------------------------------------------------------------

describe('the API document', () => {
  test('describes every path the router routes, and no other', () => {
    const routed = new Set(
      [...routerSource.matchAll(/(?:iequals|istarts_with)\((?:request\.)?path, "(\/[^"]*)"\)|path == "(\/[^"]*)"/g)].map(
        (match) => match[1] ?? match[2],
      ),
    );
    assert.ok(routed.has('/status') && routed.has('/channel'), 'the router source reads as expected');
    const described = new Set(
      Object.keys(document.paths)
        .filter((name) => name !== '/{file}' && !clientFiles.includes(name.slice(1)))
        .map((name) => name.replace(/\{[^}]*\}(?:\.[a-z]+)?$/, '')),
    );
    assert.deepEqual([...described].sort(), [...routed].sort());
  });

  test('its examples match their own schemas, and every $ref resolves', () => {
    let examples = 0;
    const visit = (node, keys) => {
      if (node === null || typeof node !== 'object') return;
      if (typeof node.$ref === 'string') {
        assert.ok(node.$ref.startsWith('#/'), `${keys.join('/')}: ${node.$ref}`);
        assert.ok(node.$ref.slice(2).split('/').reduce((n, k) => n?.[k], document), `${node.$ref} does not resolve`);
      }
      const type = keys.at(-1);
      if ('example' in node && 'schema' in node && !/form-urlencoded/.test(type)) {
        examples += 1;
        assert.equal(validate([...keys, 'schema'], node.example), '', `the example at ${keys.join('/')}`);
      }
      for (const [key, child] of Object.entries(node)) visit(child, [...keys, key]);
    };
    visit(document, []);
    assert.ok(examples >= 10, `only ${examples} examples were checked`);
  });

  test('the table calls every operation the document describes, and only those', () => {
    const called = new Set(rows.map((row) => `${row.method ?? 'get'} ${row.path}`));
    assert.deepEqual([...called].sort(), [...operations].sort());
  });
});

describe('the running server answers as the document says', () => {
  const context = {};
  const seen = new Set();
  before(async () => {
    const served = channelDocument({ targetFormat: 'http', targetUrl: 'http://127.0.0.1:9527/live' });
    // The second channel cannot start: its source is a folder without a file to play.
    context.emptyFolder = mkdtempSync(path.join(os.tmpdir(), 'vx-openapi-'));
    const unplayable = channelDocument({ sourceUrl: context.emptyFolder });
    context.clip = makeClip();
    const playing = channelDocument({ sourceUrl: context.clip.file, targetUrl: 'udp://127.0.0.1:9' });
    context.open = await startProgram({ config: { global: {}, channels: [channelDocument(), unplayable] } });
    context.locked = await startProgram({ config: { global: {}, channels: [channelDocument(), served, playing] }, password: kPassword });
    context.stored = { open: await context.open.getConfig(), locked: await context.locked.getConfig() };
    const printed = context.open.output();
    context.setupToken = /\/setup\?token=([0-9a-f]{32})/.exec(printed.stdout + printed.stderr)?.[1];
    assert.ok(context.setupToken, 'the program printed its setup address');
  });
  after(async () => {
    context.holder?.close();
    await context.open?.stop();
    await context.locked?.stop();
    if (context.emptyFolder) rmSync(context.emptyFolder, { recursive: true, force: true });
    context.clip?.remove();
  });

  for (const row of rows) {
    const method = (row.method ?? 'get').toUpperCase();
    const target = typeof row.target === 'function' ? row.path : row.target ?? row.path;
    const who = row.as ?? (row.on === 'locked' ? 'session' : 'nobody');
    test(`${method} ${target} on the ${row.on} program as ${who}${row.headers?.Host ? ' by another name' : ''}${row.headers?.['Sec-Fetch-Site'] ? ' from another site' : ''} -> ${row.status}`, async () => {
      await row.prepare?.(context);
      const answer = await send(row, context);
      assert.equal(answer.status, row.status, `${answer.status}: ${answer.body.slice(0, 300)}`);
      const shared = checkAgainstDocument(row, answer);
      seen.add(shared ?? `${row.method ?? 'get'} ${row.path} ${row.status}`);
      await row.check?.(answer, context);
    });
  }

  test('every described status was seen, but those that cannot be reached here', () => {
    const missing = [];
    for (const operation of operations) {
      const [method, name] = operation.split(' ');
      for (const status of Object.keys(document.paths[name][method].responses)) {
        const { shared } = describedResponse(['paths', name, method], status);
        const key = shared ?? `${operation} ${status}`;
        if (!seen.has(key) && !notReachedHere.has(`${operation} ${status}`)) missing.push(`${operation} ${status}`);
      }
    }
    assert.deepEqual(missing, []);
  });
});
