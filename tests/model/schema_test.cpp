#include "model/schema.h"

#include "fake_host.h"
#include "sample_base.h"

#include <gtest/gtest.h>

namespace {

// One expected field: list name, key, code, description, class, default stored form, and for KT_INT the
// bounds.
struct Field {
    std::string listName, key, code, description, kind, stored;
    std::int64_t min = 0, max = 0;
};

void expectFields(KT_TABLE& t, const std::vector<Field>& fields) {
    ASSERT_EQ(t.childCount(), static_cast<int>(fields.size())) << t.getName();
    for (int i = 0; i < t.childCount(); ++i) {
        const Field& f = fields[static_cast<std::size_t>(i)];
        KT_RECORD* r = t.childAt(i);
        SCOPED_TRACE(t.getName() + " field " + f.key);
        EXPECT_EQ(t.childNameAt(i), f.listName);
        EXPECT_EQ(r->key, f.key);
        EXPECT_EQ(r->code, f.code);
        EXPECT_EQ(r->description, f.description);
        EXPECT_STREQ(r->value->className(), f.kind.c_str());
        EXPECT_EQ(r->getText(), f.stored);
        EXPECT_EQ(r->ownerTable, &t);
        if (auto* n = kt_cast<KT_INT>(r->value.get())) {
            EXPECT_EQ(n->minValue, f.min);
            EXPECT_EQ(n->maxValue, f.max);
        }
    }
}

Field integer(const std::string& key, const std::string& code, const std::string& desc, std::int64_t min,
              std::int64_t max, std::int64_t def) {
    return {key, key, code, desc, "KT_INT", std::to_string(def), min, max};
}

class Schema : public ::testing::Test {
protected:
    fake::Host ui;
    fake::EditorWindow frame;
    std::unique_ptr<KT_ACTIONS> kinds = buildActions();
};

TEST_F(Schema, ObjectArgumentsAndImages) {
    auto t = buildTrk({"TRK(1)", "линия 1", "11", &frame}, 50);
    EXPECT_EQ(t->getName(), "TRK(1)");
    EXPECT_EQ(t->getDescription(), "линия 1");
    EXPECT_EQ(t->getText(), "11");
    EXPECT_EQ(t->editorFrame, &frame);
    EXPECT_EQ(t->nodeImage, -2);
    EXPECT_EQ(t->markState, 1);
    auto noFrame = buildSlp({"SLP(1)", "оператор 1", "21", nullptr});
    EXPECT_EQ(noFrame->editorFrame, &ui.emptyFrame) << "no frame given: the empty frame";
    EXPECT_EQ(noFrame->nodeImage, -3);
    EXPECT_EQ(buildSysParam({"SYSPARAM", "c", "0", nullptr})->nodeImage, -1);
    EXPECT_EQ(buildTimetable({"TIMETABLE", "c", "3", nullptr})->nodeImage, -4);
    EXPECT_EQ(buildMenu({"MENU(0)", "c", "500", nullptr}, 2, *kinds)->nodeImage, -6);
    EXPECT_EQ(buildMenus({"MENUS", "c", "5XX", nullptr})->nodeImage, -6);
    EXPECT_EQ(buildMailbox({"MAILBOX(1)", "c", "61", nullptr}, 0)->nodeImage, -7);
    EXPECT_EQ(buildMailboxes({"MAILBOXES", "c", "6X", nullptr})->nodeImage, -7);
    EXPECT_EQ(buildDeviceInfo({"DEVICEINFO", "c", "90", nullptr}, 29)->nodeImage, -8);
    EXPECT_EQ(buildClock({"CLOCK", "c", "91", nullptr})->nodeImage, 0);
    EXPECT_EQ(buildBase({"KT_BASE", "c", "29", nullptr})->nodeImage, 0);
    EXPECT_EQ(buildTrks({"TRKS", "c", "1X", nullptr})->nodeImage, -2);
    EXPECT_EQ(buildSlps({"SLPS", "c", "2X", nullptr})->nodeImage, -3);
    EXPECT_EQ(buildBase({"KT_BASE", "c", "29", nullptr})->childCount(), 0);
    EXPECT_NE(dynamic_cast<KT_TABLE_OBJECT*>(buildTrks({"TRKS", "c", "1X", nullptr}).get()), nullptr);
    EXPECT_NE(dynamic_cast<KT_TABLE_LIST*>(buildMenus({"MENUS", "c", "5XX", nullptr}).get()), nullptr);
}

TEST_F(Schema, SystemParameters) {
    auto t = buildSysParam({"SYSPARAM", "системные параметры", "0", nullptr});
    expectFields(*t, {
                         {"Password", "Password", "01", "Пароль настройки", "KT_CODE", "7316"},
                         integer("PulseDialing", "10", "Тип набора УАТС: ", 0, 1, 0),
                         integer("GainRxdB12", "13", "Уровень усиления по приему (дБ+12)", 0, 24, 12),
                         integer("GainTxdB12", "14", "Уровень усиления по передаче (дБ+12)", 0, 24, 12),
                         integer("AGCDisabled", "15", "Принудительное отключение АРУ", 0, 1, 0),
                         integer("NRingsToPickup", "20", "Число звонков до ответа на вызов", 1, 99, 1),
                         integer("WaitAfterPickupMs", "21", "Пауза перед началом работы при ответе на вызов (мс)", 0,
                                 10000, 2000),
                         integer("InDiscLenMs", "22", "Время реакции на разрыв шлейфа (мс)", 0, 10000, 500),
                         integer("FlashLenMs", "31", "Длительность FLASH, мс", 0, 10000, 200),
                         integer("FlashPassthrough", "30", "Транслировать FLASH", 0, 1, 1),
                     });
    EXPECT_EQ(t->buildDeviceText(), "7316 0 12 12 0 1 2000 500 200 1 ");
    KT_TYPE* pwd = t->findChild("Password")->value.get();
    EXPECT_EQ(pwd->minLength, 2);
    EXPECT_EQ(pwd->maxLength, 10);
    EXPECT_FALSE(pwd->spec->hasSpecials);
}

TEST_F(Schema, TrunkAndOperatorLines) {
    auto trk = buildTrk({"TRK(1)", "линия 1", "11", nullptr}, 16);
    expectFields(*trk, {
                           integer("DayMenu", "01", "Дневное меню", 0, 15, 0),
                           integer("NightMenu", "02", "Ночное меню", 0, 15, 0),
                           integer("HolidayMenu", "03", "Праздничное меню", 0, 15, 0),
                           integer("SetupAllowed", "11", "Настройка через порт", 0, 1, 0),
                           integer("MBAccessAllowed", "12", "Доступ к почтовым ящикам", 0, 1, 0),
                       });
    KT_TYPE* day = trk->findChild("DayMenu")->value.get();
    EXPECT_TRUE(day->setText("15"));
    try {
        day->setText("16");
        ADD_FAILURE() << "16 is beyond the last menu";
    } catch (const KT_ERROR& e) {
        EXPECT_STREQ(e.what(), "16 - вне диапазона допустимых значений: [0...15]");
    }

    auto single = buildTrk({"TRK(1)", "линия 1", "11", nullptr}, 1);
    EXPECT_EQ(single->findChild("DayMenu")->value->maxLength, 1);
    EXPECT_EQ(kt_cast<KT_INT>(single->findChild("NightMenu")->value.get())->maxValue, 0);

    auto slp = buildSlp({"SLP(2)", "оператор 2", "22", nullptr});
    expectFields(*slp, {
                           integer("Passthrough", "10", "Сквозное соединение", 0, 1, 0),
                           integer("SetupAllowed", "11", "Настройка через порт", 0, 1, 0),
                           integer("MBAccessAllowed", "12", "Доступ к почтовым ящикам", 0, 1, 0),
                       });
}

TEST_F(Schema, Timetable) {
    auto t = buildTimetable({"TIMETABLE", "расписание работы", "3", nullptr});
    const char* days[] = {"Понедельник", "Вторник", "Среда", "Четверг", "Пятница", "Суббота", "Воскресение"};
    std::vector<Field> fields;
    for (int d = 1; d <= 7; ++d) {
        const std::string key = "DayStart[" + std::to_string(d) + "]";
        fields.push_back({key, key, std::to_string(20 + d),
                          std::string("Время начала рабочего дня, [") + days[d - 1] + "]", "KT_TIME", "0000"});
    }
    for (int d = 1; d <= 7; ++d) {
        const std::string key = "DayEnd[" + std::to_string(d) + "]";
        fields.push_back({key, key, std::to_string(30 + d),
                          std::string("Время конца рабочего дня, [") + days[d - 1] + "]", "KT_TIME", "2359"});
    }
    for (int h = 0; h <= 9; ++h)
        fields.push_back(integer("UseHoliday[" + std::to_string(h) + "]", std::to_string(40 + h),
                                 "Использовать данные для праздника[" + std::to_string(h) + "]", 0, 1, 0));
    for (int h = 0; h <= 9; ++h) {
        const std::string key = "HolidayStart[" + std::to_string(h) + "]";
        fields.push_back({key, key, std::to_string(50 + h), "Дата начала для праздника[" + std::to_string(h) + "]",
                          "KT_DATE_NOYEAR", "0101"});
    }
    for (int h = 0; h <= 9; ++h) {
        const std::string key = "HolidayEnd[" + std::to_string(h) + "]";
        fields.push_back({key, key, std::to_string(60 + h), "Дата конца для праздника[" + std::to_string(h) + "]",
                          "KT_DATE_NOYEAR", "0101"});
    }
    ASSERT_EQ(fields.size(), 44u);
    expectFields(*t, fields);
    KT_RECORD* sunday = t->findChild("DayStart[7]");
    EXPECT_EQ(sunday->code, "27");
    EXPECT_EQ(sunday->description, "Время начала рабочего дня, [Воскресение]");
}

TEST_F(Schema, VoiceMenu) {
    auto m = buildMenu({"MENU(3)", "меню 3", "503", nullptr}, 2, *kinds);
    std::vector<Field> fields = {
        {"Desc", "Desc", "00", "Описание меню", "KT_STR", "''"},
        {"Message", "Message", "01", "имя файла", "KT_FILE", "-"},
        integer("CallSLPOnStart", "02", "сразу звонить на оператора", 0, 1, 0),
        integer("SLPIndex", "03", "линия оператора", 0, 2, 0),
        {"ActionTO", "ActionTO", "100", "Действие - таймаут", "KT_ACTION", "00"},
    };
    for (int d = 1; d <= 9; ++d) {
        const std::string key = "ActionDTMF[" + std::to_string(d) + "]";
        fields.push_back(
            {key, key, std::to_string(100 + d), "Действие - ввод цифры " + std::to_string(d), "KT_ACTION", "00"});
    }
    fields.push_back({"ActionDTMF[0]", "ActionDTMF[0]", "110", "Действие - ввод цифры 0", "KT_ACTION", "00"});
    expectFields(*m, fields);
    EXPECT_EQ(m->findChild("Desc")->value->maxLength, 31);
    EXPECT_EQ(m->buildDeviceText(), "'' 0 0 00 00 00 00 00 00 00 00 00 00 00 ");
    EXPECT_EQ(m->buildDeviceText().rfind("''", 0), 0u) << "begins with the empty description";
    EXPECT_EQ(kt_cast<KT_ACTION>(m->findChild("ActionTO")->value.get())->actions, kinds.get());
}

TEST_F(Schema, Mailbox) {
    auto b = buildMailbox({"MAILBOX(2)", "ящик 2", "62", nullptr}, 1);
    EXPECT_EQ(b->mailboxIndex, 1);
    expectFields(
        *b,
        {
            {"Password", "Pwd", "02", "Пароль ящика", "KT_CODE", kDefaultMailboxPassword},
            integer("MaxSizeMin", "03", "Емкость ящика в минутах", 1, 500, 10),
            integer("MaxMsgs", "04", "Максимальное количество сообщений в ящике", 1, 500, 40),
            integer("DaysToKeep", "05", "Количество дней хранения сообщения", 0, 30, 7),
            integer("AutoRemoveOld", "05", "Автоматически удалять старые сообщения при переполнении ящика", 0, 1, 0),
            integer("ReverseOrder", "12",
                    "Сообщение воспроизводятся в порядке поступления (0) / в обратном порядке (1)", 0, 1, 0),
        });
    EXPECT_EQ(b->findChild("Password")->key, "Pwd") << "looked up as Password, saved as Pwd";
    EXPECT_EQ(std::string(kDefaultMailboxPassword).size(), 2u);
}

TEST_F(Schema, DeviceInformationAndClock) {
    auto info = buildDeviceInfo({"DEVICEINFO", "данные о системе", "90", nullptr}, 19);
    expectFields(*info,
                 {
                     integer("ModelCode", "0", "Код модели устройства", 0, 99, 0),
                     integer("SerialNum", "1", "Серийный номер устройства", 0, 4294967295LL, 0),
                     {"SoftVer", "SoftVer", "2", "Версия ПО в формате A.BB.CC ", "KT_STR",
                      "'?.??.?"
                      "?'"},
                     integer("ConfigID", "3", "Код конфигурации", 0, 9999, 19),
                     integer("ConfigKey", "4", "Ключ конфигурации", 0, 4294967295LL, 0),
                     integer("FreeSpaceBytes", "9", "Объем свободного места в памяти в байтах ", 0, 4294967295LL, 0),
                 });
    KT_TYPE* serial = info->findChild("SerialNum")->value.get();
    EXPECT_TRUE(serial->setText("4294967295"));
    EXPECT_THROW(serial->setText("4294967296"), KT_ERROR);
    EXPECT_EQ(info->findChild("SoftVer")->value->maxLength, 8);

    auto clock = buildClock({"CLOCK", "часы", "91", nullptr});
    expectFields(*clock, {
                             {"Date", "Date", "0", "Текущая дата (ddmmyy)", "KT_DATE", "010101"},
                             {"Time", "Time", "1", "Текущее время (hhmm)", "KT_TIME", "0000"},
                             integer("Seconds", "2", "Текущее время (секунды)", 0, 59, 0),
                         });
}

TEST_F(Schema, ListsHoldTheirObjectsInOrder) {
    sample::Base b = sample::build(2, 50, 2);
    ASSERT_EQ(b.root->childCount(), 6);
    const char* names[] = {"SYSPARAM", "TRKS", "SLPS", "TIMETABLE", "MENUS", "MAILBOXES"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(b.root->childNameAt(i), names[i]);
    EXPECT_EQ(b.trks->tableAt(1)->getText(), "12");
    EXPECT_EQ(b.slps->tableAt(1)->getText(), "22");
    EXPECT_EQ(b.menus->childCount(), 50);
    EXPECT_EQ(b.menus->tableAt(49)->getText(), "549");
    EXPECT_EQ(b.menus->childNameAt(49), "MENU(49)");
    EXPECT_EQ(b.mailboxes->tableAt(1)->getText(), "62");
    EXPECT_EQ(b.menus->findChild("menu(7)")->description, "меню 7");
}

} // namespace
