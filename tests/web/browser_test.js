// The page in Debian's chromium, driven as a user would (keyboard and
// mouse through the DevTools protocol), against a converter the kernel
// presents: what the page shows is checked against what the converter holds,
// read from the converter's side. One browser session, the cases in order;
// each case prints "ok" or "FAIL" and the last line is the count.
//
//   node browser_test.js
// with, in the environment:
//   ZYR_PAGE_URL          the page, e.g. http://localhost:8000/index.html
//   ZYR_CONVERTER         the converter's control command (converter_control.sh)
//   ZYR_ZYRCTL            zyrctl for Linux, for the backups that cross both ways
//   ZYR_WEB_OUT           a folder for downloads and screenshots
//   ZYR_PLAYWRIGHT        the playwright-core module folder
//   ZYR_CHROMIUM          the browser (default /usr/bin/chromium)
'use strict';

const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');
const { chromium } = require(process.env.ZYR_PLAYWRIGHT || 'playwright-core');
const { expect, runCases, runSuite } = require('./case_runner.js');

const pageUrl = process.env.ZYR_PAGE_URL || 'http://localhost:8000/index.html';
const out = process.env.ZYR_WEB_OUT || '/tmp/zyr-web-out';
// A converter answers in milliseconds; under emulation a whole read takes
// tens of seconds. Far beyond either: the page must have finished by then.
const operationLimitMs = 180000;
// Ten attempts at 500 ms each, with the pauses between them, end well
// within this; a page that waits for ever on a silent converter does not.
const silentLimitMs = 60000;

fs.mkdirSync(out, { recursive: true });

// The converter's side: its control command prints the registers it holds
// as 16 rows "00: xx .. xx", and takes "silent", "answer", "unplug-after N"
// and "plug".
function converter(...args) {
  return execFileSync(process.env.ZYR_CONVERTER, args, { encoding: 'utf8', timeout: 30000 });
}

// zyrctl on the same converter, in the output folder (its backups before a
// write go there); its exit code and output.
function zyrctl(...args) {
  try {
    const output = execFileSync(process.env.ZYR_ZYRCTL, args, { cwd: out, encoding: 'utf8', timeout: 120000, stdio: 'pipe' });
    return { code: 0, output };
  } catch (error) {
    if (typeof error.status !== 'number') throw error;
    return { code: error.status, output: `${error.stdout}${error.stderr}` };
  }
}

function expectZyrctl(what, ...args) {
  const result = zyrctl(...args);
  expect(result.code === 0, `${what}: zyrctl ${args.join(' ')} exited ${result.code}: ${result.output.trim()}`);
  return result.output;
}

function converterRegisters() {
  const rows = converter('registers').trim().split('\n');
  const registers = [];
  for (const row of rows) for (const byte of row.split(':')[1].trim().split(/\s+/)) registers.push(parseInt(byte, 16));
  if (registers.length !== 256) throw new Error(`the converter gave ${registers.length} registers`);
  return registers;
}

// The 16 register rows of a backup file, as numbers.
function backupRegisters(text) {
  const registers = [];
  for (const line of text.split(/\r?\n/)) {
    const m = /^([0-9A-F]{2}): ((?:[0-9A-F]{2} ?){16})$/.exec(line.trim());
    if (m) for (const byte of m[2].trim().split(' ')) registers.push(parseInt(byte, 16));
  }
  return registers;
}

function sameRegisters(a, b, what) {
  const differing = [];
  for (let i = 0; i < 256; ++i) if (a[i] !== b[i]) differing.push(i);
  expect(differing.length === 0, `${what}: registers ${differing.slice(0, 12).join(', ')} differ`);
}

// The converter holds the registers of the backup file `file`, read from
// its own side (`what`) and as zyrctl's diff sees them (`against`).
function expectConverterHolds(file, what, against) {
  sameRegisters(converterRegisters(), backupRegisters(fs.readFileSync(file, 'utf8')), what);
  expectZyrctl(against, 'diff', 'device', file);
}

