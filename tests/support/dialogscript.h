#ifndef TQ470_TESTS_DIALOGSCRIPT_H
#define TQ470_TESTS_DIALOGSCRIPT_H

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

// A modal dialog as the user met it.
struct SeenDialog {
    QString className;
    QString title;
    // A message box's text, an input dialog's label.
    QString text;
    QStringList nameFilters;
    QString directory;
    // What a file dialog's name field held when it came up.
    QString proposedName;
    QStringList items;
    QString currentItem;
    bool editable = false;
    bool parentedToWindow = false;
    bool widgetBased = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// Plays the user through one click: each modal dialog that comes up is noted and answered by
// the next answer in turn. A dialog beyond the answers, or one an answer does not fit, is
// cancelled, so that a test never hangs on an unexpected dialog.
class DialogScript : public QObject
{
public:
    using Answer = std::function<void(QWidget *dialog)>;

    static constexpr int PollIntervalMs = 20;
    // Polls before a dialog that its answer did not close is cancelled.
    static constexpr int PollsBeforeGivingUp = 100;
    static constexpr char FileNameEdit[] = "fileNameEdit";

    DialogScript(QWidget *window, QList<Answer> answers)
        : window(window), answers(std::move(answers))
    {
        connect(&timer, &QTimer::timeout, this, &DialogScript::answerNewDialog);
        timer.start(PollIntervalMs);
    }

    QList<SeenDialog> seen;

private:
    void answerNewDialog()
    {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        if (dialog == current) {
            if (++pollsWhileOpen == PollsBeforeGivingUp)
                static_cast<QDialog *>(dialog)->reject();
            return;
        }
        current = dialog;
        pollsWhileOpen = 0;
        seen << note(dialog);
        if (answers.isEmpty())
            static_cast<QDialog *>(dialog)->reject();
        else
            answers.takeFirst()(dialog);
    }

    SeenDialog note(QWidget *dialog) const
    {
        SeenDialog entry;
        entry.className = dialog->metaObject()->className();
        entry.title = dialog->windowTitle();
        entry.parentedToWindow = dialog->parentWidget() == window;
        if (auto *fileDialog = qobject_cast<QFileDialog *>(dialog)) {
            entry.nameFilters = fileDialog->nameFilters();
            entry.directory = fileDialog->directory().absolutePath();
            const auto *nameEdit = fileDialog->findChild<QLineEdit *>(FileNameEdit);
            entry.widgetBased = nameEdit != nullptr;
            if (nameEdit)
                entry.proposedName = nameEdit->text();
        }
        if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
            entry.text = box->text();
            entry.icon = box->icon();
            entry.buttons = box->standardButtons();
        }
        if (auto *input = qobject_cast<QInputDialog *>(dialog)) {
            entry.text = input->labelText();
            if (const auto *combo = input->findChild<QComboBox *>()) {
                for (int i = 0; i < combo->count(); ++i)
                    entry.items << combo->itemText(i);
                entry.currentItem = combo->currentText();
                entry.editable = combo->isEditable();
            }
        }
        return entry;
    }

    QWidget *window;
    QList<Answer> answers;
    QPointer<QWidget> current;
    int pollsWhileOpen = 0;
    QTimer timer;
};

inline DialogScript::Answer chooseFile(const QString &fileName)
{
    return [fileName](QWidget *dialog) {
        auto *nameEdit = dialog->findChild<QLineEdit *>(DialogScript::FileNameEdit);
        if (!qobject_cast<QFileDialog *>(dialog) || !nameEdit)
            return static_cast<QDialog *>(dialog)->reject();
        // Typed, as selectFile() leaves alone a name field that has the focus. QFileDialog
        // hides its accept(); through QDialog it checks the name as a click on Open would.
        nameEdit->setText(fileName);
        static_cast<QDialog *>(dialog)->accept();
    };
}

// Picks item from an item dialog's list; a null item keeps the preselected one.
inline DialogScript::Answer chooseItem(const QString &item = QString())
{
    return [item](QWidget *dialog) {
        auto *input = qobject_cast<QInputDialog *>(dialog);
        auto *combo = dialog->findChild<QComboBox *>();
        if (!input || !combo)
            return static_cast<QDialog *>(dialog)->reject();
        if (!item.isNull()) {
            const int index = combo->findText(item);
            if (index < 0)
                return input->reject();
            combo->setCurrentIndex(index);
        }
        input->accept();
    };
}

inline DialogScript::Answer cancelDialog()
{
    return [](QWidget *dialog) { static_cast<QDialog *>(dialog)->reject(); };
}

inline DialogScript::Answer pressOk()
{
    return [](QWidget *dialog) {
        auto *box = qobject_cast<QMessageBox *>(dialog);
        if (!box || !box->button(QMessageBox::Ok))
            return static_cast<QDialog *>(dialog)->reject();
        box->button(QMessageBox::Ok)->click();
    };
}

// Qt's own file dialog, parented to the window, opening in the current directory.
inline void verifyFileDialog(const SeenDialog &seen, const QString &title, const QString &filter)
{
    QCOMPARE(seen.className, QStringLiteral("QFileDialog"));
    QVERIFY2(seen.widgetBased, "Qt's own dialog, not the platform's");
    QCOMPARE(seen.title, title);
    QCOMPARE(seen.nameFilters, QStringList{filter});
    QCOMPARE(seen.directory, QDir::currentPath());
    QVERIFY(seen.parentedToWindow);
}

// The critical box "Error" with one OK button, parented to the window.
inline void verifyErrorBox(const SeenDialog &seen)
{
    QCOMPARE(seen.className, QStringLiteral("QMessageBox"));
    QCOMPARE(seen.title, QStringLiteral("Error"));
    QCOMPARE(seen.icon, QMessageBox::Critical);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(seen.parentedToWindow);
}

#endif
