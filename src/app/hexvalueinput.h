#ifndef TQ470_HEXVALUEINPUT_H
#define TQ470_HEXVALUEINPUT_H

#include <QCoreApplication>
#include <QString>

class QWidget;

// A hexadecimal value a service command asks for and remembers for the life of the process.
// The text dialog proposes "0x" and the remembered value; the value remembered is the result
// of the last conversion, 0 after a text that did not convert, which the user is told with
// the warning "error" / "Conversion error". The warning speaks for the window: its texts are
// translated in the window's context.
class HexValueInput
{
    Q_DECLARE_TR_FUNCTIONS(TQ470_Bootloader)

public:
    explicit HexValueInput(quint32 initial) : remembered(initial) {}

    // The text dialog alone, for commands that convert the text later. False when cancelled.
    bool askText(QWidget *parent, const QString &title, const QString &label, QString *text) const;
    // Converts text and remembers the result; false, after the warning, when it did not
    // convert.
    bool take(QWidget *parent, const QString &text);
    // askText and take at once; false when cancelled or not converted.
    bool ask(QWidget *parent, const QString &title, const QString &label);

    quint32 value() const { return remembered; }

private:
    quint32 remembered;
};

#endif