async function main() {
  const launched = Date.now();
  const browser = await chromium.launch({
    executablePath: process.env.ZYR_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: [
      '--no-sandbox',
      '--disable-gpu',
      '--no-first-run',
      '--disable-extensions',
      '--disable-component-update',
      '--disable-background-networking',
      '--disable-default-apps',
      '--disable-sync',
      // Under emulation every piece of generated machine code is translated
      // once more: the baseline compilers alone keep the page usable there.
      '--js-flags=--no-opt --no-wasm-tier-up',
    ],
    timeout: 120000,
  });
  console.log(`# the browser started after ${Date.now() - launched} ms`);
  const context = await browser.newContext({ acceptDownloads: true, viewport: { width: 1000, height: 1100 } });
  // Under emulation the browser is tens of times slower than on a desktop.
  context.setDefaultTimeout(operationLimitMs);
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));

  const status = () => page.textContent('#status');
  const idle = () => page.waitForSelector('body[data-ready]:not([data-busy])', { timeout: operationLimitMs });
  // Presses a button with the keyboard, as a user without a mouse would.
  const press = async (selector) => {
    await page.focus(selector);
    await page.keyboard.press('Enter');
    await page.waitForTimeout(50);
    await idle();
  };
  // Presses Write Device; the write must succeed.
  const writeOk = async () => {
    await press('#write');
    const text = await status();
    expect(text.startsWith('Device Write OK'), `status reads "${text}"`);
  };
  const shot = (name) => page.screenshot({ path: path.join(out, `${name}.png`), fullPage: true });
  let backupPath = null;
  const zyrctlBackup = path.join(out, 'zyrctl-backup.zyr');

  const cases = [
    ['the page opens and takes the converter from the browser policy, without a chooser', async () => {
      await page.goto(pageUrl);
      await page.waitForSelector('body[data-ready]');
      expect((await page.textContent('#device-line')).includes('16C0:03E8'), 'no converter shown on the page');
    }],
    ['Read Device shows 1.23.00 and VSS+ECT and the converter\'s settings', async () => {
      await press('#read');
      const text = await status();
      expect(text === 'Read OK        Ver:1.23.00        Device:VSS+ECT', `status reads "${text}"`);
      expect((await page.textContent('#identity')) === 'Firmware 1.23.00, VSS+ECT', 'identity line');
      expect((await page.inputValue('#speed')) === '0.0', 'speed adjustment is not 0.0');
      expect(await page.isChecked('#sensor-367'), 'Low Freq sensor not chosen');
      expect(await page.isChecked('#table-93'), 'AP1 RES not chosen');
      await shot('web-read');
    }],
    ['a backup download holds exactly the converter\'s registers', async () => {
      const [download] = await Promise.all([page.waitForEvent('download'), press('#download')]);
      backupPath = path.join(out, download.suggestedFilename());
      await download.saveAs(backupPath);
      expect(/^zyr-backup-\d{8}T\d{6}Z\.zyr$/.test(download.suggestedFilename()), 'backup file name');
      const text = fs.readFileSync(backupPath, 'utf8');
      expect(text.includes('format = zyr-backup 1'), 'no format line');
      sameRegisters(backupRegisters(text), converterRegisters(), 'backup against converter');
    }],
    ['zyrctl takes the browser\'s backup: zyrctl diff of it and the converter exits 0', async () => {
      expectZyrctl('the browser\'s backup against the converter', 'diff', 'device', backupPath);
      expectZyrctl('zyrctl\'s own backup', 'backup', zyrctlBackup);
      expectZyrctl('the two backups', 'diff', backupPath, zyrctlBackup);
    }],
    ['a changed speed adjustment is listed, written, verified and held by the converter', async () => {
      await page.fill('#speed', '');
      await page.type('#speed', '3.5');
      const line = await page.textContent('#registers-line');
      expect(line.includes('register 6,') || line.includes('register 6 ') || / 6, reads/.test(line), `registers line: ${line}`);
      expect((await page.textContent('#changes')).includes('speed adjustment: 0.0 % (0x0000) -> 3.5 % (0x0023)'), 'change list');
      await shot('web-changes');
      await writeOk();
      const held = converterRegisters();
      expect(held[6] === 0x23 && held[7] === 0x00, `the converter holds ${held[6]}, ${held[7]} at 6 and 7`);
      await shot('web-written');
    }],
    ['a damaged backup file is refused with a message and nothing changes', async () => {
      const damaged = fs.readFileSync(backupPath, 'utf8').replace(/^00: 00/m, '00: 01');
      const damagedPath = path.join(out, 'damaged.zyr');
      fs.writeFileSync(damagedPath, damaged);
      await page.setInputFiles('#restore', damagedPath);
      await page.waitForTimeout(300);
      const text = await status();
      expect(/crc|damaged|changed/i.test(text) && text.includes('nothing was loaded'), `status reads "${text}"`);
      expect((await page.textContent('#registers-line')).startsWith('Nothing to write'), 'the page changed its settings');
      const other = path.join(out, 'other.txt');
      fs.writeFileSync(other, 'not a backup\n');
      await page.setInputFiles('#restore', other);
      await page.waitForTimeout(300);
      expect((await status()).includes('nothing was loaded'), 'a file of another format was not refused');
    }],
    ['a backup made by zyrctl restores the converter exactly through the page', async () => {
      await page.setInputFiles('#restore', zyrctlBackup);
      await page.waitForTimeout(300);
      expect((await page.textContent('#changes')).includes('3.5 % (0x0023) -> 0.0 % (0x0000)'), 'restore lists no change');
      await writeOk();
      expectConverterHolds(zyrctlBackup, 'converter after restore', 'the converter against zyrctl\'s backup');
    }],
    ['zyrctl restore puts the browser\'s backup back after a change', async () => {
      expectZyrctl('a change by zyrctl', 'set', 'speed=+1.2', '--yes');
      expect(converterRegisters()[6] === 12, 'zyrctl set did not change the converter');
      expectZyrctl('restoring the browser\'s backup', 'restore', backupPath, '--yes');
      expectConverterHolds(backupPath, 'converter after zyrctl restore', 'the converter against the browser\'s backup');
    }],
    ['a converter unplugged during a write gives an honest failure', async () => {
      await page.check('#write-all');
      await page.fill('#speed', '-2.5');
      converter('unplug-after', '20');
      await press('#write');
      const text = await status();
      await shot('web-unplugged');
      expect(text.startsWith('WRITE ERROR L426') && text.includes('partly written'), `status reads "${text}"`);
      expect(!text.includes('OK'), 'a failed write says OK');
      await page.uncheck('#write-all');
      converter('plug');
      await page.waitForTimeout(1500);
    }],
    ['a silent converter ends the read with a failure in bounded time', async () => {
      converter('silent');
      const started = Date.now();
      await press('#read');
      const took = Date.now() - started;
      const text = await status();
      converter('answer');
      await shot('web-silent');
      expect(text === 'READ ERROR L497', `status reads "${text}" after ${took} ms`);
      expect(took < silentLimitMs, `the read took ${took} ms`);
      console.log(`# silent converter: the read gave up after ${took} ms`);
    }],
    ['a second page of the same browser is kept out while the first holds the converter', async () => {
      // A tab the page opens shares its renderer process, so it starts in a
      // fraction of a new one's time under emulation.
      const [second] = await Promise.all([
        context.waitForEvent('page'),
        page.evaluate((url) => {
          window.open(url, '_blank');
        }, pageUrl),
      ]);
      await second.waitForSelector('body[data-ready]');
      // The first page holds the converter's lock as a device operation would.
      await page.evaluate(() => {
        window.releaseHeldLock = null;
        navigator.locks.request('zyr-converter-16C0-03E8', () => new Promise((resolve) => (window.releaseHeldLock = resolve)));
      });
      await second.focus('#read');
      await second.keyboard.press('Enter');
      await second.waitForSelector('body[data-ready]:not([data-busy])');
      await second.waitForTimeout(200);
      const text = await second.textContent('#status');
      await page.evaluate(() => window.releaseHeldLock && window.releaseHeldLock());
      await second.close();
      expect(text.startsWith('Another ZYR page in this browser is using the converter'), `second page reads "${text}"`);
    }],
  ];

  await runCases(cases, { browser, errors, timed: true, afterFailure: (count) => shot(`web-failed-${count}`) });
}

runSuite(main);
