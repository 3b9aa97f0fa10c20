#include "device/hid_library.h"
// TODO(device): binding not built yet.
void HidLibrary::Load() {}
void HidLibrary::Release() {}
