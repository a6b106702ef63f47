#include "tq470model.h"

#include "bootloaderprotocol.h"
#include "encoding.h"

#include <QtEndian>

namespace {

// Request types the device accepts: standard or vendor, always addressed to the device.
constexpr quint8 StandardDeviceIn = 0x80;
constexpr quint8 VendorDeviceIn = 0xC0;
constexpr quint8 VendorDeviceOut = 0x40;
constexpr quint8 GetDescriptor = 6;

constexpr int DeviceDescriptorType = 1;
constexpr int ConfigurationDescriptorType = 2;
constexpr int InterfaceDescriptorType = 4;
constexpr int EndpointDescriptorType = 5;
constexpr int LanguageStringIndex = 0;
constexpr quint16 LanguageEnglishUs = 0x0409;
// bLength is one byte: two header bytes and at most 126 UTF-16 code units.
constexpr int MaxStringCodeUnits = 126;

constexpr quint16 UsbRelease = 0x0200;
constexpr quint16 DeviceRelease = 0x0100;
constexpr quint8 ControlMaxPacketSize = 64;
constexpr quint8 ConfigurationValue = 1;
constexpr quint8 InterfaceNumber = 0;
constexpr quint8 VendorSpecificClass = 0xFF;
constexpr quint8 BulkEndpointOut = 0x02;
constexpr quint8 BulkEndpointIn = 0x81;
constexpr quint8 BulkTransferType = 0x02;
constexpr quint16 BulkMaxPacketSize = 64;
constexpr quint8 BusPowered = 0x80;
// bMaxPower counts in units of 2 mA.
constexpr quint8 MaxPower100mA = 50;
constexpr int DeviceDescriptorLength = 18;
constexpr int ConfigurationHeaderLength = 9;
constexpr int InterfaceDescriptorLength = 9;
constexpr int EndpointDescriptorLength = 7;
constexpr int BulkEndpoints = 2;

constexpr char Erased = char(0xFF);
constexpr char VersionText[] = "Tq470 BL 1.07";
constexpr char VersionDate[] = "2026-11-20";
// The factory bootloader image: a vector table, then code up to this size, then erased bytes
// up to the version block.
constexpr quint32 BootloaderCodeSize = 0x2C00;
constexpr quint32 InitialStackPointer = 0x20010000;
constexpr quint32 ResetHandler = 0x080001C1;
constexpr quint32 CodeFillerSeed = 0x47A1C0DE;
constexpr quint32 FillerMultiplier = 1664525;
constexpr quint32 FillerIncrement = 1013904223;

Tq470Model::Answer stall() { return Tq470Model::Answer(); }

Tq470Model::Answer accept(const QByteArray &data = QByteArray())
{
    Tq470Model::Answer answer;
    answer.stalled = false;
    answer.data = data;
    return answer;
}

bool inRange(quint64 start, quint64 length, quint64 base, quint64 size)
{
    return start >= base && start + length <= base + size;
}

void appendWord(QByteArray &bytes, quint16 word)
{
    bytes.append(char(word & 0xFF));
    bytes.append(char(word >> 8));
}

QByteArray bootloaderImage(const QByteArray &serial)
{
    QByteArray image(int(Bootloader::BootloaderSize), Erased);
    uchar *bytes = reinterpret_cast<uchar *>(image.data());
    qToLittleEndian<quint32>(InitialStackPointer, bytes);
    qToLittleEndian<quint32>(ResetHandler, bytes + 4);
    quint32 filler = CodeFillerSeed;
    for (quint32 i = 8; i < BootloaderCodeSize; ++i) {
        filler = filler * FillerMultiplier + FillerIncrement;
        bytes[i] = uchar(filler >> 24);
    }
    const int versionOffset = int(Bootloader::VersionBlockAddress - Bootloader::BootloaderBase);
    QByteArray versionBlock(Bootloader::VersionBlockSize, '\0');
    versionBlock.replace(0, int(sizeof(VersionText)), QByteArray(VersionText, sizeof(VersionText)));
    versionBlock.replace(Bootloader::VersionSecondTextOffset, int(sizeof(VersionDate)),
                         QByteArray(VersionDate, sizeof(VersionDate)));
    image.replace(versionOffset, versionBlock.size(), versionBlock);
    image.replace(int(Bootloader::SerialAddress - Bootloader::BootloaderBase), serial.size(),
                  serial);
    return image;
}

} // namespace

Tq470Model::Tq470Model(const DeviceOptions &options)
    : Tq470Model(freshState(options.mode, options.serial), options)
{
}

Tq470Model::Tq470Model(const DeviceState &state, const DeviceOptions &options)
    : m_state(state), m_options(options), m_bootloaderLetter(Bootloader::BootloaderSerialMarker)
{
    if (m_state.internalFlash.size() != int(Bootloader::FlashSize)
        || m_state.externalFlash.size() != int(Bootloader::ExternalFlashSize))
        qFatal("Tq470Model: a device state needs %u bytes of internal and %u of external flash",
               Bootloader::FlashSize, Bootloader::ExternalFlashSize);
}

