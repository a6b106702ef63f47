#ifndef TQ470_TESTS_PCAPNGFILE_H
#define TQ470_TESTS_PCAPNGFILE_H

#include <QByteArray>
#include <QtEndian>

// The records of a pcap file written on this machine, in host order, as Wireshark saves them
// by default: a pcapng file with a section header, one interface of the pcap file's link type and
// an enhanced packet block per record.
inline QByteArray pcapngFromPcap(const QByteArray &pcap)
{
    const auto word = [](quint32 value) {
        return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
    };
    const auto at = [&pcap](int offset) {
        return qFromUnaligned<quint32>(pcap.constData() + offset);
    };
    QByteArray file;
    const auto block = [&file, &word](quint32 type, QByteArray body) {
        body.append(QByteArray(-body.size() & 3, '\0'));
        const quint32 length = quint32(body.size()) + 12;
        file += word(type) + word(length) + body + word(length);
    };
    block(0x0A0D0D0A, word(0x1A2B3C4D) + word(1) + word(~0u) + word(~0u));
    block(1, word(at(20)) + word(at(16)));
    for (int offset = 24; offset + 16 <= pcap.size(); offset += 16 + int(at(offset + 8))) {
        const quint64 us = quint64(at(offset)) * 1000000 + at(offset + 4);
        block(6, word(0) + word(quint32(us >> 32)) + word(quint32(us)) + word(at(offset + 8)) +
                     word(at(offset + 12)) + pcap.mid(offset + 16, int(at(offset + 8))));
    }
    return file;
}

#endif
