#pragma once

#include <string>

namespace vrax {

// The numbers a jig reads after "#ERR". They are part of the protocol: a number keeps its
// meaning for good, and a new failure gets a new number.
enum class RemoteError : int {
    Unknown = 1,            // an error the station has no number for; the text says which
    Busy = 2,               // a job runs, or another jig holds the station
    NoMouse = 3,            // no mouse of the IC type on the channel
    NotApproved = 4,        // the records do not approve the image for the product type
    SerialStamped = 5,      // the serial number is stamped or reserved elsewhere
    RecordsUnreachable = 6, // the records could not be reached or kept
    Cancelled = 7,          // #CANCEL stopped the job: the mouse got Write Fail
    WriteFail = 8,
    VerifyFail = 9,
    Mismatch = 10, // "BIN file not match Mouse": not the image's mouse, or not ready
    Timeout = 11,  // WAIT ran out before a mouse came
    NoImage = 12,
    ImageUnreadable = 13, // #LOAD: no such file in the image folder, or not an image
    ReadFail = 14,        // the factory record could not be read
    NoResult = 15,        // #RESULT before any job ended
    NotRunning = 16,      // #CANCEL with no job running
    NoFactoryRecord = 17, // SN= given, but the station writes no factory record
};

// "ERR007" for Cancelled.
std::string RemoteErrorNumber(RemoteError error);
// The short upper-case text the table gives the number ("CANCELLED").
const char* RemoteErrorText(RemoteError error);

} // namespace vrax
