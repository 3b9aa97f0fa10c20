#include "config/factory.h"
// TODO(config): not built yet.
void LoadFactoryDefaults(HWND) {}
void RunFactoryFormat() {}
