#pragma once

#include "Clock.h"
#include "HidPlatform.h"
#include "LinkProgress.h"
#include "MemoryLink.h"
#include "MouseMatch.h"
#include "MouseTypes.h"

#include <array>
#include <cstdint>
#include <string>

namespace vrax {

inline constexpr const char* NoAnswerReason = "No verdict: the mouse did not answer";

// One IC family's channel to its mice: everything the jobs ask of a mouse, whatever protocol
// carries it. Each row of the type table makes the link of its family; types of one family
// share one link per station.
//
// Threads: a link belongs to its station, and a station's jobs run on one thread (the window's,
// or one job thread per station or gang slot). Only that thread may call it; its progress
// callbacks come back on it. Links of different stations may run at once: each holds its own
// handles and buffers, and the HidPlatform they share guards itself.
class MouseLink : public MemoryLink {
public:
    // The largest chunk a family's data report may carry.
    static constexpr int MaxChunkSize = 64;

    ~MouseLink() override = default;
    MouseLink(const MouseLink&) = delete;
    MouseLink& operator=(const MouseLink&) = delete;

    // Opens the mouse with these IDs as the polling does; the type tells what else must match.
    virtual bool OpenMouse(const MouseType& type, int vendorId, int productId) = 0;
    // Closes and drops the device's handles.
    virtual void Forget() = 0;
    virtual bool IsOpen() const = 0;
    // The handle that names the mouse in the records; InvalidHandle when none is open.
    virtual HidHandle DeviceHandle() const = 0;

    // Checks that the mouse is the one the image was loaded for. A family that cannot tell
    // answers Match without a transfer. It may open a command sequence that EndSession closes.
    virtual MouseMatch Identify(const std::string& loadedTypeName) {
        static_cast<void>(loadedTypeName);
        return MouseMatch::Match;
    }
    // Closes what Identify opened; its results are not used.
    virtual void EndSession() {}
    // Why a job that showed no verdict ended, judged from the mouse's last status reply.
    virtual std::string NoVerdictReason() const { return NoAnswerReason; }

    // The platform's reason for the last transfer that failed since the last clear; empty when
    // none failed or the platform knows no reason.
    const std::string& LastTransferError() const { return lastTransferError_; }
    void ClearTransferError() { lastTransferError_.clear(); }

    // Both cut the transfer into chunks of the family's chunk size and stop at the first chunk
    // that does not travel: the bytes would otherwise pass as written or read while the mouse
    // never saw or sent them.
    bool ReadMemory(int address, int length, std::uint8_t* destination, int destinationSize) final;
    bool WriteMemory(int address, int length, const std::uint8_t* source) final;

protected:
    MouseLink(int chunkSize, LinkProgress& progress) : chunkSize_(chunkSize), progress_(progress) {}

    // Sends the setup of a read or write of length bytes at address.
    virtual bool BeginRead(int address, int length) = 0;
    virtual bool BeginWrite(int address, int length) = 0;
    // Fills chunk (0xFF beforehand) with the next chunk's bytes; false when they did not arrive.
    virtual bool ReadChunk(std::uint8_t* chunk) = 0;
    // Sends chunk; a short last chunk carries the previous chunk's bytes after its own.
    virtual bool WriteChunk(const std::uint8_t* chunk) = 0;
    // After a chunk's bytes are in place, before a written chunk goes out.
    virtual void ChunkPlaced() {}

    void KeepTransferError(const std::string& reason) { lastTransferError_ = reason; }
    LinkProgress& Progress() { return progress_; }

private:
    int chunkSize_;
    LinkProgress& progress_;
    std::string lastTransferError_;
    std::array<std::uint8_t, MaxChunkSize> chunk_{};
};

} // namespace vrax
