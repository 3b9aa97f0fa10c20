#include "protocol/operation_cut_off.h"

#include <windows.h>

namespace {
volatile LONG cutOff = 0;
}

void RequestOperationCutOff()
{
    InterlockedExchange(&cutOff, 1);
}

void ClearOperationCutOff()
{
    InterlockedExchange(&cutOff, 0);
}

bool OperationCutOff()
{
    return InterlockedCompareExchange(&cutOff, 0, 0) != 0;
}
