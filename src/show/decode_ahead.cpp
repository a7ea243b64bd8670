#include "show/decode_ahead.h"

#include <algorithm>

namespace nimbrel::show {

DecodeAhead::DecodeAhead(Show& show, ReadyCallback ready)
    : show_(show), ready_(std::move(ready)), worker_([this] { Run(); }) {}

DecodeAhead::~DecodeAhead() {
    Stop();
}

void DecodeAhead::Request(std::int64_t slide) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (slide <= wanted_) return;
    wanted_ = slide;
    wake_.notify_one();
}

std::int64_t DecodeAhead::ReadySlide() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastReady_;
}

bool DecodeAhead::Failed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

void DecodeAhead::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        wake_.notify_one();
    }
    if (worker_.joinable()) worker_.join();
}

void DecodeAhead::Run() {
    std::int64_t done = -1;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || wanted_ > done; });
            if (stop_) return;
        }
        const std::int64_t slide = done + 1;
        const bool prepared = show_.Prepare(slide, &stop_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) return;
            if (prepared) {
                lastReady_ = slide;
                done = slide;
            } else {
                failed_ = true;
            }
        }
        if (ready_) ready_(prepared ? slide : -1);
        // Nothing showable: the background stays.
        if (!prepared) return;
    }
}

}  // namespace nimbrel::show
