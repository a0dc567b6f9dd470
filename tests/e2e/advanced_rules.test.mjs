// Option-string rules of the advanced settings pop-ups (web/client/advanced.js).
//
// The client module builds no DOM until its init() is called, so node imports it as it is.
//
// Run: node --test tests/e2e/advanced_rules.test.mjs
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { rules as R } from '../../web/client/advanced.js';

const runtime = { website: 'vantorix.example' };

test('removeOption and tokens', async (t) => {
  await t.test('drops empty entries and any entry containing one of the texts', () => {
    const list = ['-hls_time 6', '', '-program program_num=1', '-metadata x=1', null, '-foo 1'];
    assert.deepEqual(R.removeOption(list, ['-program ', '-metadata ']), ['-hls_time 6', '-foo 1']);
    assert.deepEqual(R.removeOption(undefined, ['-x ']), []);
  });
  await t.test('an apostrophe-quoted run is one token', () => {
    assert.deepEqual(R.splitOptionTokens("  -metadata service_provider='My Site'  "),
      ['-metadata', "service_provider='My Site'"]);
  });
});

test('MPEG-TS input map', () => {
  const rows = R.mapToRows(['p:2:#256', 'p:3', '#0x101', '', 'junk']);
  assert.deepEqual(rows, [{ program: '2', pid: '256' }, { program: '3', pid: '' }, { program: '', pid: '0x101' }]);
  assert.deepEqual(R.rowsToMap([...rows, { program: ' ', pid: ' ' }]), ['#256', 'p:3', '#0x101']);
});

test('MPEG-TS output', async (t) => {
  const untouched = () => R.mpegtsOutputFromOptions([], 'udp', runtime);

  await t.test('an untouched udp tab stores the program and provider only', () => {
    assert.deepEqual(R.mpegtsOutputToOptions(untouched(), [], 'udp'), [
      "-program program_num=1:title='Program01':if=0",
      "-metadata service_provider='vantorix.example'"]);
  });
  await t.test('PMT PID 0x1000 stores nothing, 0x1001 is stored as typed', () => {
    for (const [pmt, want] of [['0x1000', undefined], ['4096', undefined],
      ['0x1001', '-mpegts_pmt_start_pid 0x1001'], ['0x2000', undefined], ['abc', undefined]]) {
      const out = R.mpegtsOutputToOptions({ ...untouched(), pmtPid: pmt }, [], 'udp');
      assert.equal(out.find((e) => e.startsWith('-mpegts_pmt_start_pid')), want, pmt);
    }
  });
  await t.test('what apply writes reads back, and other tabs keep their entries', () => {
    const fields = { ...untouched(), videoPid: '0x200', audioPid: '0x101', provider: 'ACME TV',
      programs: [{ program: '1', name: 'News: Live', source: '1' }, { program: '2', name: '', source: '2' }] };
    const out = R.mpegtsOutputToOptions(fields, ['-hls_time 6', '-program old'], 'udp');
    assert.deepEqual(out, ['-hls_time 6', "-program program_num=1:title='News: Live':if=0",
      '-program program_num=2:if=1', '-streamid 0:0x200', "-metadata service_provider='ACME TV'"]);
    const back = R.mpegtsOutputFromOptions(out, 'udp', runtime);
    assert.deepEqual(back.programs, fields.programs);
    assert.equal(back.videoPid, '0x200');
    assert.equal(back.provider, 'ACME TV');
  });
  await t.test('unusable stored entries leave the start values', () => {
    const f = R.mpegtsOutputFromOptions(['-program program_num=3', "-metadata service_name='X'", '-streamid 5:77'],
      'udp', runtime);
    assert.deepEqual(f.programs, [{ program: '1', name: 'Program01', source: '1' }]);
    assert.deepEqual([f.provider, f.videoPid], ['vantorix.example', '0x100']);
  });
  await t.test('FEC only for rtpts', () => {
    const on = { ...untouched(), fec: true, fecColumn: '4', fecRow: '6' };
    assert.ok(!R.mpegtsOutputToOptions(on, [], 'udp').some((e) => e.startsWith('-fec')));
    const rtp = R.mpegtsOutputToOptions(on, [], 'rtpts');
    assert.ok(rtp.includes('-fec prompeg=l=4:d=6'));
    assert.equal(R.mpegtsOutputFromOptions(rtp, 'udp', runtime).fec, false);
    const back = R.mpegtsOutputFromOptions(rtp, 'rtp', runtime);
    assert.deepEqual([back.fec, back.fecColumn, back.fecRow], [true, 4, 6]);
  });
  await t.test('other formats only lose the tab\'s own entries', () => {
    assert.deepEqual(R.mpegtsOutputToOptions(untouched(), ['-streamid 0:300', '-hls_time 6'], 'hls'),
      ['-hls_time 6']);
  });
});

