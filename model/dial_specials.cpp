#include "model/dial_specials.h"

const std::vector<KT_RECORD_SPEC>& allDialSpecials() {
    static const std::vector<KT_RECORD_SPEC> table = {
        {"ENTRY_STAR", "**", "0", "Вставить *"},
        {"ENTRY_POUND", "*1", "0", "Вставить #"},
        {"ENTRY_FLASH", "*6", "1", "Флэш"},
        {"ENTRY_PAUSE1S", "*7", "1", "Пауза 1с"},
        {"ENTRY_WDIALTONE", "*8XX", "1", "Ждать сигнала готовности XX секунд"},
        {"ENTRY_PAUSE", "*90XX", "1", "Пауза XX секунд"},
        {"ENTRY_WANSWER", "*91XX", "1", "Ждать ответа абонента XX секунд"},
        {"ENTRY_WRINGBACK", "*92XX", "1", "Ждать ответа абонента или сигнала КПВ XX секунд"},
        {"ENTRY_NEWCALL", "*93", "1", "Новый звонок"},
        {"ENTRY_TOMENU", "*94XX", "1", "Перейти к меню XX"},
        {"ENTRY_PLAYMSG", "*95XXX", "1", "Проиграть сообщение XXX из таблицы"},
        {"ENTRY_PUTNUMBER", "*0", "2", "Вставить номер "},
        {"ENTRY_PUTLASTXFER", "*40", "3", "Вставить последний номер, на который был произведен перевод звонка"},
        {"ENTRY_PUTLASTMB", "*41", "3", "Вставить последний номер почтового ящика, к которому был доступ"},
        {"ENTRY_PUTLASTCMDEXT", "*42", "3", "Вставить последний номер внутреннего абонента, полученный от УАТС"},
        {"ENTRY_SKIPDIGITS", "*50X", "4", "Пропустить X цифр, X=1..9"},
        {"ENTRY_EXTDIGITS", "*51X", "4", "Следующие X цифр - цифры номера внутреннего абонента, X=1..9"},
        {"ENTRY_CALLERDIIGITS", "*52X", "4", "Следующие X цифр - цифры номера вызывающего абонента, X=1..9"},
    };
    return table;
}

KT_SPEC::KT_SPEC(bool group0, bool group1, bool group2, bool group3, bool group4) {
    const bool flags[5] = {group0, group1, group2, group3, group4};
    for (int g = 0; g < 5; ++g) {
        if (!flags[g])
            continue;
        const char digit = static_cast<char>('0' + g);
        for (const KT_RECORD_SPEC& e : allDialSpecials())
            if (e.group.size() == 1 && e.group[0] == digit)
                lines.emplace_back(e.description, &e);
        hasSpecials = true;
    }
}
