// What the UI tests share: a QApplication under the offscreen platform, a private environment per test, and a
// script that answers the modal dialogs in the order they are shown.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>

namespace zirezid::test {

// Points TEMP, XDG_CONFIG_HOME and ZIREZID_COMn at a fresh folder for one test.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();
    QString path(const QString& name) const { return dir_.filePath(name); }
    // This process's own scratch folder (each running program has one below the shared "vida/").
    QString scratch() const {
        return dir_.filePath(QStringLiteral("tmp/vida/%1/").arg(QCoreApplication::applicationPid()));
    }
    QString preferences() const;

private:
    QTemporaryDir dir_;
};

// Answers modal dialogs one by one: the n-th dialog shown gets the n-th step. A step sees the dialog and must end
// it (click a button, call done). Dialogs shown beyond the script are recorded and cancelled, so a test never
// hangs on an unexpected question; `unexpected` tells how many there were. A script that goes while steps are
// left fails the test: the program did not ask what the test meant to answer.
class ModalScript : public QObject {
public:
    using Step = std::function<void(QDialog*)>;
    ModalScript();
    ~ModalScript() override;
    // `what` names the step in the failure when it is never used.
    ModalScript& then(Step step, QString what = QString());
    // Shorthand: click the child button with that object name.
    ModalScript& click(const QString& buttonName);
    int handled() const { return handled_; }
    int unexpected() const { return unexpected_; }
    QStringList texts; // the texts of every QMessageBox and message box shown, in order

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void tick();
    struct Entry {
        Step step;
        QString what;
    };
    std::deque<Entry> steps_;
    std::deque<QPointer<QDialog>> shown_;
    QTimer timer_;
    ModalScript* previous_;
    int handled_ = 0;
    int unexpected_ = 0;
};

} // namespace zirezid::test
