#ifndef TQ470_TESTS_DIALOGSCRIPT_H
#define TQ470_TESTS_DIALOGSCRIPT_H

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QMetaEnum>
#include <QPointer>
#include <QTimer>

// Plays the user through one click, noting each modal dialog in seen and giving it the next
// answer: "<cancel>" cancels, "" takes the proposal, any other is typed or picked; a message box
// is confirmed. A dialog beyond the answers, or one its answer did not close, is cancelled.
// A dialog is noted as "TITLE|LABEL|PROPOSAL" for an input dialog ("256 of 1..1048576" for a
// number, "26 of 100" for an item), "TITLE|FILTERS|PROPOSED NAME" for a file dialog (+ " in
// elsewhere" unless in the current folder), "ICON TITLE|TEXT" for a message box; + " unparented"
// when its parent is not the window.
class DialogScript : public QObject
{
public:
    static constexpr int PollIntervalMs = 20, PollsBeforeGivingUp = 100;

    DialogScript(QWidget *window, const QStringList &answers) : window(window), answers(answers)
    {
        connect(&timer, &QTimer::timeout, this, &DialogScript::answerNewDialog);
        timer.start(PollIntervalMs);
    }

    QStringList seen;

private:
    void answerNewDialog()
    {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (dialog && dialog == current && ++pollsWhileOpen == PollsBeforeGivingUp)
            dialog->reject();
        if (!dialog || dialog == current)
            return;
        current = dialog;
        pollsWhileOpen = 0;
        const QString answer = answers.isEmpty() ? "<cancel>" : answers.takeFirst();
        auto *input = qobject_cast<QInputDialog *>(dialog);
        auto *nameEdit = dialog->findChild<QLineEdit *>("fileNameEdit");
        QString note = dialog->windowTitle() + '|';
        if (auto *box = qobject_cast<QMessageBox *>(dialog))
            note = QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(box->icon()) +
                   (' ' + note + box->text());
        else if (auto *file = qobject_cast<QFileDialog *>(dialog))
            note += file->nameFilters().join(';') + '|' +
                    (nameEdit ? nameEdit->text() : QString()) +
                    (file->directory() == QDir::current() ? "" : " in elsewhere");
        else if (input && input->inputMode() == QInputDialog::IntInput)
            note +=
                input->labelText() + QString::asprintf("|%d of %d..%d", input->intValue(),
                                                       input->intMinimum(), input->intMaximum());
        else if (input)
            note += input->labelText() + '|' + input->textValue() +
                    (input->comboBoxItems().isEmpty()
                         ? QString()
                         : QStringLiteral(" of %1").arg(input->comboBoxItems().size()));
        seen << note + (dialog->parentWidget() == window ? "" : " unparented");
        if (answer == "<cancel>")
            return dialog->reject();
        if (!answer.isEmpty() && nameEdit)
            nameEdit->setText(answer); // typed: selectFile() leaves a focused name field alone
        else if (!answer.isEmpty() && input && input->inputMode() == QInputDialog::IntInput)
            input->setIntValue(answer.toInt());
        else if (!answer.isEmpty() && input)
            input->setTextValue(answer); // in a list, picks the item
        dialog->accept();
    }

    QWidget *window;
    QStringList answers;
    QPointer<QDialog> current;
    int pollsWhileOpen = 0;
    QTimer timer;
};

#endif
