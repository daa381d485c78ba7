#include "engine/LogEntry.h"

#include <mutex>
#include <new>

IMPLEMENT_DYNAMIC(CLogEntry, CObject)

namespace LogEntryMemory {
namespace {

// Each block starts with a header that tells its size, and links it while it waits for reuse.
struct alignas(__STDCPP_DEFAULT_NEW_ALIGNMENT__) Header {
    std::size_t size;  // the whole block's, header included
    Header* next;
};

// How many blocks move between a thread and the shared store at once, how many a thread
// keeps, and how many batches the shared store holds (so the memory kept for reuse stays
// bounded: 1.25 MiB shared, 20 KiB a thread).
constexpr std::size_t kBatch = 32;
constexpr std::size_t kMostKept = 2 * kBatch;
constexpr std::size_t kSharedBatches = 128;

// A chain of blocks linked through their headers.
struct Chain {
    Header* first = nullptr;
    std::size_t count = 0;

    void Push(Header* block) {
        block->next = first;
        first = block;
        ++count;
    }
    Header* Pop() {
        Header* block = first;
        first = block->next;
        --count;
        // The next block was last written by the thread that freed it: fetch it now, so the
        // next entry does not wait for it.
        if (first != nullptr) {
            for (std::size_t line = 0; line < kBlockSize; line += 64)
                __builtin_prefetch(reinterpret_cast<char*>(first) + line, 1);
        }
        return block;
    }
    void FreeAll() {
        while (first != nullptr) {
            Header* next = first->next;
            ::operator delete(first);
            first = next;
        }
        count = 0;
    }
};

// Whole batches (chains of kBatch blocks), moved in and out without touching their blocks.
struct SharedStore {
    std::mutex mutex;
    std::size_t count = 0;
    Header* batches[kSharedBatches] = {};
};

// Never destroyed: threads that end after the process's static destructors still give back.
SharedStore& Shared() {
    static SharedStore* store = new SharedStore;
    return *store;
}

// A thread's own blocks, freed when the thread ends. An entry freed later in the thread's
// end (by another thread-local object's destructor) goes straight to the heap.
struct ThreadBlocks {
    Chain blocks;
    bool ended = false;
    ~ThreadBlocks() {
        blocks.FreeAll();
        ended = true;
    }
};

thread_local ThreadBlocks t_blocks;

}  // namespace

void* Allocate(std::size_t bytes) {
    static_assert(sizeof(Header) <= kBlockSize);
    if (bytes > kBlockSize - sizeof(Header)) {
        auto* block = static_cast<Header*>(::operator new(sizeof(Header) + bytes));
        block->size = sizeof(Header) + bytes;
        return block + 1;
    }
    Chain& mine = t_blocks.blocks;
    if (mine.count == 0 && !t_blocks.ended) {
        SharedStore& shared = Shared();
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (shared.count != 0) {
            mine.first = shared.batches[--shared.count];
            mine.count = kBatch;
        }
    }
    if (mine.count != 0)
        return mine.Pop() + 1;
    auto* block = static_cast<Header*>(::operator new(kBlockSize));
    block->size = kBlockSize;
    return block + 1;
}

void Free(void* storage) noexcept {
    if (storage == nullptr)
        return;
    Header* block = static_cast<Header*>(storage) - 1;
    if (block->size != kBlockSize || t_blocks.ended) {
        ::operator delete(block);
        return;
    }
    Chain& mine = t_blocks.blocks;
    mine.Push(block);
    if (mine.count < kMostKept)
        return;
    // The kBatch blocks freed last leave as one batch; the rest stay.
    Header* batch = mine.first;
    Header* last = batch;
    for (std::size_t i = 1; i < kBatch; ++i)
        last = last->next;
    mine.first = last->next;
    mine.count -= kBatch;
    last->next = nullptr;
    {
        SharedStore& shared = Shared();
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (shared.count < kSharedBatches) {
            shared.batches[shared.count++] = batch;
            return;
        }
    }
    Chain full{batch, kBatch};  // the shared store is full
    full.FreeAll();
}

}  // namespace LogEntryMemory
