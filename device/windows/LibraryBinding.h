#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vrax {

// A library bound at run time by name. The file is loaded once and its module kept; binding
// is all-or-nothing: when any listed operation is missing the library is released, every
// looked-up operation cleared and the request fails, so the next request tries again.
// Requests may come from several threads at once (a gang's); the operations are set before
// IsBound says true and stay until the binding goes.
class LibraryBinding {
public:
    using Operation = void (*)();

    // A bare file name is the system's library, loaded from the system folder and nowhere
    // else; a path (tests only) is loaded as it stands.
    explicit LibraryBinding(std::string fileName) : fileName_(std::move(fileName)) {}
    ~LibraryBinding();
    LibraryBinding(const LibraryBinding&) = delete;
    LibraryBinding& operator=(const LibraryBinding&) = delete;

    // The slot must outlive the binding; it holds the operation while bound, else nullptr.
    template <typename Function> void AddOperation(const char* name, Function*& slot) {
        slot = nullptr;
        operations_.push_back(
            {name, [&slot](Operation found) { slot = reinterpret_cast<Function*>(found); }});
    }

    // The first request loads and looks up; later ones only count and succeed.
    bool Request();
    void Release();

    bool IsBound() const { return module_.load(std::memory_order_acquire) != nullptr; }
    unsigned long UseCount() const;
    const std::string& FileName() const { return fileName_; }

private:
    struct Slot {
        const char* name;
        std::function<void(Operation)> assign;
    };

    void ClearOperations();

    std::string fileName_;
    mutable std::mutex mutex_; // the load and the count; no device call under it
    std::atomic<void*> module_{nullptr};
    unsigned long useCount_ = 0;
    std::vector<Slot> operations_;
};

} // namespace vrax
