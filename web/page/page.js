// The page: its controls, the questions it asks, and the order of things.
// The settings, the files and the register protocol are the WebAssembly
// core's (zyr_core.js); while a device operation runs, nothing else calls
// into the core, and every control that could start something is disabled.
'use strict';

// One page at a time, within this browser, talks to the converter.
const CONVERTER_LOCK = 'zyr-converter-16C0-03E8';

const $ = (id) => document.getElementById(id);
const port = new HidPort(navigator.hid);
let core = null;
let busy = false;
let editingTable = null;
let focusBeforeBusy = null;

function status(text, failed) {
  const line = $('status');
  line.textContent = text;
  line.classList.toggle('failed', !!failed);
}

// The core's own messages as an operation goes: the status line, and the
// progress bar for "... NN%".
function coreStatus(text) {
  status(text, /ERROR|Failed|failed|not found|Wrong|differs|gone|No reply/.test(text));
  const percent = /(\d+)%$/.exec(text);
  if (percent) $('progress').value = Number(percent[1]);
}

function call(name, ...args) {
  const types = args.map((a) => (typeof a === 'number' ? 'number' : 'string'));
  return core.ccall(name, 'string', types, args);
}

function callJson(name, ...args) {
  return JSON.parse(call(name, ...args));
}

// A core call that answers { ok, message, ... }: the answer, or null with
// its message on the status line.
function callChecked(name, ...args) {
  const got = callJson(name, ...args);
  if (got.ok) return got;
  status(got.message, true);
  return null;
}

function setBusy(on) {
  busy = on;
  if (on) focusBeforeBusy = document.activeElement;
  document.body.toggleAttribute('data-busy', on);
  $('progress').hidden = !on;
  if (on) $('progress').value = 0;
  // Every control is disabled while the operation runs, and given back as
  // it was; refresh() then sets those that follow the settings.
  for (const element of document.querySelectorAll('button, input, textarea')) {
    if (on) {
      element.dataset.wasDisabled = element.disabled ? '1' : '';
      element.disabled = true;
    } else if ('wasDisabled' in element.dataset) {
      element.disabled = element.dataset.wasDisabled === '1';
      delete element.dataset.wasDisabled;
    }
  }
  if (on) return;
  refresh();
  // The keyboard's place comes back to the control pressed.
  const before = focusBeforeBusy;
  focusBeforeBusy = null;
  if (before && before.isConnected && !before.disabled && document.activeElement === document.body) before.focus();
}

function refresh() {
  const view = callJson('zyr_view');
  const read = view.read;
  $('read').disabled = false;
  $('choose').disabled = !port.supported();
  $('write').disabled = !read;
  $('defaults').disabled = !read;
  $('settings').hidden = !read;
  $('backup').hidden = !read;
  for (const id of ['speed', 'write-all', 'download', 'restore']) $(id).disabled = !read;
  if (!read) return;

  $('identity').textContent = `Firmware ${view.version}, ${view.kind}`;
  if (document.activeElement !== $('speed') || $('speed-problem').textContent === '') {
    if (document.activeElement !== $('speed')) $('speed').value = view.speed;
  }
  renderSensors(view);
  renderTables(view);
  renderChanges(view);
}

function radio(name, value, label, checked, onChoose) {
  const id = `${name}-${value}`;
  const wrapper = document.createElement('span');
  const input = document.createElement('input');
  input.type = 'radio';
  input.name = name;
  input.id = id;
  input.value = String(value);
  input.checked = checked;
  input.addEventListener('change', () => input.checked && onChoose(value));
  const text = document.createElement('label');
  text.htmlFor = id;
  text.textContent = label;
  wrapper.append(input, text);
  return wrapper;
}

function renderSensors(view) {
  const box = $('sensors');
  box.replaceChildren();
  $('sensor-group').hidden = view.sensors.length === 0;
  for (const sensor of view.sensors)
    box.append(radio('sensor', sensor.code, sensor.label, sensor.code === view.sensor, chooseSensor));
}

function renderTables(view) {
  const box = $('tables');
  box.replaceChildren();
  $('table-group').hidden = view.tables.length === 0;
  for (const table of view.tables) {
    const row = document.createElement('div');
    row.className = 'table-row';
    row.append(radio('table', table.offset, table.title, table.offset === view.activeTable, chooseTable));
    const edit = document.createElement('button');
    edit.type = 'button';
    edit.id = `edit-${table.name}`;
    edit.textContent = 'Edit';
    edit.setAttribute('aria-label', `Edit the ${table.title} table`);
    edit.addEventListener('click', () => openEditor(table));
    row.append(edit);
    box.append(row);
  }
}

