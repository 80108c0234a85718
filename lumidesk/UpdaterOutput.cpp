#include "UpdaterOutput.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QStringView>
#include <QTimer>

static const char kSuccessLine[] = "# Firmware uploaded successfully";

static int s_sliceMs = 50;

int DiscoveryParser::sliceMs()
{
    return s_sliceMs;
}

void DiscoveryParser::setSliceMs(int ms)
{
    s_sliceMs = ms;
}

DiscoveryParser::DiscoveryParser(QObject *parent) : QObject(parent)
{
}

void DiscoveryParser::reset()
{
    m_lines.clear();
    m_ip.clear();
    m_name.clear();
    m_version.clear();
    m_esta = m_oem = 0;
    m_ended = false;
    m_inPlan = false;
}

void DiscoveryParser::feed(const QByteArray &data)
{
    m_lines.append(data);
    parseSlice();
}

void DiscoveryParser::finish()
{
    m_ended = true;
    parseSlice();
}

// Parses complete lines until the slice is used up; the fixtures of one
// slice are reported together.
void DiscoveryParser::parseSlice()
{
    QList<DiscoveredFixture> found;
    QList<PlannedImage> planned;
    QElapsedTimer slice;
    slice.start();
    bool more = false;
    QString line;
    while (m_lines.takeLine(&line)) {
        parseLine(line, &found, &planned);
        if (slice.elapsed() >= s_sliceMs) {
            more = m_lines.hasLine();
            break;
        }
    }
    if (!more && m_ended) {
        if (const QString last = m_lines.takeRest(); !last.isEmpty())
            parseLine(last, &found, &planned);
        reset();
    }
    if (!found.isEmpty())
        emit fixturesFound(found);
    if (!planned.isEmpty())
        emit fixturesPlanned(planned);
    if (more && !m_sliceScheduled) {
        m_sliceScheduled = true;
        QTimer::singleShot(0, this, [this]() {
            m_sliceScheduled = false;
            parseSlice();
        });
    }
}

// A fixture block is "Fixture detected:" followed by "    key=value" lines;
// the key is the text before the line's first "=", the value everything
// after it, so names that contain "=" or "ip=" stay whole.
void DiscoveryParser::parseLine(const QString &rawLine, QList<DiscoveredFixture> *found, QList<PlannedImage> *planned)
{
    const QString line = rawLine.trimmed();
    if (line.startsWith("# Firmware library ")) {
        emit libraryListed();
        return;
    }
    // The plan: "# Plan: N fixtures", a line per fixture, "# Plan counts: ...".
    if (line.startsWith("# Plan")) {
        m_inPlan = line.startsWith("# Plan: ");
        return;
    }
    if (m_inPlan) {
        PlannedImage plan;
        if (parsePlanLine(rawLine, &plan))
            planned->append(plan);
        return;
    }
    if (line.startsWith("Fixture detected:")) {
        m_ip.clear();
        m_name.clear();
        m_version.clear();
        m_esta = m_oem = 0;
        return;
    }
    const qsizetype equals = line.indexOf('=');
    if (equals <= 0)
        return;
    const QStringView key = QStringView(line).left(equals);
    const QString value = line.mid(equals + 1).trimmed();
    if (key == u"estaMan" || key == u"oemCode") {
        (key == u"estaMan" ? m_esta : m_oem) = quint16(value.toUInt(nullptr, 0));
        return;
    }
    QString *field = key == u"ip" ? &m_ip : key == u"longName" ? &m_name : key == u"version" ? &m_version : nullptr;
    if (!field || *field == value)
        return;
    *field = value;
    if (!m_ip.isEmpty() && !m_name.isEmpty() && !m_version.isEmpty())
        found->append({m_name, m_ip, m_version, m_esta, m_oem});
}

void LineBuffer::append(const QByteArray &data)
{
    if (m_start > 0) {
        m_data.remove(0, m_start);
        m_scanned -= m_start;
        m_start = 0;
    }
    m_data += data;
}

bool LineBuffer::takeLine(QString *line)
{
    const qsizetype end = m_data.indexOf('\n', m_scanned);
    if (end < 0) {
        m_scanned = m_data.size();
        return false;
    }
    const qsizetype length = end - m_start - (end > m_start && m_data[end - 1] == '\r' ? 1 : 0);
    *line = QString::fromUtf8(m_data.constData() + m_start, length);
    m_start = m_scanned = end + 1;
    return true;
}

QStringList LineBuffer::takeLines()
{
    QStringList lines;
    QString line;
    while (takeLine(&line))
        lines.append(line);
    return lines;
}

QString LineBuffer::pending() const
{
    return QString::fromUtf8(m_data.constData() + m_start, m_data.size() - m_start);
}

