#include "hextobin.h"

#include <QFile>

#include <array>
#include <cstring>
#include <vector>

namespace {

constexpr char StartCode = ':';
constexpr int ByteCountPosition = 1;
constexpr int AddressPosition = 3;
constexpr int TypePosition = 7;
constexpr int DataPosition = 9;
constexpr int ByteDigits = 2;
constexpr int AddressDigits = 4;
constexpr int ChecksumDigits = 2;
// Start code, byte count, address, type and checksum: a record without data.
constexpr int ShortestRecordLength = 11;
constexpr int MostDataBytes = 255;
// The longest record takes 521 characters. A longer line is read to its end, but only this
// much of it is kept.
constexpr int LineBufferSize = 1024;

constexpr quint32 RecordData = 0x00;
constexpr quint32 RecordEndOfFile = 0x01;
constexpr quint32 RecordExtendedLinearAddress = 0x04;
constexpr quint32 RecordStartLinearAddress = 0x05;
constexpr quint32 ExtendedLinearAddressBytes = 2;
constexpr int UpperAddressShift = 16;

struct Record
{
    quint32 count = 0;
    quint32 address = 0;
    quint32 type = 0;
    quint8 data[MostDataBytes] = {};
};

enum class LineRead { Line, EndOfFile, Error };

// The file is read in blocks of this size; a line that does not fit one is kept in a buffer of
// its own.
constexpr qint64 BlockSize = 1 << 16;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool allBlank(const char *text, qint64 length)
{
    for (qint64 i = 0; i < length; ++i)
        if (!isBlank(text[i]))
            return false;
    return true;
}

constexpr int NotHex = -1;
constexpr int ByteValues = 256;

constexpr std::array<qint8, ByteValues> makeDigitValues()
{
    std::array<qint8, ByteValues> values{};
    for (int c = 0; c < ByteValues; ++c)
        values[c] = NotHex;
    for (int c = '0'; c <= '9'; ++c)
        values[c] = qint8(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        values[c] = qint8(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c)
        values[c] = qint8(c - 'a' + 10);
    return values;
}

constexpr std::array<qint8, ByteValues> DigitValues = makeDigitValues();

int hexDigitValue(char c)
{
    return DigitValues[uchar(c)];
}

// The value of two hex digits side by side, indexed by the two characters as one 16-bit word
// in the host's byte order; -1 when either is no hex digit.
using DigitPairValues = std::array<qint16, ByteValues * ByteValues>;

const DigitPairValues &digitPairValues()
{
    static const DigitPairValues values = [] {
        DigitPairValues table{};
        for (int high = 0; high < ByteValues; ++high)
            for (int low = 0; low < ByteValues; ++low) {
                const uchar pair[ByteDigits] = {uchar(high), uchar(low)};
                quint16 word = 0;
                std::memcpy(&word, pair, sizeof word);
                table[word] = DigitValues[high] < 0 || DigitValues[low] < 0
                                  ? qint16(NotHex)
                                  : qint16(DigitValues[high] << 4 | DigitValues[low]);
            }
        return table;
    }();
    return values;
}

// Hex digits only: no sign, blank or "0x" that a general number parser would let through.
bool parseHex(const char *line, int length, int position, int digits, quint32 *value)
{
    if (position + digits > length)
        return false;
    quint32 result = 0;
    for (int i = position; i < position + digits; ++i) {
        const int digit = hexDigitValue(line[i]);
        if (digit < 0)
            return false;
        result = (result << 4) | quint32(digit);
    }
    *value = result;
    return true;
}

// Hands out the file's lines, read a block at a time, each without its line end.
class LineReader
{
public:
    explicit LineReader(QFile &file) : m_file(file), m_block(BlockSize) {}

    // One line without its line end and trailing blanks. A line longer than LineBufferSize - 1
    // characters keeps only those; when the rest is more than blanks, the line keeps that full
    // length, which is longer than any record, so the parser rejects it instead of silently
    // losing the rest.
    LineRead next(const char **line, int *length)
    {
        for (;;) {
            const char *begin = m_block.data() + m_position;
            const qint64 available = m_end - m_position;
            const char *newline = static_cast<const char *>(memchr(begin, '\n', size_t(available)));
            if (newline || (m_atEnd && available > 0)) {
                const qint64 lineLength = newline ? newline - begin : available;
                m_position += newline ? lineLength + 1 : lineLength;
                return finish(
                    begin, lineLength,
                    allBlank(begin + qMin(lineLength, Kept), lineLength - qMin(lineLength, Kept)),
                    line, length);
            }
            if (m_atEnd)
                return LineRead::EndOfFile;
            if (m_position == 0 && m_end == BlockSize)
                return longLine(line, length);
            if (!fill())
                return LineRead::Error;
        }
    }

private:
    static constexpr qint64 Kept = LineBufferSize - 1;

    LineRead finish(const char *begin, qint64 lineLength, bool restIsBlank, const char **line,
                    int *length)
    {
        int kept = int(qMin(lineLength, Kept));
        if (restIsBlank)
            while (kept > 0 && isBlank(begin[kept - 1]))
                --kept;
        *line = begin;
        *length = kept;
        return LineRead::Line;
    }

    // Moves what is left of the block to its start and reads more after it.
    bool fill()
    {
        const qint64 left = m_end - m_position;
        memmove(m_block.data(), m_block.data() + m_position, size_t(left));
        m_position = 0;
        m_end = left;
        const qint64 read = m_file.read(m_block.data() + m_end, BlockSize - m_end);
        if (read < 0)
            return false;
        m_atEnd = read == 0;
        m_end += read;
        return true;
    }

    // A line that fills the whole block: its start is kept, the rest read to its end.
    LineRead longLine(const char **line, int *length)
    {
        memcpy(m_long.data(), m_block.data(), size_t(Kept));
        bool restIsBlank = allBlank(m_block.data() + Kept, m_end - Kept);
        m_position = m_end;
        for (;;) {
            if (!fill())
                return LineRead::Error;
            if (m_atEnd)
                break;
            const char *newline =
                static_cast<const char *>(memchr(m_block.data(), '\n', size_t(m_end)));
            const qint64 restLength = newline ? newline - m_block.data() : m_end;
            restIsBlank = restIsBlank && allBlank(m_block.data(), restLength);
            m_position = newline ? restLength + 1 : m_end;
            if (newline)
                break;
        }
        return finish(m_long.data(), Kept, restIsBlank, line, length);
    }

    QFile &m_file;
    std::vector<char> m_block;
    std::array<char, LineBufferSize> m_long{};
    qint64 m_position = 0;
    qint64 m_end = 0;
    bool m_atEnd = false;
};

int parseRecord(const char *line, int length, Record *record)
{
    if (length < ShortestRecordLength)
        return HexToBinShortLine;
    if (line[0] != StartCode)
        return HexToBinNoStartCode;
    if (!parseHex(line, length, ByteCountPosition, ByteDigits, &record->count))
        return HexToBinBadByteCount;
    if (!parseHex(line, length, AddressPosition, AddressDigits, &record->address))
        return HexToBinBadAddress;
    if (!parseHex(line, length, TypePosition, ByteDigits, &record->type))
        return HexToBinBadRecordType;

    switch (record->type) {
    case RecordData:
    case RecordEndOfFile:
    case RecordStartLinearAddress:
        break;
    case RecordExtendedLinearAddress:
        if (record->count != ExtendedLinearAddressBytes)
            return HexToBinUnsupportedRecord;
        break;
    default:
        return HexToBinUnsupportedRecord;
    }
    // An unreadable extended linear address makes the record unusable as a whole, like an
    // unknown type; elsewhere it is bad data.
    const int badData =
        record->type == RecordExtendedLinearAddress ? HexToBinUnsupportedRecord : HexToBinBadData;

    quint32 sum = record->count + (record->address >> 8) + record->address + record->type;
    if (DataPosition + ByteDigits * int(record->count) > length)
        return badData;
    const uchar *digits = reinterpret_cast<const uchar *>(line) + DataPosition;
    const DigitPairValues &pairs = digitPairValues();
    // Any digit that is none makes the record bad data, wherever it is: checked once at the end.
    int notHex = 0;
    for (quint32 i = 0; i < record->count; ++i) {
        quint16 word;
        std::memcpy(&word, digits + ByteDigits * i, sizeof word);
        const int value = pairs[word];
        notHex |= value;
        const quint8 byte = quint8(value);
        record->data[i] = byte;
        sum += byte;
    }
    if (notHex < 0)
        return badData;
    const int checksumPosition = DataPosition + ByteDigits * int(record->count);
    quint32 checksum = 0;
    if (!parseHex(line, length, checksumPosition, ChecksumDigits, &checksum))
        return HexToBinChecksumMismatch;
    // More characters than the byte count accounts for: records run together, or line ends
    // this reader does not know. Either way data would be lost without a word.
    if (length > checksumPosition + ChecksumDigits)
        return badData;
    if (quint8(sum + checksum) != 0)
        return HexToBinChecksumMismatch;
    return HexToBinOk;
}

// Copies the part of count bytes meant for address..address + count - 1 that falls in the
// window; true when any did.
bool storeRun(const quint8 *data, quint64 address, quint64 count, const HexToBinWindow &window)
{
    const quint64 first = qMax<quint64>(address, window.start);
    const quint64 last = qMin<quint64>(address + count - 1, window.end);
    if (count == 0 || first > last)
        return false;
    memcpy(window.buffer + (first - window.start), data + (first - address),
           size_t(last - first + 1));
    return true;
}

// True when any byte of the record fell in the window. Addresses past 0xFFFFFFFF wrap to 0.
bool storeInWindow(const Record &record, quint32 upperAddress, const HexToBinWindow &window)
{
    constexpr quint64 AddressSpace = quint64(1) << 32;
    const quint64 base = quint64(upperAddress) + record.address;
    const quint64 below =
        qMin<quint64>(record.count, AddressSpace > base ? AddressSpace - base : 0);
    const bool stored = storeRun(record.data, base, below, window);
    return storeRun(record.data + below, 0, record.count - below, window) || stored;
}

struct ResultText
{
    int result;
    const char *text;
};

const ResultText ResultTexts[] = {
    {HexToBinOk, "the file was converted"},
    {HexToBinShortLine, "a line is blank or too short to be a record"},
    {HexToBinNoStartCode, "a line does not start with ':'"},
    {HexToBinBadByteCount, "a record's byte count is not hexadecimal"},
    {HexToBinBadAddress, "a record's address is not hexadecimal"},
    {HexToBinBadRecordType, "a record's type is not hexadecimal"},
    {HexToBinBadData,
     "a data byte is not hexadecimal, or a record's length does not match its byte count"},
    {HexToBinUnsupportedRecord,
     "a record type other than 00, 01, 04 and 05, or a malformed extended linear address"},
    {HexToBinChecksumMismatch, "a record's checksum is missing or does not match its bytes"},
    {HexToBinCannotRead, "the file cannot be opened or read"},
};

} // namespace

int HexToBin(const QString &fileName, char *buffer, quint32 startAddress, quint32 endAddress,
             HexToBinReport *report)
{
    HexToBinWindow window;
    window.buffer = buffer;
    window.start = startAddress;
    window.end = endAddress;
    return HexToBin(fileName, &window, 1, report);
}

int HexToBin(const QString &fileName, HexToBinWindow *windows, int windowCount,
             HexToBinReport *report)
{
    HexToBinReport unused;
    HexToBinReport &seen = report ? *report : unused;
    seen = HexToBinReport();
    for (int i = 0; i < windowCount; ++i)
        windows[i].hasData = false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return HexToBinCannotRead;

    LineReader lines(file);
    quint32 upperAddress = 0;
    Record record;
    for (;;) {
        const char *line = nullptr;
        int length = 0;
        switch (lines.next(&line, &length)) {
        case LineRead::EndOfFile:
            return HexToBinOk;
        case LineRead::Error:
            return HexToBinCannotRead;
        case LineRead::Line:
            ++seen.line;
            break;
        }
        const int parsed = parseRecord(line, length, &record);
        if (parsed != HexToBinOk)
            return parsed;

        switch (record.type) {
        case RecordData:
            for (int i = 0; i < windowCount; ++i)
                if (storeInWindow(record, upperAddress, windows[i])) {
                    windows[i].hasData = true;
                    seen.windowHasData = true;
                }
            break;
        case RecordEndOfFile:
            return HexToBinOk;
        case RecordExtendedLinearAddress:
            upperAddress = ((quint32(record.data[0]) << 8) | record.data[1]) << UpperAddressShift;
            break;
        default:
            // The start address tells where the firmware begins running; the image needs
            // only its bytes.
            break;
        }
    }
}

QString HexToBinResultText(int result)
{
    for (const ResultText &entry : ResultTexts)
        if (entry.result == result)
            return QString::fromLatin1(entry.text);
    return QStringLiteral("unknown HexToBin result %1").arg(result);
}
