#pragma once

#include "programming/FactoryRecord.h"
#include "programming/JobOutcome.h"
#include "remote/JigStation.h"

#include <string>
#include <utility>
#include <vector>

namespace vrax {

// A job's end in the jig's words, the same whichever host runs the protocol.

// The verdict, reason, serial number, product type and duration the job ended with.
void TakeOutcome(JigChannelResult& result, const JobOutcome& outcome);

// For a job that did not pass (`outcome` null: it gave none): cancelled by the jig, not the
// image's mouse, or the job's own failure.
void SetFailure(JigChannelResult& result, const JobOutcome* outcome, bool cancelled);

// A factory read's fields as the reply names them: DATE, FACTORY, LINE, STATION.
std::vector<std::pair<std::string, std::string>> FactoryFieldsOf(const FactoryFields& fields);

} // namespace vrax
