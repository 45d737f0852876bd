// The main window's view of what the recorded messages take on the unit. The rule is the call flow's
// (flow/message_fit.h), so the device box, the question before a write and the check count alike.
#include "app/main_window.h"

#include "app/flow_windows.h"
#include "app/message_boxes.h"
#include "editors/ted_menu.h"
#include "flow/message_fit.h"
#include "model/tables.h"

#include <QLabel>

namespace zirezid {

namespace {
const QString kMessagesLine = QStringLiteral("Сообщения: %1, %2:%3, %4 КБ");
const QString kOfFree = QStringLiteral(" из %1 КБ свободных");
const QString kAndReplaced = QStringLiteral(" и %1 КБ их прежних записей в устройстве");
const QString kTooBig = QStringLiteral(" — не поместятся!");
const QString kMayBeShort =
    QStringLiteral(" — может не хватить %1 КБ: сколько занимают записи меню %2 в устройстве, неизвестно");

QString kb(unsigned long long bytes) { return QString::number((bytes + 1023) / 1024); }

QString menus(const flow::MessagesFit& fit) { return QString::fromStdString(flow::menuList(fit.unknownMenus)); }
} // namespace

void Tfrm_main::updateMessagesSpace() {
    if (lbl_vMessages == nullptr)
        return;
    const flow::MessagesFit fit = flow::messagesFit(currentCallFlow(*this));
    const auto seconds = static_cast<long long>(fit.seconds + 0.5);
    QString text = kMessagesLine.arg(fit.count)
                       .arg(seconds / 60)
                       .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                       .arg(kb(fit.sendBytes));
    if (fit.freeBytes) {
        text += kOfFree.arg(*fit.freeBytes / 1024);
        if (fit.freedBytes > 0)
            text += kAndReplaced.arg(kb(fit.freedBytes));
        if (fit.verdict == flow::MessagesFit::Verdict::DoesNotFit)
            text += kTooBig;
        else if (fit.verdict == flow::MessagesFit::Verdict::MayNotFit)
            text += kMayBeShort.arg(kb(fit.shortBytes()), menus(fit));
    }
    lbl_vMessages->setText(text);
}

void Tfrm_main::watchMessages() {
    if (auto* menu = dynamic_cast<Ted_menu*>(frames.ed_menu.get()))
        menu->messageChanged = [this] { updateMessagesSpace(); };
}

bool Tfrm_main::confirmMessagesFit(const LinkObjectList& objects) {
    std::vector<std::string> names;
    for (const auto& [caption, object] : objects)
        if (object != nullptr && object->findChild("Message") != nullptr)
            names.push_back(object->name);
    if (names.empty())
        return true;
    const flow::MessagesFit fit = flow::messagesFit(currentCallFlow(*this), names);
    if (!fit.questionable())
        return true;
    QString text = QStringLiteral("Сообщения этой записи займут в устройстве %1 КБ, а свободно %2 КБ")
                       .arg(kb(fit.sendBytes))
                       .arg(*fit.freeBytes / 1024);
    if (fit.freedBytes > 0)
        text += QStringLiteral(" и ещё %1 КБ освободят записи, которые они заменят").arg(kb(fit.freedBytes));
    if (fit.verdict == flow::MessagesFit::Verdict::DoesNotFit)
        text += QStringLiteral(": не хватает %1 КБ, места не хватит.").arg(kb(fit.shortBytes()));
    else
        text += QStringLiteral(": места может не хватить на %1 КБ. Сколько освободят записи меню %2, уже лежащие "
                               "в устройстве, неизвестно (эти меню не читались из устройства).")
                    .arg(kb(fit.shortBytes()), menus(fit));
    text += QStringLiteral(" Всё равно записать?");
    return frm_msg_warn_query->askYesNoCancel(text) == mrYes;
}

} // namespace zirezid
