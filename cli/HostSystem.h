#pragma once

namespace vrax {

bool StandardErrorIsTerminal();

} // namespace vrax