test('HLS', () => {
  const base = R.hlsFromOptions([], 'hls', 1);
  assert.deepEqual(R.hlsToOptions(base, [], 'hls'), []);
  assert.deepEqual(R.hlsToOptions({ ...base, time: '6' }, [], 'hls'), ['-hls_time 6']);
  const started = R.hlsToOptions({ ...base, start: '10' }, ['-start_number 3'], 'hls');
  assert.deepEqual(started, ['-start_number 10']);
  assert.equal(R.hlsFromOptions(started, 'hls', 1).start, '10');
  assert.deepEqual(R.hlsToOptions({ ...base, masterName: 'm.m3u8' }, [], 'hls'), [],
    'the master playlist needs two targets');
  const two = R.hlsFromOptions([], 'hls', 2);
  assert.deepEqual(R.hlsToOptions(two, [], 'hls'), ['-master_pl_name master.m3u8']);
});

test('RTMP and custom parameters', () => {
  const fields = R.rtmpFromTarget({ rtmp: { flashVer: 'FMLE/3.0', user: 7 } }, 'rtmp');
  assert.deepEqual(fields, { enabled: true, flashVer: 'FMLE/3.0', swfUrl: '', user: '7', passwd: '' });
  assert.deepEqual(R.rtmpToTarget({ ...fields, passwd: ' s3 ' }, 'rtmp').passwd, 's3');
  assert.deepEqual(R.rtmpToTarget(fields, 'udp'), { flashVer: '', swfUrl: '', user: '', passwd: '' });
  assert.equal(R.customText(' -a 1\r\n-b 2\n'), '-a 1 -b 2');
});

test('SRT', async (t) => {
  await t.test('caller source with only remote 1 changed rewrites just the host', () => {
    const side = R.srtSide('srt', 'udp');
    const f = R.srtFromOptions([], side, '10.0.0.5:9000?latency=200');
    assert.deepEqual([side, f.mode, f.remote1], ['source', 'caller', '10.0.0.5']);
    const res = R.srtToOptions({ ...f, remote1: '10.0.0.9' }, [], '10.0.0.5:9000?latency=200');
    assert.deepEqual(res, { options: [], url: '10.0.0.9:9000?latency=200' });
  });
  await t.test('a target starts as listener; caller mode and bonding are written', () => {
    const f = R.srtFromOptions([], R.srtSide('file', 'srt'), 'srt://0.0.0.0:1234');
    assert.equal(f.mode, 'listener');
    const res = R.srtToOptions({ ...f, mode: 'caller', remote1: 'a.example', remote2: '10.1.1.1',
      bonding: 'broadcast', timeout: '500' }, ['-mode listener', '-f mpegts'], 'srt://0.0.0.0:1234');
    assert.equal(res.url, 'srt://a.example:1234');
    assert.deepEqual(res.options, ['-f mpegts', '-mode caller', '-backup_remote 10.1.1.1',
      '-grouptype broadcast', '-minstable_timeout 500']);
    const back = R.srtFromOptions(res.options, 'target', res.url);
    assert.deepEqual([back.mode, back.remote2, back.bonding, back.timeout], ['caller', '10.1.1.1', 'broadcast', '500']);
  });
  await t.test('bonding without a second connection and listener addresses are not stored', () => {
    const f = R.srtFromOptions([], 'source', 'srt://h:1');
    assert.deepEqual(R.srtToOptions({ ...f, bonding: 'broadcast', timeout: '300' }, [], 'srt://h:1').options, []);
    assert.deepEqual(R.srtToOptions({ ...f, mode: 'listener', remote1: 'x', local1: 'y' }, [], 'srt://h:1'),
      { options: ['-mode listener'], url: 'srt://h:1' });
  });
  await t.test('host extraction', () => {
    assert.equal(R.extractAddr('srt://[::1]:9000'), '[::1]');
    assert.equal(R.replaceAddr('srt://host', 'other'), 'srt://other');
  });
});

