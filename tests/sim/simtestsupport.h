#ifndef TQ470_SIMTESTSUPPORT_H
#define TQ470_SIMTESTSUPPORT_H

#include "deviceoptions.h"
#include "emulatedbus.h"
#include "simulateddevice.h"

#include <QtTest>

#include <memory>

// A simulated Tq470 plugged in for one test case.
struct PluggedDevice
{
    EmulatedBus::DeviceId id = 0;
    std::shared_ptr<SimulatedDevice> device;

    SimulatedDevice *operator->() const { return device.get(); }
};

// The emulated bus of a Qt Test program whose code under test reaches simulated Tq470s through
// the real libusb 0.1. The test main (TQ470_SIM_TEST_MAIN) creates it before the first test
// function, hence before any usb_init(), and destroys it after the last; test functions reach
// it through the static members.
class SimTestBus
{
public:
    SimTestBus();
    ~SimTestBus();
    SimTestBus(const SimTestBus &) = delete;
    SimTestBus &operator=(const SimTestBus &) = delete;

    static EmulatedBus &bus();
    // Unplugs whatever the previous test left on the bus and plugs one fresh device.
    static PluggedDevice plugFresh(const DeviceOptions &options = DeviceOptions());
    // The same with a device that already holds the given state.
    static PluggedDevice plugFresh(const DeviceState &state, const DeviceOptions &options);
    // Plugs one more device beside those on the bus.
    static PluggedDevice plugAnother(const DeviceOptions &options = DeviceOptions());
    static void unplugAll();

private:
    EmulatedBus m_bus;
};

// Like QTEST_MAIN: a QApplication when the test links Qt Widgets, a QGuiApplication with Qt
// Gui, a QCoreApplication otherwise. The program first re-runs itself under umockdev's preload
// library when it is not already under it.
#if defined(QT_WIDGETS_LIB)
#include <QApplication>
#define TQ470_SIM_TEST_APPLICATION QApplication
#elif defined(QT_GUI_LIB)
#include <QGuiApplication>
#define TQ470_SIM_TEST_APPLICATION QGuiApplication
#else
#define TQ470_SIM_TEST_APPLICATION QCoreApplication
#endif

#define TQ470_SIM_TEST_MAIN_WITH(Application, TestClass)                                        \
    int main(int argc, char *argv[])                                                              \
    {                                                                                             \
        EmulatedBus::ensurePreloaded(argc, argv);                                                 \
        Application application(argc, argv);                                                     \
        SimTestBus simTestBus;                                                                    \
        TestClass test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                \
        return QTest::qExec(&test, argc, argv);                                                   \
    }

#define TQ470_SIM_TEST_MAIN(TestClass) \
    TQ470_SIM_TEST_MAIN_WITH(TQ470_SIM_TEST_APPLICATION, TestClass)
#define TQ470_SIM_TEST_GUILESS_MAIN(TestClass) \
    TQ470_SIM_TEST_MAIN_WITH(QCoreApplication, TestClass)

#endif
