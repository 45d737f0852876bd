// Result codes of the link's exchanges and decision codes of its recovery layer, with the texts shown for them.
#pragma once

#include <string>

namespace devlink {

// One code space for the unit's error numbers and the link's own conditions.
enum ResultCode : int {
    rcOk = 0,
    rcDeviceTimeout = 1,
    rcBadObjectCode = 2,
    rcBadFieldValue = 3,
    rcFileTimeout = 11,
    rcFileCrc = 12,
    rcFileBlock = 13,
    rcFileTooManyErrors = 14,
    rcFileExists = 15,
    rcFileNotFound = 16,
    rcFileCancelled = 17,
    rcNoAnswer = 100,
    rcStopped = 101,
    rcWrongPassword = 102,
    rcNoFile = 103,
    rcConversionFailed = 104,
    rcBusy = 105,
    // Our own: the port's device is gone (adapter pulled, unit's line dropped); nothing more can pass.
    rcLineLost = 108,
};

// Decisions of the operations with recovery.
enum Decision : int { dcDone = 0, dcStopped = 1, dcStop = 2, dcRetry = 3, dcSkip = 4 };

// Runs an operation with recovery again for as long as the user answers "Retry"; its final decision.
template <class Operation> Decision untilDecided(Operation&& operation) {
    auto d = static_cast<Decision>(operation());
    while (d == dcRetry)
        d = static_cast<Decision>(operation());
    return d;
}

// Which of the two texts of code 1 applies, and whether the file-transfer texts 11-16 apply at all.
enum class OperationKind { Read, Write, Download, Upload };

namespace text {
inline constexpr const char* readTimeout = "Тайм-аут при чтении";
inline constexpr const char* writeTimeout = "Тайм-аут при записи";
inline constexpr const char* badObjectCode = "Неверный код объекта";
inline constexpr const char* badFieldValue = "Неверное значение поля";
inline constexpr const char* fileTimeout = "Тайм-аут при загрузке файла";
inline constexpr const char* fileCrc = "Ошибка CRC при загрузке файла";
inline constexpr const char* fileBlock = "Ошибка блока при загрузке файла";
inline constexpr const char* fileTooManyErrors = "Слишком много сбоев при загрузке файла";
inline constexpr const char* fileExists = "Файл с таким именем уже существует";
inline constexpr const char* fileNotFound = "Файл не найден";
inline constexpr const char* noAnswer = "Нет ответа от устройства";
inline constexpr const char* stopped = "Передача прервана пользователем";
inline constexpr const char* errorPrefix = "Ошибка ";
// Words after "Ошибка N" for the link's own file conditions, which have no text of the unit's.
inline constexpr const char* conversionFailedWords = "файл сообщения не удалось преобразовать";
inline constexpr const char* cannotCreateFileWords = "невозможно записать файл сообщения на компьютере";
inline constexpr const char* badFileNameWords = "устройство передало неверное имя файла";
inline constexpr const char* busy = "Устройство занято. Дождитесь освобождения всех линий.";
inline constexpr const char* cannotOpenPort = "Не удалось открыть COM порт.";
inline constexpr const char* wrongPasswordCaption = "Неверный пароль";
inline constexpr const char* enterPasswordLabel = "Введите пароль:";
inline constexpr const char* fileExistsQuestion = ": Файл уже существует. ";
inline constexpr const char* replaceQuestion = "Заменить?";
inline constexpr const char* deleteQuestion = "Удалить?";
inline constexpr const char* statusOk = "OK";
inline constexpr const char* statusError = "Ошибка";
inline constexpr const char* statusSkipped = "Пропущено";
inline constexpr const char* statusStopped = "Прервано";
inline constexpr const char* statusLineLost = "Нет связи";
inline constexpr const char* summaryLineLost = "Связь с устройством потеряна";
inline constexpr const char* messageDeletedSuffix = ", сообщение на блоке удалено";
inline constexpr const char* writeStopped = "Запись прервана";
inline constexpr const char* menusWithoutMessage = "Без сообщения на блоке: ";
inline constexpr const char* readSuccess = "Настройки прочитаны успешно";
inline constexpr const char* readErrors = "Ошибок при чтении: ";
inline constexpr const char* writeSuccess = "Настройки записаны успешно";
inline constexpr const char* writeErrors = "Ошибок при записи: ";
inline constexpr const char* filePrefix = "Файл: ";
inline constexpr const char* bytesSuffix = " байт";
inline constexpr const char* transferDone = "загрузка завершена";
// Our own: the unit named a file that cannot be stored in the staging folder.
inline constexpr const char* badFileName = "Недопустимое имя файла";
// Our own: the port's device went away in the middle of the work.
inline constexpr const char* lineLost = "Связь с устройством потеряна: линия оборвана или адаптер отключён";
} // namespace text

// The message the recovery layer shows for a result other than 0 and the stops.
std::string resultMessage(int code, OperationKind kind);

} // namespace devlink