QString LineBuffer::takeRest()
{
    QString rest = QString::fromUtf8(m_data.constData() + m_start, m_data.size() - m_start);
    if (rest.endsWith('\r'))
        rest.chop(1);
    clear();
    return rest;
}

void LineBuffer::clear()
{
    m_data.clear();
    m_start = m_scanned = 0;
}

void UploadProgress::feed(const QString &output)
{
    m_log += output;
    m_lines.append(output);
    for (const QString &line : m_lines.takeLines())
        scanLine(line);
    scanProgressMarks(m_lines.pending(), false);
}

void UploadProgress::feedErrors(const QString &errors)
{
    m_log += errors;
    m_errorLines.append(errors);
    m_errors.append(m_errorLines.takeLines());
}

// The version in "the fixture came back with version 1.1.0, not 1.2.0";
// empty for any other text.
static QString cameBackWith(const QString &text)
{
    static const QRegularExpression pattern("came back with version (\\S+), not ");
    return pattern.match(text).captured(1);
}

static QString rejectedText(const QString &block, const QString &type)
{
    return QString("The fixture rejected %1 (reply type %2%3).").arg(block, type, type == "255" ? ", FirmFail" : "");
}

// A parallel run's verdict in the words a sequential run's failure gets,
// so that a failure reads alike in both modes.
static QString verdictInWords(const QString &why)
{
    static const QRegularExpression noReply("^no reply to (block \\d+ of \\d+) after \\d+ attempts$");
    static const QRegularExpression notSent("^block (\\d+ of \\d+) could not be sent after \\d+ attempts$");
    static const QRegularExpression rejected("^the fixture rejected (block \\d+ of \\d+) \\(reply type (\\d+)\\)$");
    QRegularExpressionMatch match;
    if ((match = noReply.match(why)).hasMatch())
        return QString("The fixture stopped answering: no reply to %1 after three attempts.").arg(match.captured(1));
    if ((match = notSent.match(why)).hasMatch())
        return QString("Block %1 could not be sent.").arg(match.captured(1));
    if ((match = rejected.match(why)).hasMatch())
        return rejectedText(match.captured(1), match.captured(2));
    if (why.endsWith("could not be read from the image file"))
        return "The firmware file could not be read during the upload.";
    return why.left(1).toUpper() + why.mid(1) + ".";
}

QString stoppedReason()
{
    return "Not started: the run was stopped. Nothing was sent to the fixture.";
}

QString failureLimitReason(int failed)
{
    return QString("Not started: %1 failed, the run's failure limit. Nothing was sent to the fixture.")
        .arg(fixtureCount(failed));
}

QString testGroupReason(int failed, int group)
{
    return QString("Not started: %1 of the first %2, the test group, failed. Nothing was sent to the fixture.")
        .arg(failed)
        .arg(fixtureCount(group));
}

// A parallel run's fixture left out, in the words a one-by-one run uses.
static QString notStartedInWords(const QString &why)
{
    static const QRegularExpression limit("^(\\d+) fixtures failed \\(-k \\d+\\)$");
    static const QRegularExpression group("^(\\d+) of the first (\\d+) fixtures failed \\(-n \\d+\\)$");
    if (why == "the run was stopped (-S)")
        return stoppedReason();
    if (const QRegularExpressionMatch match = group.match(why); match.hasMatch())
        return testGroupReason(match.captured(1).toInt(), match.captured(2).toInt());
    if (const QRegularExpressionMatch match = limit.match(why); match.hasMatch())
        return failureLimitReason(match.captured(1).toInt());
    return "Not started: " + why + ". Nothing was sent to the fixture.";
}

