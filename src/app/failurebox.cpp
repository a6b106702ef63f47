#include "failurebox.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace {

constexpr char WindowContext[] = "TQ470_Bootloader";

} // namespace

void FailureBox::show(QWidget *parent, const QString &text)
{
    show(parent, QCoreApplication::translate(WindowContext, "Error"), text);
}

void FailureBox::show(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::critical(parent, title, text);
}
