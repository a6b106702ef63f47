#include "debugcapture.h"
#include "upgrader.h"
#include "usbtq470.h"

#include <QSignalSpy>
#include <QTest>

class TestUpgrader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void metaObjectHasTwoSignalsThenOneSlot()
    {
        const QMetaObject &meta = Upgrader::staticMetaObject;
        QCOMPARE(QString(meta.className()), QString("Upgrader"));
        QCOMPARE(meta.superClass(), &QThread::staticMetaObject);
        QStringList methods;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            const QMetaMethod method = meta.method(i);
            QCOMPARE(method.access(), QMetaMethod::Public);
            methods << QString("%1 %2").arg(method.methodType() == QMetaMethod::Signal ? "signal"
                                                                                       : "slot",
                                            method.methodSignature());
        }
        QCOMPARE(methods, QStringList({"signal sendText(QString)", "signal sendPercent(int)",
                                       "slot slotSetFileName(QString)"}));
    }

    void lifetimeLeavesDeviceAlone()
    {
        DebugCapture debug;
        USBTQ470 usb;
        bool usbDestroyed = false;
        connect(&usb, &QObject::destroyed, this, [&] { usbDestroyed = true; });
        const qsizetype before = debug.lines().size();
        {
            Upgrader upgrader(&usb);
            QVERIFY(!upgrader.parent());
        }
        QCOMPARE(debug.lines().mid(before),
                 QStringList({"Upgrader constructor", "Upgrader destructor"}));
        QVERIFY(!usbDestroyed);
    }

    void startWithoutFileNameReportsNothing()
    {
        USBTQ470 usb;
        Upgrader upgrader(&usb);
        QSignalSpy texts(&upgrader, &Upgrader::sendText);
        QSignalSpy percents(&upgrader, &Upgrader::sendPercent);
        upgrader.start();
        QVERIFY(upgrader.wait(5000));
        QCoreApplication::processEvents();
        QCOMPARE(texts.count(), 0);
        QCOMPARE(percents.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestUpgrader)
#include "tst_upgrader.moc"
