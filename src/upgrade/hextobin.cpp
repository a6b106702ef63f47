#include "hextobin.h"

#include <QFile>

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

struct Record {
    quint32 count = 0;
    quint32 address = 0;
    quint32 type = 0;
    quint8 data[MostDataBytes] = {};
};

enum class LineRead { Line, EndOfFile, Error };

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
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

// Reads what is left of an over-long line; true when it holds nothing but blanks.
bool skipRestOfLine(QFile &file)
{
    char chunk[LineBufferSize];
    bool blank = true;
    for (;;) {
        const qint64 read = file.readLine(chunk, LineBufferSize);
        if (read <= 0)
            return blank;
        for (qint64 i = 0; i < read; ++i)
            blank = blank && isBlank(chunk[i]);
        if (chunk[read - 1] == '\n')
            return blank;
    }
}

// One line without its line end and trailing blanks. When the line does not fit the buffer
// and its rest is more than blanks, the line keeps its full buffer length, which is longer
// than any record, so the parser rejects it instead of silently losing the rest.
LineRead readLine(QFile &file, char *line, int *length)
{
    const qint64 read = file.readLine(line, LineBufferSize);
    if (read <= 0)
        return file.error() == QFileDevice::NoError ? LineRead::EndOfFile : LineRead::Error;
    int kept = int(read);
    const bool restIsBlank = line[kept - 1] == '\n' || skipRestOfLine(file);
    if (file.error() != QFileDevice::NoError)
        return LineRead::Error;
    if (restIsBlank)
        while (kept > 0 && isBlank(line[kept - 1]))
            --kept;
    *length = kept;
    return LineRead::Line;
}

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
    for (quint32 i = 0; i < record->count; ++i) {
        quint32 byte = 0;
        if (!parseHex(line, length, DataPosition + ByteDigits * int(i), ByteDigits, &byte))
            return badData;
        record->data[i] = quint8(byte);
        sum += byte;
    }
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

// True when any byte of the record fell in the window.
bool storeInWindow(const Record &record, quint32 upperAddress, char *buffer, quint32 startAddress,
                   quint32 endAddress)
{
    const quint32 base = upperAddress + record.address;
    bool stored = false;
    for (quint32 i = 0; i < record.count; ++i) {
        const quint32 address = base + i;
        if (address >= startAddress && address <= endAddress) {
            buffer[address - startAddress] = char(record.data[i]);
            stored = true;
        }
    }
    return stored;
}

struct ResultText {
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
    HexToBinReport unused;
    HexToBinReport &seen = report ? *report : unused;
    seen = HexToBinReport();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return HexToBinCannotRead;

    quint32 upperAddress = 0;
    char line[LineBufferSize];
    Record record;
    for (;;) {
        int length = 0;
        switch (readLine(file, line, &length)) {
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
            if (storeInWindow(record, upperAddress, buffer, startAddress, endAddress))
                seen.windowHasData = true;
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
