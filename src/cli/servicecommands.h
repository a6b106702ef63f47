#ifndef TQ470_SERVICECOMMANDS_H
#define TQ470_SERVICECOMMANDS_H

#include <QByteArray>
#include <QString>
#include <QTextStream>

#include <functional>

class USBTQ470;

// The window's service commands without their dialogs:
//   read ADDRESS LENGTH             the decoded dump of device memory
//   read-ext ADDRESS LENGTH         the decoded dump of external flash
//   write-ext ADDRESS LENGTH DATA   fills external flash with the low byte of DATA
//   write-ext-bin FILE.bin          writes FILE at external address 0 and verifies it
//   write-page PATTERN              fills the test page at 0x08005000 with PATTERN
//   run                             starts the application and lets the device go
// ADDRESS and DATA are hexadecimal as the window's dialogs take them, 0x optional; LENGTH and
// PATTERN are decimal within the dialogs' ranges. Each returns its ExitStatus: a device failure
// the window passes over silently is a failure here.
class ServiceCommands
{
public:
    ServiceCommands(QTextStream &out, QTextStream &err);

    int read(const QString &address, const QString &length);
    int readExternal(const QString &address, const QString &length);
    int writeExternal(const QString &address, const QString &length, const QString &data);
    int writeExternalImage(const QString &fileName);
    int writePage(const QString &pattern);
    int run();

    // What failed, and when the device runs its application, that it must be put into its
    // bootloader; otherwise the advice. Asks the device for its serial and leaves it closed.
    static QString failureText(USBTQ470 &device, const QString &what, const QString &advice);

private:
    using Reader = std::function<bool(USBTQ470 &device, quint32 address, int length,
                                      QByteArray *data)>;
    // Reads LENGTH bytes at ADDRESS with the reader and prints the dump.
    // operation is the reader's name for the debug output, memory what it reads.
    int dump(const QString &address, const QString &length, const char *operation,
             const char *memory, const Reader &read);

    // Each tells the user what is wrong when it returns false.
    bool parseHex(const QString &name, const QString &text, quint32 *value);
    bool parseDecimal(const QString &name, const QString &text, int minimum, int maximum,
                      int *value);

    void printLogEntry(const QString &entry);
    int failure(const QString &message);
    int badInput(const QString &message);
    // Writes failureText.
    int deviceFailure(USBTQ470 &device, const QString &what, const QString &advice);
    static QString imageLengthText(const QString &fileName, int length);
    void complain(const QString &message);

    QTextStream &out;
    QTextStream &err;
};

#endif
