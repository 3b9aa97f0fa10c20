// A scripted navigator.hid for the host suite (host_test.js): one device
// that answers the register protocol like a converter, or behaves as the
// case says. Loaded into the page before its own scripts; the case is
// window.fakeHidCase, set by the init script before this one:
//   'converter'  a granted converter, firmware 12300 type 2, other registers 0xFF
//   'none'       nothing granted; the chooser is refused
//   'other'      nothing granted; the chooser gives a device that is no converter
//   'absent'     the browser has no WebHID
(() => {
  const which = window.fakeHidCase || 'converter';
  if (which === 'absent') {
    Object.defineProperty(Navigator.prototype, 'hid', { get: () => undefined });
    return;
  }
  const registers = new Uint8Array(256).fill(0xff);
  registers.set([0x00, 0x0c, 0x30, 0x02, 0x00], 0); // register 0, version 12300, type 2
  window.fakeRegisters = registers;
  const listeners = new Set();
  const reports = (count) => [{ reportId: 0, items: [{ reportSize: 8, reportCount: count }] }];
  const makeDevice = (vendorId, productId, name) => ({
    vendorId,
    productId,
    productName: name,
    opened: false,
    collections: [{ usagePage: 0xff00, usage: 1, inputReports: reports(8), outputReports: reports(8) }],
    async open() { this.opened = true; },
    async close() { this.opened = false; },
    addEventListener(type, listener) { if (type === 'inputreport') listeners.add(listener); },
    removeEventListener(type, listener) { listeners.delete(listener); },
    async sendReport(reportId, data) {
      if (!this.opened) throw new DOMException('The device must be opened first.', 'InvalidStateError');
      const request = new Uint8Array(data.buffer || data);
      const [command, address, value] = request;
      if (reportId !== 0 || request.length !== 8) throw new DOMException('Failed to write the report.', 'NotAllowedError');
      if (command === 1) registers[address] = value;
      if (command === 2) {
        const reply = new Uint8Array(8);
        reply.set([command, address, registers[address]]);
        setTimeout(() => {
          for (const listener of [...listeners]) listener({ reportId: 0, data: new DataView(reply.buffer), device: this });
        }, 0);
      }
    },
  });
  const converter = makeDevice(0x16c0, 0x03e8, 'ZYR-USB');
  const other = makeDevice(0x046d, 0xc077, 'USB Optical Mouse');
  const hid = {
    async getDevices() { return which === 'converter' ? [converter] : []; },
    async requestDevice() {
      if (which === 'none') throw new DOMException('No device selected.', 'NotFoundError');
      return [which === 'other' ? other : converter];
    },
    addEventListener() {},
  };
  Object.defineProperty(Navigator.prototype, 'hid', { get: () => hid });
})();
