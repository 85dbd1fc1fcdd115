#pragma once

#include "base/AppTitle.h"

#include <QString>

// Process-wide window state, shared by the windows on the user-interface thread and read by the
// window layer alone. Which window writes which value is noted beside it.

// The firmware version in force for the next meter document (the "Version" preference and the
// new-window commands write it); each document takes a copy as its working version when made.
extern QString g_DocVersion;
extern int g_DocKind; // kind of window about to be created: 1 meter form, 2 terminal, 5 Quixal form
extern unsigned char g_ModbusEnabled; // 1 while the Modbus port object is in use

// Puts every value above back to its start-of-program state, and forgets what the connected
// meter said (for tests).
void ResetGlobals();
