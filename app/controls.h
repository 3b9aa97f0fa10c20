// Keeping the main dialog's controls and the configuration image in step.
#pragma once

#include <atomic>

enum RefreshMode { RefreshNoData = 0, RefreshBusy = 1, RefreshImage = 2, RefreshAfterWrite = 3 };

// Mode 1 busy, 0 no data, any other value shows the image.
void RefreshControls(int mode);
// Copies the user's choices into the image; 0 after the range error box.
int ControlsToImage();

// Set by a Read Device worker as it starts, read by RefreshControls on the
// dialog thread once the worker has posted its result.
extern std::atomic<int> highToLowUnlocked;
