// The advanced format and video pop-ups used from the page: the server translates the channel into
// their fields and back, and the option strings it writes reach the posted document and the
// server's copy (MPEG-TS output programs, HLS numbering, the SRT caller address, encoder profile,
// text overlay, QSV decoding).
import assert from 'node:assert/strict';
import { after, afterEach, before, beforeEach, describe, test } from 'node:test';

import { launchBrowser, startProgram, watchDialogs, watchPageErrors } from './harness.mjs';
import { applyEdit, channelDocument, editRow, isPopupOpen, openClient } from './client_page.mjs';

const channelsAtStart = () => [
  channelDocument({ sourceUrl: '/media/in.mp4', targetUrl: 'udp://127.0.0.1:5001', memo: 'udp' }),
  channelDocument({ sourceFormat: 'srt', sourceUrl: 'srt://127.0.0.2:9000', targetUrl: 'udp://127.0.0.1:5002', memo: 'srt' }),
];

// A pop-up opens once the server has answered its fields.
async function openTab(page, popup, button, tab) {
  await page.click(button);
  await page.locator(`#${popup}.open`).waitFor();
  await page.click(`#adv-tab-${tab}`);
}

const openFormatTab = (page, tab) => openTab(page, 'adv-format', '#btn-format-advanced', tab);
const openVideoTab = (page, tab) => openTab(page, 'adv-video', '#btn-video-advanced', tab);

// OK closes the pop-up once the server has written the fields into the channel.
async function pressOk(page, popup) {
  await page.click(`#${popup}-ok`);
  await page.waitForFunction((id) => !document.getElementById(id).classList.contains('open'), popup);
  assert.equal(await isPopupOpen(page, popup), false);
}

