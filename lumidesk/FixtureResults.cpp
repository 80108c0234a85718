#include "FixtureResults.h"

#include <QFile>
#include <QTextStream>

QString summaryLine(const QList<FixtureResult> &results)
{
    int updated = 0, failed = 0, notStarted = 0, current = 0, notFitting = 0, conflicts = 0;
    for (const FixtureResult &result : results) {
        switch (result.outcome) {
        case FixtureState::Updated:
        case FixtureState::Confirmed:
            ++updated;
            break;
        case FixtureState::Failed:
            ++failed;
            break;
        case FixtureState::SkippedAsCurrent:
            ++current;
            break;
        case FixtureState::DoesNotFit:
            ++notFitting;
            break;
        case FixtureState::ImageConflict:
            ++conflicts;
            break;
        default:
            ++notStarted;
            break;
        }
    }
    QString line = QString("Update finished: %1 updated, %2 skipped as current, %3 failed")
                       .arg(updated).arg(current).arg(failed);
    if (notFitting)
        line += QString(", %1 not fitting the image").arg(notFitting);
    if (conflicts)
        line += QString(", %1 with an image conflict").arg(conflicts);
    if (notStarted)
        line += QString(", %1 not started").arg(notStarted);
    return line + ".";
}

QStringList failureLines(const QList<FixtureResult> &results, bool withImage)
{
    QStringList lines;
    for (const FixtureResult &result : results)
        if (result.outcome == FixtureState::Failed)
            lines << result.ip + " (" + result.name + (withImage ? ", " + result.image : QString()) +
                         "): " + result.reason;
    return lines;
}

static QString csvField(QString text)
{
    if (text.contains(',') || text.contains('"') || text.contains('\n'))
        text = '"' + text.replace('"', "\"\"") + '"';
    return text;
}

// The CSV's word for an outcome; skipped and not started are alike there.
static const char *csvResult(FixtureState outcome)
{
    switch (outcome) {
    case FixtureState::Idle:
        return "waiting";
    case FixtureState::Running:
    case FixtureState::WaitingForRestart:
    case FixtureState::Stuck:
        return "running";
    case FixtureState::Updated:
    case FixtureState::Confirmed:
        return "updated";
    case FixtureState::Failed:
        return "failed";
    default:
        return "not updated";
    }
}

bool writeCsvReport(const QString &path, const QList<RunRecord> &runs, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        *error = file.errorString();
        return false;
    }
    QTextStream out(&file);
    out << "run,started,image,image version,interface,run seconds,name,address,version before,version after,"
           "result,reason,retries,seconds,fixture image,fixture image version\n";
    for (int run = 0; run < runs.size(); ++run) {
        const RunRecord &r = runs[run];
        const QString head = QString("%1,%2,%3,%4,%5,%6,")
                                 .arg(run + 1)
                                 .arg(r.started.toString(Qt::ISODate), csvField(r.imageName), r.imageVersion, r.interfaceAddress)
                                 .arg(r.seconds, 0, 'f', 1);
        for (const FixtureResult &f : r.results)
            out << head << csvField(f.name) << ',' << f.ip << ',' << f.versionBefore << ',' << f.versionAfter << ','
                << csvResult(f.outcome) << ',' << csvField(f.reason) << ',' << f.retries << ','
                << QString::number(f.seconds, 'f', 1) << ',' << csvField(f.image) << ',' << f.imageVersion << '\n';
    }
    return true;
}

QString durationText(int seconds)
{
    return seconds >= 60 ? QString("%1 min %2 s").arg(seconds / 60).arg(seconds % 60)
                         : QString("%1 s").arg(seconds);
}

QString fixtureCount(int count)
{
    return QString("%1 fixture%2").arg(count).arg(count == 1 ? "" : "s");
}
