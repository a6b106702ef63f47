#include "debuglog.h"
#include "pcapngfile.h"
#include "upgradefile.h"
#include "usbmontrace.h"

#include <QByteArray>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

// Writes the seeds too big to keep in the repository, whole valid inputs from which the fuzzing
// reaches the paths a file must pass every check to get to:
//   DIR/upgradefile/  an upgrade file as create-upg writes it, and one whose image item runs on
//                     past the format's image
//   DIR/hextobin/     a HEX file over every window of the harness, with a line longer than the
//                     converter's 64 KiB read block
//   DIR/usbmontrace/  a trace of control transfers in and out (a page write among them), a
//                     stall, one never completed and an interrupt transfer, as pcap and pcapng
namespace {

constexpr quint8 DataRecord = 0x00;
constexpr quint8 EndRecord = 0x01;
constexpr quint8 ExtendedLinearAddressRecord = 0x04;
constexpr quint8 StartLinearAddressRecord = 0x05;
constexpr int LongestRecordData = 255;
constexpr int LongLineBlanks = 70000; // more than the converter's read block
constexpr int ItemOverhang = 16;

QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    quint32 x = 470;
    for (char &byte : bytes)
        byte = char((x = x * 1103515245u + 12345u) >> 16);
    return bytes;
}

QByteArray record(quint8 type, quint16 address, const QByteArray &data)
{
    QByteArray bytes;
    bytes += char(data.size());
    bytes += char(address >> 8);
    bytes += char(address);
    bytes += char(type);
    bytes += data;
    quint8 sum = 0;
    for (const char byte : bytes)
        sum = quint8(sum + quint8(byte));
    bytes += char(quint8(-sum));
    return ':' + bytes.toHex().toUpper();
}

QByteArray upperAddress(quint16 upper)
{
    return record(ExtendedLinearAddressRecord, 0, QByteArray(1, char(upper >> 8)) + char(upper));
}

bool write(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    return QDir().mkpath(QFileInfo(name).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size();
}

// One transfer on device 2 of bus 1, each a millisecond after the last.
UsbTransfer transfer(quint8 type, quint8 endpoint, const QByteArray &setup, const QByteArray &data,
                     qint32 status)
{
    static quint64 id = 0;
    UsbTransfer t;
    t.id = ++id;
    t.type = type;
    t.endpoint = endpoint;
    t.bus = 1;
    t.device = 2;
    t.setup = setup;
    t.data = data;
    t.requestedLength = quint32(setup.isEmpty() ? data.size() : t.length());
    t.status = status;
    t.submittedUs = qint64(id) * 1000;
    t.completedUs = t.submittedUs + 100;
    return t;
}

bool writeTrace(const QString &name)
{
    UsbmonTrace trace;
    QString error;
    if (!QDir().mkpath(QFileInfo(name).path()) || !trace.create(name, &error))
        return false;
    const QString serial = QStringLiteral("470000001b");
    const QByteArray serialDescriptor =
        QByteArray(1, char(2 + 2 * serial.size())) + '\x03' +
        QByteArray(reinterpret_cast<const char *>(serial.utf16()), 2 * serial.size());
    const quint8 control = UsbTransfer::Control;
    trace.write(transfer(control, 0x80, UsbTransfer::setupPacket(0x80, 6, 0x0303, 0, 256),
                         serialDescriptor, 0));
    trace.write(transfer(control, 0x00, UsbTransfer::setupPacket(0x40, 3, 0x4000, 0x0800, 2048),
                         pattern(2048), 0));
    trace.write(transfer(control, 0x80, UsbTransfer::setupPacket(0xC0, 0xFF, 0, 0, 2), {}, -32));
    trace.write(transfer(UsbTransfer::Interrupt, 0x81, {}, pattern(8), 0));
    UsbTransfer pending =
        transfer(control, 0x80, UsbTransfer::setupPacket(0xC0, 1, 0, 0x0800, 16), {}, 0);
    pending.completed = false;
    trace.write(pending);
    trace.close();
    QFile file(name);
    return file.open(QIODevice::ReadOnly) && write(name + "ng", pcapngFromPcap(file.readAll()));
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    DebugLog::setEnabled(false);
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    QString error;
    if (!QDir().mkpath(dir.filePath("upgradefile")) ||
        !UpgradeFile::write(dir.filePath("upgradefile/whole.upg"), pattern(UpgradeFile::ImageSize),
                            &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QByteArray longer;
    QDataStream stream(&longer, QIODevice::WriteOnly);
    stream << QString::fromLatin1(UpgradeFile::Header) << QString::fromLatin1(UpgradeFile::Version)
           << pattern(UpgradeFile::ImageSize + ItemOverhang);

    const QByteArray data = pattern(LongestRecordData);
    const QByteArrayList lines = {
        upperAddress(0x0800),
        record(DataRecord, 0x3FF8, data.left(16)),
        record(DataRecord, 0x4008, data.left(32)) + QByteArray(LongLineBlanks, ' ') + '\r',
        record(DataRecord, 0xFF80, data),
        upperAddress(0xFFFF),
        record(DataRecord, 0xFFF0, data.left(16)),
        record(StartLinearAddressRecord, 0, QByteArray::fromHex("08004000")),
        record(EndRecord, 0, {}),
    };
    if (!write(dir.filePath("upgradefile/longer-image-item.upg"), longer + "trailing") ||
        !write(dir.filePath("hextobin/whole-with-long-line.hex"), lines.join('\n') + '\n') ||
        !writeTrace(dir.filePath("usbmontrace/tq470.pcap"))) {
        std::fprintf(stderr, "cannot write the seeds into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
