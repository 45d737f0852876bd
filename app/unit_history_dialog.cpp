#include "app/unit_history_dialog.h"

#include "app/compare_dialog.h"
#include "model/compare.h"
#include "model/unit_config.h"

#include "history/snapshot_store.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace zirezid {

namespace {
const QString kCaption = QStringLiteral("История устройства");
const QString kOpen = QStringLiteral("Открыть (только чтение)");
const QString kCompare = QStringLiteral("Сравнить с базой");
const QString kClose = QStringLiteral("Закрыть");
constexpr int kPathRole = Qt::UserRole + 1;
} // namespace

UnitHistoryDialog::UnitHistoryDialog(QWidget* parent, const std::string& historyFolder, const SettingsDatabase& open,
                                     const std::string& unit)
    : QDialog(parent), folder_(historyFolder), open_(open) {
    setObjectName(QStringLiteral("frm_unitHistory"));
    setWindowTitle(kCaption);
    resize(780, 400);
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Устройство:"), this));
    cb_Unit = new QComboBox(this);
    cb_Unit->setObjectName(QStringLiteral("cb_Unit"));
    top->addWidget(cb_Unit, 1);
    layout->addLayout(top);
    tbl_Snapshots = new QTableWidget(this);
    tbl_Snapshots->setObjectName(QStringLiteral("tbl_Snapshots"));
    tbl_Snapshots->setColumnCount(5);
    tbl_Snapshots->setHorizontalHeaderLabels({QStringLiteral("Время (UTC)"), QStringLiteral("Снимок"),
                                              QStringLiteral("Версия ПО"), QStringLiteral("Объектов / сообщений"),
                                              QStringLiteral("Что изменилось")});
    tbl_Snapshots->setSelectionBehavior(QAbstractItemView::SelectRows);
    tbl_Snapshots->setSelectionMode(QAbstractItemView::SingleSelection);
    tbl_Snapshots->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tbl_Snapshots->verticalHeader()->hide();
    tbl_Snapshots->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(tbl_Snapshots, 1);
    auto* buttons = new QHBoxLayout;
    bt_Open = new QPushButton(kOpen, this);
    bt_Open->setObjectName(QStringLiteral("bt_Open"));
    bt_Compare = new QPushButton(kCompare, this);
    bt_Compare->setObjectName(QStringLiteral("bt_Compare"));
    bt_Close = new QPushButton(kClose, this);
    bt_Close->setObjectName(QStringLiteral("bt_Close"));
    buttons->addStretch(1);
    buttons->addWidget(bt_Open);
    buttons->addWidget(bt_Compare);
    buttons->addWidget(bt_Close);
    layout->addLayout(buttons);
    frm_compare = new Tfrm_compare(this);

    const history::SnapshotStore store(folder_);
    for (const auto& name : store.units())
        cb_Unit->addItem(QString::fromStdString(name));
    if (const int at = cb_Unit->findText(QString::fromStdString(unit)); at >= 0)
        cb_Unit->setCurrentIndex(at);
    connect(cb_Unit, &QComboBox::currentIndexChanged, this, [this] { fill(); });
    connect(bt_Open, &QPushButton::clicked, this, [this] {
        toOpen_ = selectedSnapshot();
        if (!toOpen_.empty())
            accept();
    });
    connect(bt_Compare, &QPushButton::clicked, this, [this] { compareSelected(); });
    connect(tbl_Snapshots, &QTableWidget::cellDoubleClicked, this, [this] { compareSelected(); });
    connect(bt_Close, &QPushButton::clicked, this, &QDialog::accept);
    fill();
}

void UnitHistoryDialog::fill() {
    tbl_Snapshots->setRowCount(0);
    const history::SnapshotStore store(folder_);
    const auto snapshots = store.list(cb_Unit->currentText().toStdString());
    tbl_Snapshots->setRowCount(static_cast<int>(snapshots.size()));
    for (int row = 0; row < static_cast<int>(snapshots.size()); ++row) {
        const auto& s = snapshots[static_cast<std::size_t>(row)];
        const QString cells[] = {QString::fromStdString(s.index.time).replace(QLatin1Char('T'), QLatin1Char(' ')),
                                 QString::fromStdString(s.index.kind), QString::fromStdString(s.index.softVersion),
                                 QStringLiteral("%1 / %2").arg(s.index.objects.size()).arg(s.index.messages.size()),
                                 QString::fromStdString(s.index.summary)};
        for (int c = 0; c < 5; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setData(kPathRole, QString::fromStdString(s.path));
            item->setToolTip(cells[c]);
            tbl_Snapshots->setItem(row, c, item);
        }
    }
    tbl_Snapshots->resizeColumnsToContents();
    if (!snapshots.empty())
        tbl_Snapshots->selectRow(0);
    bt_Compare->setEnabled(tbl_Snapshots->rowCount() > 0);
    bt_Open->setEnabled(tbl_Snapshots->rowCount() > 0);
}

std::string UnitHistoryDialog::selectedSnapshot() const {
    const QTableWidgetItem* item = tbl_Snapshots->item(tbl_Snapshots->currentRow(), 0);
    return item ? item->data(kPathRole).toString().toStdString() : std::string();
}

void UnitHistoryDialog::compareSelected() {
    const history::SnapshotStore store(folder_);
    const auto snapshot = store.find(selectedSnapshot());
    if (!snapshot)
        return;
    SettingsDatabase other;
    // A damaged snapshot loads with the usual messages, and nothing is compared.
    if (!history::loadSnapshot(*snapshot, other))
        return;
    frm_compare->showComparison(compare::compareDatabases(open_, other), QStringLiteral("база"),
                                QString::fromStdString(snapshot->name));
    frm_compare->show();
    frm_compare->raise();
}

} // namespace zirezid
