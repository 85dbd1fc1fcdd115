#pragma once

#include "link/SerialPort.h"
#include "support/RunToEnd.h"

// Waits for input on port as the dialogues wait for it (InputWithin), on a runner of its own:
// 1 once a byte is pending, 0 after timeoutMs (or at once on a gone port).
inline int WaitForInput(SerialPort &port, int timeoutMs)
{
    DialogueRunner runner;
    return RunToEnd(runner, port.InputWithin(runner, timeoutMs), timeoutMs + 5000) ? 1 : 0;
}
