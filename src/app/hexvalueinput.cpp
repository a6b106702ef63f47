#include "hexvalueinput.h"

#include "hextext.h"

#include <QInputDialog>
#include <QMessageBox>

bool HexValueInput::askText(QWidget *parent, const QString &title, const QString &label,
                            QString *text) const
{
    bool ok = false;
    *text = QInputDialog::getText(parent, title, label, QLineEdit::Normal,
                                  HexText::proposal(remembered), &ok);
    return ok;
}

bool HexValueInput::take(QWidget *parent, const QString &text)
{
    bool ok = false;
    remembered = HexText::toValue(text, &ok);
    if (!ok)
        QMessageBox::warning(parent, tr("error"), tr("Conversion error"));
    return ok;
}

bool HexValueInput::ask(QWidget *parent, const QString &title, const QString &label)
{
    QString text;
    return askText(parent, title, label, &text) && take(parent, text);
}
