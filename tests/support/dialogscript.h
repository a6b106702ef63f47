#ifndef TQ470_TESTS_DIALOGSCRIPT_H
#define TQ470_TESTS_DIALOGSCRIPT_H

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaEnum>
#include <QPointer>
#include <QTimer>

// A modal dialog as the user met it. description: "TITLE|LABEL|PROPOSAL" for an input dialog
// ("256 of 1..1048576" for a number, "26 of 100" for an item), "TITLE|FILTERS|PROPOSED NAME"
// for a file dialog (+ " in elsewhere" unless in the current folder), "ICON TITLE|TEXT".
struct SeenDialog
{
    QString description;
    bool parentedToWindow = false;
};

// Plays the user through one click, noting each modal dialog and giving it the next answer:
// "<cancel>" cancels, "" takes the proposal, any other is typed or picked; a message box is
// confirmed. A dialog beyond the answers, or one its answer did not close, is cancelled.
class DialogScript : public QObject
{
public:
    static constexpr int PollIntervalMs = 20;
    static constexpr int PollsBeforeGivingUp = 100;

    DialogScript(QWidget *window, const QStringList &answers) : window(window), answers(answers)
    {
        connect(&timer, &QTimer::timeout, this, &DialogScript::answerNewDialog);
        timer.start(PollIntervalMs);
    }

    QList<SeenDialog> seen;

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
        SeenDialog note{dialog->windowTitle() + '|', dialog->parentWidget() == window};
        if (auto *box = qobject_cast<QMessageBox *>(dialog))
            note.description = QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(box->icon()) +
                               (' ' + note.description + box->text());
        else if (auto *file = qobject_cast<QFileDialog *>(dialog))
            note.description += file->nameFilters().join(';') + '|' +
                                (nameEdit ? nameEdit->text() : QString()) +
                                (file->directory() == QDir::current() ? "" : " in elsewhere");
        else if (input && input->inputMode() == QInputDialog::IntInput)
            note.description += QStringLiteral("%1|%2 of %3..%4")
                                    .arg(input->labelText())
                                    .arg(input->intValue())
                                    .arg(input->intMinimum())
                                    .arg(input->intMaximum());
        else if (input)
            note.description += input->labelText() + '|' + input->textValue() +
                                (input->comboBoxItems().isEmpty()
                                     ? QString()
                                     : QStringLiteral(" of %1").arg(input->comboBoxItems().size()));
        seen << note;
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
