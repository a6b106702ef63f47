#include "slicedlog.h"

#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

#include <limits>

SlicedLog::SlicedLog(QTextBrowser *view) : QObject(view), view(view)
{
    turn.setInterval(0);
    QObject::connect(&turn, &QTimer::timeout, this, &SlicedLog::appendTurn);
}

void SlicedLog::append(const QString &text)
{
    if (pending.isEmpty() && text.size() <= SliceChars) {
        view->append(text);
        return;
    }
    pending.append(text);
    turn.start();
}

void SlicedLog::appendNow(const QString &text)
{
    while (!pending.isEmpty())
        appendSlice(std::numeric_limits<qsizetype>::max());
    turn.stop();
    view->append(text);
}

void SlicedLog::clear()
{
    pending.clear();
    shownUpTo = 0;
    turn.stop();
    view->clear();
}

void SlicedLog::appendTurn()
{
    qsizetype budget = SliceChars;
    while (!pending.isEmpty() && budget > 0)
        budget = appendSlice(budget);
    if (pending.isEmpty()) {
        turn.stop();
        Q_EMIT drained();
    }
}

// The first slice of a text is appended as a paragraph of its own, as the whole text would be;
// the view decides from its first line whether it is rich text, and a text that may be is
// appended whole. The later slices go on at the end, each behind the line break it was cut at.
qsizetype SlicedLog::appendSlice(qsizetype budget)
{
    const QString &text = pending.constFirst();
    if (shownUpTo == 0 && (text.size() <= budget || Qt::mightBeRichText(text))) {
        view->append(text);
        budget -= text.size();
        pending.removeFirst();
        return budget;
    }
    const qsizetype limit = qMin(text.size() - 1, shownUpTo + qMin(budget, text.size()));
    qsizetype end = text.lastIndexOf(QLatin1Char('\n'), limit);
    if (end < shownUpTo)
        end = text.indexOf(QLatin1Char('\n'), shownUpTo);
    if (end < 0)
        end = text.size();
    const QString slice = text.mid(shownUpTo, end - shownUpTo);
    if (shownUpTo == 0) {
        view->append(slice);
    } else {
        QScrollBar *const bar = view->verticalScrollBar();
        const bool atBottom = bar->value() >= bar->maximum();
        QTextCursor cursor(view->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(QLatin1Char('\n') + slice);
        if (atBottom)
            bar->setValue(bar->maximum());
    }
    budget -= slice.size() + 1;
    if (end >= text.size()) {
        pending.removeFirst();
        shownUpTo = 0;
    } else {
        shownUpTo = end + 1;
    }
    return budget;
}
