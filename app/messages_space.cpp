// The main window's view of what the recorded messages take on the unit.
#include "app/main_window.h"

#include "app/message_boxes.h"
#include "audio/messages_total.h"
#include "editors/ted_menu.h"
#include "model/tables.h"

#include <QLabel>

namespace zirezid {

namespace {
const QString kMessagesLine = QStringLiteral("Сообщения: %1, %2:%3, %4 КБ");
const QString kOfFree = QStringLiteral(" из %1 КБ свободных");
const QString kTooBig = QStringLiteral(" — не поместятся!");
} // namespace

void Tfrm_main::updateMessagesSpace() {
    if (lbl_vMessages == nullptr)
        return;
    const audio::MessagesTotal total = audio::totalOfMessages(db);
    const auto seconds = static_cast<long long>(total.seconds + 0.5);
    QString text = kMessagesLine.arg(total.count)
                       .arg(seconds / 60)
                       .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                       .arg((total.unitBytes + 1023) / 1024);
    const std::int64_t free = audio::lastFreeSpaceBytes(db);
    if (free >= 0) {
        text += kOfFree.arg(free / 1024);
        if (total.unitBytes > static_cast<std::uint64_t>(free))
            text += kTooBig;
    }
    lbl_vMessages->setText(text);
}

void Tfrm_main::watchMessages() {
    if (auto* menu = dynamic_cast<Ted_menu*>(frames.ed_menu.get()))
        menu->messageChanged = [this] { updateMessagesSpace(); };
}

bool Tfrm_main::confirmMessagesFit(const LinkObjectList& objects) {
    std::vector<KT_TABLE*> menus;
    for (const auto& [name, object] : objects)
        if (object != nullptr && object->findChild("Message") != nullptr)
            menus.push_back(object);
    if (menus.empty())
        return true;
    const std::string warning =
        audio::writeFitWarning(audio::totalOfMessages(db, menus), audio::lastFreeSpaceBytes(db));
    return warning.empty() || frm_msg_warn_query->askYesNoCancel(QString::fromStdString(warning)) == mrYes;
}

} // namespace zirezid
