// CNotificationQueue: notifications of the update worker on their way to a
// window's thread. The progress callback copies the record into the queue
// (the worker rewrites the record for the next notification) and returns at
// once: it never waits for the window, which may itself be waiting for the
// last-error lock the worker holds while it notifies.
//
// A notification that only redraws (download bytes, the unpacked or
// applied item, the pack-closing percentage) replaces one of the same code
// still waiting at the end of the queue, so a fast download cannot flood
// the window with redraws. Everything else (log lines, the end of the
// update, failures, the full-version notice) is kept, in order.
//
// Threads: Push on any thread; TakeAll on the window's thread.
#pragma once
#include <cstdint>
#include <mutex>
#include <vector>

#include "base/UpdateTypes.h"

class CNotificationQueue {
public:
    struct Item {
        int32_t code;
        UPDATE_CALLBACK_INFO info;
    };

    // Queues a copy of the record (null: a zeroed one). True when the
    // window must be woken to take it: the first push since the last
    // TakeAll; later pushes ride on that wake-up.
    bool Push(int32_t code, const UPDATE_CALLBACK_INFO* info);
    // Everything queued, oldest first. The next Push asks for a wake-up
    // again.
    std::vector<Item> TakeAll();
    // True once a failure notification (14) was pushed.
    bool SawFailure() const;

    // Whether the notification of code only redraws what a later one of
    // the same code redraws again.
    static bool IsRedrawOnly(int32_t code);

private:
    mutable std::mutex m_lock;
    std::vector<Item> m_items;
    bool m_wakePending = false;
    bool m_sawFailure = false;
};
