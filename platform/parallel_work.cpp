#include "platform/parallel_work.h"

#include "platform/handles.h"

#include <atomic>
#include <exception>
#include <vector>

namespace uninst {

namespace {

// Enough to keep the server busy while each thread waits on it; more only
// queue behind one another. Below a small batch, starting threads costs more
// than it saves.
constexpr unsigned workerCount = 4;
constexpr std::size_t smallestShared = 64;
constexpr SIZE_T workerStack = 256 * 1024;

struct SharedWork {
    const std::function<bool(std::size_t)>& work;
    const std::size_t count;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stopped{false};
    // The first exception a call let out, for the calling thread to rethrow
    // once every thread has ended; the flag says who may write it.
    std::atomic<bool> caught{false};
    std::exception_ptr exception;
};

DWORD WINAPI worker(void* parameter) {
    auto& shared = *static_cast<SharedWork*>(parameter);
    while (!shared.stopped.load()) {
        const std::size_t i = shared.next.fetch_add(1);
        if (i >= shared.count)
            break;
        try {
            if (!shared.work(i))
                shared.stopped.store(true);
        } catch (...) {
            shared.stopped.store(true);
            if (!shared.caught.exchange(true))
                shared.exception = std::current_exception();
        }
    }
    return 0;
}

} // namespace

void forEachInParallel(std::size_t count, const std::function<bool(std::size_t)>& work) {
    SharedWork shared{work, count, {}, {}, {}, {}};
    std::vector<KernelHandle> threads;
    if (count >= smallestShared) {
        // Room for every thread before the first starts: a failed allocation
        // afterwards would leave running threads on a frame that is gone.
        threads.reserve(workerCount - 1);
        for (unsigned k = 1; k < workerCount; ++k) {
            // Without a thread the calling one does the work alone.
            KernelHandle thread(CreateThread(nullptr, workerStack, &worker, &shared,
                                             STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
            if (thread)
                threads.push_back(std::move(thread));
        }
    }
    worker(&shared);
    for (const KernelHandle& thread : threads)
        WaitForSingleObject(thread.get(), INFINITE);
    if (shared.exception)
        std::rethrow_exception(shared.exception);
}

} // namespace uninst
