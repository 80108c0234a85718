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
    m_pending.clear();
    m_ip.clear();
    m_name.clear();
    m_version.clear();
    m_ended = false;
}

void DiscoveryParser::feed(const QByteArray &data)
{
    m_pending += data;
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
    QElapsedTimer slice;
    slice.start();
    qsizetype start = 0;
    qsizetype end;
    while ((end = m_pending.indexOf('\n', start)) != -1) {
        parseLine(QString::fromUtf8(m_pending.constData() + start, end - start), &found);
        start = end + 1;
        if (slice.elapsed() >= s_sliceMs)
            break;
    }
    m_pending.remove(0, start);
    const bool more = m_pending.contains('\n');
    if (!more && m_ended) {
        if (!m_pending.isEmpty())
            parseLine(QString::fromUtf8(m_pending), &found);
        reset();
    }
    if (!found.isEmpty())
        emit fixturesFound(found);
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
void DiscoveryParser::parseLine(const QString &rawLine, QList<DiscoveredFixture> *found)
{
    const QString line = rawLine.trimmed();
    if (line.startsWith("Fixture detected:")) {
        m_ip.clear();
        m_name.clear();
        m_version.clear();
        return;
    }
    const qsizetype equals = line.indexOf('=');
    if (equals <= 0)
        return;
    const QStringView key = QStringView(line).left(equals);
    QString *field = key == u"ip" ? &m_ip : key == u"longName" ? &m_name : key == u"version" ? &m_version : nullptr;
    if (!field)
        return;
    const QString value = line.mid(equals + 1).trimmed();
    if (*field == value)
        return;
    *field = value;
    if (!m_ip.isEmpty() && !m_name.isEmpty() && !m_version.isEmpty())
        found->append({m_name, m_ip, m_version});
}

void UploadProgress::feed(const QString &output)
{
    QStringList lines = (m_pendingLine + output).split('\n');
    m_pendingLine = lines.takeLast();
    for (const QString &line : lines)
        scanLine(line);
    m_dashes += output.count('-');
}

void UploadProgress::finish()
{
    scanLine(m_pendingLine);
    m_pendingLine.clear();
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
    if (line.contains(kSuccessLine))
        m_succeeded = true;
}

TargetVersion decodeTargetVersion(quint8 versionHi, quint8 versionLo)
{
    TargetVersion version{unsigned(versionHi) >> 4, versionHi & 0x0Fu, versionLo};
    if (version.major == 0) {
        version.major = versionHi & 0x0Fu;
        version.minor = versionLo;
        version.patch = 0;
    }
    while (version.minor >= 10 && version.minor % 10 == 0)
        version.minor /= 10;
    return version;
}
