#include "recording/FrameQueue.h"

#include <chrono>
#include <cstring>
#include <new>

#include "sensor/Frame.h"

bool FrameQueueOpen(FrameQueue& queue, std::size_t slots, std::size_t frameBytes)
{
    queue.frameBytes = frameBytes;
    try {
        queue.pixels.assign(slots * frameBytes, 0);
        queue.slots.assign(slots, QueuedFrame{});
    } catch (const std::bad_alloc&) {
        queue.pixels = std::vector<BYTE>();
        queue.slots = std::vector<QueuedFrame>();
        return false;
    }
    for (std::size_t slot = 0; slot < slots; ++slot) {
        queue.slots[slot].pixels = queue.pixels.data() + slot * frameBytes;
    }
    queue.head = 0;
    queue.count = 0;
    queue.framesDropped = 0;
    return true;
}

bool FrameQueueHasRoom(FrameQueue& queue)
{
    std::lock_guard<std::mutex> lock(queue.lock);
    return queue.count < queue.slots.size();
}

bool FrameQueuePut(FrameQueue& queue, const RenderedFrame& frame, const BYTE* pixels, int copies,
                   bool repeats)
{
    std::size_t tail = 0;
    {
        std::lock_guard<std::mutex> lock(queue.lock);
        if (queue.count == queue.slots.size()) {
            queue.framesDropped += copies;
            return false;
        }
        tail = (queue.head + queue.count) % queue.slots.size();
    }
    // The tail slot is free and only this producer fills it, so the copy needs no lock.
    QueuedFrame& slot = queue.slots[tail];
    if (pixels != nullptr) {
        std::memcpy(slot.pixels, pixels, queue.frameBytes);
    } else {
        std::memset(slot.pixels, 0, queue.frameBytes);
    }
    slot.copies = copies;
    slot.repeats = repeats;
    slot.colorFrameNumber = frame.colorFrameNumber;
    slot.colorTimeMs = frame.colorTimeMs;
    slot.takenAt = frame.takenAt;
    slot.takenTicks = frame.takenTicks;
    slot.hasDepth = frame.depth != nullptr;
    slot.depthFrameNumber = frame.depthFrameNumber;
    slot.depthTimeMs = frame.depthTimeMs;
    slot.hasSkeletons = frame.skeletons != nullptr;
    if (slot.hasSkeletons) {
        slot.skeletons = *frame.skeletons;
    }
    {
        std::lock_guard<std::mutex> lock(queue.lock);
        ++queue.count;
    }
    queue.queued.notify_one();
    return true;
}

void FrameQueueCountDropped(FrameQueue& queue, int copies)
{
    std::lock_guard<std::mutex> lock(queue.lock);
    queue.framesDropped += copies;
}

QueuedFrame* FrameQueueFront(FrameQueue& queue, DWORD timeoutMs)
{
    std::unique_lock<std::mutex> lock(queue.lock);
    if (!queue.queued.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&queue] { return queue.count > 0; })) {
        return nullptr;
    }
    return &queue.slots[queue.head];
}

void FrameQueuePop(FrameQueue& queue)
{
    std::lock_guard<std::mutex> lock(queue.lock);
    if (queue.count > 0) {
        queue.head = (queue.head + 1) % queue.slots.size();
        --queue.count;
    }
}

int64_t FrameQueueDropped(FrameQueue& queue)
{
    std::lock_guard<std::mutex> lock(queue.lock);
    return queue.framesDropped;
}

int64_t FrameQueueQueuedFrames(FrameQueue& queue)
{
    std::lock_guard<std::mutex> lock(queue.lock);
    int64_t frames = 0;
    for (std::size_t i = 0; i < queue.count; ++i) {
        frames += queue.slots[(queue.head + i) % queue.slots.size()].copies;
    }
    return frames;
}