// The events of a parallel run. A failed fixture's reason is lumiload's
// own, with the same note on whether the fixture was touched.
void UploadProgress::feedEvent(const QString &rawEvent)
{
    const QString event = rawEvent.endsWith('\r') ? rawEvent.chopped(1) : rawEvent;
    m_log += event + '\n';
    static const QRegularExpression started("^upload started, blockCount=(\\d+)(?:, image=(.*))?$");
    static const QRegularExpression block("^block (\\d+) of (\\d+) (accepted|attempt)");
    QRegularExpressionMatch match = block.match(event);
    if (match.hasMatch()) {
        m_blocksStarted = qMax(m_blocksStarted, match.captured(1).toInt());
        const bool accepted = match.captured(3) == "accepted";
        m_acceptedDone += accepted ? 1 : 0;
        m_failedAttempts = accepted ? 0 : m_failedAttempts + 1;
        m_retries += accepted ? 0 : 1;
        m_restarting = false;
    } else if ((match = started.match(event)).hasMatch()) {
        m_blockCount = match.captured(1).toInt();
        m_image = match.captured(2);
    } else if (event == "waiting for the fixture to restart") {
        m_restarting = true;
    } else if (event.startsWith("confirmed: the fixture reports version ")) {
        m_confirmedVersion = event.section(' ', -1);
        m_succeeded = true;
    } else if (event == "uploaded") {
        m_uploaded = true;
    } else if (event.startsWith("failed: ") || event.startsWith("not started: ")) {
        const QString why = event.section(": ", 1);
        // The block the reason names went out, even when it was the first.
        static const QRegularExpression named("block (\\d+) of");
        if (const QRegularExpressionMatch block = named.match(why); block.hasMatch() && event.startsWith("failed"))
            m_blocksStarted = qMax(m_blocksStarted, block.captured(1).toInt());
        m_notStarted = event.startsWith("not started");
        m_otherVersion = cameBackWith(why);
        if (m_notStarted)
            m_reason = notStartedInWords(why);
        else
            m_reason = verdictInWords(why) + failureNote();
        m_restarting = false;
    }
}

void UploadProgress::finish(bool crashed, int exitCode)
{
    if (m_ended)
        return;
    scanLine(m_lines.takeRest());
    if (const QString lastError = m_errorLines.takeRest(); !lastError.isEmpty())
        m_errors.append(lastError);
    m_ended = true;
    // A parallel run without confirmation ends its fixtures at "uploaded".
    if (m_uploaded && m_reason.isEmpty() && !crashed && exitCode == 0 && !m_confirming)
        m_succeeded = true;
    if (!m_succeeded)
        m_otherVersion = cameBackWith(m_errors.join('\n'));
    if (!m_succeeded && m_reason.isEmpty())
        m_reason = failureReason(crashed, exitCode);
}

FixtureState UploadProgress::state() const
{
    if (m_succeeded)
        return m_confirmedVersion.isEmpty() ? FixtureState::Updated : FixtureState::Confirmed;
    if (!m_reason.isEmpty())
        return m_notStarted ? FixtureState::NotStarted : FixtureState::Failed;
    return m_restarting ? FixtureState::WaitingForRestart : FixtureState::Running;
}

int UploadProgress::progress() const
{
    if ((m_succeeded || m_uploaded) && m_blockCount > 0)
        return m_blockCount;
    const int accepted = acceptedBlocks();
    return m_blockCount > 0 ? qMin(accepted, m_blockCount - 1) : accepted;
}

// Of the two "blockCount=" lines of a run (image header and upload report)
// the first sets the total.
void UploadProgress::scanLine(const QString &line)
{
    if (m_blockCount == 0) {
        static const QRegularExpression blockCountPattern("blockCount=(\\d+)");
        const QRegularExpressionMatch match = blockCountPattern.match(line);
        if (match.hasMatch())
            m_blockCount = match.captured(1).toInt();
    }
    const QString trimmed = line.trimmed();
    if (trimmed.startsWith("image=") && m_image.isEmpty())
        m_image = trimmed.mid(6);
    else if (trimmed.startsWith("upgradeStatus="))
        m_fixtureStatus = trimmed.mid(14);
    else if (trimmed.startsWith("estaMan=") || trimmed.startsWith("oemCode="))
        m_fixtureCodes += (m_fixtureCodes.isEmpty() ? "" : ", ") + trimmed;
    else if (trimmed.startsWith("Fixture detected:"))
        m_fixtureCodes.clear();
    scanProgressMarks(line, true);
    if (line.contains(kSuccessLine)) {
        m_uploaded = true;
        m_succeeded = !m_confirming;
    } else if (trimmed == "# Waiting for the fixture to restart") {
        m_confirming = m_restarting = true;
        m_succeeded = false;
    } else if (trimmed.startsWith("# Confirmed: the fixture reports version ")) {
        m_confirmedVersion = trimmed.section(' ', -1);
        m_succeeded = true;
        m_restarting = false;
    }
}

// The marks after "progress=": a block mark (F, -, L) as each block goes
// out, T or ! for a failed attempt, a blank or G when the fixture accepted
// the block, B when it rejected it.
void UploadProgress::scanProgressMarks(const QString &line, bool complete)
{
    const qsizetype at = line.indexOf("progress=");
    m_acceptedInLine = 0;
    if (at < 0)
        return;
    const QString marks = line.mid(at + 9);
    int accepted = 0;
    int started = 0;
    for (QChar mark : marks) {
        if (mark == 'F' || mark == '-' || mark == 'L')
            ++started;
        else if (mark == ' ' || mark == 'G')
            ++accepted;
    }
    m_blocksStarted = qMax(m_blocksStarted, started);
    m_lastMarks = marks;
    // T and ! after the last block mark are the failed attempts at it.
    const qsizetype lastBlock = qMax(marks.lastIndexOf('F'), qMax(marks.lastIndexOf('-'), marks.lastIndexOf('L')));
    m_failedAttempts = int(marks.mid(lastBlock + 1).count('T') + marks.mid(lastBlock + 1).count('!'));
    const int retries = int(marks.count('T') + marks.count('!'));
    m_retriesInLine = complete ? 0 : retries;
    m_retries += complete ? retries : 0;
    if (complete)
        m_acceptedDone += accepted;
    else
        m_acceptedInLine = accepted;
}

