#include "samplefirmware.h"

#include <QSaveFile>

#include <cstdio>
#include <cstdlib>

// tq470-sample-firmware OUT.hex [SEED]: writes the sample firmware as Intel HEX.
int main(int argc, char *argv[])
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s OUT.hex [SEED]\n", argv[0]);
        return 2;
    }
    char *end = nullptr;
    const unsigned long seed =
        argc == 3 ? std::strtoul(argv[2], &end, 0) : SampleFirmware::DefaultSeed;
    if (argc == 3 && (end == argv[2] || *end != '\0')) {
        std::fprintf(stderr, "%s: the seed must be a number, not '%s'\n", argv[0], argv[2]);
        return 2;
    }
    QSaveFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(SampleFirmware(quint32(seed)).intelHex()) < 0 || !file.commit()) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", argv[0], argv[1],
                     qPrintable(file.errorString()));
        return 1;
    }
    return 0;
}
