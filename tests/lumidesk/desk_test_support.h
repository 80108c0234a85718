// Helpers shared by the desk tests: answering modal boxes and file dialogs
// from a timer while the window's own (possibly nested) event loop runs,
// and watching a progress bar change during an upload run.
#pragma once

#include <QApplication>
#include <QColor>
#include <QStringList>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

// Writes a script of the stand-in lumiload, one command a line; false when
// the file cannot be written.
inline bool writeStandInScript(const QString &name, const QStringList &commands)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(commands.join('\n').toUtf8() + "\n") >= 0;
}

// The arguments of every start of the stand-in, in order, each in brackets.
inline QStringList standInCalls()
{
    QFile file("calls.log");
    QStringList result;
    if (file.open(QIODevice::ReadOnly))
        for (const QString &line : QString::fromUtf8(file.readAll()).split('\n'))
            if (line.startsWith("start "))
                result << line.section(' ', 2);
    return result;
}

struct BoxRecord {
    QString title;
    QString text;
    QString informative;         // the box's informative text
    QString detailed;            // what "Show Details..." shows
    bool boxEnabled = false;     // the box could take input
    bool answered = false;       // a click on its button closed it
};

// Polls for the active modal widget every 20 ms. A message box is recorded
// and answered with a real click on its Ok button; a box that does not
// close after that click is recorded as unanswered and closed by force, so
// no test ever blocks. A file dialog goes to the fileDialog handler.
class ModalCatcher : public QObject
{
public:
    ModalCatcher()
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, &ModalCatcher::poll);
        m_timer.start();
    }

    QList<BoxRecord> boxes;
    std::function<void(QFileDialog *)> fileDialog;
    // The answer to a box that offers Cancel as well as Ok: the next of
    // `answers`, else `answer`.
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    QList<QMessageBox::StandardButton> answers;

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            if (!box->isVisible())
                return;
            if (box == m_lastBox) {
                if (++m_polls > 10) {
                    boxes.last().answered = false;
                    box->done(QMessageBox::Cancel);
                }
                return;
            }
            m_lastBox = box;
            m_polls = 0;
            boxes.append({box->windowTitle(), box->text(), box->informativeText(), box->detailedText(), box->isEnabled(), true});
            const bool asks = box->standardButtons() & QMessageBox::Cancel;
            const QMessageBox::StandardButton given = answers.isEmpty() ? answer : answers.takeFirst();
            QTest::mouseClick(box->button(asks ? given : QMessageBox::Ok), Qt::LeftButton);
        } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            if (dialog->isVisible() && dialog != m_lastDialog) {
                m_lastDialog = dialog;
                if (fileDialog)
                    fileDialog(dialog);
                else
                    dialog->reject();
            }
        }
    }

    QPointer<QMessageBox> m_lastBox;
    QPointer<QFileDialog> m_lastDialog;
    int m_polls = 0;
    QTimer m_timer;
};

// Records every distinct state of a progress bar as "value/maximum format",
// sampled every 10 ms.
class BarWatcher : public QObject
{
public:
    explicit BarWatcher(QProgressBar *bar) : m_bar(bar)
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, &BarWatcher::sample);
        m_timer.start();
    }

    QStringList states;

    void sample()
    {
        if (!m_bar)
            return;
        const QString state = QString("%1/%2 %3").arg(m_bar->value()).arg(m_bar->maximum()).arg(m_bar->format());
        if (states.isEmpty() || states.last() != state)
            states.append(state);
    }

private:
    QPointer<QProgressBar> m_bar;
    QTimer m_timer;
};

// Types the path into a file dialog's name field, as an operator would, and
// accepts it.
inline void pickFile(QFileDialog *dialog, const QString &path)
{
    if (auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit"))
        edit->setText(path);
    static_cast<QDialog *>(dialog)->accept();
}

inline QColor highlightOf(const QProgressBar *bar)
{
    return bar->palette().color(QPalette::Highlight);
}
