#include "ui_helpers.h"

#include "app/message_boxes.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <gtest/gtest.h>

namespace zirezid::test {

TestEnvironment::TestEnvironment() {
    QDir(dir_.path()).mkpath(QStringLiteral("tmp"));
    QDir(dir_.path()).mkpath(QStringLiteral("config/NORDAL"));
    qputenv("TEMP", dir_.filePath(QStringLiteral("tmp")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", dir_.filePath(QStringLiteral("config")).toLocal8Bit());
    // The unit's history goes with the test; its preview is asked for only by the tests of the preview.
    qputenv("XDG_DATA_HOME", dir_.filePath(QStringLiteral("data")).toLocal8Bit());
    QSettings(preferences(), QSettings::IniFormat).setValue(QStringLiteral("History/Preview"), false);
    for (int n = 1; n <= 9; ++n)
        qunsetenv(QStringLiteral("ZIREZID_COM%1").arg(n).toLatin1());
}

TestEnvironment::~TestEnvironment() {
    qunsetenv("TEMP");
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
}

QString TestEnvironment::preferences() const { return dir_.filePath(QStringLiteral("config/NORDAL/ZIRezid.conf")); }

namespace {
// The newest script answers; an older one in the same test waits until the newer one is gone.
ModalScript* activeScript = nullptr;
} // namespace

ModalScript::ModalScript() : previous_(activeScript) {
    activeScript = this;
    qApp->installEventFilter(this);
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, &ModalScript::tick);
    timer_.start();
}

ModalScript::~ModalScript() {
    qApp->removeEventFilter(this);
    activeScript = previous_;
    if (steps_.empty())
        return;
    QStringList left;
    for (const Entry& e : steps_)
        left << (e.what.isEmpty() ? QStringLiteral("a step") : e.what);
    ADD_FAILURE() << steps_.size() << " scripted answer(s) never used (" << handled_
                  << " used): " << left.join(QStringLiteral(", ")).toStdString();
}

ModalScript& ModalScript::then(Step step, QString what) {
    steps_.push_back({std::move(step), std::move(what)});
    return *this;
}

ModalScript& ModalScript::click(const QString& buttonName) {
    return then(
        [buttonName](QDialog* dialog) {
            auto* button = dialog->findChild<QAbstractButton*>(buttonName);
            if (button == nullptr || !button->isEnabled()) {
                // Another dialog than the test meant: fail, and close it so the test does not wait for ever.
                ADD_FAILURE() << buttonName.toStdString() << (button == nullptr ? " is not there" : " is disabled");
                dialog->done(QDialog::Rejected);
                return;
            }
            button->click();
        },
        QStringLiteral("click ") + buttonName);
}

bool ModalScript::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && activeScript == this) {
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (dialog != nullptr && dialog->isModal())
            shown_.emplace_back(dialog);
    }
    return false;
}

void ModalScript::tick() {
    if (activeScript != this)
        return;
    while (!shown_.empty() && (shown_.front().isNull() || !shown_.front()->isVisible()))
        shown_.pop_front();
    if (shown_.empty())
        return;
    QDialog* dialog = shown_.front();
    if (QApplication::activeModalWidget() != dialog)
        return; // answered in the order they stack: the top one first
    shown_.pop_front();
    if (auto* box = qobject_cast<QMessageBox*>(dialog))
        texts << box->text();
    else if (auto* label = dialog->findChild<QLabel*>(QStringLiteral("lbl_Text")))
        texts << label->text();
    if (steps_.empty()) {
        ++unexpected_;
        dialog->done(QDialog::Rejected);
        return;
    }
    Step step = std::move(steps_.front().step);
    steps_.pop_front();
    ++handled_;
    // Run from a posted call, not inside the timer's slot: a timer does not fire again while its slot runs, so
    // a dialog that a step opens in turn (a job's question) would never be answered.
    QMetaObject::invokeMethod(
        this,
        [step = std::move(step), d = QPointer<QDialog>(dialog)] {
            if (d)
                step(d);
        },
        Qt::QueuedConnection);
}

} // namespace zirezid::test
