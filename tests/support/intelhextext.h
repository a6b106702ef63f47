#ifndef TQ470_TESTS_INTELHEXTEXT_H
#define TQ470_TESTS_INTELHEXTEXT_H

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>

// Intel HEX lines with correct checksums and without line ends, for tests that need a HEX
// file of a given content.
class IntelHexText
{
public:
    enum Type : quint8 {
        Data,
        EndOfFile,
        ExtendedSegmentAddress,
        StartSegmentAddress,
        ExtendedLinearAddress,
        StartLinearAddress
    };
    static constexpr int BytesPerRecord = 16;

    static QByteArray record(quint8 type, quint16 address, const QByteArray &data)
    {
        QByteArray bytes = QByteArray(1, char(data.size())) + char(address >> 8) + char(address) +
                           char(type) + data;
        quint8 sum = 0;
        for (const char byte : bytes)
            sum += quint8(byte);
        return ':' + (bytes + char(quint8(-sum))).toHex().toUpper();
    }
    static QByteArray data(quint16 address, const QByteArray &bytes)
    {
        return record(Data, address, bytes);
    }
    static QByteArray upperAddress(quint16 upper)
    {
        return record(ExtendedLinearAddress, 0, QByteArray(1, char(upper >> 8)) + char(upper));
    }
    static QByteArray end() { return record(EndOfFile, 0, QByteArray()); }

    // bytes at the absolute address, 16 to a record that stays inside its 64 KiB segment, an
    // extended linear address record first and wherever the upper half changes; LF line ends,
    // no end record.
    static QByteArray records(quint32 address, const QByteArray &bytes)
    {
        QByteArray text;
        for (int i = 0; i < bytes.size();) {
            const quint32 at = address + quint32(i);
            if (i == 0 || (at & 0xFFFF) == 0)
                text += upperAddress(quint16(at >> 16)) + '\n';
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
