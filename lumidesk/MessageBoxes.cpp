#include "MessageBoxes.h"

#include <QPushButton>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

void showBox(QWidget *window, QMessageBox::Icon icon, const QString &title, const QString &text,
             const QString &details)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, window);
    box.setInformativeText(details);
    box.exec();
}

QMessageBox *showNotice(QWidget *window, QMessageBox::Icon icon, const QString &title, const QString &text,
                        const QString &detailedText)
{
    QMessageBox *box = new QMessageBox(icon, title, text, QMessageBox::Ok, window);
    if (!detailedText.isEmpty())
        box->setDetailedText(detailedText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
    return box;
}

// The version the fixture goes to: the run's, or with a firmware folder
// its own image's, with the file.
static QString targetOf(const UploadPlan &plan, const DiscoveredFixture &fixture, const QString &target)
{
    if (!plan.library)
        return target;
    const PlannedImage image = plan.images.value(fixture.ip);
    return image.version + " (" + image.file + ")";
}

static QString fixtureLine(const DiscoveredFixture &fixture, const QString &target)
{
    return QString("    %1 (%2): %3").arg(fixture.name, fixture.ip, fixture.version) +
           (target.isEmpty() ? QString() : QString::fromUtf8(" \u2192 ") + target);
}

// "Heading (n):" and a line per fixture, with where it goes when
// `withTarget`; nothing for none.
static QStringList section(const QString &heading, const QList<DiscoveredFixture> &fixtures, const UploadPlan &plan,
                           const QString &target, bool withTarget = true)
{
    if (fixtures.isEmpty())
        return {};
    QStringList lines{QString("%1 (%2):").arg(heading).arg(fixtures.size())};
    for (const DiscoveredFixture &fixture : fixtures)
        lines << fixtureLine(fixture, withTarget ? targetOf(plan, fixture, target) : QString());
    return lines;
}

// The lines of a long confirmation as the box shows them: every line but
// the fixtures of a section beyond its first ten, which "Show Details..."
// lists in full. A box of a thousand lines would reach past the screen,
// its buttons with it, and take the window a noticeable while to lay out.
static QStringList shortened(const QStringList &lines)
{
    static const QRegularExpression heading(R"(^.+ \((\d+)\):$)");
    const int shown = 10;
    QStringList kept;
    int total = 0, left = 0;  // the fixture lines of the section in hand, and those still to come
    for (const QString &line : lines) {
        if (left > 0) {
            if (total - --left <= shown)
                kept << line;
            if (left == 0 && total > shown)
                kept << QString("... and %1 more (Show Details... lists them all)").arg(total - shown);
            continue;
        }
        kept << line;
        if (const QRegularExpressionMatch match = heading.match(line); match.hasMatch())
            total = left = match.captured(1).toInt();
    }
    return kept;
}

static bool ask(QWidget *window, const QString &text, const QStringList &details, const QString &okText)
{
    QMessageBox confirm(QMessageBox::Question, "Confirm Update", text, QMessageBox::Ok | QMessageBox::Cancel, window);
    confirm.button(QMessageBox::Ok)->setText(okText);
    const int longest = 40;
    if (details.size() <= longest) {
        confirm.setInformativeText(details.join('\n'));
    } else {
        confirm.setInformativeText(shortened(details).join('\n'));
        confirm.setDetailedText(details.join('\n'));
    }
    return confirm.exec() == QMessageBox::Ok;
}

// "2 update, 1 current" in the order of lumiload's plan counts.
static QString countsText(const QMap<QString, int> &counts)
{
    QStringList parts;
    for (const char *action : {"update", "downgrade", "flash again", "current", "no image", "conflict", "not planned"})
        if (counts.value(action) > 0)
            parts << QString("%1 %2").arg(counts.value(action)).arg(action);
    return parts.join(", ");
}

// With a firmware folder: the counts per action, then per model.
static QStringList planCounts(const UploadPlan &plan)
{
    QMap<QString, int> total;
    QStringList models;
    for (auto model = plan.byModel.constBegin(); model != plan.byModel.constEnd(); ++model) {
        for (auto count = model->constBegin(); count != model->constEnd(); ++count)
            total[count.key()] += count.value();
        models << "    " + model.key() + ": " + countsText(*model);
    }
    return QStringList{"Plan: " + countsText(total), "By model:"} + models;
}

bool confirmUpdate(QWidget *window, const UploadPlan &plan, const QString &target)
{
    const auto ip = [](const DiscoveredFixture &fixture) { return fixture.ip; };
    QList<DiscoveredFixture> plain;
    for (const DiscoveredFixture &fixture : plan.toUpdate)
        if (!std::any_of(plan.reflashed.begin(), plan.reflashed.end(), [&](auto &f) { return ip(f) == ip(fixture); }) &&
            !std::any_of(plan.downgraded.begin(), plan.downgraded.end(), [&](auto &f) { return ip(f) == ip(fixture); }))
            plain.append(fixture);
    QStringList notes = plan.library ? planCounts(plan) : QStringList();
    if (plan.testGroup > 0) {
        QStringList group;
        for (const DiscoveredFixture &fixture : plan.toUpdate.mid(0, plan.testGroup))
            group << fixture.name + " (" + fixture.ip + ")";
        notes << QString("First %1 as a test: %2. They are updated and confirmed first; if one of them fails, "
                         "no other fixture starts.")
                     .arg(group.size())
                     .arg(group.join(", "));
    }
    notes += section("To update", plain, plan, target) +
             section("Flashed again at the same version", plan.reflashed, plan, QString(), plan.library) +
             section("Downgraded", plan.downgraded, plan, target) +
             section("Not seen in the latest discovery", plan.notSeen, plan, QString(), false);
    const QString version = "v" + target;
    if (plan.current)
        notes << QString(plan.current == 1 ? "%1 already runs %2 and is skipped." : "%1 already run %2 and are skipped.")
                     .arg(fixtureCount(plan.current), !plan.library    ? version
                                                      : plan.current == 1 ? "the version of its image"
                                                                          : "the version of their image");
    if (plan.notFitting)
        notes << QString(plan.notFitting == 1 ? "%1 %2 and is skipped." : "%1 %3 and are skipped.")
                     .arg(fixtureCount(plan.notFitting),
                          plan.library ? "has no image in the folder" : "does not fit this image",
                          plan.library ? "have no image in the folder" : "do not fit this image");
    if (plan.conflicts)
        notes << QString(plan.conflicts == 1 ? "%1 has an image conflict and is skipped."
                                             : "%1 have an image conflict and are skipped.")
                     .arg(fixtureCount(plan.conflicts));
    const QString question = plan.library ? QString("Update %1 from the firmware folder?").arg(fixtureCount(plan.toUpdate.size()))
                                          : QString("Update %1 to v%2?").arg(fixtureCount(plan.toUpdate.size()), target);
    if (!ask(window, question, notes, "Update"))
        return false;
    const QString older = plan.library ? QString("an older image") : "the older v" + target;
    return plan.downgraded.isEmpty() ||
           ask(window, QString("Downgrade %1 to %2?").arg(fixtureCount(plan.downgraded.size()), older),
               section("Downgraded", plan.downgraded, plan, target), "Downgrade");
}
