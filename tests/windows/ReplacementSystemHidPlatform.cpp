#include "device/SystemHidPlatform.h"
#include "device/windows/WindowsHidPlatform.h"
#include "tests/windows/WineTestSupport.h"

// Linked into the command-line program the Wine tests run, in place of the station's own
// definition: this one binds the replacement libraries beside the program, which the
// station's program never looks at.
namespace vrax {

std::unique_ptr<HidPlatform> MakeSystemHidPlatform() {
    return std::make_unique<WindowsHidPlatform>(wine::ReplacementLibraryFiles());
}

} // namespace vrax
