#include "upgradefile.h"

#include "encoding.h"

#include <QDataStream>
#include <QFile>
#include <QSaveFile>

const char UpgradeFile::Header[] = "Tq470 Upgrade File Header";
const char UpgradeFile::Version[] = "01";

UpgradeFile::Status UpgradeFile::read(const QString &fileName)
{
    m_image.clear();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return Status::WrongHeader;
    QDataStream stream(&file);

    QString header;
    stream >> header;
    if (header != QLatin1String(Header))
        return Status::WrongHeader;

    QString version;
    stream >> version;
    if (version != QLatin1String(Version))
        return Status::WrongVersion;

    QByteArray image;
    stream >> image;
    if (stream.status() != QDataStream::Ok || image.size() < ImageSize)
        return Status::WrongSize;
    m_image = image.left(ImageSize);
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
