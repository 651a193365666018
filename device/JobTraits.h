#pragma once

namespace vrax {

// What the station's jobs do with a type's mice beyond moving memory through its link.
struct JobTraits {
    // The write job makes Total Times passes, stamps the factory record when Write Product ID
    // is on, and reads the write back Retry Times times; otherwise it makes one pass and one
    // retry and leaves the record alone.
    bool checkedWrite = false;
    // The Custom data format, its ranges of addresses written one by one.
    bool customRanges = false;
    // Verify reads 256-byte blocks and passes over the factory record; otherwise it reads the
    // whole memory at once and compares every byte.
    bool verifyInBlocks = false;
    // The write verdict shows in lime at 36 points; otherwise as the other jobs' verdicts do.
    bool largeWriteVerdict = false;
};

} // namespace vrax
