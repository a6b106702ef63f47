#include "scratchfile.h"
#include "usbmontrace.h"

#include <cstdio>
#include <tuple>

namespace {

auto fields(const UsbTransfer &t)
{
    return std::make_tuple(t.id, t.type, t.endpoint, t.bus, t.device, t.setup, t.data,
                           t.requestedLength, t.status, t.submittedUs, t.completedUs, t.completed);
}

} // namespace

// A trace as a user hands it in, from the file's first byte: whatever it holds, reading it
// neither crashes nor leaves transfers behind on failure, a setup packet is a control transfer's
// whole eight bytes, and the transfers it gives, written again, read back the same.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!file)
        return 0;
    QList<UsbTransfer> transfers;
    QString error;
    if (!UsbmonTrace::read(file, &transfers, &error)) {
        if (error.isEmpty() || !transfers.isEmpty())
            abort();
        return 0;
    }
    static const QString written = scratchPath("written");
    UsbmonTrace trace;
    if (!trace.create(written, &error))
        abort();
    for (const UsbTransfer &transfer : transfers) {
        if (!transfer.setup.isEmpty() && (transfer.setup.size() != UsbTransfer::SetupSize ||
                                          transfer.type != UsbTransfer::Control))
            abort();
        trace.write(transfer);
    }
    trace.close();
    QList<UsbTransfer> again;
    if (!UsbmonTrace::read(written, &again, &error) || again.size() != transfers.size())
        abort();
    for (int i = 0; i < again.size(); ++i)
        if (fields(again[i]) != fields(transfers[i]))
            abort();
    return 0;
}
