// The page in Debian's chromium on this machine, over a scripted WebHID
// device (fake_hid.js) instead of the kernel: what the guest suite cannot
// afford under emulation or cannot make a kernel do. A browser without
// WebHID, a refused permission, a device that is no converter, the factory
// format's hidden sequence and questions, the hidden speed sensor, the table
// editor's text, Factory Defaults, refused input and a firmware the tool
// does not serve. Each case prints "ok" or "FAIL"; the last line is the count.
//
//   ZYR_PAGE_DIR=<built page folder> ZYR_PLAYWRIGHT=<playwright-core> node host_test.js
'use strict';

const fs = require('fs');
const path = require('path');
const { chromium } = require(process.env.ZYR_PLAYWRIGHT || 'playwright-core');
const { expect, runCases, runSuite } = require('./case_runner.js');

const pageUrl = `file://${path.resolve(process.env.ZYR_PAGE_DIR)}/index.html`;
const fake = fs.readFileSync(path.join(__dirname, 'fake_hid.js'), 'utf8');
const out = process.env.ZYR_WEB_OUT || '/tmp/zyr-web-host';
fs.mkdirSync(out, { recursive: true });

async function main() {
  const browser = await chromium.launch({
    executablePath: process.env.ZYR_CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-extensions'],
  });
  const errors = [];

  // A fresh page over the scripted device of `which`.
  async function open(which) {
    const context = await browser.newContext({ acceptDownloads: true });
    context.setDefaultTimeout(120000);
    const page = await context.newPage();
    page.on('pageerror', (error) => errors.push(error.message));
    await page.addInitScript(`window.fakeHidCase = ${JSON.stringify(which)};\n${fake}`);
    await page.goto(pageUrl);
    await page.waitForSelector('body[data-ready]');
    return page;
  }
  const idle = (page) => page.waitForSelector('body[data-ready]:not([data-busy])');
  const press = async (page, selector) => {
    await page.focus(selector);
    await page.keyboard.press('Enter');
    await page.waitForTimeout(20);
    await idle(page);
  };
  const status = (page) => page.textContent('#status');
  const expectStatusStarts = async (page, start) => {
    const text = await status(page);
    expect(text.startsWith(start), `status reads "${text}"`);
  };
  // Answers the page's question (caption, text) with the button named `answer`.
  const answer = async (page, caption, answerText) => {
    await page.waitForSelector('#question:not([hidden])');
    const shown = await page.textContent('#question-caption');
    expect(shown === caption, `the question's caption is "${shown}", not "${caption}"`);
    const text = await page.textContent('#question-text');
    await page.click(`#question-buttons button:text-is("${answerText}")`);
    // The next question, if any, comes in the same box.
    await page.waitForTimeout(100);
    return text;
  };
  const fakeRegisters = (page) => page.evaluate(() => Array.from(window.fakeRegisters));

  let page = null;
  const cases = [
    ['a browser without WebHID says so, and Read sends nothing', async () => {
      const p = await open('absent');
      expect((await p.textContent('#support')).includes('has no WebHID'), 'no word on the missing WebHID');
      await press(p, '#read');
      await expectStatusStarts(p, 'This browser has no WebHID');
      await p.context().close();
    }],
    ['a refused permission: Read and the chooser say so, and nothing is sent', async () => {
      const p = await open('none');
      await press(p, '#read');
      await expectStatusStarts(p, 'USB device not found: plug the converter in');
      await press(p, '#choose');
      await expectStatusStarts(p, 'the browser refused access to USB devices');
      expect((await p.textContent('#device-line')) === 'No converter chosen.', 'a device is shown');
      await p.context().close();
    }],
    ['a chosen device that is no converter is refused by its identity', async () => {
      const p = await open('other');
      await press(p, '#choose');
      const text = await status(p);
      expect(text === 'the chosen device cannot be used: it is 0x046D:0xC077, not a ZYR converter (16C0:03E8)', `status reads "${text}"`);
      await p.context().close();
    }],
    ['F1 eleven times, then Read Device: the four format questions, and every register formatted', async () => {
      page = await open('converter');
      for (let i = 0; i < 11; ++i) await page.keyboard.press('F1');
      await page.focus('#read');
      await page.keyboard.press('Enter');
      expect((await answer(page, 'DEVICE FORMAT', 'Yes')) === 'Do you want to Factory Format your Device?', 'first question');
      expect((await answer(page, 'DEVICE FORMAT', 'Yes')).startsWith('WARNING! Selecting the wrong options'), 'second question');
      expect((await answer(page, 'DEVICE FORMAT', 'Yes')) === 'Does your ZYR device have ECT capability?', 'third question');
      expect((await answer(page, 'DEVICE FORMAT', 'Yes')).startsWith('Does your ZYR device have a black colored harness connector?\nYES = ZYR has Black Connector'), 'fourth question');
      await idle(page);
      expect((await status(page)) === 'Device Format Complete', `status reads "${await status(page)}"`);
      const held = await fakeRegisters(page);
      expect(held.slice(0, 5).join() === '0,12,48,2,0', 'registers 0 to 4 are not those of 12300 VSS+ECT');
      expect(held.slice(232).every((b) => b === 0xff), 'registers 232 to 255 are not erased');
      expect(held[93] === 7 && held[12] === 20 && held[122] === 20 && held[203] === 7, 'table counts');
    }],
    ['Read Device after the format shows the factory settings; a backup holds the converter\'s registers', async () => {
      await press(page, '#read');
      expect((await status(page)) === 'Read OK        Ver:1.23.00        Device:VSS+ECT', `status reads "${await status(page)}"`);
      expect((await page.inputValue('#speed')) === '0.0', 'speed');
      expect(await page.isChecked('#sensor-367'), 'sensor');
      expect(!(await page.$('#sensor-33233')), '"High to Low" offered without the unlock');
      expect((await page.textContent('#registers-line')).startsWith('Nothing to write'), 'changes after a read');
      const [download] = await Promise.all([page.waitForEvent('download'), press(page, '#download')]);
      const file = path.join(out, 'host-backup.zyr');
      await download.saveAs(file);
      const rows = fs.readFileSync(file, 'utf8').split('\n').filter((l) => /^[0-9A-F]{2}: /.test(l));
      const bytes = rows.flatMap((l) => l.slice(4).trim().split(' ').map((b) => parseInt(b, 16)));
      expect(bytes.join() === (await fakeRegisters(page)).join(), 'the backup differs from the converter');
    }],
    ['F1 four times, then Read Device offers "High to Low"', async () => {
      for (let i = 0; i < 4; ++i) await page.keyboard.press('F1');
      await press(page, '#read');
      expect(!!(await page.$('#sensor-33233')), '"High to Low" not offered');
      expect((await page.textContent('label[for="sensor-33233"]')) === 'High to Low', 'its label');
    }],
    ['the table editor refuses a bad text with the dialog\'s message, and stores a good one', async () => {
      await press(page, '#edit-ap1-res');
      const text = await page.inputValue('#table-text');
      expect(text.split('\n')[0] === '01) 4000mV' && text.split('\n')[1] === '02) 0370mV', `the text begins "${text.slice(0, 24)}"`);
      await page.fill('#table-text', text.replace('02) 0370mV', '02) 4100mV'));
      await press(page, '#table-ok');
      expect((await page.textContent('#table-problem')) !== '', 'no message for 4100 mV');
      expect(!(await page.isHidden('#editor')), 'the editor closed on a bad text');
      await page.fill('#table-text', text.replace('02) 0370mV', '02) 0380mV'));
      await press(page, '#table-ok');
      expect(await page.isHidden('#editor'), 'the editor did not close');
      const changes = await page.textContent('#changes');
      expect(changes.includes('ap1-res entry 2 sensor mV: 370 -> 380'), `changes: ${changes}`);
      expect((await page.textContent('#registers-line')).includes('register 98,') || (await page.textContent('#registers-line')).includes('register 98 '), 'registers line');
      await press(page, '#write');
      await expectStatusStarts(page, 'Device Write OK');
      const held = await fakeRegisters(page);
      expect(held[98] + 256 * held[99] === 380, 'the converter does not hold 380 mV');
    }],
    ['a speed adjustment out of range is refused and nothing is written', async () => {
      await page.fill('#speed', '30');
      expect((await page.textContent('#speed-problem')).includes('out of range'), 'no message beside the edit');
      await press(page, '#write');
      expect((await status(page)).endsWith('nothing was written'), `status reads "${await status(page)}"`);
      await page.fill('#speed', '5');
    }],
    ['Factory Defaults loads the defaults into the page only, and says so', async () => {
      const before = await fakeRegisters(page);
      await page.focus('#defaults');
      await page.keyboard.press('Enter');
      const text = await answer(page, 'Defaults Loaded OK', 'OK');
      expect(text === 'Factory Defaults have been loaded to memory.\nUse "Write Device" button to write defaults back to device.', `the box reads "${text}"`);
      expect((await page.inputValue('#speed')) === '0.0', 'speed not back to 0.0');
      expect((await page.textContent('#changes')).includes('ap1-res entry 2 sensor mV: 380 -> 370'), 'the table not back');
      expect((await fakeRegisters(page)).join() === before.join(), 'Factory Defaults changed the converter');
    }],
    ['a converter of a firmware the tool does not serve is refused on Read', async () => {
      await page.evaluate(() => { window.fakeRegisters[1] = 0x16; window.fakeRegisters[2] = 0x27; });
      await press(page, '#read');
      expect((await status(page)) === 'Wrong firmware version;  0x2716', `status reads "${await status(page)}"`);
      expect(await page.isHidden('#settings'), 'the settings stay shown after a failed read');
    }],
  ];

  await runCases(cases, { browser, errors, label: 'host: ', firstLine: true });
}

runSuite(main, 'host: ');
