#include "MessageBoxes.h"

#include <QPushButton>
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

static QString fixtureLine(const DiscoveredFixture &fixture, const QString &target)
{
    return QString("    %1 (%2): %3").arg(fixture.name, fixture.ip, fixture.version) +
           (target.isEmpty() ? QString() : QString::fromUtf8(" \u2192 ") + target);
}

// "Heading (n):" and a line per fixture; nothing for none.
static QStringList section(const QString &heading, const QList<DiscoveredFixture> &fixtures, const QString &target)
{
    if (fixtures.isEmpty())
        return {};
    QStringList lines{QString("%1 (%2):").arg(heading).arg(fixtures.size())};
    for (const DiscoveredFixture &fixture : fixtures)
        lines << fixtureLine(fixture, target);
    return lines;
}

static bool ask(QWidget *window, const QString &text, const QStringList &details, const QString &okText)
{
    QMessageBox confirm(QMessageBox::Question, "Confirm Update", text, QMessageBox::Ok | QMessageBox::Cancel, window);
    confirm.button(QMessageBox::Ok)->setText(okText);
    confirm.setInformativeText(details.join('\n'));
    return confirm.exec() == QMessageBox::Ok;
}

bool confirmUpdate(QWidget *window, const UploadPlan &plan, const QString &target)
{
    const auto ip = [](const DiscoveredFixture &fixture) { return fixture.ip; };
    QList<DiscoveredFixture> plain;
    for (const DiscoveredFixture &fixture : plan.toUpdate)
        if (!std::any_of(plan.reflashed.begin(), plan.reflashed.end(), [&](auto &f) { return ip(f) == ip(fixture); }) &&
            !std::any_of(plan.downgraded.begin(), plan.downgraded.end(), [&](auto &f) { return ip(f) == ip(fixture); }))
            plain.append(fixture);
    QStringList notes = section("To update", plain, target) +
                        section("Flashed again at the same version", plan.reflashed, QString()) +
                        section("Downgraded", plan.downgraded, target) +
                        section("Not seen in the latest discovery", plan.notSeen, QString());
    if (plan.current)
        notes << QString(plan.current == 1 ? "%1 already runs v%2 and is skipped." : "%1 already run v%2 and are skipped.")
                     .arg(fixtureCount(plan.current), target);
    if (plan.notFitting)
        notes << QString(plan.notFitting == 1 ? "%1 does not fit this image and is skipped."
                                              : "%1 do not fit this image and are skipped.")
                     .arg(fixtureCount(plan.notFitting));
    if (!ask(window, QString("Update %1 to v%2?").arg(fixtureCount(plan.toUpdate.size()), target), notes, "Update"))
        return false;
    return plan.downgraded.isEmpty() ||
           ask(window, QString("Downgrade %1 to the older v%2?").arg(fixtureCount(plan.downgraded.size()), target),
               section("Downgraded", plan.downgraded, target), "Downgrade");
}
