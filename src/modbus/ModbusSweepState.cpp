#include "modbus/ModbusSweepState.h"

#include "base/AppServices.h"

#include <algorithm>
#include <utility>

namespace {
int s_sweepIndex = 1;
int s_sampleCount = 0;

ModbusSweepState::PortProvider &Provider()
{
    static ModbusSweepState::PortProvider provider = []() -> mbCSerial * {
        AppServices *services = AppServices::Instance();
        return services ? services->ModbusPort() : nullptr;
    };
    return provider;
}
} // namespace

ModbusSweepState::PortProvider ModbusSweepState::SetPortProvider(PortProvider provider)
{
    PortProvider old = Provider();
    Provider() = std::move(provider);
    return old;
}

mbCSerial *ModbusSweepState::CurrentPort()
{
    return Provider() ? Provider()() : nullptr;
}

int ModbusSweepState::SweepIndex()
{
    return s_sweepIndex;
}

void ModbusSweepState::SetSweepIndex(int index)
{
    s_sweepIndex = std::clamp(index, 1, kPanels);
}

int ModbusSweepState::SampleCount()
{
    return s_sampleCount;
}

void ModbusSweepState::SetSampleCount(int count)
{
    s_sampleCount = count;
}
