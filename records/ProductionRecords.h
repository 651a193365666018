#pragma once

#include "programming/StationError.h"
#include "records/ProductionRecord.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vrax {

// Shown to the operator as it stands, as the station's other errors are. Every one names the
// records' file (or address).
class RecordsError : public StationError {
public:
    using StationError::StationError;
};

// The line database's server could not be reached, or stopped answering. A job that needs it
// (a serial number's reservation) fails before the mouse is touched; the next one tries again.
class RecordsUnreachable : public RecordsError {
public:
    using RecordsError::RecordsError;
};

// The line database refused what it was given, for its content (a value it does not take, a
// rule of the table): sent again, it would be refused again.
class RecordRefused : public RecordsError {
public:
    using RecordsError::RecordsError;
};

struct RecordFilter {
    // Records at or after this UTC time, "YYYY-MM-DDTHH:MM:SS.mmmZ" (UtcTimeOfText makes it
    // from what an operator types); empty: from the first.
    std::string since;
    std::optional<int> serialNumber;
};

// The writes of one IC type in one UTC hour.
struct WriteTally {
    std::string icType;
    std::string hour; // "YYYY-MM-DDTHH"
    long passes = 0;
    long fails = 0;
};

// The line report's aggregates; every one is computed where the records are.

// The writes of one station (factory, line and station number of its fields) in one UTC
// hour.
struct StationTally {
    int factory = 0;
    char line = 'A';
    int station = 0;
    std::string hour; // "YYYY-MM-DDTHH"
    long passes = 0;
    long fails = 0;
    std::string first; // the times of the earliest and latest of these writes
    std::string last;
};

// Failed operations of one kind that failed the same way.
struct FailureReason {
    std::string operation;
    std::string verdict;
    std::string error;
    long count = 0;
    std::string last; // the time of the latest
};

// Serial numbers stamped by "Write Pass" one after another, first to last, none missing.
struct SerialNumberRun {
    std::optional<int> productType; // none: passes of a version 1 file
    int first = 0;
    int last = 0;
};

// A serial number handed out and not yet settled, and the process that holds it.
struct Reservation {
    int productType = 0;
    int serialNumber = 0;
    std::string time; // when it was reserved
    std::string host; // empty when not known (reserved by a version 2 program)
    long long process = 0;
    // Its holder ended without the mouse's record: a mouse may carry the number, so it stays
    // taken for good.
    bool outcomeUnknown = false;
    // Of those, one whose mouse passed and whose record could not be stored: it is on a mouse.
    bool recordLost = false;
};

// An image approved for one product type: stations that build the product type write only
// approved images once the store holds any approval for it.
struct ImageApproval {
    int productType = 0;
    std::string imageSha256; // lower-case hexadecimal
    std::string imageFile;   // the file as the approver named it
    std::string approver;    // "user@host" of the approving process
    std::string time;        // UTC, when the store took it
};

inline constexpr int LargestSerialNumber = 0xFFFFFF;

// How long a call waits for the records (another station's transaction, the file's lock):
// at most WaitLimit from the call's start, wherever it waits, and once StopWaiting was called
// at most StopGrace more.
inline constexpr std::chrono::milliseconds RecordsWaitLimit{10000};
inline constexpr std::chrono::milliseconds RecordsStopGrace{2000};

// The records store in the slices its callers use. Each store implements them all as one
// ProductionRecords; a caller takes only the slice it needs. Every call throws RecordsError on
// failure, naming the store. Safe to call from any thread: a gang's workers share one store.

// The journal: a station appends one record per job. Append commits before it returns, so a
// record survives the process being killed right after.
class RecordJournal {
public:
    virtual ~RecordJournal() = default;
    virtual void Append(const ProductionRecord& record) = 0;
    // Before a job touches its mouse: refuses (RecordsError) a station number this station may
    // not record under, which the first record would otherwise find after the mouse is written.
    virtual void ProveStation(int /*factory*/, char /*line*/, int /*station*/) {}
};

// The serial numbers handed out, held and stamped, shared by every station of the store.
class SerialLedger {
public:
    virtual ~SerialLedger() = default;
    // Takes the lowest serial number above every one ever handed out or written for the
    // product type (a write without product type counts for every type), at least
    // firstSerial, and commits the reservation, so no other process sharing the store can
    // take it. Throws RecordsError when it would not fit 24 bits.
    virtual int ReserveSerialNumber(int productType, int firstSerial) = 0;
    // Reserves exactly this number for a write that is about to stamp it (the window's field,
    // the line without --serial next). Throws RecordsError naming "SN", the number, and when
    // and where it was stamped, when a "Write Pass" already holds it for the product type,
    // when another write holds it reserved (also one whose process is gone) or when its
    // outcome is unknown; nothing is reserved then.
    virtual void ClaimSerialNumber(int productType, int serialNumber) = 0;
    // Stamped: the mouse holds it; otherwise released (ReserveSerialNumber never hands a
    // released one out again; a claim may take it). Only a reservation is released: a number
    // of unknown outcome stays taken.
    virtual void SettleSerialNumber(int productType, int serialNumber, bool stamped) = 0;
    // The mouse passed with this number, but its record could not be stored: the number is on a
    // mouse with its record lost, never handed out again and listed as such (not as stamped,
    // which a pass record would show).
    virtual void SettleRecordLost(int productType, int serialNumber) = 0;
};

