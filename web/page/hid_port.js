// The converter as WebHID shows it: choosing the device, opening and
// closing it, sending output reports and taking input reports from a queue
// with a time limit. The register protocol (in the WebAssembly core) calls
// these through its report transport and awaits each promise.
'use strict';

// How many input reports the queue keeps; a converter answers one report
// per request, so more than this means something floods the device.
const MOST_QUEUED_REPORTS = 64;

// Whether a WebHID device shows the converter's identity (the core's, from
// zyr_identity: vendorId, productId, usagePage, payloadBytes): its vendor
// and product, a vendor-defined collection and reports of the payload's
// length without a report id both ways. WebHID does not show the
// manufacturer string or the release number, so those two cannot be
// checked here. '' when it does, else why not.
function describeMismatch(device, identity) {
  const hex = (n) => '0x' + n.toString(16).toUpperCase().padStart(4, '0');
  const ids = `${hex(identity.vendorId).slice(2)}:${hex(identity.productId).slice(2)}`;
  if (device.vendorId !== identity.vendorId || device.productId !== identity.productId)
    return `it is ${hex(device.vendorId)}:${hex(device.productId)}, not a ZYR converter (${ids})`;
  const collection = (device.collections || []).find((c) => c.usagePage === identity.usagePage);
  if (!collection) return `it has no collection of usage page ${hex(identity.usagePage)} like a ZYR converter`;
  const bytesOf = (reports) =>
    (reports || []).map((r) => ({
      id: r.reportId,
      bytes: (r.items || []).reduce((sum, item) => sum + (item.reportSize * item.reportCount) / 8, 0),
    }));
  const fits = (reports) => reports.some((r) => r.id === 0 && r.bytes === identity.payloadBytes);
  if (!fits(bytesOf(collection.inputReports)) || !fits(bytesOf(collection.outputReports)))
    return `its reports are not the ${identity.payloadBytes}-byte reports of a ZYR converter`;
  return '';
}

class HidPort {
  constructor(hid) {
    this.hid = hid; // navigator.hid, or undefined where the browser lacks WebHID
    this.identity = null; // the converter's identity, set once the core has started
    this.device = null;
    this.queue = [];
    this.waiter = null;
    this.listening = false;
    this.lastError = '';
    this.onReport = (event) => this.takeReport(event);
  }

  supported() {
    return !!this.hid;
  }

  filters() {
    const { vendorId, productId, usagePage } = this.identity;
    return [{ vendorId, productId, usagePage }];
  }

  // A converter the browser already lets this page use (granted before, or
  // by the browser's policy), without asking. Only devices that show the
  // converter's identity count.
  async findGranted() {
    if (!this.hid) return null;
    const devices = await this.hid.getDevices();
    return devices.find((d) => describeMismatch(d, this.identity) === '') || null;
  }

  // Asks the browser's chooser; needs a user's click. Returns '' or why no
  // converter was taken.
  async requestConverter() {
    if (!this.hid) return 'this browser has no WebHID';
    let devices;
    try {
      devices = await this.hid.requestDevice({ filters: this.filters() });
    } catch (error) {
      return `the browser refused access to USB devices (${error.message})`;
    }
    if (!devices || devices.length === 0) return 'no converter was chosen';
    const problem = describeMismatch(devices[0], this.identity);
    if (problem) return `the chosen device cannot be used: ${problem}`;
    this.device = devices[0];
    return '';
  }

  // Takes a granted converter when none is chosen yet; '' when one is there.
  async ensureDevice() {
    if (this.device) return '';
    this.device = await this.findGranted();
    return this.device ? '' : 'USB device not found';
  }

  // The converter was unplugged: whatever waits for it stops waiting.
  forget(device) {
    if (this.device !== device) return;
    this.device = null;
    this.stopListening(device);
  }

  // No more input reports from `device`: none kept, and whatever waits for
  // one stops waiting.
  stopListening(device) {
    if (device && this.listening) device.removeEventListener('inputreport', this.onReport);
    this.listening = false;
    this.queue = [];
    this.wake();
  }

  takeReport(event) {
    const data = new Uint8Array(event.data.buffer, event.data.byteOffset, event.data.byteLength);
    const report = new Uint8Array(1 + data.length);
    report[0] = event.reportId;
    report.set(data, 1);
    if (this.queue.length < MOST_QUEUED_REPORTS) this.queue.push(report);
    this.wake();
  }

  wake() {
    if (this.waiter) {
      const resolve = this.waiter;
      this.waiter = null;
      resolve();
    }
  }

  // Opens the chosen converter and starts taking its input reports.
  async open() {
    this.queue = [];
    if (!this.device) {
      this.lastError = 'USB device not found';
      return false;
    }
    try {
      if (!this.device.opened) await this.device.open();
    } catch (error) {
      this.lastError = error.message;
      return false;
    }
    this.device.addEventListener('inputreport', this.onReport);
    this.listening = true;
    return true;
  }

  async close() {
    const device = this.device;
    this.stopListening(device);
    if (device && device.opened) {
      try {
        await device.close();
      } catch (error) {
        // A device that went away is closed already.
      }
    }
  }

  // `report` is the whole report, byte 0 its report id. A send that the
  // browser has not completed within `timeoutMs` counts as failed.
  async send(report, timeoutMs) {
    if (!this.device || !this.device.opened) return false;
    const sent = this.device.sendReport(report[0], report.slice(1)).then(
      () => true,
      () => false,
    );
    return this.bounded(sent, timeoutMs, false);
  }

  // The next input report, or null when none came within `timeoutMs`.
  async receive(timeoutMs) {
    const deadline = performance.now() + timeoutMs;
    while (this.queue.length === 0) {
      const left = deadline - performance.now();
      if (left <= 0 || !this.device || !this.listening) return null;
      await this.bounded(new Promise((resolve) => (this.waiter = resolve)), left, undefined);
      this.waiter = null;
    }
    return this.queue.shift();
  }

  // Throws away the queued input reports, each awaited for at most
  // `waitMs` (0: only those already there); how many there were.
  async discard(waitMs) {
    let discarded = 0;
    while (discarded < MOST_QUEUED_REPORTS && (await this.receive(waitMs)) !== null) ++discarded;
    return discarded;
  }

  bounded(promise, ms, onExpiry) {
    let timer;
    const expiry = new Promise((resolve) => (timer = setTimeout(() => resolve(onExpiry), ms)));
    return Promise.race([promise, expiry]).finally(() => clearTimeout(timer));
  }
}

