// Read Device, Write Device and Format Device, one at a time on a worker thread.
#pragma once

#include "protocol/converter_lock.h"

#include <windows.h>
#include <atomic>
#include <cstdint>

// Threads: the dialog thread starts one worker at a time, and the worker
// reaches the dialog only through sent messages (StatusLine,
// RefreshControls), which run on the dialog thread. No lock is needed:
// each shared flag below has one writer at any moment, and is atomic so the
// other thread sees each write whole and in order.
//
// Handle of the running worker; non-zero means busy. Only the dialog
// thread sets it (before the worker runs a line), only the worker clears it
// (as its very last step); the dialog thread reads it.
extern std::atomic<HANDLE> workerHandle;

void OnReadDeviceButton();
void OnWriteDeviceButton();
// Starts WriteThreadProc with argument 1 (format) unless busy.
void StartFormatWorker();

unsigned __stdcall ReadThreadProc(void *argument);
unsigned __stdcall WriteThreadProc(void *argument);

bool ReadDevice();
bool WriteDevice();
bool FormatDevice();

// Takes the converter lock for one operation, without waiting: a user who
// is told that another ZYR program has the converter can press again. When
// the lock cannot be taken the status line says why and false comes back,
// with nothing else changed and nothing sent.
bool TakeConverterForDialog(ConverterLock &lock);

// Called once the main dialog has ended: a worker still running is asked to
// stop at its next register boundary and waited for (bounded), so the
// process never tears down the device object under it. Closes the worker's
// thread handle.
void EndWorkerBeforeExit();
