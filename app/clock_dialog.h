// The date-and-time dialog: follows the unit's clock once a second and sets it by hand or from the computer.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <functional>

class QDateEdit;
class QTimeEdit;
class QPushButton;
class QTimer;

namespace zirezid {

// The two clock operations of the device link that the dialog uses.
class DeviceClock {
public:
    virtual ~DeviceClock() = default;
    virtual bool getDeviceClock(QDateTime& clock) = 0;
    virtual void setDeviceClock(const QDateTime& clock) = 0;
};

class Tfrm_clock : public QDialog {
    Q_OBJECT
public:
    Tfrm_clock(QWidget* parent, DeviceClock* link);
    void setLink(DeviceClock* link) { link_ = link; }
    // The computer's clock; tests put a fixed clock here.
    std::function<QDateTime()> computerClock = [] { return QDateTime::currentDateTime(); };

    QDateEdit* dtDate;
    QTimeEdit* dtTime;
    QPushButton* btn_Cancel;
    QPushButton* btn_Ok;
    QPushButton* btn_PC;
    QTimer* tmr_Clock;

    bool followDate = true;
    bool followTime = true;
    bool usePcClock = false;
    bool applyOnClose = false;

public slots:
    void tmr_ClockTimer();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void btn_PCClick();
    void finish(bool apply);
    void setDateQuietly(const QDate& date);
    void setTimeQuietly(const QTime& time);
    DeviceClock* link_;
    bool loading_ = false;
    bool cursorSet_ = false;
};

} // namespace zirezid
