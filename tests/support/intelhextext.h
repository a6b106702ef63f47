#ifndef TQ470_TESTS_INTELHEXTEXT_H
#define TQ470_TESTS_INTELHEXTEXT_H

#include <QByteArray>
#include <QFile>

#include <algorithm>

// Intel HEX lines with correct checksums and without line ends, for tests that need a HEX
// file of a given content.
struct IntelHexText
{
    enum : quint8 { Data = 0x00, EndOfFile = 0x01, ExtendedLinearAddress = 0x04 };

    static QByteArray record(quint8 type, quint16 address, const QByteArray &data)
    {
        const QByteArray bytes = QByteArray(1, char(data.size())) + char(address >> 8) +
                                 char(address) + char(type) + data;
        quint8 sum = 0;
        for (const char byte : bytes)
            sum -= quint8(byte);
        return ':' + (bytes + char(sum)).toHex().toUpper();
    }
    static QByteArray data(quint16 at, const QByteArray &bytes) { return record(Data, at, bytes); }
    static QByteArray upperAddress(quint16 upper)
    {
        return record(ExtendedLinearAddress, 0, QByteArray(1, char(upper >> 8)) + char(upper));
    }
    static QByteArray end() { return record(EndOfFile, 0, QByteArray()); }

    // bytes at the absolute address, 16 to a record that stays inside its 64 KiB segment, an
    // extended linear address record first and wherever the upper half changes; LF line ends.
    static QByteArray records(quint32 address, const QByteArray &bytes)
    {
        QByteArray text;
        for (int i = 0, length = 0; i < bytes.size(); i += length) {
            const quint32 at = address + quint32(i);
            if (i == 0 || (at & 0xFFFF) == 0)
                text += upperAddress(quint16(at >> 16)) + '\n';
            length = int(std::min<qint64>({16, 0x10000 - (at & 0xFFFF), bytes.size() - i}));
            text += data(quint16(at), bytes.mid(i, length)) + '\n';
        }
        return text;
    }
    static QByteArray file(quint32 address, const QByteArray &bytes)
    {
        return records(address, bytes) + end() + '\n';
    }

    // Bytes counting up from the seed; no power of two divides the period, so misplaced pages show.
    static QByteArray pattern(int size, int seed = 1)
    {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char((seed + 7 * i) % 251);
        return bytes;
    }

    static bool write(const QString &fileName, const QByteArray &text)
    {
        QFile file(fileName);
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    }
};

#endif
