#pragma once

#include <functional>

class mbCSerial;

// What the Modbus windows share process-wide: where they find the Modbus port, the sweep index
// (the next panel to read, 1..8) and the count of samples taken. It outlives the windows and is
// never reset when polling starts.
class ModbusSweepState
{
public:
    static constexpr int kPanels = 8;

    // Where the windows find the Modbus port (may give null): the application's by default;
    // tests and the benchmark install their own. Gives back the one it replaces.
    using PortProvider = std::function<mbCSerial *()>;
    static PortProvider SetPortProvider(PortProvider provider);
    static mbCSerial *CurrentPort();
    static int SweepIndex();
    // Kept within 1..8.
    static void SetSweepIndex(int index);
    static int SampleCount();
    static void SetSampleCount(int count);
};
