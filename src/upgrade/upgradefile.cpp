#include "upgradefile.h"

#include "encoding.h"

#include <QDataStream>
#include <QFile>
#include <QSaveFile>

const char UpgradeFile::Header[] = "Tq470 Upgrade File Header";
const char UpgradeFile::Version[] = "01";

namespace {

// A text item as the stream stores it: the byte count, then the UTF-16 code units big-endian.
QByteArray textItem(const char *text)
{
    QByteArray item;
    QDataStream stream(&item, QIODevice::WriteOnly);
    stream << QString::fromLatin1(text);
    return item;
}

// True when the file continues with exactly the stored form of text. Only as many bytes as
// that form has are read, so a text claiming any length costs no memory.
bool readText(QFile &file, const char *text)
{
    const QByteArray expected = textItem(text);
    return file.read(expected.size()) == expected;
}

} // namespace

UpgradeFile::Status UpgradeFile::read(const QString &fileName)
{
    m_image.clear();
    // Unbuffered, so that nothing past the declared image length is taken from a pipe before
    // that length has been checked. A read from a pipe waits for as many bytes as it asks
    // for, or for the pipe's end.
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return Status::WrongHeader;
    // A text item of any other length, or cut short, would read as another text.
    if (!readText(file, Header))
        return Status::WrongHeader;
    if (!readText(file, Version))
        return Status::WrongVersion;

    // The file is read front to back only, never measured, so that a pipe serves as well as a
    // file. A declared length the format does not allow is refused before any of the image is
    // read; the image's first ImageSize bytes are kept, the rest of its declared length only
    // counted, so memory stays bounded whatever the file declares.
    QDataStream stream(&file);
    quint32 declared = 0;
    stream >> declared;
    if (stream.status() != QDataStream::Ok || declared == NullItemLength ||
        declared < quint32(ImageSize))
        return Status::WrongSize;
    const QByteArray image = file.read(ImageSize);
    const qint64 rest = qint64(declared) - ImageSize;
    if (image.size() != ImageSize || file.skip(rest) != rest)
        return Status::WrongSize;
    m_image = image;
    return Status::Ok;
}

QByteArray UpgradeFile::plainImage() const
{
    QByteArray plain = m_image;
    DecodeBuffer(plain.data(), int(plain.size()));
    return plain;
}

QByteArray UpgradeFile::applicationPart(const QByteArray &plainImage)
{
    return plainImage.mid(ApplicationOffset, ApplicationSize);
}

QByteArray UpgradeFile::externalPart(const QByteArray &plainImage)
{
    return plainImage.mid(ExternalOffset, ExternalSize);
}

bool UpgradeFile::write(const QString &fileName, const QByteArray &plainImage, QString *error)
{
    if (plainImage.size() != ImageSize) {
        *error = QStringLiteral("the image holds %1 bytes instead of %2")
                     .arg(plainImage.size())
                     .arg(ImageSize);
        return false;
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    QByteArray image = plainImage;
    EncodeBuffer(image.data(), int(image.size()));

    QDataStream stream(&file);
    stream << QString::fromLatin1(Header) << QString::fromLatin1(Version) << image;
    if (stream.status() != QDataStream::Ok || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