describe('advanced settings', () => {
  let program;
  let browser;
  let context;
  let page;
  let dialogs;
  let errors;

  before(async () => {
    program = await startProgram({ config: { global: {}, channels: channelsAtStart() } });
    browser = await launchBrowser();
  });
  beforeEach(async () => {
    await context?.close();
    await program.postConfig({ global: { httpPort: program.port }, channels: channelsAtStart() });
    ({ context, page } = await openClient(browser, program));
    dialogs = watchDialogs(page);
    errors = watchPageErrors(page);
  });
  afterEach(() => {
    assert.deepEqual(errors, [], 'no script errors');
  });
  after(async () => {
    await context?.close();
    await browser?.close();
    await program?.stop();
  });

  test('MPEG-TS output: OK on an untouched udp target stores the program and the provider', async () => {
    await editRow(page, 1);
    await openFormatTab(page, 'ts-output');
    const runtime = await program.getJson('/runtime');
    const rows = await page.locator('#adv-ts-programs tbody tr').evaluateAll((trs) =>
      trs.map((tr) => [...tr.querySelectorAll('input')].map((input) => input.value)));
    assert.deepEqual(rows, [['1', 'Program01', '1']]);
    assert.equal(await page.inputValue('#adv-ts-pmt-pid'), '0x1000');
    assert.equal(await page.inputValue('#adv-ts-provider'), runtime.website);
    await pressOk(page, 'adv-format');
    await applyEdit(page);
    const expected = ["-program program_num=1:title='Program01':if=0", `-metadata service_provider='${runtime.website}'`];
    assert.deepEqual((await program.getConfig()).channels[0].output.formatOptions, expected);

    // Read back: the same program row; a PMT PID of 0x1001 and a second program are stored once.
    await editRow(page, 1);
    await openFormatTab(page, 'ts-output');
    assert.equal(await page.locator('#adv-ts-programs tbody tr').count(), 1);
    await page.fill('#adv-ts-pmt-pid', '0x1001');
    await page.click('#adv-ts-add-program');
    const added = await page.locator('#adv-ts-programs tbody tr').nth(1).evaluate((tr) =>
      [...tr.querySelectorAll('input')].map((input) => input.value));
    assert.deepEqual(added, ['2', 'Program02', '2']);
    await pressOk(page, 'adv-format');
    await applyEdit(page);
    assert.deepEqual((await program.getConfig()).channels[0].output.formatOptions, [
      "-program program_num=1:title='Program01':if=0",
      "-program program_num=2:title='Program02':if=1",
      '-mpegts_pmt_start_pid 0x1001',
      `-metadata service_provider='${runtime.website}'`,
    ]);
    assert.deepEqual(dialogs.messages(), []);
  });

  test('HLS: a start of 10 stores -start_number 9 (the muxer counts from 0), the default length nothing', async () => {
    await editRow(page, 1);
    await page.selectOption('#target-format', { label: 'MPEG-DASH' });
    // The server names the folder, from the user's videos folder.
    const folder = `${program.folder}/videos/Vantorix`;
    // The server answers the new format's address a moment later.
    const urlBecomes = (want) => page.waitForFunction((url) => document.querySelector('#target-url').value === url, want);
    await urlBecomes(`${folder}/morv_ch1.mpd`);
    await page.selectOption('#target-format', { label: 'm3u8 Playlist (HLS)' });
    await urlBecomes(`${folder}/morv_ch1.m3u8`);
    await openFormatTab(page, 'hls');
    assert.equal(await page.inputValue('#adv-hls-time'), '2');
    assert.equal(await page.inputValue('#adv-hls-start'), '1');
    await page.fill('#adv-hls-start', '10');
    await pressOk(page, 'adv-format');
    await applyEdit(page);
    let target = (await program.getConfig()).channels[0].output;
    assert.deepEqual([target.targets[0].format, target.targets[0].url], ['hls', `${folder}/morv_ch1.m3u8`]);
    assert.deepEqual(target.formatOptions.filter((option) => option.startsWith('-hls') || option.startsWith('-start')),
      ['-start_number 9']);

    await editRow(page, 1);
    await openFormatTab(page, 'hls');
    assert.equal(await page.inputValue('#adv-hls-start'), '10', 'read back');
    await page.fill('#adv-hls-time', '6');
    await pressOk(page, 'adv-format');
    await applyEdit(page);
    target = (await program.getConfig()).channels[0].output;
    assert.deepEqual(target.formatOptions.filter((option) => option.startsWith('-hls') || option.startsWith('-start')),
      ['-hls_time 6', '-start_number 9']);
  });

  test('SRT caller: a new remote address rewrites only the host of the source URL', async () => {
    await editRow(page, 2);
    assert.equal(await page.inputValue('#edit-source-format'), 'srt');
    assert.equal(await page.inputValue('#edit-source-url'), '127.0.0.2:9000');
    await openFormatTab(page, 'srt');
    assert.equal(await page.isEnabled('#adv-tab-srt'), true);
    assert.equal(await page.inputValue('#adv-srt-mode'), 'caller');
    assert.equal(await page.inputValue('#adv-srt-remote1'), '127.0.0.2');
    await page.fill('#adv-srt-remote1', '127.0.0.3');
    await pressOk(page, 'adv-format');
    assert.equal(await page.inputValue('#edit-source-url'), '127.0.0.3:9000');
    await applyEdit(page);
    const input = (await program.getConfig()).channels[1].input;
    assert.equal(input.sources[0].url, 'srt://127.0.0.3:9000');
    assert.deepEqual(input.formatOptions ?? [], [], 'caller mode with one connection stores no options');

    // A udp source leaves the tab disabled.
    await editRow(page, 1);
    await page.click('#btn-format-advanced');
    await page.locator('#adv-format.open').waitFor();
    assert.equal(await page.isDisabled('#adv-tab-srt'), true);
  });

  test('encoder profile high10 stores the profile and its pixel format', async () => {
    await editRow(page, 1);
    await openVideoTab(page, 'encoding');
    const profiles = await page.locator('#adv-enc-profile option').evaluateAll((options) => options.map((o) => o.value));
    assert.deepEqual(profiles, ['default', 'baseline', 'main', 'high', 'high10', 'high422', 'high444']);
    assert.equal(await page.inputValue('#adv-enc-preset'), '0', 'the stored -preset:v ultrafast');
    await page.selectOption('#adv-enc-profile', 'high10');
    await pressOk(page, 'adv-video');
    await applyEdit(page);
    const options = (await program.getConfig()).channels[0].output.targets[0].video.options;
    assert.deepEqual(options, ['-profile:v high10', '-pix_fmt:v yuv420p10', '-preset:v ultrafast']);
  });

  test('a right-aligned text overlay with padding 10 gives x=w-tw-10', async () => {
    await editRow(page, 1);
    await openVideoTab(page, 'overlay');
    assert.equal(await page.isDisabled('#adv-ovl-text'), true, 'fields wait for the box');
    await page.check('#adv-ovl-enable');
    await page.fill('#adv-ovl-text', 'Studio A');
    await page.fill('#adv-ovl-size', '24');
    await page.locator('#adv-ovl-color').evaluate((input) => {
      input.value = '#ff8800';
      input.dispatchEvent(new Event('input', { bubbles: true }));
    });
    await page.selectOption('#adv-ovl-halign', 'right');
    await page.fill('#adv-ovl-hpad', '10');
    await page.selectOption('#adv-ovl-valign', 'bottom');
    await page.fill('#adv-ovl-vpad', '5');
    await pressOk(page, 'adv-video');
    await applyEdit(page);
    const filters = (await program.getConfig()).channels[0].input.filters;
    assert.deepEqual(filters, ["drawtext=text='Studio A':fontsize=24:fontcolor=#ff8800:x=w-tw-10:y=h-th-5:shadowx=1:shadowy=1"]);

    // Shown again, the overlay tab reads the filter back.
    await editRow(page, 1);
    await openVideoTab(page, 'overlay');
    assert.equal(await page.isChecked('#adv-ovl-enable'), true);
    assert.deepEqual(
      [await page.inputValue('#adv-ovl-text'), await page.inputValue('#adv-ovl-halign'), await page.inputValue('#adv-ovl-hpad'),
        await page.inputValue('#adv-ovl-valign'), await page.inputValue('#adv-ovl-vpad')],
      ['Studio A', 'right', '10', 'bottom', '5'],
    );
  });

  test('QSV decoding with deinterlacing on a 1280x720 target', async () => {
    await editRow(page, 1);
    await page.selectOption('#frame-size', { label: 'HD' });
    assert.deepEqual([await page.inputValue('#video-width'), await page.inputValue('#video-height')], ['1280', '720']);
    await openVideoTab(page, 'misc');
    await page.selectOption('#adv-misc-scan', '1');
    await page.selectOption('#adv-misc-decoding', { label: 'H.264 (Quick Sync)' });
    await pressOk(page, 'adv-video');
    await applyEdit(page);
    const channel = (await program.getConfig()).channels[0];
    const target = channel.output.targets[0];
    assert.deepEqual([target.video.width, target.video.height, target.video.scanType], [1280, 720, 1]);
    assert.deepEqual(channel.input.sources[0].video.options, ['-hwaccel qsv -hwaccel_output_format qsv', '-c:v h264_qsv']);
    assert.deepEqual(channel.input.filters.slice(0, 3), ['hwdownload', 'format=nv12', 'vpp_qsv=deinterlace=2:w=1280:h=720']);

    // Read back into the Misc. tab.
    await editRow(page, 1);
    await openVideoTab(page, 'misc');
    assert.equal(await page.locator('#adv-misc-decoding option:checked').textContent(), 'H.264 (Quick Sync)');
    assert.equal(await page.inputValue('#adv-misc-scan'), '1');
  });
});
