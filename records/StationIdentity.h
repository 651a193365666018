#pragma once

#include <string>

namespace vrax {

// The name a station's reservations are held under in the line database: random, made once
// beside its outbox (FOLDER/outbox.station for FOLDER/outbox.sqlite) and kept there, so two
// users of one PC, or two PCs cloned under one host name, never pass for each other. Throws
// RecordsError naming the file when it can be neither read nor made.
std::string StationIdentityBeside(const std::string& outboxPath);

} // namespace vrax
