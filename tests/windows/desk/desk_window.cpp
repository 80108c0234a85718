// lumidesk on Windows, as a Windows Qt Test program that
// tests/windows/test_windows_desk.cpp runs under Wine in the unpacked
// Windows zip. The Linux side has put this process in a private network
// (this side 2.0.0.1; two virtual fixtures 2.0.0.10 and 2.0.0.11 with
// firmware 1.1.0) and an image fw.alf of version 1.2.0 in the working
// directory, beside lumidesk.exe and lumiload.exe.
//   desk_window.exe [--screenshot FILE] [Qt Test options]
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QtTest>

#include <algorithm>

#include <windows.h>
#include <shellapi.h>

#include "DeskStyle.h"
#include "MainWindow.h"
#include "desk_test_support.h"

static QString g_screenshot;

// The visible, titled top-level window of process `pid`, or null.
static HWND windowOf(qint64 pid)
{
    struct Search {
        DWORD pid;
        HWND found;
    } search{DWORD(pid), nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM data) -> BOOL {
            auto *s = reinterpret_cast<Search *>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            if (owner != s->pid || !IsWindowVisible(hwnd) || GetWindowTextLengthW(hwnd) == 0)
                return TRUE;
            s->found = hwnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

static bool noChildRunning(const QWidget &window)
{
    const QList<QProcess *> children = window.findChildren<QProcess *>();
    return std::none_of(children.cbegin(), children.cend(),
                        [](const QProcess *child) { return child->state() != QProcess::NotRunning; });
}

class DeskWindow : public QObject
{
    Q_OBJECT

private slots:
    void programShowsWindowWithIcons();
    void opensAndListsInterfaces();
    void discoveryFillsTable();
    void uploadOfTwoFixturesEndsGreen();

private:
    MainWindow m_window;
};

void DeskWindow::programShowsWindowWithIcons()
{
    // The program file's icon (Explorer, taskbar).
    QVERIFY(ExtractIconExW(L"lumidesk.exe", -1, nullptr, nullptr, 0) >= 1);

    // A GUI program: its window appears, and closing it ends the program.
    QProcess program;
    program.start(QDir::current().absoluteFilePath("lumidesk.exe"));
    QVERIFY(program.waitForStarted());
    HWND hwnd = nullptr;
    QVERIFY(QTest::qWaitFor([&] { return (hwnd = windowOf(program.processId())) != nullptr; }, 30000));
    wchar_t title[128] = {};
    GetWindowTextW(hwnd, title, 128);
    QCOMPARE(QString::fromWCharArray(title), QString("Orvane Ethernet Updater 1.1"));
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    QVERIFY(program.waitForFinished(15000));
    QCOMPARE(program.exitCode(), 0);
}

void DeskWindow::opensAndListsInterfaces()
{
    m_window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_window));
    auto *nic = m_window.findChild<QComboBox *>("nicComboBox");
    // The Art-Net network's interface is offered first.
    QCOMPARE(nic->currentData().toString(), QString("2.0.0.1"));
}

void DeskWindow::discoveryFillsTable()
{
    ModalCatcher catcher;
    auto *table = m_window.findChild<QTableWidget *>("deviceTable");
    QTest::mouseClick(m_window.findChild<QPushButton *>("runButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 2, 30000);
    QStringList rows;
    for (int row = 0; row < 2; ++row)
        rows << table->item(row, 1)->text() + " " + table->item(row, 2)->text();
    rows.sort();
    QCOMPARE(rows, QStringList({"2.0.0.10 1.1.0", "2.0.0.11 1.1.0"}));
    QVERIFY(catcher.boxes.isEmpty());
    // The discovery's lumiload.exe holds UDP port 6454 until it ends.
    QTRY_VERIFY_WITH_TIMEOUT(noChildRunning(m_window), 20000);
}

void DeskWindow::uploadOfTwoFixturesEndsGreen()
{
    ModalCatcher catcher;
    auto *table = m_window.findChild<QTableWidget *>("deviceTable");
    m_window.findChild<QLineEdit *>("filePathEdit")->setText(QDir::current().absoluteFilePath("fw.alf"));
    QTest::mouseClick(m_window.findChild<QPushButton *>("selectAllButton"), Qt::LeftButton);
    m_window.findChild<QCheckBox *>("fileUpdateCheckBox")->click();
    // Returns when both uploads have ended.
    QTest::mouseClick(m_window.findChild<QPushButton *>("runButton"), Qt::LeftButton);
    for (int row = 0; row < 2; ++row) {
        auto *bar = qobject_cast<QProgressBar *>(table->cellWidget(row, 3));
        QCOMPARE(bar->format(), QString("Upload Successful"));
        QCOMPARE(highlightOf(bar), QColor(Qt::green));
    }
    QCOMPARE(catcher.boxes.size(), 1);
    QCOMPARE(catcher.boxes[0].text, QString("Update 2 fixtures to v1.2.0?"));
    if (!g_screenshot.isEmpty()) {
        // The active window with its frame, as the desktop shows it.
        m_window.activateWindow();
        QTest::qWait(1500);
        RECT frame;
        QVERIFY(GetWindowRect(HWND(m_window.winId()), &frame));
        QVERIFY(m_window.screen()
                    ->grabWindow(0, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top)
                    .save(g_screenshot));
    }
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    applyDeskStyle();
    QStringList args = QApplication::arguments();
    const int at = args.indexOf("--screenshot");
    if (at > 0 && at + 1 < args.size()) {
        g_screenshot = args.at(at + 1);
        args.remove(at, 2);
    }
    DeskWindow test;
    return QTest::qExec(&test, args);
}

#include "desk_window.moc"
