#include "hextobin.h"
#include "scratchfile.h"

#include <QByteArray>

#include <iterator>

// Every result is a known code, and only the window's bytes are ever written: the buffer has
// guard bytes on both sides. A window said to have no data is untouched. Converting all windows
// in one reading gives each the same bytes, the same result and the same report as converting
// it alone.
namespace {

struct Window
{
    quint32 start;
    quint32 end;
};

// The upgrade's application window, a window that ends at the top of the address space, and a
// one-byte window.
constexpr Window Windows[] = {{0x08004000u, 0x0803FFFFu}, {0xFFFFFF00u, 0xFFFFFFFFu}, {0, 0}};
constexpr int WindowCount = int(std::size(Windows));
constexpr int Guard = 64;
constexpr char Fill = char(0xA5);

QByteArray guardedBuffer(const Window &window)
{
    return QByteArray(int(window.end - window.start) + 1 + 2 * Guard, Fill);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = writeScratchFile(data, size);
    QByteArray alone[WindowCount];
    QByteArray together[WindowCount];
    HexToBinWindow windows[WindowCount];
    int firstResult = HexToBinOk;
    for (int i = 0; i < WindowCount; ++i) {
        const Window &window = Windows[i];
        alone[i] = guardedBuffer(window);
        HexToBinReport report;
        const int result =
            HexToBin(path, alone[i].data() + Guard, window.start, window.end, &report);
        if (result > HexToBinOk || result < HexToBinCannotRead ||
            HexToBinResultText(result).isEmpty() || (i > 0 && result != firstResult))
            abort();
        firstResult = result;
        const qsizetype length = alone[i].size() - 2 * Guard;
        for (int j = 0; j < Guard; ++j)
            if (alone[i].at(j) != Fill || alone[i].at(Guard + length + j) != Fill)
                abort();
        if (!report.windowHasData && alone[i].count(Fill) != alone[i].size())
            abort();
        together[i] = guardedBuffer(window);
        windows[i] = {together[i].data() + Guard, window.start, window.end, report.windowHasData};
    }
    bool hasData[WindowCount];
    for (int i = 0; i < WindowCount; ++i)
        hasData[i] = windows[i].hasData;
    if (HexToBin(path, windows, WindowCount) != firstResult)
        abort();
    for (int i = 0; i < WindowCount; ++i)
        if (together[i] != alone[i] || windows[i].hasData != hasData[i])
            abort();
    return 0;
}
