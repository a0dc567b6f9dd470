// Rules of the administration page (web/client/rules.js, helpers.js) that the browser tests do
// not reach: where a moved administration page answers and the one integer reading. The edited
// row's source, target presets, sizes, served addresses, removal and DeckLink modes are the
// server's (tests/web/page_answers_test.cpp, tests/settings/source_address_test.cpp).
//
// Run: node --test tests/e2e/page_rules.test.mjs
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { toInt } from '../../web/client/helpers.js';
import { movedAdminAddress } from '../../web/client/rules.js';

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