function renderChanges(view) {
  const list = $('changes');
  list.replaceChildren();
  for (const d of view.differences) {
    const item = document.createElement('li');
    item.textContent = `${d.field}: ${d.before} -> ${d.after} (register${d.registers.length === 1 ? '' : 's'} ${d.registers.join(', ')})`;
    list.append(item);
  }
  const all = $('write-all').checked;
  const registers = view.registers;
  $('registers-line').textContent = all
    ? 'Write Device writes every register from 5 to 255 and reads each one back.'
    : registers.length === 0
      ? 'Nothing to write: these are the settings the converter holds, as last read.'
      : `Write Device writes register${registers.length === 1 ? '' : 's'} ${registers.join(', ')}, reads each back, then reads all 256 back.`;
}

// A choice the core applies; what it finds wrong goes to the status line.
function applyChoice(name, value) {
  const problem = call(name, value);
  if (problem) status(problem, true);
  refresh();
}

function chooseSensor(code) {
  applyChoice('zyr_set_sensor', code);
}

function chooseTable(offset) {
  applyChoice('zyr_set_table', offset);
}

function speedEdited() {
  const problem = call('zyr_set_speed', $('speed').value.trim());
  $('speed-problem').textContent = problem;
  refresh();
}

function openEditor(table) {
  const got = callChecked('zyr_table_text', table.offset);
  if (!got) return;
  editingTable = table;
  $('editor-heading').textContent = got.caption;
  $('table-text-label').textContent = `Voltages of the ${table.title} table`;
  $('table-text').value = got.text.replace(/\r\n/g, '\n');
  $('table-problem').textContent = '';
  $('editor').hidden = false;
  $('table-text').focus();
}

function closeEditor() {
  const table = editingTable;
  editingTable = null;
  $('editor').hidden = true;
  if (table && $(`edit-${table.name}`)) $(`edit-${table.name}`).focus();
}

function storeEditor() {
  if (!editingTable) return;
  const problem = call('zyr_store_table', editingTable.offset, $('table-text').value);
  if (problem) {
    $('table-problem').textContent = problem;
    $('table-text').focus();
    return;
  }
  closeEditor();
  refresh();
}

// A modal question with its own buttons; resolves with the answer's name.
function ask(caption, text, answers) {
  return new Promise((resolve) => {
    const box = $('question');
    const before = document.activeElement;
    $('question-caption').textContent = caption;
    $('question-text').textContent = text;
    const buttons = $('question-buttons');
    buttons.replaceChildren();
    const finish = (answer) => {
      box.hidden = true;
      box.removeEventListener('keydown', onKey);
      if (before && before.focus) before.focus();
      resolve(answer);
    };
    const onKey = (event) => {
      if (event.key === 'Escape') finish(answers.includes('Cancel') ? 'Cancel' : 'No');
    };
    for (const answer of answers) {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = answer;
      button.addEventListener('click', () => finish(answer));
      buttons.append(button);
    }
    box.addEventListener('keydown', onKey);
    box.hidden = false;
    buttons.firstChild.focus();
  });
}

// Runs one device operation with the converter to this page alone: the
// browser's lock, held until the operation has closed the device.
async function withConverter(operation) {
  if (busy) return;
  if (!port.supported()) {
    status('This browser has no WebHID: use Chrome or Edge, or zyr.exe and zyrctl.', true);
    return;
  }
  if (!navigator.locks) {
    status('This browser cannot keep two pages apart (no Web Locks); nothing was sent.', true);
    return;
  }
  setBusy(true);
  try {
    const problem = await port.ensureDevice();
    if (problem) {
      status(`${problem}: plug the converter in and press Choose converter… to let this page use it.`, true);
      return;
    }
    showDevice();
    await navigator.locks.request(CONVERTER_LOCK, { ifAvailable: true }, async (lock) => {
      if (!lock) {
        status('Another ZYR page in this browser is using the converter; nothing was sent.', true);
        return;
      }
      const outcome = JSON.parse(await operation());
      coreStatus(outcome.status);
    });
  } catch (error) {
    status(`The page failed: ${error.message}`, true);
  } finally {
    setBusy(false);
  }
}

function runCore(name, ...args) {
  const types = args.map(() => 'number');
  return () => core.ccall(name, 'string', types, args, { async: true });
}

async function readPressed() {
  if (busy) return;
  if (call('zyr_read_pressed') === 'format') {
    await factoryFormat();
    return;
  }
  await withConverter(runCore('zyr_read'));
}

async function writePressed() {
  if (busy) return;
  // The speed edit as it stands is what gets written, or nothing is.
  const problem = call('zyr_set_speed', $('speed').value.trim());
  if (problem) {
    $('speed-problem').textContent = problem;
    status(`${problem}; nothing was written`, true);
    $('speed').focus();
    return;
  }
  await withConverter(runCore('zyr_write', $('write-all').checked ? 1 : 0));
}

