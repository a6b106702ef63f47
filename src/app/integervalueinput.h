#ifndef TQ470_INTEGERVALUEINPUT_H
#define TQ470_INTEGERVALUEINPUT_H

class QString;
class QWidget;

// A decimal value within a range that a service command asks for and remembers for the life
// of the process: the integer dialog proposes the remembered value, and a confirmed answer
// becomes it.
class IntegerValueInput
{
public:
    IntegerValueInput(int initial, int minimum, int maximum)
        : remembered(initial), minimum(minimum), maximum(maximum)
    {
    }

    // False when the dialog was cancelled; the remembered value stays as it was then.
    bool ask(QWidget *parent, const QString &title, const QString &label);

    int value() const { return remembered; }

private:
    int remembered;
    const int minimum;
    const int maximum;
};

#endif
