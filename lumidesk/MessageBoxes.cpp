#include "MessageBoxes.h"

#include <QStringList>

void showBox(QWidget *window, QMessageBox::Icon icon, const QString &title, const QString &text,
             const QString &details)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, window);
    box.setInformativeText(details);
    box.exec();
}

void showNotice(QWidget *window, QMessageBox::Icon icon, const QString &title, const QString &text,
                const QString &detailedText)
{
    QMessageBox *box = new QMessageBox(icon, title, text, QMessageBox::Ok, window);
    if (!detailedText.isEmpty())
        box->setDetailedText(detailedText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

bool confirmUpdate(QWidget *window, const UploadPlan &plan, const QString &target)
{
    QStringList notes;
    if (plan.current)
        notes << QString("%1 already run v%2 and are skipped.").arg(plan.current).arg(target);
    if (plan.notFitting)
        notes << QString("%1 do not fit this image and are skipped.").arg(plan.notFitting);
    QMessageBox confirm(QMessageBox::Question, "Confirm Update",
                        QString("Update %1 fixtures to v%2?").arg(plan.toUpdate.size()).arg(target),
                        QMessageBox::Ok | QMessageBox::Cancel, window);
    confirm.setInformativeText(notes.join('\n'));
    return confirm.exec() == QMessageBox::Ok;
}
