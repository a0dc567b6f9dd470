// Another page the operator happens to visit, on another port of the same host (same site, another
// origin) or under another name, tries what browsers let any page do without asking: a form posted
// as text/plain with a whole configuration in it, an <img> that starts a channel, and a no-cors
// fetch. The browser sends them with its cookies and its origin signals; none of them may change
// anything. The same requests from the administration's own page do.
import assert from 'node:assert/strict';
import { once } from 'node:events';
import { readFileSync } from 'node:fs';
import http from 'node:http';
import { after, before, describe, test } from 'node:test';

import { launchBrowser, openPage, screenshot, sleep, startProgram, waitForChannelState } from './harness.mjs';
import { channelDocument, makeClip } from './client_page.mjs';

// A page that fires its three requests at `target` as soon as it loads and says so in its title.
function attackPage(target, port) {
  const document = JSON.stringify({ global: { httpPort: port, ipACL: 'allow all' }, channels: [] });
  // text/plain forms send "name=value": the name carries the JSON up to a string the value closes.
  const name = document.slice(0, -2) + ', "x": "';
  const value = '"}';
  return `<!DOCTYPE html><html><head><title>loading</title></head><body>
<form id="f" method="post" action="${target}/config" enctype="text/plain" target="sink">
<input name='${name}' value='${value}'></form>
<iframe name="sink"></iframe>
<img id="start" src="${target}/channel1?start">
<script>
fetch('${target}/config', { method: 'POST', mode: 'no-cors', credentials: 'include', body: '${document}' })
  .catch(() => {}).finally(() => {
    document.getElementById('f').submit();
    setTimeout(() => { document.title = 'fired'; }, 1500);
  });
</script></body></html>`;
}

async function serve(html) {
  const server = http.createServer((request, response) => {
    response.writeHead(200, { 'Content-Type': 'text/html' });
    response.end(html);
  });
  server.listen(0, '127.0.0.1');
  await once(server, 'listening');
  return server;
}

for (const password of [undefined, 'cr0ss-site']) {
  describe(password ? 'with a password, logged in' : 'without a password', () => {
    let program;
    let browser;
    let clip;
    before(async () => {
      clip = makeClip();
      program = await startProgram({
        config: { global: { autoRestart: 0 }, channels: [channelDocument({ sourceUrl: clip.file, memo: 'target' })] },
        password,
      });
      browser = await launchBrowser();
    });
    after(async () => {
      await browser?.close();
      await program?.stop();
      clip?.remove();
    });

    for (const [what, host] of [['another port', '127.0.0.1'], ['another name', 'localhost']]) {
      test(`a page on ${what} changes nothing`, async () => {
        const server = await serve(attackPage(program.baseUrl, program.port));
        const evil = `http://${host}:${server.address().port}/`;
        // The operator's browser holds a live session of the administration meanwhile.
        const { context, page } = await openPage(browser, program);
        try {
          const before = readFileSync(program.configPath, 'utf8');
          const refused = [];
          page.on('response', (answer) => {
            if (answer.url().startsWith(program.baseUrl)) refused.push(answer.status());
          });
          await page.goto(evil);
          await page.waitForFunction(() => document.title === 'fired', null, { timeout: 15_000 });
          await sleep(500);
          await screenshot(page, `cross-site-${password ? 'password' : 'open'}-${host}`);
          assert.equal(readFileSync(program.configPath, 'utf8'), before, 'the configuration is untouched');
          assert.deepEqual((await program.getConfig()).channels.map((channel) => channel.memo), ['target']);
          const status = await program.status();
          assert.equal(status.channels[0].state, 'idle', 'the <img> started nothing');
          assert.ok(refused.length >= 2, `the browser sent them: ${refused}`);
          assert.ok(refused.every((status) => status === 403), `each one refused: ${refused}`);
        } finally {
          await context.close();
          server.close();
        }
      });
    }

    test('the same requests from the page itself do change things', async () => {
      const { context, page } = await openPage(browser, program);
      try {
        await page.goto('/');
        const started = await page.evaluate(async () => (await fetch('/channel1?start')).status);
        assert.equal(started, 200);
        await waitForChannelState(program, 0, 'running');
        assert.equal(await page.evaluate(async () => (await fetch('/channel1?stop')).status), 200);
        await waitForChannelState(program, 0, 'idle');
        const document = await program.getConfig();
        document.channels[0].memo = 'changed';
        const posted = await page.evaluate(
          async (body) => (await fetch('/config', { method: 'POST', body })).status,
          JSON.stringify(document),
        );
        assert.equal(posted, 200);
        assert.equal((await program.getConfig()).channels[0].memo, 'changed');
      } finally {
        await context.close();
      }
    });
  });
}
