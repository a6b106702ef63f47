#include "bootloaderprotocol.h"
#include "devicestatestore.h"
#include "tq470model.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {

DeviceState usedState()
{
    DeviceState state = Tq470Model::freshState(DeviceMode::Application, "261205007");
    state.internalFlash[int(Bootloader::ApplicationBase - Bootloader::FlashBase)] = 0x12;
    state.internalFlash[state.internalFlash.size() - 1] = 0x34;
    state.externalFlash[0x1BFFF] = 0x56;
    state.testBlock = QByteArray(Bootloader::TestBlockSize, '\x07');
    return state;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray deviceJson(const char *mode, const char *serial, int format = 1,
                      const char *testBlock = "")
{
    QJsonObject object;
    object.insert(QStringLiteral("format"), format);
    object.insert(QStringLiteral("mode"), QLatin1String(mode));
    object.insert(QStringLiteral("serial"), QLatin1String(serial));
    object.insert(QStringLiteral("testBlock"), QLatin1String(testBlock));
    return QJsonDocument(object).toJson();
}

} // namespace

class TestDeviceStateStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void saveWritesThreeFilesAndLoadRestores();
    void directoryWithoutFilesHoldsNoDevice();
    void malformedStateIsRejected_data();
    void malformedStateIsRejected();
};

void TestDeviceStateStore::saveWritesThreeFilesAndLoadRestores()
{
    QTemporaryDir parent;
    const DeviceStateStore store(parent.filePath(QStringLiteral("new/device")));
    const DeviceState state = usedState();
    QString error;
    QVERIFY2(store.save(state, &error), qPrintable(error));

    const QDir dir(store.directory());
    QCOMPARE(dir.entryList(QDir::Files | QDir::Hidden),
             QStringList({"device.json", "external.bin", "internal.bin"}));
    QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("internal.bin"))).size(), qint64(262144));
    QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("external.bin"))).size(), qint64(2097152));
    QFile internal(dir.filePath(QStringLiteral("internal.bin")));
    QVERIFY(internal.open(QIODevice::ReadOnly));
    QCOMPARE(internal.readAll(), state.internalFlash);
    QFile json(dir.filePath(QStringLiteral("device.json")));
    QVERIFY(json.open(QIODevice::ReadOnly));
    const QJsonObject object = QJsonDocument::fromJson(json.readAll()).object();
    QCOMPARE(object.value(QStringLiteral("mode")).toString(), QStringLiteral("application"));
    QCOMPARE(object.value(QStringLiteral("serial")).toString(), QStringLiteral("261205007"));

    DeviceState loaded;
    QVERIFY2(store.load(&loaded, &error), qPrintable(error));
    QCOMPARE(loaded.mode, state.mode);
    QCOMPARE(loaded.serial, state.serial);
    QCOMPARE(loaded.internalFlash, state.internalFlash);
    QCOMPARE(loaded.externalFlash, state.externalFlash);
    QCOMPARE(loaded.testBlock, state.testBlock);
}

void TestDeviceStateStore::directoryWithoutFilesHoldsNoDevice()
{
    QTemporaryDir parent;
    QVERIFY(!DeviceStateStore(parent.path()).holdsDevice());
    QVERIFY(!DeviceStateStore(parent.filePath(QStringLiteral("missing"))).holdsDevice());
    QVERIFY(writeFile(parent.filePath(QStringLiteral("device.json")),
                      deviceJson("bootloader", "1")));
    QVERIFY(DeviceStateStore(parent.path()).holdsDevice());
}

void TestDeviceStateStore::malformedStateIsRejected_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");

    QTest::newRow("internal.bin one byte short")
        << "internal.bin" << QByteArray(262143, '\0') << "internal.bin holds 262143 bytes";
    QTest::newRow("external.bin missing") << "external.bin" << QByteArray()
                                          << "cannot read";
    QTest::newRow("device.json not JSON") << "device.json" << QByteArray("mode=bootloader")
                                          << "is not a JSON object";
    QTest::newRow("unknown mode") << "device.json" << deviceJson("sleeping", "261205007")
                                  << "\"mode\" must be \"bootloader\" or \"application\"";
    QTest::newRow("serial of eight digits") << "device.json" << deviceJson("bootloader", "26120500")
                                            << "\"serial\" must be nine digits";
    QTest::newRow("another format") << "device.json" << deviceJson("bootloader", "261205007", 2)
                                    << "\"format\" must be 1";
    QTest::newRow("test block of three bytes")
        << "device.json" << deviceJson("bootloader", "261205007", 1, "010203") << "\"testBlock\"";
}

void TestDeviceStateStore::malformedStateIsRejected()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QString, message);

    QTemporaryDir dir;
    const DeviceStateStore store(dir.path());
    QString error;
    QVERIFY(store.save(usedState(), &error));
    if (content.isNull())
        QVERIFY(QFile::remove(dir.filePath(file)));
    else
        QVERIFY(writeFile(dir.filePath(file), content));

    DeviceState loaded;
    QVERIFY(!store.load(&loaded, &error));
    QVERIFY2(error.contains(message), qPrintable(error));
    QVERIFY2(error.contains(file), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestDeviceStateStore)
#include "tst_devicestatestore.moc"
