#ifndef TQ470_EXTERNALFLASHTOOLS_H
#define TQ470_EXTERNALFLASHTOOLS_H

#include <QByteArray>
#include <QStringList>

class USBTQ470;

// The external-flash service commands. External flash holds data encoded: what is written
// here is encoded first, what is read is decoded after, each over the whole buffer at once.
class ExternalFlashTools
{
public:
    static constexpr quint32 DefaultReadAddress = 0;
    static constexpr int DefaultReadLength = 512;
    static constexpr quint32 DefaultWriteAddress = 0;
    static constexpr int DefaultWriteLength = 1;
    static constexpr quint32 DefaultWriteData = 1;
    static constexpr quint32 ImageAddress = 0;
    // The encoding works on whole 32-bit words, so an image must be made of them.
    static constexpr int ImageAlignment = 4;

    enum class ImageResult { Written, LengthError, WriteFailed, ReadBackFailed, Mismatch };

    explicit ExternalFlashTools(USBTQ470 &device);

    // Reads length bytes at address into a cleared buffer and decodes them into *decoded.
    // False when the read failed; *decoded is then empty.
    bool read(quint32 address, int length, QByteArray *decoded);

    // Fills length bytes with the low byte of data (0x1234 fills with 0x34), encodes them and
    // writes them at address. *sent receives the bytes as sent, also when the write failed.
    bool fill(quint32 address, int length, quint32 data, QByteArray *sent);
    // What the log shows of a fill: the length and the address, each right-aligned in eight
    // characters, and a dump of the bytes as sent.
    static QStringList fillReport(quint32 address, int length, const QByteArray &sent);

    // Writes image at ImageAddress, reads the range back and compares it with image. Nothing
    // reaches the device unless the image length is a non-zero multiple of ImageAlignment.
    ImageResult writeImage(const QByteArray &image);
    static bool isImageLength(qsizetype length);

private:
    USBTQ470 &device;
};

#endif