test('encoder', async (t) => {
  const fields = (codec, over) => ({ ...R.encoderFromOptions([], codec), ...over });
  await t.test('h264 high10 carries its pixel format and the start preset', () => {
    assert.deepEqual(R.encoderToOptions(fields('h264', { profile: 'High10', threads: '4' }), 'h264'),
      ['-profile:v high10', '-pix_fmt:v yuv420p10', '-threads:v 4', '-preset:v faster']);
    assert.equal(R.pixelFormat('main444-8'), 'yuv444p', 'a 4:4:4 profile never gets 4:2:0 input');
  });
  await t.test('nv264 uses the NVENC preset names both ways', () => {
    assert.deepEqual(R.encoderToOptions(fields('nv264', { preset: 6 }), 'nv264'), ['-preset:v hq']);
    assert.equal(R.encoderFromOptions(['-preset:v llhq'], 'nv264').preset, 7);
    assert.equal(R.encoderFromOptions(['-preset:v faster'], 'nv264').preset, 3, 'unknown name keeps the start');
  });
  await t.test('av1, vp9 and omx264 presets are inverted or wrapped numbers', () => {
    assert.deepEqual(R.encoderToOptions(fields('av1', {}), 'av1'), ['-preset:v 13']);
    assert.equal(R.encoderFromOptions(['-preset:v 3'], 'av1').preset, 10);
    assert.equal(R.encoderFromOptions(['-cpu-used 3'], 'vp9').preset, 5);
    assert.deepEqual(R.encoderToOptions(fields('omx264', {}), 'omx264'), ["-omx_param 'perf_level=9'"]);
    assert.equal(R.encoderFromOptions(["-omx_param 'perf_level=12'"], 'omx264').preset, 12);
  });
  await t.test('h265 profiles pick their pixel formats; level and threads read back', () => {
    for (const [profile, pix] of [['main422-10', 'yuv422p10'], ['main444-12', 'yuv444p12'], ['main12', 'yuv420p12'],
      ['main', 'yuv420p']]) {
      assert.ok(R.encoderToOptions(fields('h265', { profile }), 'h265').includes('-pix_fmt:v ' + pix), profile);
    }
    const f = R.encoderFromOptions(['-profile:v main10', '-level 4.1', '-threads 0'], 'h265');
    assert.deepEqual([f.profile, f.level, f.threads], ['main10', '4.1', 'auto']);
    assert.equal(R.encoderFromOptions(['-threads:v 4'], 'nv265').threads, 'auto', 'NVENC takes no thread count');
  });
  await t.test('odd field values store nothing harmful', () => {
    assert.deepEqual(R.encoderToOptions({ profile: 'default', level: 'default', threads: 'abc', preset: '99' }, 'vp8'),
      ['-cpu-used 0']);
    assert.deepEqual(R.encoderToOptions(fields('copy', { profile: 'default' }), 'copy'), []);
  });
});

