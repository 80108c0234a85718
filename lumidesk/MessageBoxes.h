// The boxes the window shows. A box is a window of its own, so it takes
// input while the window's controls are disabled during a run.
#pragma once

#include <QMessageBox>
#include <QString>

#include "UploadRun.h"

// A modal box with the single button Ok; returns once it is answered.
void showBox(QWidget *window, QMessageBox::Icon icon, const QString &title, const QString &text,
             const QString &details = QString());
// A box that does not wait for its answer: a modal one would hold up the
// nested event loop an upload run lives in. It deletes itself when closed.
QMessageBox *showNotice(QWidget *window, QMessageBox::Icon icon, const QString &title, const QString &text,
                        const QString &detailedText = QString());
// Asks whether to update the fixtures of `plan` to `target`, naming them
// in sections (to update, flashed again, downgraded, not seen in the latest
// discovery) and saying which are skipped and why; downgrades are asked
// for a second time. True when every question was answered Ok.
bool confirmUpdate(QWidget *window, const UploadPlan &plan, const QString &target);
