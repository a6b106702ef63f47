#include "hextobin.h"
#include "scratchfile.h"

#include <QByteArray>

// Every result is a known code, and only the window's bytes are ever written: the buffer has
// guard bytes on both sides.
namespace {

struct Window
{
    quint32 start;
    quint32 end;
};

// The upgrade's application window, a window that ends at the top of the address space, and a
// one-byte window.
constexpr Window Windows[] = {{0x08004000u, 0x0803FFFFu}, {0xFFFFFF00u, 0xFFFFFFFFu}, {0, 0}};
constexpr int Guard = 64;
constexpr char Fill = char(0xA5);

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = writeScratchFile(data, size);
    for (const Window &window : Windows) {
        const int length = int(window.end - window.start) + 1;
        QByteArray buffer(length + 2 * Guard, Fill);
        const int result = HexToBin(path, buffer.data() + Guard, window.start, window.end);
        if (result > HexToBinOk || result < HexToBinCannotRead || HexToBinResultText(result).isEmpty())
            abort();
        for (int i = 0; i < Guard; ++i)
            if (buffer.at(i) != Fill || buffer.at(Guard + length + i) != Fill)
                abort();
    }
    return 0;
}
