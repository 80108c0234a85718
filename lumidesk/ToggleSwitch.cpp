#include "ToggleSwitch.h"

#include <QColor>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>

#include <algorithm>

namespace {

// The knob animation names the switch's "checked" property but only reports
// knob offsets (integers, 0 to width - height) through valueChanged. Writing
// those back into "checked" would flip the state mid-slide (0 reads as off,
// anything else as on), so the values are never applied to the property:
// the state changes only by clicks, callers and explicit property writes.
class KnobAnimation : public QPropertyAnimation
{
public:
    KnobAnimation(QObject *target, const QByteArray &propertyName, QObject *parent)
        : QPropertyAnimation(target, propertyName, parent)
    {
    }

protected:
    void updateCurrentValue(const QVariant &) override {}
};

} // namespace

ToggleSwitch::ToggleSwitch(QWidget *parent)
    : QWidget(parent), m_checked(false), m_switchRect()
{
    m_labelLeft = new QLabel("Discover", this);
    m_labelRight = new QLabel("Upload", this);

    m_animation = new KnobAnimation(this, "checked", this);
    m_animation->setDuration(200);
    m_animation->setStartValue(0);
    m_animation->setEndValue(width() - height());

    setMinimumHeight(30);
    setMinimumWidth(80);

    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_switchRect.moveLeft(value.toInt());
        update();
    });
}

bool ToggleSwitch::isChecked() const
{
    return m_checked;
}

QSize ToggleSwitch::sizeHint() const
{
    return QSize(80, 30);
}

void ToggleSwitch::setChecked(bool checked)
{
    if (checked == m_checked)
        return;
    m_checked = checked;
    emit toggled(m_checked);

    // The knob travels across the switch as it is now, not as it was built.
    m_animation->setEndValue(width() - height());
    m_animation->setDirection(m_checked ? QAbstractAnimation::Forward
                                        : QAbstractAnimation::Backward);
    m_animation->start(QAbstractAnimation::KeepWhenStopped);
}

void ToggleSwitch::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        setChecked(!m_checked);
    QWidget::mousePressEvent(event);
}

void ToggleSwitch::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const QColor backgroundColor(m_checked ? "#4CAF50" : "#F44336");
    const QColor switchColor("#FFFFFF");

    painter.setBrush(backgroundColor);
    painter.setPen(Qt::NoPen);
    const int radius = height() / 2;
    painter.drawRoundedRect(rect(), radius, radius, Qt::AbsoluteSize);

    m_labelLeft->move(5, 5);
    m_labelRight->move(width() - m_labelRight->width() - 5, 5);

    // At rest the knob sits at the end that matches the state; while the
    // animation runs it follows the animated offset.
    const int travel = std::max(0, width() - height());
    int knobX = m_checked ? travel : 0;
    if (m_animation->state() == QAbstractAnimation::Running)
        knobX = std::clamp(m_animation->currentValue().toInt(), 0, travel);
    m_switchRect = QRect(knobX, 0, height(), height());

    painter.setBrush(switchColor);
    painter.drawEllipse(m_switchRect);

    QWidget::paintEvent(event);
}
