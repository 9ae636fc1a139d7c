// The bounded queue between the render pass, which puts the frames that the recording's timeline
// calls for, and the writer thread, which alone hands them to the encoder. Its slots are
// allocated once per take; putting a frame copies it into a free slot and never waits, so the
// render pass never waits for the encoder. A frame that finds the queue full is dropped and
// counted.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "sensor/Frame.h"
#include "sensor/NuiApi.h"
#include "sensor/RenderLoop.h"

// 48 frames: 1.6 s at 30 a second, so an encoder may pause for a second without a frame lost;
// 59 MB of pixels.
constexpr std::size_t kFrameQueueSlots = 48;

// One slot: a frame of the queue's stream (a colour picture, or the depth that goes with it)
// that stands for `copies` consecutive video frames, and what is known of it.
struct QueuedFrame {
    BYTE* pixels = nullptr; // frameBytes, inside the queue's one block
    int copies = 0;
    bool repeats = false; // the first copy already repeats the colour picture before it
    DWORD colorFrameNumber = 0;
    int64_t colorTimeMs = 0;
    uint64_t takenAt = 0;
    int64_t takenTicks = 0;
    bool hasDepth = false;
    DWORD depthFrameNumber = 0;
    int64_t depthTimeMs = 0;
    bool hasSkeletons = false;
    NUI_SKELETON_FRAME skeletons = {};
};

struct FrameQueue {
    std::size_t frameBytes = 0;
    std::vector<BYTE> pixels;
    std::vector<QueuedFrame> slots;
    std::size_t head = 0;  // oldest queued slot
    std::size_t count = 0; // queued slots
    int64_t framesDropped = 0;
    std::mutex lock;
    std::condition_variable queued;
};

// Allocates `slots` slots of `frameBytes` each. False (and nothing held) when the memory can't
// be had.
bool FrameQueueOpen(FrameQueue& queue, std::size_t slots, std::size_t frameBytes = kFrameBytes);

// True when a put would find a free slot. Render thread: only it fills slots.
bool FrameQueueHasRoom(FrameQueue& queue);

// Render thread, the only producer: copies `pixels` (frameBytes; zeros when null) and what
// `frame` tells of it into a free slot as `copies` video frames, the first of which `repeats`
// the picture before it or not. Returns false, counting the frames as dropped, when every slot
// is taken.
bool FrameQueuePut(FrameQueue& queue, const RenderedFrame& frame, const BYTE* pixels, int copies,
                   bool repeats = false);

// Render thread: counts `copies` frames as dropped without putting any (another stream's queue
// was full, and the streams stay frame for frame alike).
void FrameQueueCountDropped(FrameQueue& queue, int copies);

// Writer thread, the only consumer: the oldest queued slot, waiting up to `timeoutMs` for one;
// null when none came. The slot stays the writer's until FrameQueuePop.
QueuedFrame* FrameQueueFront(FrameQueue& queue, DWORD timeoutMs);

// Writer thread: frees the slot that FrameQueueFront gave.
void FrameQueuePop(FrameQueue& queue);

// Frames dropped so far because the queue was full.
int64_t FrameQueueDropped(FrameQueue& queue);

// Video frames still queued (the sum of the queued slots' copies).
int64_t FrameQueueQueuedFrames(FrameQueue& queue);
