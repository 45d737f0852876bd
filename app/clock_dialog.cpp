#include "app/clock_dialog.h"

#include <QApplication>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <QTimer>

namespace zirezid {

namespace {
const QString kCaption = QStringLiteral("Время и дата");
const QString kDateLabel = QStringLiteral("Текущая дата ");
const QString kTimeLabel = QStringLiteral("Текущее время ");
const QString kCancel = QStringLiteral("Отмена");
const QString kOk = QStringLiteral("OK");
const QString kFromPc = QStringLiteral("По компьютеру");
} // namespace

Tfrm_clock::Tfrm_clock(QWidget* parent, DeviceClock* link) : QDialog(parent), link_(link) {
    setObjectName(QStringLiteral("frm_clock"));
    setWindowTitle(kCaption);
    setModal(true);
    auto* grid = new QGridLayout(this);
    dtDate = new QDateEdit(this);
    dtDate->setObjectName(QStringLiteral("dtDate"));
    dtDate->setDateRange(QDate(2000, 1, 1), QDate(2100, 12, 31));
    dtDate->setCalendarPopup(true);
    dtDate->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    dtTime = new QTimeEdit(this);
    dtTime->setObjectName(QStringLiteral("dtTime"));
    dtTime->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    grid->addWidget(new QLabel(kDateLabel, this), 0, 0);
    grid->addWidget(dtDate, 0, 1);
    grid->addWidget(new QLabel(kTimeLabel, this), 1, 0);
    grid->addWidget(dtTime, 1, 1);
    auto* row = new QHBoxLayout;
    btn_PC = new QPushButton(kFromPc, this);
    btn_PC->setObjectName(QStringLiteral("btn_PC"));
    btn_Ok = new QPushButton(kOk, this);
    btn_Ok->setObjectName(QStringLiteral("btn_Ok"));
    btn_Cancel = new QPushButton(kCancel, this);
    btn_Cancel->setObjectName(QStringLiteral("btn_Cancel"));
    btn_Cancel->setDefault(true);
    row->addWidget(btn_PC);
    row->addStretch();
    row->addWidget(btn_Ok);
    row->addWidget(btn_Cancel);
    grid->addLayout(row, 2, 0, 1, 2);

    tmr_Clock = new QTimer(this);
    tmr_Clock->setInterval(1000);
    connect(tmr_Clock, &QTimer::timeout, this, &Tfrm_clock::tmr_ClockTimer);
    connect(btn_PC, &QPushButton::clicked, this, &Tfrm_clock::btn_PCClick);
    connect(btn_Ok, &QPushButton::clicked, this, [this] { finish(true); });
    connect(btn_Cancel, &QPushButton::clicked, this, [this] { finish(false); });
    connect(dtTime, &QTimeEdit::timeChanged, this, [this] {
        if (loading_)
            return;
        followTime = false;
        btn_Ok->setEnabled(true);
    });
    connect(dtDate, &QDateEdit::dateChanged, this, [this] {
        if (loading_)
            return;
        followDate = false;
        btn_Ok->setEnabled(true);
    });
}

void Tfrm_clock::setDateQuietly(const QDate& date) {
    loading_ = true;
    dtDate->setDate(date);
    loading_ = false;
}

void Tfrm_clock::setTimeQuietly(const QTime& time) {
    loading_ = true;
    dtTime->setTime(time);
    loading_ = false;
}

void Tfrm_clock::showEvent(QShowEvent* event) {
    followTime = true;
    followDate = true;
    usePcClock = false;
    applyOnClose = false;
    const QDateTime now = computerClock();
    setDateQuietly(now.date());
    setTimeQuietly(now.time());
    dtDate->setEnabled(false);
    dtTime->setEnabled(false);
    btn_Ok->setEnabled(false);
    tmr_Clock->start();
    QDialog::showEvent(event);
    btn_Cancel->setFocus();
}

void Tfrm_clock::tmr_ClockTimer() {
    if (!followDate && !followTime)
        return;
    QDateTime device;
    const bool ok = link_ != nullptr && link_->getDeviceClock(device);
    if (!ok && !usePcClock)
        return;
    dtDate->setEnabled(true);
    dtTime->setEnabled(true);
    const QDateTime shown = usePcClock ? computerClock() : device;
    if (followDate)
        setDateQuietly(shown.date());
    if (followTime)
        setTimeQuietly(shown.time());
}

void Tfrm_clock::btn_PCClick() {
    usePcClock = true;
    followDate = true;
    followTime = true;
    const QDateTime now = computerClock();
    setDateQuietly(now.date());
    setTimeQuietly(now.time());
    btn_Ok->setEnabled(true);
}

void Tfrm_clock::finish(bool apply) {
    tmr_Clock->stop();
    applyOnClose = apply;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    cursorSet_ = true;
    done(apply ? QDialog::Accepted : QDialog::Rejected);
}

void Tfrm_clock::done(int result) {
    // Escape and the close box come here without passing finish(): they cancel.
    if (result != QDialog::Accepted)
        applyOnClose = false;
    tmr_Clock->stop();
    if (applyOnClose && link_ != nullptr)
        link_->setDeviceClock(QDateTime(dtDate->date(), dtTime->time()));
    if (cursorSet_) {
        QApplication::restoreOverrideCursor();
        cursorSet_ = false;
    }
    QDialog::done(result);
}

} // namespace zirezid
