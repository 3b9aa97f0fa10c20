// Helpers of the hot-plug tests: an owner window on the test thread whose
// posted messages are collected while the thread's queue is pumped, single
// boundary entries swapped for the length of a test, and a watch on the
// reader thread that outlives the object's own thread handle.
#pragma once

#include "base/no_copy.h"
#include "device/hid_com.h"
#include "tests/device/match_converter.h"
#include "sim/sim_bus.h"
#include "tests/protocol/boundary_override.h"
#include "tests/support/sim_fixture.h"

#include <cstdint>
#include <initializer_list>
#include <functional>
#include <string>
#include <vector>

using Codes = std::vector<WPARAM>;

// A message hid_com posted to the owner.
struct Posted {
    UINT message;
    WPARAM wParam;
    uint32_t lParam;  // the low 32 bits: all that hid_com ever sends
};

// A plain hidden window on the calling thread, standing in for the owner.
// Every pump dispatches the thread's other messages (the hidden window of
// hid_com lives on the same thread) and keeps what reaches the owner.
class OwnerWindow : private NoCopy {
public:
    OwnerWindow();
    ~OwnerWindow();

    HWND Handle() const { return window; }

    // Handles every message waiting now, sent or posted.
    void Pump();
    // Pumps until `count` messages reached the owner in all, or until
    // `timeoutMs` has passed; true when they did.
    bool WaitForCount(size_t count, DWORD timeoutMs = 5000);

    const std::vector<Posted> &Received() const { return received; }
    // The codes of WM_HIDCOM_STATUS, in order; other messages left out.
    std::vector<WPARAM> StatusCodes() const;
    void Clear() { received.clear(); }

private:
    bool PumpOne(MSG &msg);
    HWND window = nullptr;
    std::vector<Posted> received;
};

// A handle of our own on the reader thread, so a test can tell whether it
// has ended after hid_com closed its handle.
class ThreadWatch : private NoCopy {
public:
    explicit ThreadWatch(HANDLE thread);
    ~ThreadWatch();

    bool Ended(DWORD timeoutMs = 0) const;

private:
    HANDLE handle = nullptr;
};

// Polls `condition` until it holds or `timeoutMs` has passed; true when
// it held. For states that no event announces, such as a read in flight.
bool WaitUntil(const std::function<bool()> &condition, DWORD timeoutMs = 5000);

// Whether a kernel handle value still names an open object.
bool HandleOpen(HANDLE handle);

// Threads of this process now, counted by the Toolhelp snapshot.
int ProcessThreadCount();

// Whether a window class of that name is registered for the module.
bool ClassRegistered(const std::string &name);

// A report of nine bytes from a list.
sim::Report MakeReport(std::initializer_list<uint8_t> bytes);

// The reports reached the owner in this order, one message each, bytes 1-4
// in lParam and 5-8 in wParam (low byte first).
void CheckReports(const OwnerWindow &owner, const std::vector<sim::Report> &sent);

// The converter sends `report` on its own; it reaches the owner as the one
// report message it is waiting for.
void CheckReportDelivered(sim::SimDevice &converter, OwnerWindow &owner, const sim::Report &report);

// Nothing of the device is open: no handle, reader, wake event or start event.
void CheckClosed(const hid_com &device);

// The device holds no device-change registration, and the bus has none.
void CheckNotRegistered(const hid_com &device);

// Handles what waits on the thread's queue; none of it reached the owner.
void CheckNothingPosted(OwnerWindow &owner);

// A converter on the bus, found by an attached hid_com whose status 3 the
// owner has already taken.
struct AttachedFixture : SimFixture {
    AttachedFixture();
    // Opens made after Attach, whose search opened each candidate once.
    int OpensSinceAttach() const { return bus.OpenHandlesTotal() - opensByAttach; }
    // The next read of a reply fails.
    void FailNextRead();

    sim::SimDevice &converter;
    int opensByAttach = 0;
    OwnerWindow owner;
    hid_com device;
};
