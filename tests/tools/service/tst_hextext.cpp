#include "hextext.h"

#include <QtTest>

class TestHexText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void toValue_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<quint32>("value");
        QTest::newRow("digits alone") << "8000000" << true << 0x08000000u;
        QTest::newRow("0x prefix") << "0x8000000" << true << 0x08000000u;
        QTest::newRow("0X prefix") << "0X8000000" << true << 0x08000000u;
        QTest::newRow("upper-case digits") << "0xABCDEF" << true << 0xABCDEFu;
        QTest::newRow("blanks around") << " ff " << true << 0xFFu;
        QTest::newRow("highest value") << "ffffffff" << true << 0xFFFFFFFFu;
        QTest::newRow("zero") << "0x0" << true << 0u;
        QTest::newRow("above 0xffffffff") << "100000000" << false << 0u;
        QTest::newRow("not hexadecimal") << "xyz" << false << 0u;
        QTest::newRow("prefix alone") << "0x" << false << 0u;
        QTest::newRow("empty") << "" << false << 0u;
        QTest::newRow("negative") << "-1" << false << 0u;
        QTest::newRow("blank inside") << "12 34" << false << 0u;
    }
    void toValue()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(quint32, value);
        bool converted = !ok;
        QCOMPARE(HexText::toValue(text, &converted), value);
        QCOMPARE(converted, ok);
    }
};

QTEST_GUILESS_MAIN(TestHexText)
#include "tst_hextext.moc"
