// A self-drawn on/off switch: a rounded pill, red when off and green when
// on, with a white round knob at the left (off) or right (on) end and the
// captions "Discover" and "Upload" at its ends. A left click flips it.
#pragma once

#include <QRect>
#include <QWidget>

class QLabel;
class QMouseEvent;
class QPaintEvent;
class QPropertyAnimation;

class ToggleSwitch : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool checked READ isChecked WRITE setChecked NOTIFY toggled)

public:
    ToggleSwitch(QWidget *parent = nullptr);

    bool isChecked() const;
    QSize sizeHint() const override;

signals:
    void toggled(bool checked);

public slots:
    void setChecked(bool checked);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_checked;
    QLabel *m_labelLeft;
    QLabel *m_labelRight;
    QRect m_switchRect;
    QPropertyAnimation *m_animation;
};
