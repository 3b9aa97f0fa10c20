// Read Device, Write Device and Format Device, one at a time on a worker thread.
#pragma once

#include <windows.h>
#include <cstdint>

// Handle of the running worker; non-zero means busy. Only the dialog
// thread sets it, only the worker clears it (as its very last step).
extern volatile HANDLE workerHandle;

void OnReadDeviceButton();
void OnWriteDeviceButton();
// Starts WriteThreadProc with argument 1 (format) unless busy.
void StartFormatWorker();

unsigned __stdcall ReadThreadProc(void *argument);
unsigned __stdcall WriteThreadProc(void *argument);

bool ReadDevice();
bool WriteDevice();
bool FormatDevice();

// Called once the main dialog has ended: a worker still running is asked to
// stop at its next register boundary and waited for (bounded), so the
// process never tears down the device object under it. Closes the worker's
// thread handle.
void EndWorkerBeforeExit();
