#pragma once
// Decoding ahead for a live front end (the players, the editor's preview): one worker thread
// prepares the show's slides in order, as far as the front end has asked, so that drawing
// never waits on a decoder. The front end asks for slide 0 before the first picture, and for
// slide k + 1 once slide k shows; the show keeps at most two decoded pictures, the one that
// shows and the next. A picture that cannot be decoded is left out by the show on the way.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "show/show.h"

namespace nimbrel::show {

class DecodeAhead {
public:
    // Runs on the worker thread after each slide is prepared, with the slide; once with -1 when
    // it turns out that nothing can be shown. Never called once Stop has returned.
    using ReadyCallback = std::function<void(std::int64_t slide)>;

    // Starts the worker for `show`, which must outlive this object.
    explicit DecodeAhead(Show& show, ReadyCallback ready = {});
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // Asks for every slide up to `slide`; asking for less than before changes nothing.
    void Request(std::int64_t slide);
    // The last slide prepared, -1 before the first.
    std::int64_t ReadySlide() const;
    // True once it is known that nothing can be shown (the worker has then ended).
    bool Failed() const;
    // Ends the worker. A decode under way is abandoned at its next band of rows, so this
    // returns promptly even in the middle of a large photo; the slides ready so far can still be
    // drawn, but the show prepares nothing more. Later calls do nothing.
    void Stop();

private:
    void Run();

    Show& show_;
    ReadyCallback ready_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::int64_t wanted_ = -1;
    std::int64_t lastReady_ = -1;
    bool failed_ = false;
    std::atomic<bool> stop_{false};
    std::thread worker_;  // last, so that it starts once everything above is set up
};

}  // namespace nimbrel::show
