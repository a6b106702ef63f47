#include "failurebox.h"

#include <QMessageBox>

void FailureBox::show(QWidget *parent, const QString &text)
{
    show(parent, tr("Error"), text);
}

void FailureBox::show(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::critical(parent, title, text);
}
