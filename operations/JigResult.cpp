#include "operations/JigResult.h"

#include "operations/CancellableHidPlatform.h"

#include <cstdio>

namespace vrax {

namespace {

RemoteError FailureOf(JigJob job) {
    switch (job) {
    case JigJob::Write:
        return RemoteError::WriteFail;
    case JigJob::Verify:
        return RemoteError::VerifyFail;
    case JigJob::FactoryRead:
        return RemoteError::ReadFail;
    }
    return RemoteError::Unknown;
}

} // namespace

void TakeOutcome(JigChannelResult& result, const JobOutcome& outcome) {
    result.verdict = VerdictText(outcome);
    result.reason = outcome.reason;
    result.serialNumber = outcome.serialNumber;
    result.productType = outcome.productType;
    result.durationMs = outcome.durationMs;
}

void SetFailure(JigChannelResult& result, const JobOutcome* outcome, bool cancelled) {
    result.error = cancelled                                      ? RemoteError::Cancelled
                   : outcome != nullptr && outcome->mouseMismatch ? RemoteError::Mismatch
                                                                  : FailureOf(result.job);
    if (cancelled) {
        result.reason = CancellableHidPlatform::CancelledText;
    }
}

std::vector<std::pair<std::string, std::string>> FactoryFieldsOf(const FactoryFields& fields) {
    const auto number = [](int value, int digits) {
        char text[16];
        std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
        return std::string(text);
    };
    const auto item = [](int position, char first, int count) {
        return position >= 0 && position < count
                   ? std::string(1, static_cast<char>(first + position))
                   : std::string("-");
    };
    return {{"DATE", number(fields.date, 8)},
            {"FACTORY", item(fields.factoryIndex, '1', 8)},
            {"LINE", item(fields.lineIndex, 'A', 26)},
            {"STATION", item(fields.stationIndex, '1', 8)}};
}

} // namespace vrax
