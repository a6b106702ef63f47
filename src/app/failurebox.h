#ifndef TQ470_FAILUREBOX_H
#define TQ470_FAILUREBOX_H

#include <QCoreApplication>

class QString;
class QWidget;

// The critical box with one OK button by which a service command reports its failure. It speaks
// for the window: its title is translated in the window's context.
class FailureBox
{
    Q_DECLARE_TR_FUNCTIONS(TQ470_Bootloader)

public:
    // Titled "Error"; text names what failed, usually the device operation.
    static void show(QWidget *parent, const QString &text);
    static void show(QWidget *parent, const QString &title, const QString &text);
};

#endif