DeviceState Tq470Model::freshState(DeviceMode mode, const QByteArray &serial)
{
    DeviceState state;
    state.mode = mode;
    state.serial = serial;
    state.internalFlash = QByteArray(int(Bootloader::FlashSize), Erased);
    const QByteArray bootloader = bootloaderImage(serial);
    state.internalFlash.replace(0, bootloader.size(), bootloader);
    state.externalFlash = QByteArray(int(Bootloader::ExternalFlashSize), Erased);
    return state;
}

bool Tq470Model::isValidSerial(const QByteArray &serial)
{
    if (serial.size() != Bootloader::SerialDigits)
        return false;
    for (char c : serial) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

Tq470Model::Answer Tq470Model::handleControl(const SetupPacket &setup, const QByteArray &outData)
{
    if (!setup.isIn() && outData.size() != setup.length)
        return stall();
    switch (setup.requestType) {
    case StandardDeviceIn:
        return standardRequest(setup);
    case VendorDeviceIn:
        return vendorInRequest(setup);
    case VendorDeviceOut:
        return vendorOutRequest(setup, outData);
    default:
        return stall();
    }
}

void Tq470Model::setBootloaderLetter(char letter)
{
    m_bootloaderLetter = letter;
}

bool Tq470Model::setConfiguration(int configuration) const
{
    return !m_options.failSetConfiguration && configuration == ConfigurationValue;
}

bool Tq470Model::claimInterface(int interfaceNumber) const
{
    return interfaceNumber == InterfaceNumber;
}

QByteArray Tq470Model::usbfsDescriptors() const
{
    return deviceDescriptor() + configurationDescriptor();
}

QString Tq470Model::serialText() const
{
    if (m_options.serialOverride)
        return *m_options.serialOverride;
    QString text = QString::fromLatin1(m_state.serial);
    if (m_state.mode == DeviceMode::Bootloader)
        text += QLatin1Char(m_bootloaderLetter);
    return text;
}

QByteArray Tq470Model::readInternal(quint32 address, int length) const
{
    if (length < 0
        || !inRange(address, quint64(length), Bootloader::FlashBase, Bootloader::FlashSize))
        return QByteArray();
    return m_state.internalFlash.mid(int(address - Bootloader::FlashBase), length);
}

QByteArray Tq470Model::readExternal(quint32 address, int length) const
{
    if (length < 0 || !inRange(address, quint64(length), 0, Bootloader::ExternalFlashSize))
        return QByteArray();
    return m_state.externalFlash.mid(int(address), length);
}

Tq470Model::Answer Tq470Model::standardRequest(const SetupPacket &setup) const
{
    if (setup.request != GetDescriptor)
        return stall();
    const int type = setup.value >> 8;
    const int index = setup.value & 0xFF;
    QByteArray descriptor;
    if (type == DeviceDescriptorType && index == 0)
        descriptor = deviceDescriptor();
    else if (type == ConfigurationDescriptorType && index == 0)
        descriptor = configurationDescriptor();
    else if (type == Bootloader::StringDescriptorType)
        descriptor = stringDescriptor(index);
    if (descriptor.isEmpty())
        return stall();
    return accept(descriptor.left(setup.length));
}

Tq470Model::Answer Tq470Model::vendorInRequest(const SetupPacket &setup) const
{
    switch (setup.request) {
    case Bootloader::RequestIdentity:
        return identity(setup);
    case Bootloader::RequestReadMemory:
        return readMemory(setup);
    case Bootloader::RequestReadExternalFlash:
        return m_state.mode == DeviceMode::Bootloader ? readExternalFlash(setup) : stall();
    default:
        return stall();
    }
}

Tq470Model::Answer Tq470Model::vendorOutRequest(const SetupPacket &setup, const QByteArray &outData)
{
    if (setup.request == Bootloader::RequestRunApplication)
        return switchFirmware(setup);
    if (m_state.mode != DeviceMode::Bootloader)
        return stall();
    switch (setup.request) {
    case Bootloader::RequestWriteTestBlock:
        return writeTestBlock(setup, outData);
    case Bootloader::RequestWritePage:
        return writePage(setup, outData);
    case Bootloader::RequestWriteExternalFlash:
        return writeExternalFlash(setup, outData);
    default:
        return stall();
    }
}

Tq470Model::Answer Tq470Model::identity(const SetupPacket &setup) const
{
    if (setup.value != 0 || setup.index != 0 || setup.length == 0)
        return stall();
    return accept(m_options.identityAnswer.left(setup.length));
}

Tq470Model::Answer Tq470Model::readMemory(const SetupPacket &setup) const
{
    if (setup.length == 0 || setup.length > Bootloader::MemoryReadChunk)
        return stall();
    QByteArray chunk = readInternal(setup.address(), setup.length);
    if (chunk.isEmpty())
        return stall();
    // The bootloader encodes every chunk on its own, the key starting at the chunk's first byte.
    EncodeBufferQuietly(chunk.data(), int(chunk.size()));
    return accept(chunk);
}

Tq470Model::Answer Tq470Model::readExternalFlash(const SetupPacket &setup) const
{
    if (setup.length == 0 || setup.length > Bootloader::ExternalFlashReadChunk)
        return stall();
    const QByteArray chunk = readExternal(setup.address(), setup.length);
    return chunk.isEmpty() ? stall() : accept(chunk);
}

Tq470Model::Answer Tq470Model::writeTestBlock(const SetupPacket &setup, const QByteArray &outData)
{
    if (setup.value != 0 || setup.index != 0 || setup.length != Bootloader::TestBlockSize)
        return stall();
    m_state.testBlock = outData;
    return accept();
}

Tq470Model::Answer Tq470Model::writePage(const SetupPacket &setup, const QByteArray &outData)
{
    const quint32 address = setup.address();
    if (setup.length != Bootloader::PageSize || address % Bootloader::PageSize != 0
        || !inRange(address, Bootloader::PageSize, Bootloader::ApplicationBase,
                    Bootloader::ApplicationSize))
        return stall();
    QByteArray page = outData;
    DecodeBuffer(page.data(), page.size());
    m_state.internalFlash.replace(int(address - Bootloader::FlashBase), page.size(), page);
    return accept();
}

Tq470Model::Answer Tq470Model::writeExternalFlash(const SetupPacket &setup,
                                                  const QByteArray &outData)
{
    const quint32 address = setup.address();
    if (setup.length == 0 || setup.length > Bootloader::ExternalFlashWriteChunk
        || !inRange(address, setup.length, 0, Bootloader::ExternalFlashSize))
        return stall();
    m_state.externalFlash.replace(int(address), outData.size(), outData);
    return accept();
}

Tq470Model::Answer Tq470Model::switchFirmware(const SetupPacket &setup)
{
    if (setup.value != 0 || setup.index != 0 || setup.length != 0)
        return stall();
    m_state.mode = m_state.mode == DeviceMode::Bootloader ? DeviceMode::Application
                                                          : DeviceMode::Bootloader;
    m_bootloaderLetter = Bootloader::BootloaderSerialMarker;
    Answer answer = accept();
    answer.leavesBus = true;
    return answer;
}

QByteArray Tq470Model::deviceDescriptor() const
{
    QByteArray d;
    d.append(char(DeviceDescriptorLength));
    d.append(char(DeviceDescriptorType));
    appendWord(d, UsbRelease);
    d.append(char(0)); // class, subclass and protocol are given per interface
    d.append(char(0));
    d.append(char(0));
    d.append(char(ControlMaxPacketSize));
    appendWord(d, Bootloader::VendorId);
    appendWord(d, Bootloader::ProductId);
    appendWord(d, DeviceRelease);
    d.append(char(0)); // no manufacturer string
    d.append(char(0)); // no product string
    d.append(char(Bootloader::SerialStringIndex));
    d.append(char(1)); // one configuration
    return d;
}

QByteArray Tq470Model::configurationDescriptor() const
{
    const int total = ConfigurationHeaderLength + InterfaceDescriptorLength
                      + BulkEndpoints * EndpointDescriptorLength;
    QByteArray d;
    d.append(char(ConfigurationHeaderLength));
    d.append(char(ConfigurationDescriptorType));
    appendWord(d, quint16(total));
    d.append(char(1)); // one interface
    d.append(char(ConfigurationValue));
    d.append(char(0)); // no configuration string
    d.append(char(BusPowered));
    d.append(char(MaxPower100mA));

    d.append(char(InterfaceDescriptorLength));
    d.append(char(InterfaceDescriptorType));
    d.append(char(InterfaceNumber));
    d.append(char(0)); // alternate setting
    d.append(char(BulkEndpoints));
    d.append(char(VendorSpecificClass));
    d.append(char(0));
    d.append(char(0));
    d.append(char(0)); // no interface string

    for (quint8 endpoint : {BulkEndpointOut, BulkEndpointIn}) {
        d.append(char(EndpointDescriptorLength));
        d.append(char(EndpointDescriptorType));
        d.append(char(endpoint));
        d.append(char(BulkTransferType));
        appendWord(d, BulkMaxPacketSize);
        d.append(char(0)); // polling interval, unused for bulk
    }
    return d;
}

QByteArray Tq470Model::stringDescriptor(int index) const
{
    QByteArray d;
    if (index == LanguageStringIndex) {
        d.append(char(4));
        d.append(char(Bootloader::StringDescriptorType));
        appendWord(d, LanguageEnglishUs);
    } else if (index == Bootloader::SerialStringIndex) {
        const QString text = serialText().left(MaxStringCodeUnits);
        d.append(char(2 + 2 * text.size()));
        d.append(char(Bootloader::StringDescriptorType));
        for (QChar c : text)
            appendWord(d, c.unicode());
    }
    return d;
}
