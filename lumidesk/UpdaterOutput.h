// What the window reads from lumiload: the fixture blocks of a discovery
// report, the progress of one fixture's upload, and the target version of
// an image. QtCore only; the window turns the results into rows and bars.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

// One fixture of a discovery report, as the table shows it.
struct DiscoveredFixture {
    QString name;
    QString ip;
    QString version;
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

private:
    void parseSlice();
    void parseLine(const QString &line, QList<DiscoveredFixture> *found);

    QByteArray m_pending;
    QString m_ip;
    QString m_name;
    QString m_version;
    bool m_ended = false;
    bool m_sliceScheduled = false;
};

// Follows one fixture's upload output. The "blockCount=" line and the
// success line are matched whole, however the pipe cut them; progress is
// every "-" received, as the window has always counted it.
class UploadProgress
{
public:
    void feed(const QString &output);
    // The process has ended: its last line may lack the line feed.
    void finish();

    int blockCount() const { return m_blockCount; }   // 0 until known
    int progress() const { return m_dashes; }
    bool succeeded() const { return m_succeeded; }

private:
    void scanLine(const QString &line);

    QString m_pendingLine;
    int m_blockCount = 0;
    int m_dashes = 0;
    bool m_succeeded = false;
};

// A firmware version as the window shows it: "major.minor.patch".
struct TargetVersion {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned patch = 0;
};

// The window's own reading of the image's version bytes (offsets 2 and 3):
// a first byte of 16 or more holds major and minor in its two nibbles and
// the second byte is the patch; a smaller first byte is the major and the
// second byte the minor. Trailing zeros of the minor are dropped (20 shows
// as 2).
TargetVersion decodeTargetVersion(quint8 versionHi, quint8 versionLo);
