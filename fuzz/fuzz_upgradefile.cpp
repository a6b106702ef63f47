#include "scratchfile.h"
#include "upgradefile.h"

// A file is accepted only with an image of exactly the format's size, and whatever the file
// holds, reading it neither crashes nor leaves an image behind on failure. An accepted image,
// written again, reads back the same.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    UpgradeFile file;
    const UpgradeFile::Status status = file.read(writeScratchFile(data, size));
    if (status != UpgradeFile::Status::Ok) {
        if (!file.encodedImage().isEmpty())
            abort();
        return 0;
    }
    const QByteArray plain = file.plainImage();
    if (file.encodedImage().size() != UpgradeFile::ImageSize ||
        plain.size() != UpgradeFile::ImageSize ||
        UpgradeFile::applicationPart(plain).size() != UpgradeFile::ApplicationSize ||
        UpgradeFile::externalPart(plain).size() != UpgradeFile::ExternalSize)
        abort();
    static const QString written = scratchPath("written");
    QString error;
    UpgradeFile again;
    if (!UpgradeFile::write(written, plain, &error) ||
        again.read(written) != UpgradeFile::Status::Ok ||
        again.encodedImage() != file.encodedImage())
        abort();
    return 0;
}
