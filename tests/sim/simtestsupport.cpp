#include "simtestsupport.h"

namespace {

EmulatedBus *currentBus = nullptr;

} // namespace

SimTestBus::SimTestBus()
{
    currentBus = &m_bus;
}

SimTestBus::~SimTestBus()
{
    m_bus.unplugAll();
    currentBus = nullptr;
}

EmulatedBus &SimTestBus::bus()
{
    if (!currentBus)
        qFatal("SimTestBus: no bus; the test needs TQ470_SIM_TEST_MAIN");
    return *currentBus;
}

PluggedDevice SimTestBus::plugFresh(const DeviceOptions &options)
{
    unplugAll();
    return plugAnother(options);
}

PluggedDevice SimTestBus::plugFresh(const DeviceState &state, const DeviceOptions &options)
{
    unplugAll();
    PluggedDevice plugged;
    plugged.device = std::make_shared<SimulatedDevice>(state, options);
    plugged.id = bus().plug(plugged.device);
    return plugged;
}

PluggedDevice SimTestBus::plugAnother(const DeviceOptions &options)
{
    PluggedDevice plugged;
    plugged.device = std::make_shared<SimulatedDevice>(options);
    plugged.id = bus().plug(plugged.device);
    return plugged;
}

void SimTestBus::unplugAll()
{
    bus().unplugAll();
}
