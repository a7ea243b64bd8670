#include "imaging/row_bands.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace nimbrel::imaging {

namespace {

int Cores() {
    static const int cores = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    return cores;
}

class BandPool {
public:
    explicit BandPool(int helpers) {
        // The helpers wait for work for the process's whole life: the pool is never destroyed, so
        // nothing they wait on goes away while a process ends.
        for (int i = 0; i < helpers; ++i) std::thread([this] { Serve(); }).detach();
        helpers_ = helpers;
    }

    bool Run(int rows, int band, int threads, const std::function<void(int, int)>& work) {
        std::unique_lock<std::mutex> turn(busy_, std::try_to_lock);
        if (!turn.owns_lock()) return false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            work_ = &work;
            rows_ = rows;
            band_ = band;
            next_.store(0);
            joiners_ = std::min(threads - 1, helpers_);
            ++job_;
        }
        wake_.notify_all();
        Take(work, rows, band);
        std::unique_lock<std::mutex> lock(mutex_);
        // Helpers that have not started by now find nothing left: only those at work are waited for.
        work_ = nullptr;
        done_.wait(lock, [this] { return working_ == 0; });
        return true;
    }

private:
    void Take(const std::function<void(int, int)>& work, int rows, int band) {
        for (;;) {
            const int first = next_.fetch_add(band);
            if (first >= rows) return;
            work(first, std::min(rows, first + band));
        }
    }

    void Serve() {
        std::uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return job_ != seen; });
            seen = job_;
            if (work_ == nullptr || joiners_ <= 0) continue;
            --joiners_;
            ++working_;
            const std::function<void(int, int)>& work = *work_;
            const int rows = rows_, band = band_;
            lock.unlock();
            Take(work, rows, band);
            lock.lock();
            if (--working_ == 0) done_.notify_all();
        }
    }

    std::mutex busy_;  // held by the caller whose work the pool does
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void(int, int)>* work_ = nullptr;
    int rows_ = 0, band_ = 1;
    std::atomic<int> next_{0};
    int joiners_ = 0;  // helpers still to join the work
    int working_ = 0;  // helpers at it
    std::uint64_t job_ = 0;
    int helpers_ = 0;
};

}  // namespace

int BandThreadsFor(long long pixels) {
    return pixels > kSharedFramePixels ? Cores() : 1;
}

void RunInBands(int rows, int band, int threads, const std::function<void(int first, int last)>& work) {
    band = std::max(band, 1);
    if (rows <= 0) return;
    threads = std::min(threads, Cores());
    if (threads > 1 && rows > band) {
        static BandPool* const pool = new BandPool(Cores() - 1);
        if (pool->Run(rows, band, threads, work)) return;
    }
    for (int first = 0; first < rows; first += band) work(first, std::min(rows, first + band));
}

}  // namespace nimbrel::imaging
