#include "protocol/device_operations.h"
// TODO(protocol): not built yet.
volatile HANDLE workerHandle = nullptr;
void OnReadDeviceButton() {}
void OnWriteDeviceButton() {}
void StartFormatWorker() {}
unsigned __stdcall ReadThreadProc(void *) { return 1; }
unsigned __stdcall WriteThreadProc(void *) { return 1; }
bool ReadDevice() { return false; }
bool WriteDevice() { return false; }
bool FormatDevice() { return false; }
void EndWorkerBeforeExit() {}
