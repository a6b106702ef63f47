#ifndef TQ470_UPGRADEFILE_H
#define TQ470_UPGRADEFILE_H

#include <QByteArray>
#include <QString>

// The upgrade file (*.upg): a data stream of three items, the header text, the format version
// and the encoded firmware image. The image maps the device: the application for internal
// flash 0x08004000-0x0803FFFF and the data for external flash 0x000000-0x01BFFF, each region
// ending in a checksum word.
class UpgradeFile
{
public:
    enum class Status { Ok, WrongHeader, WrongVersion, WrongSize };

    static const char Header[];
    static const char Version[];

    static constexpr int ImageSize = 0x60000;
    static constexpr int ApplicationOffset = 0x04000;
    static constexpr int ApplicationSize = 0x3C000;
    static constexpr int ExternalOffset = 0x40000;
    static constexpr int ExternalSize = 0x1C000;
    static constexpr int ChecksumSize = 4;

    // Reads and checks the file, front to back and once, so that it may be a pipe or a FIFO. A
    // file that cannot be opened or ends before its header has the wrong header; one that ends
    // inside the version, the wrong version; an image declared shorter than ImageSize (refused
    // before the image is read) or longer than the file, the wrong size. Only the image's first
    // ImageSize bytes are kept: memory stays bounded whatever length the file declares, and
    // bytes after the declared length are never read.
    Status read(const QString &fileName);

    // The image as stored (encoded), exactly ImageSize bytes after a successful read.
    QByteArray encodedImage() const { return m_image; }
    QByteArray plainImage() const;

    static QByteArray applicationPart(const QByteArray &plainImage);
    static QByteArray externalPart(const QByteArray &plainImage);

    // Encodes the plain image and writes the three items. The target is replaced only when the
    // whole file was written; on failure no file is left behind and error says why.
    static bool write(const QString &fileName, const QByteArray &plainImage, QString *error);

private:
    // The stream's length of a null array.
    static constexpr quint32 NullItemLength = 0xFFFFFFFF;

    QByteArray m_image;
};

#endif
