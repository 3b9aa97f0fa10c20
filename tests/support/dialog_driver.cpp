#include "tests/support/dialog_driver.h"
// placeholder: the driver lands next
