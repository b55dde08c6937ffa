// The Windows program's control dialog (control_dialog.cpp).
#pragma once

#include <windows.h>

#include "control/options.h"

// Shows the control dialog, started with the command line's `options`, until the user closes it.
// Returns its end code: 0.
INT_PTR ShowControlDialog(HINSTANCE instance, const StartOptions& options);
