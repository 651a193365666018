#include "remote/RemoteError.h"

#include <cstdio>

namespace vrax {

std::string RemoteErrorNumber(RemoteError error) {
    char text[16];
    std::snprintf(text, sizeof text, "ERR%03d", static_cast<int>(error));
    return text;
}

const char* RemoteErrorText(RemoteError error) {
    switch (error) {
    case RemoteError::Unknown:
        return "ERROR";
    case RemoteError::Busy:
        return "BUSY";
    case RemoteError::NoMouse:
        return "NO MOUSE";
    case RemoteError::NotApproved:
        return "IMAGE NOT APPROVED";
    case RemoteError::SerialStamped:
        return "SERIAL NUMBER ALREADY STAMPED";
    case RemoteError::RecordsUnreachable:
        return "RECORDS UNREACHABLE";
    case RemoteError::Cancelled:
        return "CANCELLED";
    case RemoteError::WriteFail:
        return "WRITE FAIL";
    case RemoteError::VerifyFail:
        return "VERIFY FAIL";
    case RemoteError::Mismatch:
        return "BIN FILE NOT MATCH MOUSE";
    case RemoteError::Timeout:
        return "TIMEOUT";
    case RemoteError::NoImage:
        return "NO IMAGE";
    case RemoteError::ImageUnreadable:
        return "IMAGE NOT LOADED";
    case RemoteError::ReadFail:
        return "READ FAIL";
    case RemoteError::NoResult:
        return "NO RESULT";
    case RemoteError::NotRunning:
        return "NO JOB RUNNING";
    case RemoteError::NoFactoryRecord:
        return "NO FACTORY RECORD IS WRITTEN";
    }
    return "ERROR";
}

} // namespace vrax