async function factoryFormat() {
  const caption = 'DEVICE FORMAT';
  if ((await ask(caption, 'Do you want to Factory Format your Device?', ['Yes', 'No'])) !== 'Yes') return;
  if (
    (await ask(
      caption,
      'WARNING! Selecting the wrong options will cause your ZYR device to not work correctly, do you understand?',
      ['Yes', 'No'],
    )) !== 'Yes'
  )
    return;
  const ect = await ask(caption, 'Does your ZYR device have ECT capability?', ['Yes', 'No', 'Cancel']);
  if (ect === 'Cancel') return;
  const black = await ask(
    caption,
    'Does your ZYR device have a black colored harness connector?\nYES = ZYR has Black Connector\nNO = ZYR has White connector',
    ['Yes', 'No', 'Cancel'],
  );
  if (black === 'Cancel') return;
  await withConverter(runCore('zyr_format', ect === 'Yes' ? 1 : 0, black === 'Yes' ? 1 : 0));
}

async function defaultsPressed() {
  if (busy) return;
  const problem = call('zyr_factory_defaults');
  if (problem) {
    await ask('Error', problem, ['OK']);
    return;
  }
  refresh();
  await ask('Defaults Loaded OK', 'Factory Defaults have been loaded to memory.\nUse "Write Device" button to write defaults back to device.', ['OK']);
}

function downloadBackup() {
  const got = callChecked('zyr_backup', Math.floor(Date.now() / 1000));
  if (!got) return;
  const url = URL.createObjectURL(new Blob([got.text], { type: 'text/plain' }));
  const link = document.createElement('a');
  link.href = url;
  link.download = got.name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 1000);
  status(`Saved the converter's registers as ${got.name}`);
}

async function restoreChosen() {
  const file = $('restore').files[0];
  if (!file || busy) return;
  let text;
  try {
    // Never more than a backup file can be: the core refuses larger ones.
    text = await file.slice(0, 64 * 1024 + 1).text();
  } catch (error) {
    status(`${file.name} could not be read: ${error.message}; nothing was loaded`, true);
    return;
  } finally {
    $('restore').value = '';
  }
  const problem = call('zyr_restore', text);
  if (problem) {
    status(`${file.name}: ${problem}`, true);
    return;
  }
  refresh();
  status(`Loaded ${file.name}; the changes are listed below, Write Device writes them.`);
}

function showDevice() {
  $('device-line').textContent = port.device ? `${port.device.productName || 'ZYR converter'} (16C0:03E8)` : 'No converter chosen.';
}

async function choosePressed() {
  if (busy) return;
  const problem = await port.requestConverter();
  if (problem) status(problem, true);
  showDevice();
}

function wire() {
  const handlers = [
    ['read', 'click', readPressed],
    ['write', 'click', writePressed],
    ['defaults', 'click', defaultsPressed],
    ['choose', 'click', choosePressed],
    ['speed', 'input', speedEdited],
    ['write-all', 'change', refresh],
    ['table-ok', 'click', storeEditor],
    ['table-cancel', 'click', closeEditor],
    ['download', 'click', downloadBackup],
    ['restore', 'change', restoreChosen],
  ];
  for (const [id, event, handler] of handlers) $(id).addEventListener(event, handler);
  // F1, as in the dialog, counts towards the service functions.
  document.addEventListener('keydown', (event) => {
    if (event.key === 'F1') {
      event.preventDefault();
      if (!busy) call('zyr_help_pressed');
    }
  });
  window.addEventListener('beforeunload', (event) => {
    if (busy) {
      event.preventDefault();
      event.returnValue = 'You should NEVER exit during USB activity, exiting now can corrupt the device.';
    }
  });
  if (navigator.hid) {
    navigator.hid.addEventListener('disconnect', (event) => {
      port.forget(event.device);
      showDevice();
    });
    // A converter plugged in again is taken up between operations, never
    // in the middle of one.
    navigator.hid.addEventListener('connect', (event) => {
      if (!busy && !port.device && describeMismatch(event.device, port.identity) === '') port.device = event.device;
      showDevice();
    });
  }
}

async function start() {
  wire();
  if (!port.supported()) {
    $('support').textContent = 'This browser has no WebHID, so this page cannot reach a converter. Use Chrome or Edge 89 or later, or zyr.exe and zyrctl.';
    $('support').classList.add('problem');
  }
  try {
    core = await createZyrCore({ zyrHid: port, zyrStatus: coreStatus });
  } catch (error) {
    status(`The page's core could not start: ${error.message}`, true);
    $('read').disabled = true;
    $('choose').disabled = true;
    return;
  }
  $('tool-version').textContent = call('zyr_version');
  port.identity = callJson('zyr_identity');
  await port.ensureDevice();
  showDevice();
  refresh();
  document.body.dataset.ready = '1';
}

start();
