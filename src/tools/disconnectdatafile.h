#ifndef TQ470_DISCONNECTDATAFILE_H
#define TQ470_DISCONNECTDATAFILE_H

#include <QByteArray>
#include <QList>
#include <QString>

// The data file Disconnect writes: the numbers LowestValue to HighestValue, each once, in the
// order the C library's rand() comes up with them, on one line: "v,v,...,v,;".
class DisconnectDataFile
{
public:
    static constexpr char FileName[] = "dane.csv";
    static constexpr int LowestValue = 351;
    static constexpr int HighestValue = 541;
    static constexpr int ValueCount = HighestValue - LowestValue + 1;

    struct Draw {
        // What rand() returned, and the value it gave.
        int raw = 0;
        int value = 0;
    };

    // Draws rand() until every value has come up; a draw whose value came up before is drawn
    // again. rand() is never seeded, so every run of the program yields the same sequence
    // from its first draw on.
    static QList<Draw> drawPermutation();

    static QByteArray contents(const QList<Draw> &draws);
    // "r -> v": the log line of one draw.
    static QString logLine(const Draw &draw);
    // Replaces fileName with the contents. False when it could not be written whole.
    static bool write(const QString &fileName, const QList<Draw> &draws);
};

#endif
