#include "protocol/operation_cut_off.h"

#include <atomic>

namespace {
// Set by the dialog thread or a console handler, read by the worker.
std::atomic<bool> cutOff{false};
}

void RequestOperationCutOff() { cutOff = true; }

void ClearOperationCutOff() { cutOff = false; }

bool OperationCutOff() { return cutOff; }