QString UploadProgress::failureReason(bool crashed, int exitCode) const
{
    QString why = describeErrors(m_errors);
    const QString block = QString("block %1 of %2").arg(m_blocksStarted).arg(m_blockCount);
    static const QRegularExpression replyType("unexpected reply type=(\\d+)");
    const QRegularExpressionMatch rejected = replyType.match(m_errors.join('\n'));
    if (!why.isEmpty()) {
    } else if (m_errors.contains("Error: no fixture to update.")) {
        if (m_fixtureStatus == "incompatible")
            why = QString("The image does not fit this fixture (%1).").arg(m_fixtureCodes);
        else if (m_fixtureStatus == "up-to-date")
            why = "The fixture already runs this version or a newer one.";
        else
            why = "The fixture did not answer: it is switched off, disconnected or on another network.";
    } else if (rejected.hasMatch()) {
        why = rejectedText(block, rejected.captured(1));
    } else if (m_lastMarks.trimmed().endsWith("TTT")) {
        why = QString("The fixture stopped answering: no reply to %1 after three attempts.").arg(block);
    } else if (m_lastMarks.trimmed().endsWith("!!!")) {
        why = QString("%1 could not be sent.").arg(block).replace(0, 1, "B");
    } else if (!cameBackWith(m_errors.join('\n')).isEmpty() || m_errors.join('\n').contains("did not answer within")) {
        const QString error = m_errors.filter(QRegularExpression("came back with|did not answer within")).first();
        why = error.mid(error.indexOf(": ") + 2);
        why = why.left(1).toUpper() + why.mid(1) + ".";
    } else if (m_errors.join('\n').contains("failed to read data block")) {
        why = "The firmware file could not be read during the upload.";
    } else if (crashed) {
        why = "lumiload stopped unexpectedly (it crashed or was killed).";
    } else {
        why = QString("lumiload ended (status %1) without finishing the upload.").arg(exitCode);
    }
    return why + failureNote();
}

QString UploadProgress::failureNote() const
{
    if (!touched())
        return " Nothing was sent to the fixture.";
    if (m_uploaded || (m_blockCount > 0 && acceptedBlocks() >= m_blockCount))
        return " The fixture took every block: update it again.";
    return QString(" The fixture accepted %1 of %2 blocks before the failure and may be half-written: update it "
                   "again.").arg(acceptedBlocks()).arg(m_blockCount);
}

QString describeErrors(const QStringList &errorLines, bool filesLeftOut)
{
    const QString errors = errorLines.join('\n');
    if (errors.contains("Error: failed to read firmware folder"))
        return "lumiload could not read the firmware folder.";
    if (errors.contains("Error: no usable firmware image in"))
        return "The firmware folder holds no usable firmware image.";
    static const QRegularExpression portOwner("Port 6454 is in use by ([^\\n]*)\\.");
    const QRegularExpressionMatch owner = portOwner.match(errors);
    if (errors.contains("Error: failed to open ALF file") && !filesLeftOut)
        return "lumiload could not open the firmware file.";
    for (const char *damaged : {"Failed to read ALF header data", "ALF file length does not agree",
                                "data checksum is invalid", "failed to seek past header"}) {
        if (errors.contains(damaged) && !filesLeftOut)
            return "The firmware file is damaged or not a firmware image.";
    }
    if (errors.contains("Error: Failed to bind UDP socket"))
        return QString("UDP port 6454 is already in use on this computer%1: close the other "
                       "Art-Net program and try again.")
            .arg(owner.hasMatch() ? " by " + owner.captured(1) : "");
    if (errors.contains("Error: Unable to find matching network interface"))
        return "No usable network interface was found for the chosen address.";
    if (errors.contains("Error: Failed to create UDP socket."))
        return "lumiload could not open a network socket.";
    if (errors.contains("winsock2 initialisation failed"))
        return "The Windows network stack could not be started.";
    if (errors.contains("Transmit failure") || errors.contains("failed to set SO_BROADCAST"))
        return "The poll could not be sent on the chosen interface.";
    return QString();
}

