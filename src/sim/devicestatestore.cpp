#include "devicestatestore.h"

#include "bootloaderprotocol.h"
#include "tq470model.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

constexpr char FormatKey[] = "format";
constexpr char ModeKey[] = "mode";
constexpr char SerialKey[] = "serial";
constexpr char TestBlockKey[] = "testBlock";
constexpr char BootloaderModeName[] = "bootloader";
constexpr char ApplicationModeName[] = "application";

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

} // namespace

DeviceStateStore::DeviceStateStore(const QString &directory) : m_directory(directory) {}

bool DeviceStateStore::holdsDevice() const
{
    for (const char *name : {InternalFileName, ExternalFileName, DeviceFileName}) {
        if (QFile::exists(filePath(name)))
            return true;
    }
    return false;
}

bool DeviceStateStore::load(DeviceState *state, QString *error) const
{
    QByteArray json;
    QFile deviceFile(filePath(DeviceFileName));
    if (!deviceFile.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("cannot read %1: %2")
                               .arg(deviceFile.fileName(), deviceFile.errorString()));
    json = deviceFile.readAll();

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject())
        return fail(error, QStringLiteral("%1 is not a JSON object: %2")
                               .arg(deviceFile.fileName(), parseError.errorString()));
    const QJsonObject object = document.object();
    if (object.value(QLatin1String(FormatKey)).toInt() != FormatVersion)
        return fail(error, QStringLiteral("%1: \"%2\" must be %3")
                               .arg(deviceFile.fileName(), QLatin1String(FormatKey))
                               .arg(FormatVersion));

    DeviceState loaded;
    if (!parseMode(object.value(QLatin1String(ModeKey)).toString(), &loaded.mode))
        return fail(error, QStringLiteral("%1: \"%2\" must be \"%3\" or \"%4\"")
                               .arg(deviceFile.fileName(), QLatin1String(ModeKey),
                                    QLatin1String(BootloaderModeName),
                                    QLatin1String(ApplicationModeName)));
    loaded.serial = object.value(QLatin1String(SerialKey)).toString().toLatin1();
    if (!Tq470Model::isValidSerial(loaded.serial))
        return fail(error, QStringLiteral("%1: \"%2\" must be nine digits")
                               .arg(deviceFile.fileName(), QLatin1String(SerialKey)));
    const QString testBlockHex = object.value(QLatin1String(TestBlockKey)).toString();
    loaded.testBlock = QByteArray::fromHex(testBlockHex.toLatin1());
    if (testBlockHex.size() != 2 * loaded.testBlock.size()
        || (!loaded.testBlock.isEmpty() && loaded.testBlock.size() != Bootloader::TestBlockSize))
        return fail(error, QStringLiteral("%1: \"%2\" must be empty or %3 bytes in hex")
                               .arg(deviceFile.fileName(), QLatin1String(TestBlockKey))
                               .arg(Bootloader::TestBlockSize));

    if (!readExactly(InternalFileName, int(Bootloader::FlashSize), &loaded.internalFlash, error)
        || !readExactly(ExternalFileName, int(Bootloader::ExternalFlashSize),
                        &loaded.externalFlash, error))
        return false;
    *state = loaded;
    return true;
}

bool DeviceStateStore::save(const DeviceState &state, QString *error) const
{
    if (!QDir().mkpath(m_directory))
        return fail(error, QStringLiteral("cannot create the state directory %1").arg(m_directory));

    QJsonObject object;
    object.insert(QLatin1String(FormatKey), FormatVersion);
    object.insert(QLatin1String(ModeKey), modeName(state.mode));
    object.insert(QLatin1String(SerialKey), QString::fromLatin1(state.serial));
    object.insert(QLatin1String(TestBlockKey), QString::fromLatin1(state.testBlock.toHex()));

    return writeAtomically(InternalFileName, state.internalFlash, error)
           && writeAtomically(ExternalFileName, state.externalFlash, error)
           && writeAtomically(DeviceFileName, QJsonDocument(object).toJson(), error);
}

QString DeviceStateStore::modeName(DeviceMode mode)
{
    return QLatin1String(mode == DeviceMode::Bootloader ? BootloaderModeName
                                                        : ApplicationModeName);
}

bool DeviceStateStore::parseMode(const QString &name, DeviceMode *mode)
{
    if (name == QLatin1String(BootloaderModeName))
        *mode = DeviceMode::Bootloader;
    else if (name == QLatin1String(ApplicationModeName))
        *mode = DeviceMode::Application;
    else
        return false;
    return true;
}

QString DeviceStateStore::filePath(const char *name) const
{
    return QDir(m_directory).filePath(QLatin1String(name));
}

bool DeviceStateStore::readExactly(const char *name, int size, QByteArray *data,
                                   QString *error) const
{
    QFile file(filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return fail(error,
                    QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
    if (file.size() != size)
        return fail(error, QStringLiteral("%1 holds %2 bytes; it must hold exactly %3")
                               .arg(file.fileName())
                               .arg(file.size())
                               .arg(size));
    *data = file.readAll();
    return true;
}

bool DeviceStateStore::writeAtomically(const char *name, const QByteArray &data,
                                       QString *error) const
{
    QSaveFile file(filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        return fail(error,
                    QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
    return true;
}
