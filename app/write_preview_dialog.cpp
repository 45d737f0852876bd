#include "app/write_preview_dialog.h"

#include <QBrush>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zirezid {

namespace {
const QString kCaption = QStringLiteral("Что изменится на устройстве");
const QString kGo = QStringLiteral("Записать");
const QString kCancel = QStringLiteral("Отмена");
const QString kAllDatabase = QStringLiteral("Во всех конфликтах — значение базы");
const QString kAllUnit = QStringLiteral("Во всех конфликтах — значение устройства");
const QString kConflicts = QStringLiteral("Конфликты: изменено и на устройстве после чтения, и в базе");
const QString kUnitChanges = QStringLiteral("Изменено только на устройстве (сохраняется, если не отмечено)");
const QString kMessages = QStringLiteral("Сообщения");
const QString kKeepUnit = QStringLiteral("оставить значение устройства");
const QString kOverwrite = QStringLiteral("записать значение базы");
const QString kNotKept = QStringLiteral(" — не сохранено в истории");
const QString kNothing = QStringLiteral("Устройство уже совпадает с базой.");

QString q(const std::string& s) { return QString::fromStdString(s); }
} // namespace

WritePreviewDialog::WritePreviewDialog(QWidget* parent, history::Preview& preview)
    : QDialog(parent), preview_(preview) {
    setObjectName(QStringLiteral("frm_writePreview"));
    setWindowTitle(kCaption);
    resize(1000, 480);
    auto* layout = new QVBoxLayout(this);

    QString head =
        QStringLiteral("Устройство %1. ").arg(q(preview.unit.folderName())) + q(history::previewSummary(preview));
    if (!preview.unit.identified())
        head = q(history::text::unitNotIdentified) + q(preview.unit.folderName()) + QStringLiteral(".\n") + head;
    if (!preview.beforeSnapshot.empty())
        head += QStringLiteral("\nТо, что запись заменит, сохранено: ") + q(preview.beforeSnapshot);
    else
        head += QStringLiteral("\nИстория не ведётся: заменённое не сохранится.");
    lbl_Head = new QLabel(head, this);
    lbl_Head->setObjectName(QStringLiteral("lbl_Head"));
    lbl_Head->setWordWrap(true);
    lbl_Head->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(lbl_Head);

    tv_Changes = new QTreeWidget(this);
    tv_Changes->setObjectName(QStringLiteral("tv_Changes"));
    tv_Changes->setColumnCount(4);
    tv_Changes->setHeaderLabels({QStringLiteral("Объект / поле"), QStringLiteral("На устройстве сейчас"),
                                 QStringLiteral("В базе"), QStringLiteral("Выбор")});
    tv_Changes->header()->setSectionResizeMode(QHeaderView::Interactive);
    tv_Changes->setColumnWidth(0, 380);
    tv_Changes->setColumnWidth(1, 220);
    tv_Changes->setColumnWidth(2, 220);
    layout->addWidget(tv_Changes, 1);

    const auto group = [&](const QString& title) {
        auto* item = new QTreeWidgetItem(tv_Changes, {title});
        QFont bold = item->font(0);
        bold.setBold(true);
        item->setFont(0, bold);
        item->setFirstColumnSpanned(true);
        item->setExpanded(true);
        return item;
    };
    if (!preview.conflicts.empty()) {
        QTreeWidgetItem* g = group(kConflicts);
        g->setForeground(0, QBrush(Qt::darkRed));
        for (const auto& c : preview.conflicts) {
            auto* item = new QTreeWidgetItem(g, {q(c.caption) + QStringLiteral(": ") + q(c.description), q(c.unitValue),
                                                 q(c.databaseValue), kKeepUnit});
            item->setToolTip(0, QStringLiteral("%1 %2; при чтении: %3").arg(q(c.objectName), q(c.key), q(c.readValue)));
            item->setCheckState(kChoiceColumn, c.keepUnit ? Qt::Checked : Qt::Unchecked);
            conflictItems_.push_back(item);
        }
    }
    if (!preview.unitChanges.empty()) {
        QTreeWidgetItem* g = group(kUnitChanges);
        for (const auto& u : preview.unitChanges) {
            auto* item = new QTreeWidgetItem(g, {q(u.caption) + QStringLiteral(": ") + q(u.description), q(u.unitValue),
                                                 q(u.databaseValue), kOverwrite});
            item->setCheckState(kChoiceColumn, u.overwrite ? Qt::Checked : Qt::Unchecked);
            unitChangeItems_.push_back(item);
        }
    }
    for (const auto& d : preview.changes.objects) {
        QTreeWidgetItem* g = group(q(d.captionB.empty() ? d.captionA : d.captionB));
        for (const auto& f : d.fields)
            new QTreeWidgetItem(g, {q(f.description), q(f.valueA), q(f.valueB)});
    }
    if (!preview.messages.empty()) {
        QTreeWidgetItem* g = group(kMessages);
        for (const auto& m : preview.messages) {
            const char* what = m.fate == history::MessageFate::Replaced  ? history::text::messageReplaced
                               : m.fate == history::MessageFate::Deleted ? history::text::messageDeleted
                                                                         : history::text::messageAdded;
            const bool lost = m.fate != history::MessageFate::Added && !m.kept;
            new QTreeWidgetItem(
                g, {q(m.caption), q(m.unitMessage), q(m.databaseMessage), q(what) + (lost ? kNotKept : QString())});
        }
    }
    if (preview.unchanged() && preview.conflicts.empty() && preview.unitChanges.empty())
        new QTreeWidgetItem(tv_Changes, {kNothing});

    auto* buttons = new QHBoxLayout;
    bt_AllDatabase = new QPushButton(kAllDatabase, this);
    bt_AllDatabase->setObjectName(QStringLiteral("bt_AllDatabase"));
    bt_AllUnit = new QPushButton(kAllUnit, this);
    bt_AllUnit->setObjectName(QStringLiteral("bt_AllUnit"));
    bt_AllDatabase->setVisible(!preview.conflicts.empty());
    bt_AllUnit->setVisible(!preview.conflicts.empty());
    bt_Go = new QPushButton(kGo, this);
    bt_Go->setObjectName(QStringLiteral("bt_Go"));
    bt_Cancel = new QPushButton(kCancel, this);
    bt_Cancel->setObjectName(QStringLiteral("bt_Cancel"));
    bt_Cancel->setDefault(true); // Enter must not send by accident
    buttons->addWidget(bt_AllDatabase);
    buttons->addWidget(bt_AllUnit);
    buttons->addStretch(1);
    buttons->addWidget(bt_Go);
    buttons->addWidget(bt_Cancel);
    layout->addLayout(buttons);
    connect(bt_AllDatabase, &QPushButton::clicked, this, [this] { setAllConflicts(false); });
    connect(bt_AllUnit, &QPushButton::clicked, this, [this] { setAllConflicts(true); });
    connect(bt_Go, &QPushButton::clicked, this, &QDialog::accept);
    connect(bt_Cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void WritePreviewDialog::setAllConflicts(bool keepUnit) {
    for (QTreeWidgetItem* item : conflictItems_)
        item->setCheckState(kChoiceColumn, keepUnit ? Qt::Checked : Qt::Unchecked);
}

void WritePreviewDialog::done(int result) {
    // The choices go back into the preview only when the write goes on.
    if (result == QDialog::Accepted) {
        for (std::size_t k = 0; k < conflictItems_.size(); ++k)
            preview_.conflicts[k].keepUnit = conflictItems_[k]->checkState(kChoiceColumn) == Qt::Checked;
        for (std::size_t k = 0; k < unitChangeItems_.size(); ++k)
            preview_.unitChanges[k].overwrite = unitChangeItems_[k]->checkState(kChoiceColumn) == Qt::Checked;
    }
    QDialog::done(result);
}

} // namespace zirezid
