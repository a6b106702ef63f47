#include "usbmontrace.h"

#include <QFile>
#include <QHash>

#include <pcap/pcap.h>
#include <pcap/usb.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

constexpr int MmappedHeaderSize = int(sizeof(pcap_usb_header_mmapped));
constexpr int PlainHeaderSize = int(sizeof(pcap_usb_header));
constexpr qint64 UsPerSecond = 1000000;
// usbmon's flags: a setup packet or data follows when the flag is 0; otherwise the flag says why
// not: no setup in this event, no IN data yet in a submission, no OUT data in a completion.
constexpr char Present = 0;
constexpr char NoSetup = '-';
constexpr char InNotYet = '<';
constexpr char OutSent = '>';
// The URB's direction flag among its transfer flags.
constexpr quint32 UrbDirectionIn = 0x0200;

void writeEvent(pcap_dumper *dumper, const UsbTransfer &transfer, bool submission)
{
    const bool control = transfer.type == UsbTransfer::Control &&
                         transfer.setup.size() == UsbTransfer::SetupSize;
    const bool in = transfer.isIn();
    const qint64 us = submission ? transfer.submittedUs : transfer.completedUs;
    QByteArray data;
    pcap_usb_header_mmapped header;
    std::memset(&header, 0, sizeof header);
    header.id = transfer.id;
    header.event_type = submission ? URB_SUBMIT : URB_COMPLETE;
    header.transfer_type = transfer.type;
    header.endpoint_number = transfer.endpoint;
    header.device_address = transfer.device;
    header.bus_id = transfer.bus;
    header.setup_flag = submission && control ? Present : NoSetup;
    header.ts_sec = us / UsPerSecond;
    header.ts_usec = qint32(us % UsPerSecond);
    if (submission) {
        header.status = -EINPROGRESS;
        header.urb_len = transfer.requestedLength;
        if (!in)
            data = transfer.data;
        if (control)
            std::memcpy(&header.s.setup, transfer.setup.constData(), UsbTransfer::SetupSize);
    } else {
        header.status = transfer.status;
        // The completion's length is what moved: an OUT transfer that failed is shown as having
        // moved nothing, since libusb 0.1 does not say how far it got.
        header.urb_len = in || transfer.status == 0 ? quint32(transfer.data.size()) : 0;
        if (in)
            data = transfer.data;
    }
    header.data_flag = !data.isEmpty() ? Present
                       : in && submission ? InNotYet
                       : !in && !submission ? OutSent
                                            : Present;
    header.data_len = quint32(data.size());
    header.xfer_flags = in ? UrbDirectionIn : 0;

    QByteArray record(reinterpret_cast<const char *>(&header), MmappedHeaderSize);
    record += data;
    pcap_pkthdr packet;
    packet.ts.tv_sec = time_t(header.ts_sec);
    packet.ts.tv_usec = suseconds_t(header.ts_usec);
    packet.caplen = bpf_u_int32(record.size());
    packet.len = bpf_u_int32(record.size());
    pcap_dump(reinterpret_cast<u_char *>(dumper), &packet,
              reinterpret_cast<const u_char *>(record.constData()));
}

bool readAll(pcap *trace, QList<UsbTransfer> *transfers, QString *error, qint64 *firstRecordUs)
{
    const int linkType = pcap_datalink(trace);
    if (linkType != DLT_USB_LINUX_MMAPPED && linkType != DLT_USB_LINUX) {
        *error = QStringLiteral("link type %1 is no USB trace in the format of the kernel's "
                                "usbmon (link type %2 or %3)")
                     .arg(linkType)
                     .arg(DLT_USB_LINUX_MMAPPED)
                     .arg(DLT_USB_LINUX);
        return false;
    }
    const int headerSize = linkType == DLT_USB_LINUX_MMAPPED ? MmappedHeaderSize : PlainHeaderSize;
    QHash<quint64, qsizetype> pending; // URB id -> its submission in transfers
    pcap_pkthdr *packet = nullptr;
    const u_char *bytes = nullptr;
    for (int number = 1;; ++number) {
        const int got = pcap_next_ex(trace, &packet, &bytes);
        if (got == PCAP_ERROR_BREAK)
            return true;
        if (got != 1) {
            *error = QStringLiteral("record %1 cannot be read: %2")
                         .arg(number)
                         .arg(QString::fromLocal8Bit(pcap_geterr(trace)));
            return false;
        }
        if (int(packet->caplen) < headerSize) {
            *error = QStringLiteral("record %1 holds %2 bytes, fewer than usbmon's header")
                         .arg(number)
                         .arg(packet->caplen);
            return false;
        }
        // The two headers agree up to the setup packet; the memory-mapped one adds fields after.
        pcap_usb_header header;
        std::memcpy(&header, bytes, sizeof header);
        const int captured = int(packet->caplen) - headerSize;
        const QByteArray data(reinterpret_cast<const char *>(bytes) + headerSize,
                              qMin(captured, int(qMin<quint32>(header.data_len, INT_MAX))));
        // Wrapped, not overflowing, on a nonsense time: the records still pair up.
        const qint64 us = qint64(quint64(header.ts_sec) * UsPerSecond + quint64(header.ts_usec));
        if (number == 1)
            *firstRecordUs = us;
        if (header.event_type == URB_SUBMIT) {
            UsbTransfer transfer;
            transfer.id = header.id;
            transfer.type = header.transfer_type;
            transfer.endpoint = header.endpoint_number;
            transfer.bus = header.bus_id;
            transfer.device = header.device_address;
            if (header.setup_flag == Present && transfer.type == UsbTransfer::Control)
                transfer.setup = QByteArray(reinterpret_cast<const char *>(&header.setup),
                                            UsbTransfer::SetupSize);
            if (!transfer.isIn())
                transfer.data = data;
            transfer.requestedLength = header.urb_len;
            transfer.submittedUs = us;
            transfer.completed = false;
            pending.insert(header.id, transfers->size());
            transfers->append(transfer);
        } else if (header.event_type == URB_COMPLETE || header.event_type == URB_ERROR) {
            // A completion whose submission came before the capture began tells nothing to
            // match a request with.
            const auto found = pending.constFind(header.id);
            if (found == pending.constEnd())
                continue;
            UsbTransfer &transfer = (*transfers)[*found];
            pending.erase(found);
            transfer.status = header.status;
            transfer.completedUs = us;
            transfer.completed = true;
            if (transfer.isIn())
                transfer.data = data;
        }
    }
}

} // namespace

