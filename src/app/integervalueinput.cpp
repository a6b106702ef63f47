#include "integervalueinput.h"

#include <QInputDialog>

namespace {

constexpr int Step = 1;

} // namespace

bool IntegerValueInput::ask(QWidget *parent, const QString &title, const QString &label)
{
    bool ok = false;
    const int answer =
        QInputDialog::getInt(parent, title, label, remembered, minimum, maximum, Step, &ok);
    if (ok)
        remembered = answer;
    return ok;
}
