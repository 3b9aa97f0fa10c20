// A test case with nothing to test here (the converter is not attached,
// the system lists no HID interface) says so and is reported skipped, not
// passed: the suite's process then ends with skipReturnCode, which CTest
// shows as "Not Run (Skipped)" for the entry that runs the case.
#pragma once

constexpr int skipReturnCode = 77;

// Records the reason; the case should return after it.
void SkipCase(const char *reason);
