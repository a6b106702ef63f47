// Measures how long the window's event loop stands still during an upgrade that ends with the
// two dumps of a failed external-flash verify, on the in-process simulated device.

#include "debuglog.h"
#include "emulatedbus.h"
#include "simulateddevice.h"
#include "slicedlog.h"
#include "tq470_bootloader.h"
#include "tq470model.h"
#include "upgradefile.h"
#include "upgrader.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextBrowser>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

constexpr int TickMs = 1;
constexpr qint64 NsPerMs = 1000000;
// The second dump's title: the run ended as it should.
const char *const SecondDumpTitle = "ext_datas.data()";
// Every answer of the external-flash read is corrupted, so the verify never matches.
const char *const VerifyFault = "corrupt:request=0x05";

} // namespace

int main(int argc, char *argv[])
{
    EmulatedBus::ensurePreloaded(argc, argv);
    QApplication application(argc, argv);
    // As the window runs for a technician: without the debug lines.
    DebugLog::setEnabled(false);
    EmulatedBus bus;
    const DeviceOptions options;
    const auto device = std::make_shared<SimulatedDevice>(
        Tq470Model::freshState(options.mode, options.serial), options);
    if (!device->addFault(QString::fromLatin1(VerifyFault)))
        return 1;
    bus.plug(device);

    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("stall.upg"));
    QByteArray image(UpgradeFile::ImageSize, '\0');
    for (qsizetype i = 0; i < image.size(); ++i)
        image[i] = char(i * 7 + i / 251);
    QString error;
    if (!dir.isValid() || !UpgradeFile::write(fileName, image, &error)) {
        std::fprintf(stderr, "cannot write the upgrade file: %s\n", qPrintable(error));
        return 1;
    }

    auto window = std::make_unique<TQ470_Bootloader>();
    Upgrader *const worker = window->worker();
    const SlicedLog *const log = window->findChild<SlicedLog *>();
    window->show();

    QElapsedTimer clock;
    qint64 lastTurn = 0;
    qint64 largest = 0;
    // Queued behind the worker's last texts.
    bool workerDone = false;
    QObject::connect(worker, &QThread::finished, &application,
                     [&workerDone] { workerDone = true; });
    QTimer tick;
    tick.setInterval(TickMs);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        largest = qMax(largest, now - lastTurn);
        lastTurn = now;
        if (workerDone && (!log || log->idle()))
            application.quit();
    });
    worker->slotSetFileName(fileName);
    clock.start();
    tick.start();
    worker->start();
    application.exec();
    worker->wait();

    std::printf("largest window stall: %lld ms\n", static_cast<long long>(largest / NsPerMs));
    const QTextBrowser *const view = window->findChild<QTextBrowser *>();
    const bool dumped = !worker->succeeded() && view &&
                        view->toPlainText().contains(QLatin1String(SecondDumpTitle));
    if (!dumped)
        std::fprintf(stderr, "the run did not end with the two dumps\n");
    window.reset();
    delete worker;
    return dumped ? 0 : 1;
}
