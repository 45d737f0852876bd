#include "model/schema.h"

namespace {

template <class T> std::unique_ptr<T> makeObject(const KT_OBJECT_ARGS& args) {
    auto t = std::make_unique<T>();
    t->name = args.name;
    t->description = args.caption;
    t->valueText = args.code;
    if (args.frame)
        t->editorFrame = args.frame;
    return t;
}

std::unique_ptr<KT_INT> integer(std::int64_t minValue, std::int64_t maxValue, std::int64_t defaultValue) {
    return std::make_unique<KT_INT>(minValue, maxValue, defaultValue);
}

const char* const kDayNames[] = {"Понедельник", "Вторник", "Среда", "Четверг", "Пятница", "Суббота", "Воскресение"};

} // namespace

std::unique_ptr<KT_TABLE_SYSPARAM> buildSysParam(const KT_OBJECT_ARGS& args) {
    auto t = makeObject<KT_TABLE_SYSPARAM>(args);
    t->addField(std::make_unique<KT_CODE>("7316", 2, 10), "Password", "01", "Пароль настройки");
    t->addField(integer(0, 1, 0), "PulseDialing", "10", "Тип набора УАТС: ");
    // Gains are stored with an offset of 12: 12 is 0 dB.
    t->addField(integer(0, 24, 12), "GainRxdB12", "13", "Уровень усиления по приему (дБ+12)");
    t->addField(integer(0, 24, 12), "GainTxdB12", "14", "Уровень усиления по передаче (дБ+12)");
    t->addField(integer(0, 1, 0), "AGCDisabled", "15", "Принудительное отключение АРУ");
    t->addField(integer(1, 99, 1), "NRingsToPickup", "20", "Число звонков до ответа на вызов");
    t->addField(integer(0, 10000, 2000), "WaitAfterPickupMs", "21",
                "Пауза перед началом работы при ответе на вызов (мс)");
    t->addField(integer(0, 10000, 500), "InDiscLenMs", "22", "Время реакции на разрыв шлейфа (мс)");
    // The flash length precedes the pass-through although its code is higher: the unit expects this order.
    t->addField(integer(0, 10000, 200), "FlashLenMs", "31", "Длительность FLASH, мс");
    t->addField(integer(0, 1, 1), "FlashPassthrough", "30", "Транслировать FLASH");
    return t;
}

std::unique_ptr<KT_TABLE_TRK> buildTrk(const KT_OBJECT_ARGS& args, int menuCount) {
    auto t = makeObject<KT_TABLE_TRK>(args);
    const std::int64_t lastMenu = menuCount > 0 ? menuCount - 1 : 0;
    t->addField(integer(0, lastMenu, 0), "DayMenu", "01", "Дневное меню");
    t->addField(integer(0, lastMenu, 0), "NightMenu", "02", "Ночное меню");
    t->addField(integer(0, lastMenu, 0), "HolidayMenu", "03", "Праздничное меню");
    t->addField(integer(0, 1, 0), "SetupAllowed", "11", "Настройка через порт");
    t->addField(integer(0, 1, 0), "MBAccessAllowed", "12", "Доступ к почтовым ящикам");
    return t;
}

std::unique_ptr<KT_TABLE_SLP> buildSlp(const KT_OBJECT_ARGS& args) {
    auto t = makeObject<KT_TABLE_SLP>(args);
    t->addField(integer(0, 1, 0), "Passthrough", "10", "Сквозное соединение");
    t->addField(integer(0, 1, 0), "SetupAllowed", "11", "Настройка через порт");
    t->addField(integer(0, 1, 0), "MBAccessAllowed", "12", "Доступ к почтовым ящикам");
    return t;
}

std::unique_ptr<KT_TABLE_TIMETABLE> buildTimetable(const KT_OBJECT_ARGS& args) {
    auto t = makeObject<KT_TABLE_TIMETABLE>(args);
    for (int d = 1; d <= 7; ++d)
        t->addField(std::make_unique<KT_TIME>("0000"), "DayStart[" + std::to_string(d) + "]", std::to_string(20 + d),
                    std::string("Время начала рабочего дня, [") + kDayNames[d - 1] + "]");
    for (int d = 1; d <= 7; ++d)
        t->addField(std::make_unique<KT_TIME>("2359"), "DayEnd[" + std::to_string(d) + "]", std::to_string(30 + d),
                    std::string("Время конца рабочего дня, [") + kDayNames[d - 1] + "]");
    for (int h = 0; h <= 9; ++h)
        t->addField(integer(0, 1, 0), "UseHoliday[" + std::to_string(h) + "]", std::to_string(40 + h),
                    "Использовать данные для праздника[" + std::to_string(h) + "]");
    for (int h = 0; h <= 9; ++h)
        t->addField(std::make_unique<KT_DATE_NOYEAR>(), "HolidayStart[" + std::to_string(h) + "]",
                    std::to_string(50 + h), "Дата начала для праздника[" + std::to_string(h) + "]");
    for (int h = 0; h <= 9; ++h)
        t->addField(std::make_unique<KT_DATE_NOYEAR>(), "HolidayEnd[" + std::to_string(h) + "]", std::to_string(60 + h),
                    "Дата конца для праздника[" + std::to_string(h) + "]");
    return t;
}

