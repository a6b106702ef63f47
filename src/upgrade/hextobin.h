#ifndef TQ470_HEXTOBIN_H
#define TQ470_HEXTOBIN_H

#include <QString>
#include <QtGlobal>

// Results of HexToBin: 0 or one of the negative codes below.
enum HexToBinResult : int {
    HexToBinOk = 0,
    HexToBinShortLine = -1,
    HexToBinNoStartCode = -2,
    HexToBinBadByteCount = -3,
    HexToBinBadAddress = -4,
    HexToBinBadRecordType = -5,
    HexToBinBadData = -6,
    HexToBinUnsupportedRecord = -7,
    HexToBinChecksumMismatch = -8,
    HexToBinCannotRead = -9,
};

// What a conversion saw besides its result: the number of the line it read last (one-based;
// on a failure the line at fault, 0 when no line was read) and whether any data byte of the
// file fell in the window.
struct HexToBinReport
{
    int line = 0;
    bool windowHasData = false;
};

// Copies the data bytes of an Intel HEX file whose absolute addresses lie in
// startAddress..endAddress (both inclusive) to buffer[address - startAddress]; the caller
// provides endAddress - startAddress + 1 bytes. Bytes outside the window are dropped, bytes of
// the window the file does not define keep what the caller put there. Record types 00, 01, 04
// and 05 are understood; reading stops at the end-of-file record. A record is stored only
// after its checksum has been verified, so a failing record leaves no bytes of its own behind;
// those of earlier records stay. When report is given, it is filled in as well.
int HexToBin(const QString &fileName, char *buffer, quint32 startAddress, quint32 endAddress,
             HexToBinReport *report = nullptr);

// One window of a conversion that fills several at once: its bytes go to
// buffer[address - start] for addresses start..end (both inclusive). hasData is set when any data
// byte of the file fell in it.
struct HexToBinWindow
{
    char *buffer = nullptr;
    quint32 start = 0;
    quint32 end = 0;
    bool hasData = false;
};

// The same conversion as above, reading the file once for all windows; report->windowHasData
// tells whether any window received a byte.
int HexToBin(const QString &fileName, HexToBinWindow *windows, int windowCount,
             HexToBinReport *report = nullptr);

// A sentence saying what a HexToBin result means, for people reading a command's error.
QString HexToBinResultText(int result);

#endif
