#include "encoding.h"

#include <QtEndian>
#include <QtTest>

class TestEncoding : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data();
    void roundTrip();
    void zeroWordEncodesToTwiceTheKey();
    void keyRestartsAtEachCall();
    void pageChunksMatchWholeBufferWalk();
    void keyHasNoRepeatedWords();
};

static QByteArray pattern(int length)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char((i * 37 + 11) & 0xFF);
    return bytes;
}

void TestEncoding::roundTrip_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("empty buffer") << 0;
    QTest::newRow("less than one word") << 3;
    QTest::newRow("six bytes leave the last two untouched") << 6;
    QTest::newRow("one key period") << 128;
    QTest::newRow("longer than the key, odd tail") << 1001;
    QTest::newRow("one page") << 2048;
}

void TestEncoding::roundTrip()
{
    QFETCH(int, length);
    const QByteArray plain = pattern(length);
    QByteArray buffer = plain;

    QCOMPARE(EncodeBuffer(buffer.data(), length), 0);
    const int tail = length % 4;
    QCOMPARE(buffer.right(tail), plain.right(tail));
    if (length >= 4)
        QVERIFY(buffer.left(length - tail) != plain.left(length - tail));

    QCOMPARE(DecodeBuffer(buffer.data(), length), 0);
    QCOMPARE(buffer, plain);
}

void TestEncoding::zeroWordEncodesToTwiceTheKey()
{
    QByteArray buffer(4 * EncodingKeyWords * 2, '\0');
    EncodeBuffer(buffer.data(), int(buffer.size()));
    for (int i = 0; i < 2 * EncodingKeyWords; ++i) {
        const quint32 word = qFromLittleEndian<quint32>(buffer.constData() + 4 * i);
        QCOMPARE(word, quint32(2 * EncodingKey[i % EncodingKeyWords]));
    }
}

void TestEncoding::keyRestartsAtEachCall()
{
    QByteArray whole = pattern(8);
    QByteArray second = whole.mid(4);
    EncodeBuffer(whole.data(), 8);
    EncodeBuffer(second.data(), 4);
    QVERIFY2(whole.mid(4) != second, "the second word of a buffer uses the second key word");
}

void TestEncoding::pageChunksMatchWholeBufferWalk()
{
    constexpr int Page = 2048;
    const QByteArray plain = pattern(4 * Page);
    QByteArray whole = plain;
    EncodeBuffer(whole.data(), int(whole.size()));

    QByteArray pages = plain;
    for (int offset = 0; offset < pages.size(); offset += Page)
        EncodeBuffer(pages.data() + offset, Page);
    QCOMPARE(pages, whole);
}

void TestEncoding::keyHasNoRepeatedWords()
{
    for (int i = 0; i < EncodingKeyWords; ++i) {
        QVERIFY(EncodingKey[i] != 0);
        for (int j = i + 1; j < EncodingKeyWords; ++j)
            QVERIFY2(EncodingKey[i] != EncodingKey[j], qPrintable(QString::number(i)));
    }
}

QTEST_APPLESS_MAIN(TestEncoding)
#include "tst_encoding.moc"
