#pragma once

#include "base/AppTitle.h"

#include <QString>

// Process-wide meter and window state, shared by the windows on the user-interface thread.
// Which window writes which value is noted beside it.

extern QString
    g_DocVersion; // working firmware version (preferences, new-window commands, documents)
extern int g_DocKind; // kind of window about to be created: 1 meter form, 2 terminal, 5 Quixal form
extern unsigned char g_ModbusEnabled; // 1 while the Modbus port object is in use

// Puts every value above back to its start-of-program state, and forgets what the connected
// meter said (for tests).
void ResetGlobals();