QByteArray UsbTransfer::setupPacket(quint8 requestType, quint8 request, quint16 value,
                                    quint16 index, quint16 length)
{
    const char bytes[SetupSize] = {char(requestType), char(request),     char(value & 0xff),
                                   char(value >> 8),  char(index & 0xff), char(index >> 8),
                                   char(length & 0xff), char(length >> 8)};
    return QByteArray(bytes, SetupSize);
}

UsbmonTrace::~UsbmonTrace() { close(); }

bool UsbmonTrace::create(const QString &fileName, QString *error)
{
    close();
    dead = pcap_open_dead(DLT_USB_LINUX_MMAPPED, SnapshotLength);
    if (!dead) {
        *error = QStringLiteral("cannot prepare a trace");
        return false;
    }
    // Opened here rather than by pcap_dump_open(), which takes "-" for standard output and puts
    // the file's name into its reason a second time.
    FILE *file = std::fopen(QFile::encodeName(fileName).constData(), "wb");
    if (!file) {
        *error = QStringLiteral("cannot write %1: %2")
                     .arg(fileName, QString::fromLocal8Bit(std::strerror(errno)));
        close();
        return false;
    }
    buffer = std::make_unique<char[]>(BufferSize);
    std::setvbuf(file, buffer.get(), _IOFBF, BufferSize);
    dumper = pcap_dump_fopen(dead, file);
    if (!dumper) {
        std::fclose(file);
        *error = QStringLiteral("cannot write %1: %2")
                     .arg(fileName, QString::fromLocal8Bit(pcap_geterr(dead)));
        close();
        return false;
    }
    pcap_dump_flush(dumper);
    return true;
}

void UsbmonTrace::write(const UsbTransfer &transfer)
{
    append(transfer);
    flush();
}

void UsbmonTrace::append(const UsbTransfer &transfer)
{
    if (!dumper)
        return;
    writeEvent(dumper, transfer, true);
    if (transfer.completed)
        writeEvent(dumper, transfer, false);
}

void UsbmonTrace::flush()
{
    if (dumper)
        pcap_dump_flush(dumper);
}

void UsbmonTrace::close()
{
    if (dumper)
        pcap_dump_close(dumper);
    if (dead)
        pcap_close(dead);
    dumper = nullptr;
    dead = nullptr;
    buffer.reset();
}

bool UsbmonTrace::read(const QString &fileName, QList<UsbTransfer> *transfers, QString *error,
                       qint64 *firstRecordUs)
{
    FILE *file = std::fopen(QFile::encodeName(fileName).constData(), "rb");
    if (!file) {
        *error = QStringLiteral("cannot open %1: %2")
                     .arg(fileName, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    QString reason;
    if (read(file, transfers, &reason, firstRecordUs))
        return true;
    *error = fileName + QStringLiteral(": ") + reason;
    return false;
}

bool UsbmonTrace::read(FILE *file, QList<UsbTransfer> *transfers, QString *error,
                       qint64 *firstRecordUs)
{
    char message[PCAP_ERRBUF_SIZE] = {};
    transfers->clear();
    // The trace owns the file once it accepts it.
    pcap *trace = pcap_fopen_offline(file, message);
    if (!trace) {
        std::fclose(file);
        *error = QStringLiteral("no pcap or pcapng file: ") + QString::fromLocal8Bit(message);
        return false;
    }
    qint64 firstUs = 0;
    const bool ok = readAll(trace, transfers, error, &firstUs);
    if (!ok)
        transfers->clear();
    if (firstRecordUs)
        *firstRecordUs = firstUs;
    pcap_close(trace);
    return ok;
}
