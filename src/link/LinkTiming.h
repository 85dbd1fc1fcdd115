#pragma once

// Wall-clock meaning of the link's waits. The program's dialogues count waits in polls of the
// non-blocking ReadByte; here those counts become deadlines, so behaviour does not depend on CPU
// speed. Tests shrink the pacing through the link's constructor, never through a global switch.
struct LinkTiming
{
    // Multiplies every pacing sleep (20 ms before each SendStringAsync byte, 25 ms after each
    // SendCommandAsync byte). 1.0 on a real line.
    double pacingScale = 1.0;
    // How long one poll of ReadByte stands for when a caller turns a poll count into a
    // deadline (PollsToMs). A real meter answers a 200,000-poll wait well within 2 s.
    double msPerThousandPolls = 10.0;
    // A reply's total time-out is this many ms per requested byte (4096 of them) plus the
    // caller's constant: 3 gives 12288 ms plus the constant for a read that receives nothing.
    int readMsPerByte = 3;
    // How long a dialogue's step waits for the port lock, on its runner, before giving up (no
    // device access then; the step reports failure: 0, or an empty reply).
    int lockWaitMs = 5000;

    int PollsToMs(long polls) const { return int(polls * msPerThousandPolls / 1000.0); }
};
