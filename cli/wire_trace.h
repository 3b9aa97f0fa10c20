// --trace FILE: every report exchanged with the converter (milliseconds
// since the trace began, direction, the bytes in hex), every failed or
// cancelled transfer, and each open and close of a device handle, so a
// retry shows as a failure, a close and a reopen. It wraps the entries of
// the device boundary in force, so it records what went to the system
// and what came back, not what the program meant to send. A retried
// attempt's queue flush goes through the HID library, not the boundary:
// the late replies it discards are not in the trace.
//
//     12.041 ms  open   read  \\?\hid#...
//     12.530 ms  out    00 02 01 00 00 00 00 00 00
//     13.602 ms  in     00 02 01 0C 00 00 00 00 00
#pragma once

#include "cli/exit_codes.h"

#include <string>

// Exit 3 when the file cannot be created.
Outcome StartWireTrace(const std::string &path);
// Puts the boundary back as it was and closes the file; success when no
// trace runs. Exit 3 when any line of the trace could not be written.
Outcome StopWireTrace();
