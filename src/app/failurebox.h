#ifndef TQ470_FAILUREBOX_H
#define TQ470_FAILUREBOX_H

class QString;
class QWidget;

// The critical box with one OK button by which a service command reports its failure.
class FailureBox
{
public:
    // Titled "Error"; text names what failed, usually the device operation.
    static void show(QWidget *parent, const QString &text);
    static void show(QWidget *parent, const QString &title, const QString &text);
};

#endif
