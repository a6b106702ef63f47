#ifndef TQ470_TESTS_INTELHEXTEXT_H
#define TQ470_TESTS_INTELHEXTEXT_H

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>

// Intel HEX lines with correct checksums, for tests that need a HEX file of a given content.
// Lines carry no line end; the test joins them as the case needs.
class IntelHexText
{
public:
    static constexpr quint8 Data = 0x00;
    static constexpr quint8 EndOfFile = 0x01;
    static constexpr quint8 ExtendedSegmentAddress = 0x02;
    static constexpr quint8 StartSegmentAddress = 0x03;
    static constexpr quint8 ExtendedLinearAddress = 0x04;
    static constexpr quint8 StartLinearAddress = 0x05;
    static constexpr int BytesPerRecord = 16;

    static QByteArray record(quint8 type, quint16 address, const QByteArray &data)
    {
        QByteArray bytes;
        bytes.append(char(data.size()));
        bytes.append(char(address >> 8));
        bytes.append(char(address));
        bytes.append(char(type));
        bytes.append(data);
        quint8 sum = 0;
        for (const char byte : bytes)
            sum += quint8(byte);
        bytes.append(char(quint8(-sum)));
        return ':' + bytes.toHex().toUpper();
    }

    static QByteArray data(quint16 address, const QByteArray &bytes)
    {
        return record(Data, address, bytes);
    }

    static QByteArray upperAddress(quint16 upper)
    {
        const char value[] = {char(upper >> 8), char(upper)};
        return record(ExtendedLinearAddress, 0, QByteArray(value, sizeof value));
    }

    static QByteArray end() { return record(EndOfFile, 0, QByteArray()); }

    // bytes placed at the absolute address, 16 to a record, with an extended linear address
    // record first and wherever the upper half changes; LF line ends, no end record.
    static QByteArray records(quint32 address, const QByteArray &bytes)
    {
        QByteArray text;
        bool first = true;
        quint32 upper = 0;
        int i = 0;
        while (i < bytes.size()) {
            const quint32 at = address + quint32(i);
            if (first || at >> 16 != upper) {
                upper = at >> 16;
                text += upperAddress(quint16(upper)) + '\n';
                first = false;
            }
            // A record stays inside its 64 KiB segment.
            const int length = int(std::min<qint64>(
                {BytesPerRecord, qint64(0x10000 - (at & 0xFFFF)), qint64(bytes.size() - i)}));
            text += data(quint16(at), bytes.mid(i, length)) + '\n';
            i += length;
        }
        return text;
    }

    static QByteArray file(quint32 address, const QByteArray &bytes)
    {
        return records(address, bytes) + end() + '\n';
    }

    // Bytes counting up from the seed, so that misplaced bytes show.
    static QByteArray pattern(int size, int seed = 1)
    {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char(seed + 7 * i);
        return bytes;
    }

    static bool write(const QString &fileName, const QByteArray &text)
    {
        QFile file(fileName);
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    }
};

#endif
