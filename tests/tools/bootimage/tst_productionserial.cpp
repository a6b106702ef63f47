#include "productionserial.h"

#include <QTest>

Q_DECLARE_METATYPE(ProductionSerial::Field)

class TestProductionSerial : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listsCountUpByOne_data()
    {
        QTest::addColumn<ProductionSerial::Field>("field");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        const auto row = [](const char *name, ProductionSerial::Field field, int count,
                            const char *first, const char *last) {
            QTest::newRow(name) << field << count << QString(first) << QString(last);
        };
        row("year 00 to 99", ProductionSerial::Year, 100, "00", "99");
        row("month 01 to 12", ProductionSerial::Month, 12, "01", "12");
        row("day 01 to 31 in every month", ProductionSerial::Day, 31, "01", "31");
        row("number 001 to 999, no 000", ProductionSerial::Number, 999, "001", "999");
    }

    void listsCountUpByOne()
    {
        QFETCH(ProductionSerial::Field, field);
        QFETCH(int, count);
        QFETCH(QString, first);
        QFETCH(QString, last);

        const QStringList items = ProductionSerial::items(field);
        QCOMPARE(items.size(), count);
        QCOMPARE(items.first(), first);
        QCOMPARE(items.last(), last);
        for (int i = 1; i < items.size(); ++i) {
            QCOMPARE(items[i].size(), first.size());
            QCOMPARE(items[i].toInt(), items[i - 1].toInt() + 1);
        }
    }

    void preselectionFollowsTheDate_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("serial");
        QTest::newRow("5 December 2026") << QDate(2026, 12, 5) << "261205001";
        QTest::newRow("29 February 2000, year 00") << QDate(2000, 2, 29) << "000229001";
        QTest::newRow("31 January 1999") << QDate(1999, 1, 31) << "990131001";
    }

    void preselectionFollowsTheDate()
    {
        QFETCH(QDate, date);
        QFETCH(QString, serial);

        QString chosen;
        for (const auto field : {ProductionSerial::Year, ProductionSerial::Month,
                                 ProductionSerial::Day, ProductionSerial::Number})
            chosen += ProductionSerial::items(field).value(
                ProductionSerial::preselectedIndex(field, date));
        QCOMPARE(chosen, serial);
        QCOMPARE(ProductionSerial::preselected(date), serial);
    }

    void validation_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("5 December 2026, number 001") << "261205001" << true;
        QTest::newRow("lowest of every list") << "000101001" << true;
        QTest::newRow("highest of every list") << "991231999" << true;
        QTest::newRow("31 February, as the day list offers it") << "260231001" << true;
        QTest::newRow("month 13") << "261305001" << false;
        QTest::newRow("month 00") << "260005001" << false;
        QTest::newRow("day 00") << "261200001" << false;
        QTest::newRow("day 32") << "261232001" << false;
        QTest::newRow("number 000") << "261205000" << false;
        QTest::newRow("eight digits") << "26120501" << false;
        QTest::newRow("ten digits") << "2612050011" << false;
        QTest::newRow("letter") << "26120500a" << false;
        QTest::newRow("sign") << "+61205001" << false;
        QTest::newRow("non-ASCII digits") << QString::fromUtf8("٢٦١٢٠٥٠٠١") << false;
        QTest::newRow("empty") << "" << false;
    }

    void validation()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(ProductionSerial::isValid(text), valid);
    }
};

QTEST_GUILESS_MAIN(TestProductionSerial)
#include "tst_productionserial.moc"