std::unique_ptr<KT_TABLE_MENU> buildMenu(const KT_OBJECT_ARGS& args, int lineCount, KT_ACTIONS& actions) {
    auto t = makeObject<KT_TABLE_MENU>(args);
    t->addField(std::make_unique<KT_STR>(31, ""), "Desc", "00", "Описание меню");
    t->addField(std::make_unique<KT_FILE>(), "Message", "01", "имя файла");
    t->addField(integer(0, 1, 0), "CallSLPOnStart", "02", "сразу звонить на оператора");
    // 0 stands for all operators, so the range runs up to the number of lines inclusive.
    t->addField(integer(0, lineCount > 0 ? lineCount : 0, 0), "SLPIndex", "03", "линия оператора");
    t->addField(std::make_unique<KT_ACTION>(actions), "ActionTO", "100", "Действие - таймаут");
    // The digit 0 comes last, after 1 to 9.
    for (int d = 1; d <= 9; ++d)
        t->addField(std::make_unique<KT_ACTION>(actions), "ActionDTMF[" + std::to_string(d) + "]",
                    std::to_string(100 + d), "Действие - ввод цифры " + std::to_string(d));
    t->addField(std::make_unique<KT_ACTION>(actions), "ActionDTMF[0]", "110", "Действие - ввод цифры 0");
    return t;
}

std::unique_ptr<KT_TABLE_MAILBOX> buildMailbox(const KT_OBJECT_ARGS& args, int index) {
    auto t = makeObject<KT_TABLE_MAILBOX>(args);
    t->mailboxIndex = index;
    // Found as "Password" in the object, saved as "Pwd" in the settings file.
    t->addField(std::make_unique<KT_CODE>(kDefaultMailboxPassword, 2, 10), "Pwd", "02", "Пароль ящика", "Password");
    t->addField(integer(1, 500, 10), "MaxSizeMin", "03", "Емкость ящика в минутах");
    t->addField(integer(1, 500, 40), "MaxMsgs", "04", "Максимальное количество сообщений в ящике");
    // DaysToKeep and AutoRemoveOld share the code 05 on the unit.
    t->addField(integer(0, 30, 7), "DaysToKeep", "05", "Количество дней хранения сообщения");
    t->addField(integer(0, 1, 0), "AutoRemoveOld", "05",
                "Автоматически удалять старые сообщения при переполнении ящика");
    t->addField(integer(0, 1, 0), "ReverseOrder", "12",
                "Сообщение воспроизводятся в порядке поступления (0) / в обратном порядке (1)");
    return t;
}

std::unique_ptr<KT_TABLE_DEVICEINFO> buildDeviceInfo(const KT_OBJECT_ARGS& args, int configId) {
    auto t = makeObject<KT_TABLE_DEVICEINFO>(args);
    t->addField(integer(0, 99, 0), "ModelCode", "0", "Код модели устройства");
    t->addField(integer(0, 4294967295LL, 0), "SerialNum", "1", "Серийный номер устройства");
    t->addField(std::make_unique<KT_STR>(8, "?.??.??"), "SoftVer", "2", "Версия ПО в формате A.BB.CC ");
    t->addField(integer(0, 9999, configId), "ConfigID", "3", "Код конфигурации");
    t->addField(integer(0, 4294967295LL, 0), "ConfigKey", "4", "Ключ конфигурации");
    t->addField(integer(0, 4294967295LL, 0), "FreeSpaceBytes", "9", "Объем свободного места в памяти в байтах ");
    return t;
}

std::unique_ptr<KT_TABLE_CLOCK> buildClock(const KT_OBJECT_ARGS& args) {
    auto t = makeObject<KT_TABLE_CLOCK>(args);
    t->addField(std::make_unique<KT_DATE>(), "Date", "0", "Текущая дата (ddmmyy)");
    t->addField(std::make_unique<KT_TIME>(), "Time", "1", "Текущее время (hhmm)");
    t->addField(integer(0, 59, 0), "Seconds", "2", "Текущее время (секунды)");
    return t;
}

std::unique_ptr<KT_BASE> buildBase(const KT_OBJECT_ARGS& args) { return makeObject<KT_BASE>(args); }
std::unique_ptr<KT_TABLE_TRKS> buildTrks(const KT_OBJECT_ARGS& args) { return makeObject<KT_TABLE_TRKS>(args); }
std::unique_ptr<KT_TABLE_SLPS> buildSlps(const KT_OBJECT_ARGS& args) { return makeObject<KT_TABLE_SLPS>(args); }
std::unique_ptr<KT_TABLE_MENUS> buildMenus(const KT_OBJECT_ARGS& args) { return makeObject<KT_TABLE_MENUS>(args); }
std::unique_ptr<KT_TABLE_MAILBOXES> buildMailboxes(const KT_OBJECT_ARGS& args) {
    return makeObject<KT_TABLE_MAILBOXES>(args);
}
