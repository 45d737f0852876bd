#include "app/port_survey_panel.h"

#include "serial/port_survey.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zirezid {

namespace {
const QString kDevicesCaption = QStringLiteral("Последовательные порты этого компьютера:");
const QStringList kColumns{QStringLiteral("Устройство"), QStringLiteral("Адаптер"), QStringLiteral("Серийный номер"),
                           QStringLiteral("COM")};
const QString kAssign = QStringLiteral("Назначить выбранному COM");
const QString kCheck = QStringLiteral("Проверить порт");
const QString kNoDevices = QStringLiteral("(последовательных портов не найдено)");
const QString kNoUart = QStringLiteral(" — без UART");

QString fromStd(const std::string& text) { return QString::fromStdString(text); }
} // namespace

PortSurveyPanel::PortSurveyPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PortSurveyPanel"));
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(new QLabel(kDevicesCaption, this));
    tw_Devices = new QTreeWidget(this);
    tw_Devices->setObjectName(QStringLiteral("tw_Devices"));
    tw_Devices->setHeaderLabels(kColumns);
    tw_Devices->setRootIsDecorated(false);
    tw_Devices->setMinimumHeight(110);
    tw_Devices->setMinimumWidth(600);
    top->addWidget(tw_Devices);
    auto* buttons = new QHBoxLayout;
    btn_Assign = new QPushButton(kAssign, this);
    btn_Assign->setObjectName(QStringLiteral("btn_Assign"));
    btn_Assign->setEnabled(false);
    btn_Check = new QPushButton(kCheck, this);
    btn_Check->setObjectName(QStringLiteral("btn_Check"));
    buttons->addWidget(btn_Assign);
    buttons->addStretch();
    buttons->addWidget(btn_Check);
    top->addLayout(buttons);
    lbl_Diagnosis = new QLabel(this);
    lbl_Diagnosis->setObjectName(QStringLiteral("lbl_Diagnosis"));
    lbl_Diagnosis->setWordWrap(true);
    // The commands in it are meant to be copied into a terminal.
    lbl_Diagnosis->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbl_Diagnosis->setMinimumWidth(520);
    lbl_Diagnosis->hide();
    top->addWidget(lbl_Diagnosis);
    connect(tw_Devices, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        btn_Assign->setEnabled(item != nullptr && !item->data(0, Qt::UserRole).isNull());
    });
}

void PortSurveyPanel::refresh(const std::function<QString(int)>& comDevice) {
    comDevice_ = comDevice;
    serial::SurveyPlace place;
    place.Root = systemRoot.toStdString();
    place.ComDevice = [comDevice](int n) { return comDevice(n).toStdString(); };
    const auto devices = serial::ListSerialDevices(place);
    tw_Devices->clear();
    for (const serial::SerialDevice& d : devices) {
        QString adapter = fromStd(d.Adapter());
        if (!d.HasUart)
            adapter += kNoUart;
        QStringList coms;
        for (int n : d.ComNumbers)
            coms << QStringLiteral("COM%1").arg(n);
        auto* item = new QTreeWidgetItem(
            tw_Devices, {fromStd(d.Path), adapter, fromStd(d.SerialNumber), coms.join(QStringLiteral(", "))});
        item->setData(0, Qt::UserRole, fromStd(d.StableName()));
        QStringList tip{fromStd(d.Path)};
        for (const std::string& byId : d.ByIdPaths)
            tip << fromStd(byId);
        if (!d.VendorId.empty())
            tip << QStringLiteral("USB %1:%2").arg(fromStd(d.VendorId), fromStd(d.ProductId));
        for (int column = 0; column < kColumns.size(); ++column)
            item->setToolTip(column, tip.join(QLatin1Char('\n')));
    }
    if (devices.empty())
        new QTreeWidgetItem(tw_Devices, {kNoDevices});
    for (int column = 0; column < kColumns.size(); ++column)
        tw_Devices->resizeColumnToContents(column);
    btn_Assign->setEnabled(false);
}

void PortSurveyPanel::diagnose(const QString& device, bool open) {
    serial::SurveyPlace place;
    place.Root = systemRoot.toStdString();
    place.ComDevice = [this](int n) { return comDevice_ ? comDevice_(n).toStdString() : std::string(); };
    // Without opening, a device that is there is taken to open; only what is missing or wrong is said.
    const auto assumeOpens = [](const std::string&) { return 0; };
    const serial::PortDiagnosis d = open ? serial::DiagnosePort(place, device.toStdString())
                                         : serial::DiagnosePort(place, device.toStdString(), assumeOpens);
    if (!open && d.Opens()) {
        lbl_Diagnosis->hide();
        return;
    }
    lbl_Diagnosis->setText(fromStd(d.Text));
    QPalette palette = lbl_Diagnosis->palette();
    palette.setColor(QPalette::WindowText, d.Opens() ? QColor(0, 110, 0) : QColor(160, 0, 0));
    lbl_Diagnosis->setPalette(palette);
    lbl_Diagnosis->show();
}

QString PortSurveyPanel::selectedDevice() const {
    const QTreeWidgetItem* item = tw_Devices->currentItem();
    return item ? item->data(0, Qt::UserRole).toString() : QString();
}

} // namespace zirezid
