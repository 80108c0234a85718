// ToggleSwitch driven by clicks and property writes, checked by its signal
// and by the pixels it paints.
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

#include "ToggleSwitch.h"

class TestToggleSwitch : public QObject
{
    Q_OBJECT

private slots:
    void startsOffWithPreferredSize();
    void settingTheSameStateEmitsNothing();
    void leftClickToggles();
    void otherButtonsChangeNothing();
    void paintsStateColoursAndKnob_data();
    void paintsStateColoursAndKnob();
    void animationDoesNotChangeState();
    void checkedPropertyWritesState();

private:
    static QImage render(ToggleSwitch &sw)
    {
        return sw.grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
};

static const QColor kOff("#F44336");
static const QColor kOn("#4CAF50");

void TestToggleSwitch::startsOffWithPreferredSize()
{
    ToggleSwitch sw;
    QVERIFY(!sw.isChecked());
    QCOMPARE(sw.sizeHint(), QSize(80, 30));
    QCOMPARE(sw.minimumSize(), QSize(80, 30));
    QCOMPARE(sw.property("checked").toBool(), false);
    QStringList captions;
    for (QLabel *label : sw.findChildren<QLabel *>())
        captions << label->text();
    QCOMPARE(captions, QStringList({"Discover", "Upload"}));
}

void TestToggleSwitch::settingTheSameStateEmitsNothing()
{
    ToggleSwitch sw;
    QSignalSpy spy(&sw, &ToggleSwitch::toggled);
    sw.setChecked(false);
    QCOMPARE(spy.count(), 0);
    sw.setChecked(true);
    sw.setChecked(true);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
}

void TestToggleSwitch::leftClickToggles()
{
    ToggleSwitch sw;
    sw.resize(80, 30);
    sw.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sw));
    QSignalSpy spy(&sw, &ToggleSwitch::toggled);
    QTest::mouseClick(&sw, Qt::LeftButton, {}, QPoint(40, 15));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    QVERIFY(sw.isChecked());
    QTest::mouseClick(&sw, Qt::LeftButton, {}, QPoint(40, 15));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    QVERIFY(!sw.isChecked());
}

void TestToggleSwitch::otherButtonsChangeNothing()
{
    ToggleSwitch sw;
    sw.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sw));
    QSignalSpy spy(&sw, &ToggleSwitch::toggled);
    QTest::mouseClick(&sw, Qt::RightButton, {}, QPoint(40, 15));
    QTest::mouseClick(&sw, Qt::MiddleButton, {}, QPoint(40, 15));
    QCOMPARE(spy.count(), 0);
    QVERIFY(!sw.isChecked());
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

    const QImage image = render(sw);
    QCOMPARE(image.size(), QSize(80, 30));
    const QColor pill = on ? kOn : kOff;
    // Knob: a 30-pixel white circle at the end that matches the state
    // (sampled where the captions draw no text: above y = 5, and at the
    // outer edge).
    const int knobCentre = on ? 80 - 15 : 15;
    QCOMPARE(QColor(image.pixel(knobCentre, 2)), QColor(Qt::white));
    QCOMPARE(QColor(image.pixel(on ? 77 : 2, 15)), QColor(Qt::white));
    // Pill colour just beside the knob, the other end bare.
    QCOMPARE(QColor(image.pixel(on ? 80 - 32 : 32, 2)), pill);
    QCOMPARE(QColor(image.pixel(on ? 15 : 65, 2)), pill);
    // Corners lie outside the 15-pixel radius.
    QVERIFY(QColor(image.pixel(0, 0)) != pill);
    QVERIFY(QColor(image.pixel(79, 29)) != pill);
}

void TestToggleSwitch::animationDoesNotChangeState()
{
    ToggleSwitch sw;
    sw.resize(80, 30);
    sw.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sw));
    QSignalSpy spy(&sw, &ToggleSwitch::toggled);
    QTest::mouseClick(&sw, Qt::LeftButton, {}, QPoint(40, 15));
    QTest::qWait(350);
    QVERIFY(sw.isChecked());
    QTest::mouseClick(&sw, Qt::LeftButton, {}, QPoint(40, 15));
    QTest::qWait(350);
    QVERIFY(!sw.isChecked());
    QCOMPARE(spy.count(), 2);
}

void TestToggleSwitch::checkedPropertyWritesState()
{
    ToggleSwitch sw;
    QSignalSpy spy(&sw, &ToggleSwitch::toggled);
    QVERIFY(sw.setProperty("checked", true));
    QVERIFY(sw.isChecked());
    QCOMPARE(spy.count(), 1);
    QTest::qWait(300);
    QVERIFY(sw.isChecked());
}

QTEST_MAIN(TestToggleSwitch)
#include "test_ToggleSwitch.moc"
