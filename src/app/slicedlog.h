#ifndef TQ470_SLICEDLOG_H
#define TQ470_SLICEDLOG_H

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class QTextBrowser;

// Appends texts to a log view without holding up the window: a long text goes in slices of
// whole lines, one slice per turn of the event loop, and texts that come meanwhile wait behind
// it. The view ends up with the same text as if each had been appended at once.
class SlicedLog : public QObject
{
    Q_OBJECT

public:
    // About the characters one turn of the event loop appends.
    static constexpr qsizetype SliceChars = 8192;

    explicit SlicedLog(QTextBrowser *view);

    // Queued behind any pending text; a short text with nothing pending is shown at once.
    void append(const QString &text);
    // Shows everything pending, then the text, at once.
    void appendNow(const QString &text);
    // Drops what is pending and empties the view.
    void clear();
    bool idle() const { return pending.isEmpty(); }

Q_SIGNALS:
    void drained();

private:
    // Appends up to budget characters of pending text (at least one line); returns what is left.
    qsizetype appendSlice(qsizetype budget);
    void appendTurn();

    QTextBrowser *view;
    QList<QString> pending;
    // Characters of the first pending text already shown.
    qsizetype shownUpTo = 0;
    QTimer turn;
};

#endif
