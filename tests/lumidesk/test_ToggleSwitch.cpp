// ToggleSwitch driven by clicks, calls and property writes, checked by its
// signal, its state after the knob animation, and the pixels it paints.
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

#include "ToggleSwitch.h"

static const QColor kOff("#F44336");
static const QColor kOn("#4CAF50");

class TestToggleSwitch : public QObject
{
    Q_OBJECT

private slots:
    void stateChanges_data();
    void stateChanges();
    void paintsStateColoursAndKnob_data();
    void paintsStateColoursAndKnob();
};

// Actions: "L", "R", "M" clicks with that button; "1"/"0" setChecked;
// "P" writes the "checked" property to true.
void TestToggleSwitch::stateChanges_data()
{
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QList<bool>>("expected");
    QTest::newRow("a new switch is off; the same state emits nothing") << "0" << QList<bool>{};
    QTest::newRow("set on twice") << "11" << QList<bool>{true};
    QTest::newRow("left clicks toggle") << "LL" << QList<bool>{true, false};
    QTest::newRow("other buttons do nothing") << "RM" << QList<bool>{};
    QTest::newRow("property write") << "P" << QList<bool>{true};
}

void TestToggleSwitch::stateChanges()
{
    QFETCH(QString, actions);
    QFETCH(QList<bool>, expected);
    ToggleSwitch sw;
    QCOMPARE(sw.sizeHint(), QSize(80, 30));
    QCOMPARE(sw.minimumSize(), QSize(80, 30));
    QStringList captions;
    for (QLabel *label : sw.findChildren<QLabel *>())
        captions << label->text();
    QCOMPARE(captions, QStringList({"Discover", "Upload"}));
    sw.resize(80, 30);
    sw.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sw));
    QSignalSpy spy(&sw, &ToggleSwitch::toggled);
    const QMap<QChar, Qt::MouseButton> buttons = {{'L', Qt::LeftButton}, {'R', Qt::RightButton},
                                                  {'M', Qt::MiddleButton}};
    for (QChar action : actions) {
        if (buttons.contains(action))
            QTest::mouseClick(&sw, buttons[action], {}, QPoint(40, 15));
        else if (action == 'P')
            QVERIFY(sw.setProperty("checked", true));
        else
            sw.setChecked(action == '1');
        QTest::qWait(250); // the knob animation has ended and left the state alone
    }
    QList<bool> emitted;
    for (const QList<QVariant> &signal : spy)
        emitted << signal.at(0).toBool();
    QCOMPARE(emitted, expected);
    QCOMPARE(sw.isChecked(), !expected.isEmpty() && expected.last());
}

void TestToggleSwitch::paintsStateColoursAndKnob_data()
{
    QTest::addColumn<bool>("on");
    QTest::newRow("off") << false;
    QTest::newRow("on") << true;
}

void TestToggleSwitch::paintsStateColoursAndKnob()
{
    QFETCH(bool, on);
    QWidget parent;
    ToggleSwitch sw(&parent);
    sw.setGeometry(0, 0, 80, 30);
    parent.resize(100, 40);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    if (on)
        QTest::mouseClick(&sw, Qt::LeftButton, {}, QPoint(40, 15));
    QTest::qWait(300); // the knob animation has ended

    const QImage image = sw.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(image.size(), QSize(80, 30));
    const QColor pill = on ? kOn : kOff;
    // Knob: a 30-pixel white circle at the end that matches the state
    // (sampled where the captions draw no text: above y = 5, and at the
    // outer edge); the pill beside it and at the other end; corners
    // outside the 15-pixel radius.
    QCOMPARE(QColor(image.pixel(on ? 80 - 15 : 15, 2)), QColor(Qt::white));
    QCOMPARE(QColor(image.pixel(on ? 77 : 2, 15)), QColor(Qt::white));
    QCOMPARE(QColor(image.pixel(on ? 80 - 32 : 32, 2)), pill);
    QCOMPARE(QColor(image.pixel(on ? 15 : 65, 2)), pill);
    QVERIFY(QColor(image.pixel(0, 0)) != pill);
    QVERIFY(QColor(image.pixel(79, 29)) != pill);
}

QTEST_MAIN(TestToggleSwitch)
#include "test_ToggleSwitch.moc"
