// The request to stop a running device operation at its next register
// boundary, made when the program closes during USB activity. The register
// loops and the retry frame look at it; a register exchange already on the
// wire always completes, so no register is left half-written.
#pragma once

void RequestOperationCutOff();
void ClearOperationCutOff();
bool OperationCutOff();
