// Runs the browser tests: every *.test.mjs file beside this one (or the files named on the
// command line), one file at a time, through node's test runner. A run that takes longer than
// VX_E2E_LIMIT_S seconds (default 270) is ended with everything it started.
//
//   node tests/e2e/run.mjs                         all files
//   node tests/e2e/run.mjs login.test.mjs          one file (a name here or a path)
//
// Node's own folder search would also take test-*.mjs, *_test.mjs and files under any test/
// folder, and newer releases read arguments as globs instead; explicit names behave the same on
// node 18 (Debian 12) and later.
import { spawn } from 'node:child_process';
import { existsSync, readdirSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const limitSeconds = Number(process.env.VX_E2E_LIMIT_S || 270);

function testFiles(names) {
  if (names.length === 0) {
    return readdirSync(here)
      .filter((name) => name.endsWith('.test.mjs'))
      .sort()
      .map((name) => path.join(here, name));
  }
  return names.map((name) => {
    const file = existsSync(name) ? path.resolve(name) : path.join(here, name);
    if (!existsSync(file)) {
      console.error(`run.mjs: no test file ${name}`);
      process.exit(2);
    }
    return file;
  });
}

if (!existsSync(path.join(here, 'node_modules', 'playwright-core'))) {
  console.error(`run.mjs: playwright-core is not installed; run "npm ci" in ${here} (scripts/test.sh does)`);
  process.exit(2);
}

const files = testFiles(process.argv.slice(2));
if (files.length === 0) {
  console.error(`run.mjs: no *.test.mjs file in ${here}`);
  process.exit(2);
}

// Its own process group, so that a run cut short takes its test files' programs and browsers
// with it.
const runner = spawn(
  process.execPath,
  ['--test', '--test-concurrency=1', ...files],
  { stdio: 'inherit', detached: true },
);

function signalGroup(signal) {
  try {
    process.kill(-runner.pid, signal);
    return true;
  } catch {
    return false; // the whole group has ended
  }
}

// Past the limit the group gets SIGTERM (the harness stops its programs and removes their
// folders on it) and, whatever is left 20 s later, SIGKILL.
let timedOut = false;
const limit = setTimeout(async () => {
  timedOut = true;
  console.error(`run.mjs: the browser tests ran longer than ${limitSeconds} s; ending them`);
  signalGroup('SIGTERM');
  const deadline = Date.now() + 20_000;
  while (signalGroup(0) && Date.now() < deadline) await new Promise((resolve) => setTimeout(resolve, 200));
  signalGroup('SIGKILL');
}, limitSeconds * 1000);

for (const signal of ['SIGINT', 'SIGTERM']) process.on(signal, () => signalGroup(signal));

runner.on('exit', (code, signal) => {
  if (!timedOut) clearTimeout(limit);
  process.exitCode = timedOut || signal ? 1 : (code ?? 1);
});
