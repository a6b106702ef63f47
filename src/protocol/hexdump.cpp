#include "hexdump.h"

#include <algorithm>
#include <array>

namespace {

constexpr int BytesPerLine = 16;
constexpr uchar FirstPrintable = 0x20;
constexpr uchar LastPrintable = 0x7F;
constexpr int ByteValues = 256;
constexpr int NibbleBits = 4;
constexpr uchar LowNibble = 0x0F;
constexpr int OffsetDigits = 4;
constexpr int AddressDigits = 8;
constexpr int HexBase = 16;
// " xx" for a byte in the hex column.
constexpr int HexCellLength = 3;
// "\n0x" + offset + ':', the cells, " < ", the characters, " >".
constexpr int LineLengthBesidesOffset = 4 + HexCellLength * BytesPerLine + 3 + BytesPerLine + 2;

struct ByteTexts
{
    std::array<std::array<char, 2>, ByteValues> hex{};
    std::array<char, ByteValues> shown{};
};

constexpr ByteTexts makeByteTexts()
{
    constexpr char Digits[] = "0123456789abcdef";
    ByteTexts texts;
    for (int byte = 0; byte < ByteValues; ++byte) {
        texts.hex[byte] = {Digits[byte >> NibbleBits], Digits[byte & LowNibble]};
        texts.shown[byte] = byte >= FirstPrintable && byte <= LastPrintable ? char(byte) : '.';
    }
    return texts;
}

constexpr ByteTexts Texts = makeByteTexts();

// Writes one line at out and returns the position after it.
char *writeLine(char *out, int offset, const uchar *bytes, int count)
{
    *out++ = '\n';
    *out++ = '0';
    *out++ = 'x';
    // At least four digits, more once the offset needs them.
    int digits = OffsetDigits;
    while (digits < int(2 * sizeof(offset)) && (uint(offset) >> (NibbleBits * digits)) != 0)
        ++digits;
    for (int i = digits - 1; i >= 0; --i)
        *out++ = Texts.hex[(uint(offset) >> (NibbleBits * i)) & LowNibble][1];
    *out++ = ':';
    for (int i = 0; i < count; ++i) {
        *out++ = ' ';
        *out++ = Texts.hex[bytes[i]][0];
        *out++ = Texts.hex[bytes[i]][1];
    }
    for (int i = count; i < BytesPerLine; ++i)
        for (int j = 0; j < HexCellLength; ++j)
            *out++ = ' ';
    *out++ = ' ';
    *out++ = '<';
    *out++ = ' ';
    for (int i = 0; i < count; ++i)
        *out++ = Texts.shown[bytes[i]];
    for (int i = count; i < BytesPerLine; ++i)
        *out++ = ' ';
    *out++ = ' ';
    *out++ = '>';
    return out;
}

} // namespace

QByteArray HexDump(const char *data, int length)
{
    const QByteArray header =
        "\n src address: 0x" +
        QByteArray::number(qulonglong(quintptr(data)), HexBase).rightJustified(AddressDigits, '0');
    if (length <= 0)
        return header;
    // The last offset is the widest.
    const int lines = (length + BytesPerLine - 1) / BytesPerLine;
    const int lastOffset = (lines - 1) * BytesPerLine;
    const int offsetDigits =
        qMax(OffsetDigits, int(QByteArray::number(lastOffset, HexBase).size()));
    QByteArray dump(header.size() + qsizetype(lines) * (LineLengthBesidesOffset + offsetDigits),
                    Qt::Uninitialized);
    char *out = std::copy(header.cbegin(), header.cend(), dump.data());
    const uchar *bytes = reinterpret_cast<const uchar *>(data);
    for (int offset = 0; offset < length; offset += BytesPerLine)
        out = writeLine(out, offset, bytes + offset, qMin(BytesPerLine, length - offset));
    dump.truncate(out - dump.constData());
    return dump;
}
