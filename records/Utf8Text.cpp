#include "records/Utf8Text.h"

#include "records/ProductionRecords.h"

namespace vrax {

std::string Utf8FileName(const std::string& name) {
#ifdef _WIN32
    return Utf8OfPlatformText(name);
#else
    if (!IsUtf8(name)) {
        throw RecordsError("File \"" + Utf8OfPlatformText(name) +
                           "\": its name is not UTF-8 text, which the records keep; rename the "
                           "file and start again (no mouse was touched)");
    }
    return name;
#endif
}

} // namespace vrax
