#include "link/answer.h"
#include "link/crc16.h"
#include "link/result_codes.h"
#include "link/unit_recordings.h"

#include <gtest/gtest.h>

using devlink::parseAnswer;

TEST(ParseAnswer, IncompleteUntilThePromptAndAStatusWordBeforeIt) {
    EXPECT_FALSE(parseAnswer("").complete);
    EXPECT_FALSE(parseAnswer("1 2 3 OK ").complete);
    EXPECT_FALSE(parseAnswer("garbage without a prompt").complete);
    EXPECT_FALSE(parseAnswer("#").complete);
    EXPECT_FALSE(parseAnswer("1 2 3 #").complete);
    // The status word cut in two by the arrivals: only the whole text completes.
    EXPECT_FALSE(parseAnswer("7316 0 12 O").complete);
    EXPECT_FALSE(parseAnswer("7316 0 12 OK").complete);
    EXPECT_TRUE(parseAnswer("7316 0 12 OK #").complete);
}

TEST(ParseAnswer, OkGivesCodeZeroAndTheTrimmedPayload) {
    const auto a = parseAnswer("\r\n 7316 0 12 12 0 1 2000 500 200 1 OK \r\n#");
    ASSERT_TRUE(a.complete);
    EXPECT_EQ(a.code, 0);
    EXPECT_EQ(a.payload, "7316 0 12 12 0 1 2000 500 200 1");
    const auto b = parseAnswer("OK#");
    ASSERT_TRUE(b.complete);
    EXPECT_EQ(b.payload, "");
    // Only the first prompt counts; what follows it is not looked at.
    const auto c = parseAnswer("v OK # w ERR 3 #");
    EXPECT_EQ(c.code, 0);
    EXPECT_EQ(c.payload, "v");
}

TEST(ParseAnswer, ErrGivesItsNumberAndTheNearestStatusWordWins) {
    const auto a = parseAnswer("ERR 2 #");
    ASSERT_TRUE(a.complete);
    EXPECT_EQ(a.code, 2);
    EXPECT_EQ(a.payload, "");
    const auto b = parseAnswer("ERR17\r\n#");
    ASSERT_TRUE(b.complete);
    EXPECT_EQ(b.code, 17);
    // "OK" in the payload before an "ERR" nearer to the prompt: the error wins.
    const auto c = parseAnswer("OK text ERR 3 #");
    ASSERT_TRUE(c.complete);
    EXPECT_EQ(c.code, 3);
    EXPECT_EQ(c.payload, "OK text");
    // And the other way round.
    const auto d = parseAnswer("ERR 3 then OK #");
    EXPECT_EQ(d.code, 0);
    EXPECT_EQ(d.payload, "ERR 3 then");
    // Payload bytes of the upper half (Windows-1251 letters) and NUL survive.
    const std::string raw = std::string("'\xcc\xe5\xed\xfe' \0 x OK #", 15);
    EXPECT_EQ(parseAnswer(raw).payload, std::string("'\xcc\xe5\xed\xfe' \0 x", 10));
}

TEST(ParseAnswer, ErrWithoutANumberNeverCompletes) {
    EXPECT_FALSE(parseAnswer("ERR#").complete);
    EXPECT_FALSE(parseAnswer("ERR #").complete);
    EXPECT_FALSE(parseAnswer("ERR x #").complete);
    EXPECT_FALSE(parseAnswer("ERR 2x #").complete);
    EXPECT_FALSE(parseAnswer("ERR 99999999999 #").complete);
    // A later good answer cannot help: the first prompt stays the one looked at.
    EXPECT_FALSE(parseAnswer("ERR # OK #").complete);
}

TEST(ResultMessages, TextsFollowTheOperation) {
    using devlink::OperationKind;
    using devlink::resultMessage;
    EXPECT_EQ(resultMessage(1, OperationKind::Read), "Тайм-аут при чтении");
    EXPECT_EQ(resultMessage(1, OperationKind::Download), "Тайм-аут при чтении");
    EXPECT_EQ(resultMessage(1, OperationKind::Write), "Тайм-аут при записи");
    EXPECT_EQ(resultMessage(1, OperationKind::Upload), "Тайм-аут при записи");
    EXPECT_EQ(resultMessage(2, OperationKind::Read), "Неверный код объекта");
    EXPECT_EQ(resultMessage(3, OperationKind::Write), "Неверное значение поля");
    EXPECT_EQ(resultMessage(14, OperationKind::Upload), "Слишком много сбоев при загрузке файла");
    EXPECT_EQ(resultMessage(16, OperationKind::Download), "Файл не найден");
    // The transfer texts belong to file commands only.
    EXPECT_EQ(resultMessage(14, OperationKind::Read), "Ошибка 14");
    EXPECT_EQ(resultMessage(100, OperationKind::Read), "Нет ответа от устройства");
    EXPECT_EQ(resultMessage(103, OperationKind::Upload), "Ошибка 103");
    EXPECT_EQ(resultMessage(104, OperationKind::Upload), "Ошибка 104: файл сообщения не удалось преобразовать");
    EXPECT_EQ(resultMessage(107, OperationKind::Download), "Ошибка 107: устройство передало неверное имя файла");
    EXPECT_EQ(resultMessage(42, OperationKind::Write), "Ошибка 42");
}

TEST(Crc16, XmodemCheckValueAndReceiverRegisterEndsAtZero) {
    const std::string digits = "123456789";
    const auto* p = reinterpret_cast<const std::uint8_t*>(digits.data());
    const std::uint16_t crc = devlink::crc16Block(p, digits.size());
    EXPECT_EQ(crc, 0x31C3);
    std::uint16_t reg = 0;
    for (unsigned char c : digits)
        reg = devlink::crc16Step(reg, c);
    reg = devlink::crc16Step(reg, static_cast<std::uint8_t>(crc >> 8));
    reg = devlink::crc16Step(reg, static_cast<std::uint8_t>(crc & 0xFF));
    EXPECT_EQ(reg, 0);
    EXPECT_EQ(devlink::crc16Block(p, 0), 0);
}

TEST(UnitRecording, TheMenusFileFieldGivesTheSizeTheUnitHolds) {
    using devlink::menuFileField;
    using devlink::recordingBytes;
    // A menu's text on a read, and the answer to get-parameter.
    EXPECT_EQ(menuFileField("'Главное' {50101:HELLO:16000} 0 0 02002000"), "50101:HELLO:16000");
    EXPECT_EQ(menuFileField("{}"), "");
    // Braces in the description are the technician's text, not the file field.
    EXPECT_EQ(menuFileField("'a {b} c' {} 0 0"), "");
    EXPECT_EQ(menuFileField("'no end {x}"), std::nullopt);
    EXPECT_EQ(menuFileField("7316 0 12"), std::nullopt);
    EXPECT_EQ(recordingBytes("50101:HELLO:16000"), 16000u);
    EXPECT_EQ(recordingBytes(""), 0u);
    // A size not written as a plain number leaves it unknown rather than guessed.
    EXPECT_EQ(recordingBytes("50101:HELLO"), std::nullopt);
    EXPECT_EQ(recordingBytes("50101:HELLO:"), std::nullopt);
    EXPECT_EQ(recordingBytes("50101:HELLO:16k"), std::nullopt);
    EXPECT_EQ(recordingBytes("50101:HELLO:-5"), std::nullopt);
    EXPECT_EQ(recordingBytes("50101:HELLO:99999999999999999999999"), std::nullopt);
}
