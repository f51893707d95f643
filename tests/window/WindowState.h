#pragma once

// The control states of the connected and the disconnected window, control by control.

#include "WindowHarness.h"

#include <gtest/gtest.h>

namespace windowtest {

// The panels and the grid are emptied by a disconnection only; a window that never connected
// keeps the form's texts.
void ExpectControlStates(Window& w, bool connected, bool afterDisconnection = true);

}  // namespace windowtest
