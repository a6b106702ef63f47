#include "bootimagebuilder.h"
#include "hextobin.h"
#include "productionserial.h"

#include <QTemporaryDir>
#include <QtTest>

class TestBootImage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void serialLists()
    {
        QString lists;
        for (int field = 0; field < ProductionSerial::FieldCount; ++field) {
            const QStringList items = ProductionSerial::items(ProductionSerial::Field(field));
            lists += QStringLiteral("%1:%2-%3 ").arg(items.size()).arg(items.first(), items.last());
        }
        QCOMPARE(lists, QStringLiteral("100:00-99 12:01-12 31:01-31 999:001-999 "));
        QCOMPARE(ProductionSerial::preselected(QDate(2026, 12, 5)), QStringLiteral("261205001"));
        QCOMPARE(ProductionSerial::preselected(QDate(2000, 2, 29)), QStringLiteral("000229001"));
    }

    void serialValidity_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("lowest of every list") << "000101001" << true;
        QTest::newRow("highest of every list") << "991231999" << true;
        QTest::newRow("31 February") << "260231001" << false;
        QTest::newRow("29 February 2027") << "270229001" << false;
        QTest::newRow("29 February 2028") << "280229001" << true;
        QTest::newRow("month 00") << "260005001" << false;
        QTest::newRow("day 32") << "261232001" << false;
        QTest::newRow("eight digits") << "26120501" << false;
        QTest::newRow("a letter") << "26120500a" << false;
        QTest::newRow("non-ASCII digits") << QString::fromUtf8("٢٦١٢٠٥٠٠١") << false;
    }

    void serialValidity()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(ProductionSerial::isValid(text), valid);
    }

    void image_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("tail"); // image bytes 3FE8-3FFF
        QTest::newRow("data to the window's end kept beside the serial, outside ignored")
            << QByteArray(":020000040800F2\n:183FE8004142434445464748494A4B4C4D4E4F5051525354"
                          "5556575895\n:044000002222222234\n:0200000407FFF4\n"
                          ":10FFF00011111111111111111111111111111111F1\n:00000001FF\n")
            << int(HexToBinOk) << QByteArray("ABCDEFGH261205001RSTUVWX");
        QTest::newRow("a failed conversion leaves the image as it was")
            << QByteArray(":020000040800F3\n:00000001FF\n") << int(HexToBinChecksumMismatch)
            << QByteArray();
    }

    void image()
    {
        QFETCH(QByteArray, hex);
        QFETCH(int, result);
        QFETCH(QByteArray, tail);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("boot.hex")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(hex) == hex.size());
        file.close();
        QByteArray image;
        QCOMPARE(BootImageBuilder::build(file.fileName(), QStringLiteral("261205001"), &image),
                 result);
        QCOMPARE(image.toHex(), tail.isEmpty() ? QByteArray() : (QByteArray(0x3FE8, '\xFF') + tail).toHex());

        const QString name = BootImageBuilder::proposedFileName(QStringLiteral("261205001"));
        QCOMPARE(name, QStringLiteral("Tq470Bootloader_261205001"));
        QString error;
        QVERIFY(BootImageBuilder::write(dir.filePath(name), image, &error));
        QFile saved(dir.filePath(name));
        QVERIFY(saved.open(QIODevice::ReadOnly) && saved.readAll() == image);
        QVERIFY(!BootImageBuilder::write(dir.filePath("missing/x"), image, &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestBootImage)
#include "tst_bootimage.moc"