test('overlay', () => {
  const text = { enable: true, video: '', text: 'LIVE', halign: 'right', hpad: '10', valign: 'bottom', vpad: '20',
    size: '24', color: '#FF8800' };
  const [drawn] = R.overlayToFilters(text, []);
  assert.equal(drawn, "drawtext=text='LIVE':fontsize=24:fontcolor=#ff8800:x=w-tw-10:y=h-th-20");
  assert.deepEqual(R.overlayFromFilters([drawn]), { ...text, hpad: 10, vpad: 20, size: 24, color: '#ff8800' });
  assert.equal(R.overlayToFilters({ ...text, text: '%TimeStamp', halign: 'left' }, [])[0],
    'drawtext=fontsize=24:fontcolor=#ff8800:x=10:y=h-th-20');
  const logo = R.overlayToFilters({ ...text, video: 'C:\\overlay=x.png' }, ['drawtext=old', 'yadif']);
  assert.deepEqual(logo, ['yadif', "movie='C:\\overlay=x.png', setpts=N/TB/FR[logo]; [0][logo]overlay=W-w-10:H-h-20"]);
  const back = R.overlayFromFilters(logo);
  assert.deepEqual([back.video, back.halign, back.hpad, back.valign, back.vpad], ['C:\\overlay=x.png', 'right', 10, 'bottom', 20]);
  assert.deepEqual(R.overlayToFilters({ ...text, enable: false }, []), []);
  const stamp = R.overlayFromFilters(['drawtext=fontsize=12:fontcolor=white:x=5:y=h-th-7:shadowx=1']);
  assert.deepEqual([stamp.text, stamp.size, stamp.color, stamp.hpad, stamp.valign, stamp.vpad],
    ['%timestamp', 12, '#00ffff', 5, 'bottom', 7]);
});

test('misc', async (t) => {
  const misc = (over) => ({ aspect: false, scan: '0', gpu: '0', decoding: 'none', ...over });
  await t.test('QSV decoding for an x264 target deinterlaces and scales on the card', () => {
    const res = R.miscApply(misc({ scan: '1', decoding: 'h264_qsv' }),
      { codec: 'h264', width: 1280, height: 720, targetOptions: ['-preset:v faster'], filters: [] });
    assert.deepEqual(res.sourceOptions, ['-hwaccel qsv -hwaccel_output_format qsv', '-c:v h264_qsv']);
    assert.deepEqual(res.filters, ['hwdownload', 'format=nv12', 'vpp_qsv=deinterlace=2:w=1280:h=720']);
    assert.deepEqual([res.targetOptions, res.scanType], [['-preset:v faster'], 1]);
  });
  await t.test('CUVID with a GPU for an NVENC target keeps frames on the card', () => {
    const res = R.miscApply(misc({ scan: 1, gpu: '2', decoding: 'hevc_cuvid', aspect: true }),
      { codec: 'nv265', width: '1920', height: '1080', targetOptions: ['-aspect 4:3', '-gpu:v 1'], filters: [] });
    assert.deepEqual(res.sourceOptions, ['-hwaccel cuda -hwaccel_output_format cuda', '-deint adaptive',
      '-surfaces 9', '-resize 1920x1080', '-hwaccel_device 2', '-gpu 2', '-c:v hevc_cuvid']);
    assert.deepEqual(res.filters, []);
    assert.deepEqual(res.targetOptions, ['-aspect:v 1920:1080', '-gpu:v 2']);
    const back = R.miscFromOptions(res.targetOptions, res.scanType, res.sourceOptions);
    assert.deepEqual(back, { aspect: true, scan: 1, gpu: 2, decoding: 'hevc_cuvid' });
  });
  await t.test('an overlay filter switches GPU decoding off', () => {
    const res = R.miscApply(misc({ scan: 1, decoding: 'h264_cuvid' }),
      { codec: 'h264', width: 0, height: 0, targetOptions: [], filters: ['drawtext=x'] });
    assert.deepEqual([res.decoding, res.sourceOptions, res.filters], ['none', [], ['yadif', 'drawtext=x']]);
  });
});

test('bad input never throws', () => {
  const odd = [undefined, null, 42, {}, "'", ["'unterminated", null, 5, { a: 1 }, '-program', '-fec prompeg']];
  for (const [name, fn] of Object.entries(R)) {
    if (typeof fn !== 'function') continue;
    for (const a of odd) for (const b of odd) assert.doesNotThrow(() => fn(a, b, a), name);
  }
});
