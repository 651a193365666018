#include "StationWatch.h"

namespace vrax {

const char* VerdictText(Verdict verdict) {
    switch (verdict) {
    case Verdict::WritePass:
        return "Write Pass";
    case Verdict::WriteFail:
        return "Write Fail";
    case Verdict::MouseMismatch:
        return "BIN file not match Mouse";
    case Verdict::None:
        break;
    }
    return "no verdict";
}

} // namespace vrax
