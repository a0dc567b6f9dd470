// Rules of the administration page (web/client/rules.js, helpers.js) that the browser tests do
// not reach: where a moved administration page answers, the one integer reading, and the
// sparklines' points and tinted stretches. The edited
// row's source, target presets, sizes, served addresses, removal and DeckLink modes are the
// server's (tests/web/page_answers_test.cpp, tests/settings/source_address_test.cpp).
//
// Run: node --test tests/e2e/page_rules.test.mjs
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { toInt } from '../../web/client/helpers.js';
import { movedAdminAddress, sparkline, stateSpans } from '../../web/client/rules.js';

test('integers', () => {
  for (const [value, want] of [[' 12abc', 12], ['0x10', 0], ['-3', -3], [2.9, 2], [-2.9, -2],
    [true, 1], [Infinity, 0], ['', 0], [null, 0], [[5], 0]]) {
    assert.equal(toInt(value), want, String(value));
  }
});

test('a moved administration page is reached where the server listens', () => {
  assert.equal(movedAdminAddress({}, { httpPort: 9527, sslEnable: false }, 'box'), '');
  assert.equal(movedAdminAddress({ httpPort: 9600 }, { httpPort: 9600, sslEnable: true }, 'box'), 'https://box:9600/');
});

test('sparklines: the newest sample at the right edge, gaps where there is no figure, the top at the largest', () => {
  // [values, slots, width, height, {top, lines}]; a width of 8 over 5 slots puts a sample every 2.
  for (const [values, slots, width, height, want] of [
    [[null, 2, 4, null, 4], 5, 8, 10, { top: 4, lines: ['2,5 4,0', '7,0 8,0'] }],
    [[3, 3], 5, 8, 10, { top: 3, lines: ['6,0 8,0'] }],
    [[0, 0], 3, 4, 10, { top: 0, lines: ['2,10 4,10'] }],
    [[9, 1, 2], 2, 4, 10, { top: 2, lines: ['0,5 4,0'] }],
    [[5, null], 2, 4, 10, { top: 5, lines: ['0,0 1,0'] }],
    [[1, 3], 4, 10, 10, { top: 3, lines: ['6.7,6.7 10,0'] }],
    [[null, -1, 'x', Infinity], 4, 8, 10, { top: 0, lines: [] }],
    ['not a list', 4, 8, 10, { top: 0, lines: [] }],
  ]) {
    assert.deepEqual(sparkline(values, slots, width, height), want, JSON.stringify(values));
  }
});

test('sparklines: the seconds without a signal as stretches', () => {
  const states = ['running', 'no_signal', 'no_signal', 'running', 'no_signal'];
  assert.deepEqual(stateSpans(states, 'no_signal', 5, 8), [{ x: 1, width: 4 }, { x: 7, width: 1 }]);
  assert.deepEqual(stateSpans(['no_signal', 'running'], 'no_signal', 5, 8), [{ x: 5, width: 2 }]);
  assert.deepEqual(stateSpans(states.slice(3), 'idle', 5, 8), []);
});
