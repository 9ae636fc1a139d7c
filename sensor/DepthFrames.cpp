#include "sensor/DepthFrames.h"

#include <algorithm>

bool DepthFrames::Held(int slot) const
{
    return slot == current_ ||
           std::find(waiting_.begin(), waiting_.begin() + waitingCount_, slot) !=
               waiting_.begin() + waitingCount_;
}

int DepthFrames::PromoteOldestWaiting()
{
    const int previous = current_;
    current_ = waiting_[0];
    std::copy(waiting_.begin() + 1, waiting_.begin() + waitingCount_, waiting_.begin());
    --waitingCount_;
    return previous;
}

USHORT* DepthFrames::NextBuffer()
{
    next_ = 0;
    while (next_ < kSlots && Held(next_)) {
        ++next_;
    }
    if (next_ == kSlots) {
        // Every buffer held: the oldest waiting frame becomes the current one, and the current
        // one's buffer takes the new frame.
        next_ = PromoteOldestWaiting();
        if (next_ < 0) {
            next_ = PromoteOldestWaiting();
        }
    }
    return pixels_[next_].data();
}

void DepthFrames::Taken(DWORD number, int64_t timeMs)
{
    frames_[next_] = {pixels_[next_].data(), number, timeMs};
    waiting_[waitingCount_++] = next_;
}

const DepthFrame* DepthFrames::MatchTo(int64_t colorTimeMs)
{
    // The newest of them, not the first: after the sensor restarts its clock, frames taken
    // before may still wait with larger stamps.
    int match = -1;
    for (int i = 0; i < waitingCount_; ++i) {
        if (frames_[waiting_[i]].timeMs <= colorTimeMs) {
            match = i;
        }
    }
    if (match >= 0) {
        current_ = waiting_[match];
        std::copy(waiting_.begin() + match + 1, waiting_.begin() + waitingCount_,
                  waiting_.begin());
        waitingCount_ -= match + 1;
    }
    return current_ >= 0 ? &frames_[current_] : nullptr;
}

void DepthFrames::Clear()
{
    current_ = -1;
    waitingCount_ = 0;
}
