// The part of the COM-port dialog that shows the machine's serial devices and says why the chosen port cannot
// be used, with what to do about it.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace zirezid {

class PortSurveyPanel : public QWidget {
    Q_OBJECT
public:
    explicit PortSurveyPanel(QWidget* parent);
    // Relists the devices; `comDevice` answers the device COMn names now (with choices not yet saved).
    void refresh(const std::function<QString(int)>& comDevice);
    // Shows the diagnosis of `device` (COMn's device). `open` false: say only what can be told without
    // opening it, since opening a real port pulses its modem lines.
    void diagnose(const QString& device, bool open);
    // The name to remember for the selected device (its by-id name when it has one); empty when none
    // selected.
    QString selectedDevice() const;

    QTreeWidget* tw_Devices;
    QPushButton* btn_Assign;
    QPushButton* btn_Check;
    QLabel* lbl_Diagnosis;
    // Where sysfs, /dev and /proc are looked for; empty for this machine (tests put a tree of their own
    // here).
    QString systemRoot;

private:
    std::function<QString(int)> comDevice_;
};

} // namespace zirezid
