// Read Device, Write Device and Format Device, one at a time on a worker thread.
#pragma once

#include "protocol/converter_lock.h"

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