// Approved images. Approving is not a station's business: a store opened for approving
// (RecordsAccess::Approval) takes it, and may refuse it to a station's connection.
class ImageApprovals {
public:
    virtual ~ImageApprovals() = default;
    // Stores the approval of approval.imageSha256 for approval.productType, the time being the
    // store's own, and returns the approval as the store now holds it: an image already
    // approved for the product type keeps its first approval, which is returned unchanged.
    virtual ImageApproval ApproveImage(const ImageApproval& approval) = 0;
    // The approvals of the product type (of every product type when none is given), by
    // product type, then in the order they were given. An older store without approvals
    // answers none.
    virtual std::vector<ImageApproval> FindApprovals(std::optional<int> productType) = 0;
};

// What the reports read, computed where the records are: each costs what its answer holds,
// not the whole store.
class RecordQueries {
public:
    virtual ~RecordQueries() = default;
    virtual std::vector<ProductionRecord> Find(const RecordFilter& filter) = 0;
    // Writes per IC type and UTC hour, in that order.
    virtual std::vector<WriteTally> SummarizeWrites(const RecordFilter& filter) = 0;
    // The "Write Pass" records of every serial number that passed more than once, at least
    // once at or after filter.since (a pass without product type, from a version 1 file,
    // counts for every product type). RecordsReport's DuplicateSerialNumbers pairs them.
    virtual std::vector<ProductionRecord> FindRepeatedPasses(const RecordFilter& filter) = 0;
    // Every serial number reserved and not yet settled, and every one of unknown outcome, by
    // product type and number.
    virtual std::vector<Reservation> FindReservations() = 0;

    // The line report's aggregates. Each reads records at or after filter.since (and of
    // filter.serialNumber when set) and returns no more rows than its answer has groups.
    // The writes per station and UTC hour, ordered by factory, line, station, hour.
    virtual std::vector<StationTally> SummarizeStations(const RecordFilter& filter) = 0;
    // Every failed operation (a verdict other than "Write Pass", "Verify Pass", "Save Pass"
    // and "Read Ok"), grouped by operation, verdict and error; the limit groups with the most
    // records, most first.
    virtual std::vector<FailureReason> CountFailureReasons(const RecordFilter& filter,
                                                           int limit) = 0;
    // The serial numbers passed, as runs per product type (a number passed twice counts
    // once), ordered by product type (none last) and first number.
    virtual std::vector<SerialNumberRun> FindStampedRuns(const RecordFilter& filter) = 0;
};

// The store's life beside the jobs: proven when a station opens it, told to stop waiting when
// the line stops, asked at the end what still waits on this PC.
class RecordsLife {
public:
    virtual ~RecordsLife() = default;
    // Both called when a station opens the store (OpenProductionRecords does), before its first
    // mouse. ProveWritable commits a real change, so a store that cannot keep a record refuses
    // the station there.
    virtual void ProveWritable() = 0;
    // Settles the reservations this station's processes left when they ended: stamped when a
    // "Write Pass" record holds the number, otherwise of unknown outcome (the mouse may have
    // been written), never released. Another station's reservation is left alone: its pass
    // may still wait in that station's outbox. Returns how many it settled.
    virtual int SettleAbandonedReservations() = 0;
    // From now on no call waits more than RecordsStopGrace: the line calls it at its first
    // records failure and on Ctrl+C. Safe from any thread.
    virtual void StopWaiting() = 0;
    // Records kept on this PC until the store can take them (the line database's outbox), for
    // whichever server they wait.
    virtual long WaitingToSend() { return 0; }
    // What the store refused from there for its content, set aside so that the rest goes: one
    // line each, naming the mouse and why.
    virtual std::vector<std::string> SetAside() { return {}; }
    // A line database that went back in time (a backup restored), as stations found it and
    // its owner has not yet acknowledged: one line each. Until then it hands out no number.
    virtual std::vector<std::string> RestoreFindings() { return {}; }
    // The owner acknowledges those: every number a station remembered stays out of reach, and
    // numbers are handed out again. Returns what was acknowledged, one line each.
    // Passes stored, after a restore, for numbers that a station remembered taken before it:
    // the restore lost the first pass, so each such number is on two mice.
    virtual std::vector<ProductionRecord> PassesInRestoreGaps() { return {}; }
    virtual std::vector<std::string> AcknowledgeRestores() {
        throw RecordsError("only a line database can go back in time: there is nothing to "
                           "acknowledge in a file");
    }
};

// Where the stations keep what they did: one store, every slice.
class ProductionRecords : public RecordJournal,
                          public SerialLedger,
                          public ImageApprovals,
                          public RecordQueries,
                          public RecordsLife {};

// A station that keeps no records: --records none.
class NullProductionRecords final : public ProductionRecords {
public:
    void ProveWritable() override {}
    int SettleAbandonedReservations() override { return 0; }
    void Append(const ProductionRecord&) override {}
    std::vector<ProductionRecord> Find(const RecordFilter&) override { return {}; }
    std::vector<WriteTally> SummarizeWrites(const RecordFilter&) override { return {}; }
    std::vector<ProductionRecord> FindRepeatedPasses(const RecordFilter&) override { return {}; }
    std::vector<Reservation> FindReservations() override { return {}; }
    std::vector<StationTally> SummarizeStations(const RecordFilter&) override { return {}; }
    std::vector<FailureReason> CountFailureReasons(const RecordFilter&, int) override { return {}; }
    std::vector<SerialNumberRun> FindStampedRuns(const RecordFilter&) override { return {}; }
    int ReserveSerialNumber(int, int) override {
        throw RecordsError("serial numbers from the records need a records file");
    }
    void ClaimSerialNumber(int, int) override {}
    void SettleSerialNumber(int, int, bool) override {}
    void SettleRecordLost(int, int) override {}
    void StopWaiting() override {}

    ImageApproval ApproveImage(const ImageApproval&) override {
        throw RecordsError("approving an image needs a records store: give --records FILE");
    }
    std::vector<ImageApproval> FindApprovals(std::optional<int>) override { return {}; }
};

} // namespace vrax
