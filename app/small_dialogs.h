// The COM-port dialog and the unit-type dialog of the "Настройки" menu.
#pragma once

#include <QDialog>
#include <QMap>
#include <QStringList>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace zirezid {

class PortSurveyPanel;

// Nine entries "COM1" to "COM9"; the drop-down shows beside each the device it resolves to, so a technician sees
// which terminal a number opens before connecting.
class Tfrm_ComPort : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_ComPort(QWidget* parent);
    // Shows the dialog with `current` selected; answers true on OK with the chosen number in `current`.
    bool choose(int& current);
    QComboBox* cb_PortNum;
    // What the chosen port's device is, when it is not a serial port that can be used.
    QLabel* lbl_PortState;
    QPushButton* btn_Ok;
    QPushButton* btn_Cancel;
    // The machine's serial devices, the choice of one for the selected COMn, and what stands in its way.
    PortSurveyPanel* pnl_Survey;

    // Why `device` cannot serve as a serial port (missing, a plain file, a device of another kind); empty when
    // it is a terminal device.
    static QString deviceProblem(const QString& device);

private:
    void refreshDevices();
    void showPortState();
    // The device COMn names, with a choice made in this showing of the dialog but not yet confirmed.
    QString deviceFor(int n) const;
    QStringList problems_;
    QMap<int, QString> assigned_;
};

class Tfrm_new : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_new(QWidget* parent);
    // Refills the list with `names` and shows the dialog; answers the chosen row, or -1 when cancelled or when
    // nothing was selected.
    int choose(const QStringList& names, int current);
    QListWidget* ListBox1;
    QPushButton* btn_Ok;
    QPushButton* btn_Cancel;
};

} // namespace zirezid
