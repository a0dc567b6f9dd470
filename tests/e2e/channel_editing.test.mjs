// Editing channels in the page: the source URL as stored, binding one channel to another, the
// multi-bit-rate target tabs, and the refusals of the editor (CBR without a bit rate, the
// MainConcept codec without its plug-in). Each case checks the document the page posted and the
// one the server keeps, not only the fields.
import assert from 'node:assert/strict';
import { after, before, beforeEach, describe, test } from 'node:test';

import { launchBrowser, openPage, sleep, startProgram, watchDialogs, watchPageErrors } from './harness.mjs';
import { applyEdit, channelDocument, editRow, openClient, row, selectRow, waitForClientReady } from './client_page.mjs';

const threeChannels = () => [
  channelDocument({ sourceUrl: '/media/one.mp4', targetUrl: 'udp://127.0.0.1:5001', memo: 'first' }),
  channelDocument({ sourceUrl: '/media/two.mp4', targetUrl: 'udp://127.0.0.1:5002', memo: 'second' }),
  channelDocument({ sourceUrl: '/media/three.mp4', targetUrl: 'udp://127.0.0.1:5003', memo: 'third' }),
];

describe('channel editor', () => {
  let program;
  let browser;
  let context;
  let page;
  let dialogs;
  let errors;

  before(async () => {
    program = await startProgram({ config: { global: {}, channels: threeChannels() } });
    browser = await launchBrowser();
  });
  after(async () => {
    await context?.close();
    await browser?.close();
    await program?.stop();
  });
  // Every case starts from the same three stored channels and a fresh context.
  beforeEach(async () => {
    await context?.close();
    await program.postConfig({ global: { httpPort: program.port }, channels: threeChannels() });
    ({ context, page } = await openClient(browser, program));
    dialogs = watchDialogs(page);
    errors = watchPageErrors(page);
  });
  test('a source typed without a scheme is stored with the format in front', async () => {
    await editRow(page, 1);
    assert.equal(await page.inputValue('#edit-source-format'), 'file');
    assert.equal(await page.inputValue('#edit-source-url'), '/media/one.mp4');

    await page.selectOption('#edit-source-format', 'udp');
    assert.equal(await page.inputValue('#edit-source-url'), '0.0.0.0:1234', 'udp presets the listening address');
    await page.fill('#edit-source-url', '239.1.1.1:5000');
    const posted = await applyEdit(page);
    // Stored as the window stores it: the streaming schemes play as "file" sources.
    assert.deepEqual(
      { format: posted.channels[0].input.sources[0].format, url: posted.channels[0].input.sources[0].url },
      { format: 'file', url: 'udp://239.1.1.1:5000' },
    );
    const stored = (await program.getConfig()).channels[0].input.sources[0];
    assert.equal(stored.format, 'file');
    assert.equal(stored.url, 'udp://239.1.1.1:5000');
    assert.equal((await row(page, 1).locator('td.source').textContent()).trim(), 'udp://239.1.1.1:5000');

    // Shown again for editing, the scheme goes back into the format choice; a URL that already
    // has one is not given a second.
    await editRow(page, 1);
    assert.equal(await page.inputValue('#edit-source-format'), 'udp');
    assert.equal(await page.inputValue('#edit-source-url'), '239.1.1.1:5000');
    await page.selectOption('#edit-source-format', 'rtmp');
    await page.fill('#edit-source-url', 'rtmp://127.0.0.1/live/in');
    await applyEdit(page);
    assert.equal((await program.getConfig()).channels[0].input.sources[0].url, 'rtmp://127.0.0.1/live/in');
    assert.deepEqual(dialogs.messages(), []);
    assert.deepEqual(errors, []);
  });

  // The server checks the edit as the window's Apply does, and the page shows the window's words.
  test('an empty source or target URL is refused and nothing is posted', async () => {
    let posts = 0;
    page.on('request', (request) => {
      if (request.method() === 'POST' && new URL(request.url()).pathname === '/config') posts += 1;
    });
    await editRow(page, 2);
    await page.fill('#edit-source-url', '  ');
    await page.click('#btn-apply');
    await dialogs.waitFor('Error: Channel source address invalid!');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'edit-source-url');
    await page.fill('#edit-source-url', '/media/two.mp4');
    await page.fill('#target-url', '');
    await page.click('#btn-apply');
    await dialogs.waitFor('Target URL invalid!');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'target-url');
    assert.equal(posts, 0);
    assert.equal(await page.isEnabled('#btn-apply'), true, 'the editor stays open');
    assert.deepEqual((await program.getConfig()).channels[1].output.targets[0].url, 'udp://127.0.0.1:5002');
  });

  test('binding channel 3 to 1 and then to 2 moves the bind item', async () => {
    await editRow(page, 3);
    await page.fill('#edit-bind', '3');
    await page.click('#btn-apply');
    await dialogs.waitFor('Error: Bind channel invalid!');
    await page.fill('#edit-bind', '17');
    await page.click('#btn-apply');
    assert.equal((await dialogs.waitFor('Error: Bind channel invalid!', { since: 1 })).type, 'alert');
    assert.equal(dialogs.seen.length, 2);

    await page.fill('#edit-bind', '1');
    let posted = await applyEdit(page);
    assert.equal(posted.channels[2].bind, 1);
    let stored = await program.getConfig();
    assert.equal(stored.channels[2].bind, 1);
    assert.deepEqual(stored.channels[0].input.sources.slice(1), [{ bind: 3 }], 'channel 1 takes {"bind": 3}');
    assert.equal(stored.channels[0].input.sources[0].url, '/media/one.mp4');
    assert.equal(stored.channels[1].input.sources.length, 1);
    assert.equal((await row(page, 3).locator('td.bind').textContent()).trim(), '1');

    await editRow(page, 3);
    assert.equal(await page.inputValue('#edit-bind'), '1');
    await page.fill('#edit-bind', '2');
    posted = await applyEdit(page);
    assert.equal(posted.channels[2].bind, 2);
    stored = await program.getConfig();
    assert.equal(stored.channels[2].bind, 2);
    assert.deepEqual(stored.channels[0].input.sources.map((source) => source.bind), [undefined], 'gone from 1');
    assert.deepEqual(stored.channels[1].input.sources.slice(1), [{ bind: 3 }], 'moved to 2');
    assert.equal((await row(page, 3).locator('td.bind').textContent()).trim(), '2');

    // An empty bind field unbinds: the key and the item go.
    await editRow(page, 3);
    await page.fill('#edit-bind', '');
    await applyEdit(page);
    stored = await program.getConfig();
    assert.equal('bind' in stored.channels[2], false);
    assert.equal(stored.channels[1].input.sources.length, 1);
    assert.deepEqual(errors, []);
  });

  test('"+" adds targets up to five, a sixth is refused, and duplicated stream names are refused', async () => {
    await editRow(page, 1);
    assert.equal(await page.isVisible('#mbr-tabs'), true, 'udp targets have the tab bar');
    assert.deepEqual(await page.locator('#mbr-tabs .mbr-tab').allTextContents(), ['1: 127.0.0.1:5001']);
    for (let count = 2; count <= 5; count++) {
      await page.click('#mbr-add');
      assert.equal(await page.locator('#mbr-tabs .mbr-tab').count(), count);
      assert.equal(
        await page.locator(`#mbr-tabs .mbr-tab[data-index="${count - 1}"]`).getAttribute('class'),
        'mbr-tab active',
        'the new target is selected',
      );
    }
    assert.equal(await page.inputValue('#target-url'), 'udp://127.0.0.1:5001', 'a copy of the last target');
    await page.click('#mbr-add');
    const refusal = await dialogs.waitFor(/target/i);
    assert.equal(refusal.type, 'alert');
    assert.equal(await page.locator('#mbr-tabs .mbr-tab').count(), 5, 'still five');

    // Five copies of one URL: the shown copy's stream name is another's, and nothing is posted.
    await page.click('#btn-apply');
    const duplicated = await dialogs.waitFor('Duplicated stream names found.');
    assert.equal(duplicated.type, 'alert');
    assert.equal(duplicated.message,
      'Duplicated stream names found.\nPlease modify target url to make stream name unique for each multi bitrate channel.');
    await sleep(300);
    assert.equal((await program.getConfig()).channels[0].output.targets.length, 1);

    // Each tab gets its own port and bit rate; switching tabs keeps what was typed.
    for (let index = 0; index < 5; index++) {
      await page.click(`#mbr-tabs .mbr-tab[data-index="${index}"]`);
      await page.fill('#target-url', `udp://127.0.0.1:${6000 + index}`);
      await page.selectOption('#video-bitrate-choice', ['500', '800', '1200', '2000', '4000'][index]);
    }
    await page.click('#mbr-tabs .mbr-tab[data-index="0"]');
    assert.deepEqual(await page.locator('#mbr-tabs .mbr-tab').allTextContents(),
      [6000, 6001, 6002, 6003, 6004].map((p, i) => `${i + 1}: 127.0.0.1:${p}`), 'tabs are numbered, with the URL after its last "/"');
    const posted = await applyEdit(page);
    assert.equal(posted.channels[0].output.targets.length, 5);
    const targets = (await program.getConfig()).channels[0].output.targets;
    assert.deepEqual(targets.map((target) => target.url), [6000, 6001, 6002, 6003, 6004].map((p) => `udp://127.0.0.1:${p}`));
    assert.deepEqual(targets.map((target) => target.video.bitRate), [500, 800, 1200, 2000, 4000]);

    // "-" takes out the active target and selects the first.
    await editRow(page, 1);
    await page.click('#mbr-tabs .mbr-tab[data-index="2"]');
    await page.click('#mbr-remove');
    assert.equal(await page.locator('#mbr-tabs .mbr-tab').count(), 4);
    assert.equal(await page.inputValue('#target-url'), 'udp://127.0.0.1:6000');
    await applyEdit(page);
    assert.deepEqual((await program.getConfig()).channels[0].output.targets.map((target) => target.url),
      [6000, 6001, 6003, 6004].map((p) => `udp://127.0.0.1:${p}`));

    // A format that allows one target keeps only the first.
    await editRow(page, 1);
    // The server answers the new format's address a moment later.
    await Promise.all([
      page.waitForResponse((response) => new URL(response.url()).pathname === '/target_preset'),
      page.selectOption('#target-format', { label: 'RTSP' }),
    ]);
    assert.equal(await page.isVisible('#mbr-tabs'), false);
    await page.waitForFunction(() => document.getElementById('target-url').value !== '');
    assert.equal(await page.inputValue('#target-url'), 'rtsp://127.0.0.1:8554/morv_ch1');
    await applyEdit(page);
    const rtsp = (await program.getConfig()).channels[0].output.targets;
    assert.deepEqual(rtsp.map((target) => [target.format, target.url]), [['rtsp', 'rtsp://127.0.0.1:8554/morv_ch1']]);
    assert.deepEqual(errors, []);
  });

  test('CBR cannot be ticked while the video bit rate is zero', async () => {
    await editRow(page, 2);
    assert.equal(await page.inputValue('#video-bitrate'), '0');
    await page.click('#cbr');
    const refusal = await dialogs.waitFor('Cannot enable CBR with ZERO video bitrate!');
    assert.equal(refusal.type, 'alert');
    assert.equal(await page.isChecked('#cbr'), false);

    await page.selectOption('#video-bitrate-choice', '2000');
    assert.equal(await page.inputValue('#video-bitrate'), '2000');
    await page.click('#cbr');
    assert.equal(await page.isChecked('#cbr'), true);
    assert.equal(dialogs.seen.length, 1, 'no second refusal');
    await page.fill('#mux-bitrate', '2600');
    await applyEdit(page);
    const target = (await program.getConfig()).channels[1].output.targets[0];
    assert.deepEqual(target.mux, { bitRate: 2600, cbr: true });
    assert.equal(target.video.bitRate, 2000);
  });

  test('a MainConcept codec needs the plug-in path of the global settings', async () => {
    await editRow(page, 1);
    await page.selectOption('#video-codec', 'omx264');
    const refusal = await dialogs.waitFor('Please make sure to install MainConcept FFmpeg Plugin');
    assert.equal(refusal.message,
      'Please make sure to install MainConcept FFmpeg Plugin and\nconfigure plugin core file path in Global Settings to use MainConcept encoder.');
    assert.equal(await page.inputValue('#video-codec'), 'h264', 'the codec is unchanged');
    await page.selectOption('#video-codec', 'omx265');
    await dialogs.waitFor('MainConcept', { since: 1 });
    assert.equal(await page.inputValue('#video-codec'), 'h264');
    await applyEdit(page);
    assert.equal((await program.getConfig()).channels[0].output.targets[0].video.codec, 'h264');

    // With a plug-in path the plug-in is no reason any more: the server's ffmpeg decides, as in
    // the window. One that lacks the encoder (Debian's has no MainConcept) is named; one that has
    // it, or cannot be asked, lets the choice be taken.
    await context.close();
    const document = await program.getConfig();
    document.global.omxPath = '/opt/mainconcept/omx_core.so';
    await program.postConfig(document);
    ({ context, page } = await openClient(browser, program));
    dialogs = watchDialogs(page);
    await editRow(page, 1);
    const [checked] = await Promise.all([
      page.waitForResponse((response) => new URL(response.url()).pathname === '/edit_check'),
      page.selectOption('#video-codec', 'omx264'),
    ]);
    const answer = await checked.json();
    if (answer.refusal) {
      const shown = await dialogs.waitFor('The ffmpeg on this system has no encoder');
      assert.equal(shown.message, 'The ffmpeg on this system has no encoder "omx_enc_avc" for H.264 (MainConcept).\nPlease choose another encoding.');
      assert.equal(await page.inputValue('#video-codec'), 'h264');
      return;
    }
    assert.equal(await page.inputValue('#video-codec'), 'omx264');
    await applyEdit(page);
    assert.equal((await program.getConfig()).channels[0].output.targets[0].video.codec, 'omx264');
    assert.deepEqual(dialogs.messages(), []);
  });
  test('New then Cancel leaves no row behind', async () => {
    // Asking what the row and its standby list show (/source_fields, /standby_fields) stores
    // nothing; no other post may be made.
    let posts = 0;
    page.on('request', (request) => {
      const path = new URL(request.url()).pathname;
      if (request.method() === 'POST' && path !== '/source_fields' && path !== '/standby_fields') posts += 1;
    });
    await selectRow(page, 1);
    await page.click('#btn-new');
    // The page asks the server for the new channel first.
    await page.waitForSelector('#edit-source-url');
    assert.equal((await row(page, 4).locator('td.num').textContent()).trim(), '4');
    assert.equal(await page.inputValue('#edit-source-url'), '');
    await page.fill('#edit-source-url', '/media/never.mp4');
    await page.click('#btn-cancel');
    assert.equal((await row(page, 4).locator('td.num').textContent()).trim(), '', 'the number is cleared');
    assert.equal(await page.locator('#edit-source-url').count(), 0);
    assert.match(await row(page, 3).getAttribute('class'), /\bselected\b/, 'the last stored channel is selected');
    assert.equal(await page.textContent('#editor-title'), 'Channel 3');
    assert.equal(posts, 0);
    assert.equal((await program.getConfig()).channels.length, 3);
  });

  // The window starts a new channel from the same template and writes no panel that was not
  // shown, so both stream alike: the page's Apply must not change what the template holds either.
  test('a new channel applied without the advanced panels is the server\'s template', async () => {
    const template = await program.getJson('/channel_template');
    await selectRow(page, 1);
    await page.click('#btn-new');
    await page.fill('#edit-source-url', '/media/new.mp4');
    await applyEdit(page);
    const stored = (await program.getConfig()).channels[3];
    assert.deepEqual(stored.output.formatOptions, template.output.formatOptions);
    assert.deepEqual(stored.output.targets[0].video.options, template.output.targets[0].video.options);
    assert.ok(template.output.targets[0].video.options.includes('-pix_fmt:v yuv420p'));
    assert.equal(stored.output.targets[0].url, 'udp://127.0.0.1:1234');
    assert.deepEqual(dialogs.messages(), []);
  });

  test('markup and odd values typed or stored are kept as text and break nothing', async () => {
    const memo = `<img src=x onerror="window.injected=1"> & 'quoted' "memo"`;
    await editRow(page, 1);
    await page.fill('#edit-memo', memo);
    await page.fill('#edit-bind', 'abc');
    await page.fill('#edit-source-url', '/media/a <b>b</b>.mp4');
    await applyEdit(page);
    const stored = (await program.getConfig()).channels[0];
    assert.equal(stored.memo, memo);
    assert.equal('bind' in stored, false, 'a bind that is not a number is none');
    assert.equal(stored.input.sources[0].url, '/media/a <b>b</b>.mp4');
    assert.equal(await row(page, 1).locator('td.memo').textContent(), memo);
    assert.equal(await row(page, 1).locator('td.memo img').count(), 0);
    assert.equal(await page.evaluate(() => window.injected), undefined);

    // A document with missing and mistyped parts, as an older or hand-edited file may hold: the
    // page shows it, and editing each channel and opening the pop-ups raises no script error.
    const odd = {
      global: { httpPort: program.port, loginPass: 7, omxPath: 3 },
      channels: [
        { memo, input: { sources: [{}] }, output: { targets: [] } },
        { input: { sources: 'x', filters: 'y', map: 3 }, output: { targets: [{ format: 'zz', video: 5, audio: 'a', url: 9 }], formatOptions: 'q' }, memo: 5, bind: 'z' },
        {},
        {
          input: { sources: [{ format: 'srt', url: 'srt://[::1]:9000?mode=caller', video: { options: 'bad' } }] },
          output: { targets: [{ format: 'hls', url: '/x/y.m3u8', video: { options: [1, null, '-profile:v'] } }], formatOptions: [null, 5, '-program program_num=abc'] },
        },
      ],
    };
    const { context: oddContext, page: oddPage } = await openPage(browser, program);
    try {
      const oddErrors = watchPageErrors(oddPage);
      oddContext.setDefaultTimeout(5_000);
      await oddPage.route((url) => url.pathname === '/config', (route) =>
        route.request().method() === 'GET'
          ? route.fulfill({ contentType: 'application/json', body: JSON.stringify(odd) })
          : route.abort());
      await oddPage.goto('/');
      await waitForClientReady(oddPage);
      assert.equal(await row(oddPage, 1).locator('td.memo').textContent(), memo);
      assert.equal((await row(oddPage, 4).locator('td.source').textContent()).trim(), 'srt://[::1]:9000?mode=caller');
      for (const n of [1, 2, 3, 4]) {
        await editRow(oddPage, n);
        await oddPage.click('#btn-format-advanced');
        for (const tab of ['ts-input', 'ts-output', 'rtmp', 'hls', 'srt', 'custom']) {
          await oddPage.evaluate((id) => document.getElementById(id).click(), `adv-tab-${tab}`);
        }
        await oddPage.click('#adv-format-ok');
        await oddPage.click('#btn-video-advanced');
        await oddPage.keyboard.press('Escape');
        await oddPage.keyboard.press('Escape');
        assert.equal(await oddPage.isDisabled('#btn-apply'), true, `channel ${n}: the edit is cancelled`);
      }
      assert.equal(await oddPage.evaluate(() => window.injected), undefined);
      assert.deepEqual(oddErrors, []);
    } finally {
      await oddContext.close();
    }
    assert.deepEqual(errors, []);
  });
});
