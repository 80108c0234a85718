// What the window reads from lumiload: the fixture blocks of a discovery
// report and the progress of one fixture's upload, from output in lines.
// QtCore only; the window turns the results into rows and bars.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include "FirmwareLibrary.h"
#include "FixtureResults.h"

// A child's output in lines, however the pipe cut it: a line is complete
// with its line feed (a CR before it is dropped too); the unfinished line
// waits for the next piece, or for the end of the child.
class LineBuffer
{
public:
    void append(const QByteArray &data);
    void append(const QString &text) { append(text.toUtf8()); }
    // The next complete line, if there is one.
    bool takeLine(QString *line);
    QStringList takeLines();
    bool hasLine() const { return m_data.indexOf('\n', m_scanned) >= 0; }
    // What follows the last line taken: the unfinished line so far.
    QString pending() const;
    // The child has ended: the last line, which may lack its line feed,
    // and the buffer is empty again.
    QString takeRest();
    void clear();

private:
    QByteArray m_data;
    qsizetype m_start = 0;     // of the first line not taken
    qsizetype m_scanned = 0;   // no line feed before this
};

// Reads a discovery report in whatever pieces the pipe delivers. A line,
// and a fixture block, may span any number of pieces: the unfinished line
// and the open block are kept until the next piece. A large report is
// parsed in slices of sliceMs() milliseconds, the rest from the event loop,
// so that the window stays responsive.
class DiscoveryParser : public QObject
{
    Q_OBJECT

public:
    explicit DiscoveryParser(QObject *parent = nullptr);

    // Forgets everything of an earlier run.
    void reset();
    // Adds a piece of output and parses what is complete.
    void feed(const QByteArray &data);
    // The run has ended: its last line may lack the line feed.
    void finish();

    static int sliceMs();
    static void setSliceMs(int ms);

signals:
    // Fixtures whose ip, longName and version lines are known, in report
    // order; a fixture comes again when one of the three changes within its
    // block.
    void fixturesFound(const QList<DiscoveredFixture> &fixtures);
    // A run with a firmware folder (-l): the plan's lines, after the
    // fixtures they name, and that lumiload read the folder, so its error
    // lines about single files name files it left out.
    void fixturesPlanned(const QList<PlannedImage> &plan);
    void libraryListed();

private:
    void parseSlice();
    void parseLine(const QString &line, QList<DiscoveredFixture> *found, QList<PlannedImage> *planned);

    LineBuffer m_lines;
    QString m_ip;
    QString m_name;
    QString m_version;
    quint16 m_esta = 0;
    quint16 m_oem = 0;
    bool m_ended = false;
    bool m_sliceScheduled = false;
    bool m_inPlan = false;
};

// Follows one fixture's upload: lumiload's standard output and standard
// error for a run with "-d". Lines are matched whole, however the pipe cut
// them; the progress line is followed mark by mark as it grows.
class UploadProgress
{
public:
    void feed(const QString &output);
    void feedErrors(const QString &errors);
    // One event line of a parallel run about this fixture, without its
    // leading address: "block 3 of 41 accepted", "failed: ...", and so on.
    // A failure gets the reason a sequential run's failure would get.
    void feedEvent(const QString &event);
    // The child has ended (`crashed`: killed by a signal or a crash, else
    // `exitCode`): its last lines may lack the line feed.
    void finish(bool crashed = false, int exitCode = 0);
    // The child checks the fixture's version after its restart (-c): only
    // that confirmation is success. Also implied by the child saying it
    // waits for the restart.
    void expectConfirmation() { m_confirming = true; }

    int blockCount() const { return m_blockCount; }   // 0 until known
    // Blocks the fixture accepted, as the progress line reports them; the
    // last one counts only with the success line (or "uploaded"), so a full
    // bar means the fixture took the whole image.
    int progress() const;
    bool succeeded() const { return m_succeeded; }
    // Running or waiting for its restart until its last word: updated,
    // confirmed, failed or not started.
    FixtureState state() const;
    FixtureProgress snapshot() const { return {state(), m_blockCount, progress(), m_failedAttempts + 1}; }
    // A parallel run's last word on this fixture came (confirmed, failed
    // or not started): nothing more will be reported about it.
    bool settled() const { return m_succeeded || !m_reason.isEmpty(); }
    bool started() const { return m_blockCount > 0 || touched(); }
    // The version the fixture reported after its restart, when confirmed.
    QString confirmedVersion() const { return m_confirmedVersion; }
    // The image file lumiload named for the fixture (a run with -l), else empty.
    QString image() const { return m_image; }
    // The version it reported after its restart, the image's or another.
    QString reportedVersion() const { return m_succeeded ? m_confirmedVersion : m_otherVersion; }
    // Whether any block went to the fixture: a failed fixture that was
    // touched may be half-written.
    bool touched() const { return m_blocksStarted > 0; }
    int acceptedBlocks() const { return m_acceptedDone + m_acceptedInLine; }
    // Failed attempts over all blocks (the progress line's T and !).
    int retries() const { return m_retries + m_retriesInLine; }
    // Why the upload failed, in words for the operator; empty when it
    // succeeded or has not ended.
    QString reason() const { return m_reason; }
    // Everything the child printed, both streams, for the details view.
    QString log() const { return m_log; }

private:
    void scanLine(const QString &line);
    void scanProgressMarks(const QString &line, bool complete);
    QString failureReason(bool crashed, int exitCode) const;
    // What a failure did to the fixture: nothing sent, half-written, or
    // every block taken.
    QString failureNote() const;

    LineBuffer m_lines;
    LineBuffer m_errorLines;
    QStringList m_errors;
    QString m_log;
    QString m_fixtureStatus;      // upgradeStatus of the fixture block, if any
    QString m_fixtureCodes;       // its ESTA and OEM codes, for the reason
    int m_blockCount = 0;
    int m_acceptedDone = 0;       // in progress lines already ended
    int m_acceptedInLine = 0;     // in the progress line still growing
    int m_blocksStarted = 0;
    QString m_lastMarks;          // marks of the last progress line
    bool m_succeeded = false;
    bool m_uploaded = false;
    bool m_ended = false;
    bool m_notStarted = false;
    bool m_restarting = false;
    bool m_confirming = false;
    int m_failedAttempts = 0;     // at the block in hand
    int m_retries = 0;            // in event lines and progress lines already ended
    int m_retriesInLine = 0;      // in the progress line still growing
    QString m_reason;
    QString m_image;
    QString m_confirmedVersion;
    QString m_otherVersion;       // reported after the restart instead of the image's
};

// Why a fixture was not started, in the same words in both kinds of run:
// the run was stopped, or `failed` fixtures had failed, its failure limit.
QString stoppedReason();
QString failureLimitReason(int failed);
// `failed` of the first `group` fixtures, the test group, failed.
QString testGroupReason(int failed, int group);

// Why a run failed, from the error lines of its standard error, in words
// for the operator; empty when none of them explains it. With
// `filesLeftOut` the lines about a damaged firmware file are those of files
// a library run left out, and explain nothing.
QString describeErrors(const QStringList &errorLines, bool filesLeftOut = false);
