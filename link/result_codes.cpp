#include "link/result_codes.h"

namespace devlink {

std::string resultMessage(int code, OperationKind kind) {
    const bool file = kind == OperationKind::Download || kind == OperationKind::Upload;
    switch (code) {
    case rcDeviceTimeout:
        return kind == OperationKind::Read || kind == OperationKind::Download ? text::readTimeout : text::writeTimeout;
    case rcBadObjectCode:
        return text::badObjectCode;
    case rcBadFieldValue:
        return text::badFieldValue;
    case rcNoAnswer:
        return text::noAnswer;
    case rcStopped:
        return text::stopped;
    case rcLineLost:
        return text::lineLost;
    default:
        break;
    }
    if (file) {
        switch (code) {
        case rcFileTimeout:
            return text::fileTimeout;
        case rcFileCrc:
            return text::fileCrc;
        case rcFileBlock:
            return text::fileBlock;
        case rcFileTooManyErrors:
            return text::fileTooManyErrors;
        case rcFileExists:
            return text::fileExists;
        case rcFileNotFound:
            return text::fileNotFound;
        case rcFileCancelled:
            return text::stopped;
        default:
            break;
        }
    }
    std::string numbered = std::string(text::errorPrefix) + std::to_string(code);
    switch (code) {
    case rcConversionFailed:
        return numbered + ": " + text::conversionFailedWords;
    case 106: // rcCannotCreateFile of the block transfer
        return numbered + ": " + text::cannotCreateFileWords;
    case 107: // rcBadFileName
        return numbered + ": " + text::badFileNameWords;
    default:
        return numbered;
    }
}

} // namespace devlink
