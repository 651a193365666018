#pragma once

namespace vrax {

// What a link tells whoever runs it while it moves a memory transfer chunk by chunk. That code
// decides what to show and when the rest of the program gets a turn; the link only reports.
class LinkProgress {
public:
    virtual ~LinkProgress() = default;

    // Chunk `done` of `total` is about to move; `done` chunks have moved so far.
    virtual void ChunkStarting(int done, int total) = 0;
    // A point inside a chunk where the caller may let other work run.
    virtual void Idle() = 0;
};

// For code that watches no transfer.
class NoLinkProgress final : public LinkProgress {
public:
    void ChunkStarting(int, int) override {}
    void Idle() override {}
};

} // namespace vrax
