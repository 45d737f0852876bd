#include "app/write_preview_dialog.h"

#include <QBrush>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zirezid {

namespace {
const QString kCaption = QStringLiteral("Что изменится на устройстве");
const QString kGo = QStringLiteral("Записать");
const QString kCancel = QStringLiteral("Отмена");
const QString kAllDatabase = QStringLiteral("Во всех конфликтах — значение базы");
const QString kAllUnit = QStringLiteral("Во всех конфликтах — значение устройства");
const QString kConflicts =
    QStringLiteral("Конфликты: изменено и на устройстве после чтения, и в базе — выберите, какое значение останется");
const QString kUnitChanges = QStringLiteral("Изменено только на устройстве (сохраняется, если не отмечено)");
const QString kMessages = QStringLiteral("Сообщения");
const QString kFromUnit = QStringLiteral("с устройства");
const QString kFromDatabase = QStringLiteral("из базы");
const QString kChooseFirst =
    QStringLiteral("Кнопка «Записать» станет доступна, когда для каждого конфликта будет выбрано, какое "
                   "значение останется. Не выбрано: %1 из %2.");
const QString kOverwrite = QStringLiteral("записать значение базы");
const QString kNotKept = QStringLiteral(" — не сохранено в истории");
const QString kNothing = QStringLiteral("Устройство уже совпадает с базой.");

QString q(const std::string& s) { return QString::fromStdString(s); }
} // namespace

WritePreviewDialog::WritePreviewDialog(QWidget* parent, history::Preview& preview)
    : QDialog(parent), preview_(preview) {
    setObjectName(QStringLiteral("frm_writePreview"));
    setWindowTitle(kCaption);
    resize(1040, 500);
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
    tv_Changes->setColumnWidth(0, 400);
    tv_Changes->setColumnWidth(1, 180);
    tv_Changes->setColumnWidth(2, 180);
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
            auto* item = new QTreeWidgetItem(
                g, {q(c.caption) + QStringLiteral(": ") + q(c.description), q(c.unitValue), q(c.databaseValue)});
            item->setToolTip(0, QStringLiteral("%1 %2; при чтении: %3").arg(q(c.objectName), q(c.key), q(c.readValue)));
            // Neither value is taken for granted: the row starts without a choice.
            auto* cell = new QWidget(tv_Changes);
            auto* row = new QHBoxLayout(cell);
            row->setContentsMargins(4, 0, 4, 0);
            Choice choice{new QButtonGroup(cell), new QRadioButton(kFromUnit, cell),
                          new QRadioButton(kFromDatabase, cell)};
            choice.unit->setToolTip(QStringLiteral("Оставить на устройстве: ") + q(c.unitValue));
            choice.database->setToolTip(QStringLiteral("Записать из базы: ") + q(c.databaseValue));
            choice.group->addButton(choice.unit);
            choice.group->addButton(choice.database);
            row->addWidget(choice.unit);
            row->addWidget(choice.database);
            row->addStretch(1);
            tv_Changes->setItemWidget(item, kChoiceColumn, cell);
            connect(choice.group, &QButtonGroup::buttonToggled, this, [this] { updateGo(); });
            conflictChoices_.push_back(choice);
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
            const char* what = history::messageFateText(m);
            const bool lost = m.fate != history::MessageFate::Added && !m.kept;
            new QTreeWidgetItem(
                g, {q(m.caption), q(m.unitMessage), q(m.databaseMessage), q(what) + (lost ? kNotKept : QString())});
        }
    }
    if (preview.unchanged() && preview.conflicts.empty() && preview.unitChanges.empty())
        new QTreeWidgetItem(tv_Changes, {kNothing});

    lbl_Choose = new QLabel(this);
    lbl_Choose->setObjectName(QStringLiteral("lbl_Choose"));
    lbl_Choose->setWordWrap(true);
    QPalette warning = lbl_Choose->palette();
    warning.setColor(QPalette::WindowText, Qt::darkRed);
    lbl_Choose->setPalette(warning);
    layout->addWidget(lbl_Choose);

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
    buttons->addWidget(bt_AllUnit);
    buttons->addWidget(bt_AllDatabase);
    buttons->addStretch(1);
    buttons->addWidget(bt_Go);
    buttons->addWidget(bt_Cancel);
    layout->addLayout(buttons);
    connect(bt_AllDatabase, &QPushButton::clicked, this, [this] { setAllConflicts(false); });
    connect(bt_AllUnit, &QPushButton::clicked, this, [this] { setAllConflicts(true); });
    connect(bt_Go, &QPushButton::clicked, this, &QDialog::accept);
    connect(bt_Cancel, &QPushButton::clicked, this, &QDialog::reject);
    updateGo();
}

int WritePreviewDialog::undecided() const {
    int count = 0;
    for (const Choice& c : conflictChoices_)
        if (c.group->checkedButton() == nullptr)
            ++count;
    return count;
}

void WritePreviewDialog::updateGo() {
    const int left = undecided();
    bt_Go->setEnabled(left == 0);
    const QString why = left == 0 ? QString() : kChooseFirst.arg(left).arg(conflictChoices_.size());
    bt_Go->setToolTip(why);
    lbl_Choose->setText(why);
    lbl_Choose->setVisible(left != 0);
}

void WritePreviewDialog::setAllConflicts(bool keepUnit) {
    for (const Choice& c : conflictChoices_)
        (keepUnit ? c.unit : c.database)->setChecked(true);
}

void WritePreviewDialog::done(int result) {
    // The choices go back into the preview only when the write goes on, and it goes on only with all of them.
    if (result == QDialog::Accepted) {
        if (undecided() != 0)
            return;
        for (std::size_t k = 0; k < conflictChoices_.size(); ++k)
            preview_.conflicts[k].keepUnit = conflictChoices_[k].unit->isChecked();
        for (std::size_t k = 0; k < unitChangeItems_.size(); ++k)
            preview_.unitChanges[k].overwrite = unitChangeItems_[k]->checkState(kChoiceColumn) == Qt::Checked;
    }
    QDialog::done(result);
}

} // namespace zirezid
