#ifndef TQ470_USBMONTRACE_H
#define TQ470_USBMONTRACE_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdio>
#include <memory>

struct pcap;
struct pcap_dumper;

// One USB transfer as the kernel's usbmon shows it: a submission and its completion, told
// apart from other transfers by the URB id they share.
struct UsbTransfer
{
    // usbmon's transfer types.
    static constexpr quint8 Isochronous = 0;
    static constexpr quint8 Interrupt = 1;
    static constexpr quint8 Control = 2;
    static constexpr quint8 Bulk = 3;
    // The direction bit of an endpoint address.
    static constexpr quint8 DirectionIn = 0x80;
    static constexpr int SetupSize = 8;

    quint64 id = 0;
    quint8 type = Control;
    // With DirectionIn for a transfer to the host; control transfers take theirs from the setup.
    quint8 endpoint = 0;
    quint16 bus = 0;
    quint8 device = 0;
    // Control transfers: the eight bytes of the setup packet; empty otherwise.
    QByteArray setup;
    // The bytes sent (OUT) or received (IN); for IN, what the completion carried.
    QByteArray data;
    // The length the host asked for (wLength or the bulk buffer's size).
    quint32 requestedLength = 0;
    // The completion's status: 0 or a negative errno, as the kernel reports it.
    qint32 status = 0;
    // Microseconds since the epoch.
    qint64 submittedUs = 0;
    qint64 completedUs = 0;
    // False for a submission whose completion the trace never shows.
    bool completed = true;

    bool isIn() const { return (endpoint & DirectionIn) != 0; }
    quint8 requestType() const { return setup.size() == SetupSize ? quint8(setup[0]) : 0; }
    quint8 request() const { return setup.size() == SetupSize ? quint8(setup[1]) : 0; }
    quint16 value() const { return setupWord(2); }
    quint16 index() const { return setupWord(4); }
    quint16 length() const { return setupWord(6); }

    // The setup packet of a control transfer, in the byte order of the wire.
    static QByteArray setupPacket(quint8 requestType, quint8 request, quint16 value,
                                  quint16 index, quint16 length);

private:
    quint16 setupWord(int at) const
    {
        return setup.size() == SetupSize
                   ? quint16(quint8(setup[at]) | quint16(quint8(setup[at + 1])) << 8)
                   : 0;
    }
};

// USB traces in the pcap format with usbmon's memory-mapped header (link type 220), as the
// kernel's usbmon gives them to Wireshark and tcpdump: writing, one transfer at a time, and
// reading a whole trace back as transfers (pcapng files and the older 48-byte header too).
class UsbmonTrace
{
public:
    UsbmonTrace() = default;
    ~UsbmonTrace();
    UsbmonTrace(const UsbmonTrace &) = delete;
    UsbmonTrace &operator=(const UsbmonTrace &) = delete;

    // Creates (or empties) the file and writes the pcap file header.
    bool create(const QString &fileName, QString *error);
    bool isOpen() const { return dumper != nullptr; }
    // The transfer's submission and completion records, flushed to the file, so that a trace
    // survives a process that is killed.
    void write(const UsbTransfer &transfer);
    // The same records, left in the file's buffer (of BufferSize bytes) until flush(), close()
    // or a full buffer: for a writer that decides itself how much a killed process may lose.
    void append(const UsbTransfer &transfer);
    void flush();
    void close();

    // Reads every transfer of the trace in the order of their submissions. Refuses, with a
    // reason and no transfers, a file that is no pcap file, of another link type, or ends inside
    // a record.
    // firstRecordUs, when given, gets the time of the trace's first record (which may be the
    // completion of a transfer submitted before the capture began), 0 for an empty trace.
    static bool read(const QString &fileName, QList<UsbTransfer> *transfers, QString *error,
                     qint64 *firstRecordUs = nullptr);
    static bool read(FILE *file, QList<UsbTransfer> *transfers, QString *error,
                     qint64 *firstRecordUs = nullptr);

    // The largest record written or accepted: the header and a control transfer's data.
    static constexpr int SnapshotLength = 65536 + 64;
    // Room for some dozens of transfers between the file system's writes.
    static constexpr int BufferSize = 65536;

private:
    pcap *dead = nullptr;
    pcap_dumper *dumper = nullptr;
    // The file's buffer, which the C library sizes as given only when it is handed one.
    std::unique_ptr<char[]> buffer;
};

#endif
