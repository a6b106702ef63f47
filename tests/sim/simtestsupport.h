#ifndef TQ470_SIMTESTSUPPORT_H
#define TQ470_SIMTESTSUPPORT_H

#include "emulatedbus.h"
#include "simulateddevice.h"

#include <QtTest>

// A simulated Tq470 plugged in for one test case.
struct PluggedDevice
{
    EmulatedBus::DeviceId id = 0;
    std::shared_ptr<SimulatedDevice> device;

    SimulatedDevice *operator->() const { return device.get(); }
};

// The emulated bus of a test whose code reaches simulated Tq470s through the real libusb 0.1,
// made by runSimTest() before any usb_init(). plugFresh() first unplugs what is there.
class SimTestBus
{
public:
    SimTestBus() { s_bus = &m_bus; }
    ~SimTestBus() { s_bus = nullptr; }

    static EmulatedBus &bus() { return *s_bus; }
    static PluggedDevice plugFresh(const DeviceOptions &options = DeviceOptions())
    {
        return plugFresh(Tq470Model::freshState(options.mode, options.serial), options);
    }
    static PluggedDevice plugFresh(const DeviceState &state, const DeviceOptions &options)
    {
        s_bus->unplugAll();
        const auto device = std::make_shared<SimulatedDevice>(state, options);
        return PluggedDevice{s_bus->plug(device), device};
    }
    static PluggedDevice plugAnother(const DeviceOptions &options = DeviceOptions())
    {
        const auto device = std::make_shared<SimulatedDevice>(options);
        return PluggedDevice{s_bus->plug(device), device};
    }
    static void unplugAll() { s_bus->unplugAll(); }

private:
    static inline EmulatedBus *s_bus = nullptr;
    EmulatedBus m_bus;
};

// Like QTEST_MAIN, after re-running the program under the preload libraries if need be.
template <class Application, class TestClass> int runSimTest(int argc, char *argv[])
{
    EmulatedBus::ensurePreloaded(argc, argv);
    Application application(argc, argv);
    SimTestBus simTestBus;
    TestClass test;
    return QTest::qExec(&test, argc, argv);
}

#define TQ470_SIM_TEST_MAIN_WITH(Application, TestClass)                                           \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return runSimTest<Application, TestClass>(argc, argv);                                     \
    }
#define TQ470_SIM_TEST_GUILESS_MAIN(TestClass) TQ470_SIM_TEST_MAIN_WITH(QCoreApplication, TestClass)
#if defined(QT_WIDGETS_LIB)
#include <QApplication>
#define TQ470_SIM_TEST_MAIN(TestClass) TQ470_SIM_TEST_MAIN_WITH(QApplication, TestClass)
#endif

#endif
