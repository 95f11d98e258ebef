#include "host/NotificationQueue.h"

bool CNotificationQueue::Push(int32_t code, const UPDATE_CALLBACK_INFO* info) {
    Item item{code, {}};
    if (info != nullptr) {
        item.info = *info;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    if (code == NOTIFY_UPDATE_FAILED) {
        m_sawFailure = true;
    }
    if (IsRedrawOnly(code) && !m_items.empty() && m_items.back().code == code) {
        m_items.back() = item;
    } else {
        m_items.push_back(item);
    }
    const bool wake = !m_wakePending;
    m_wakePending = true;
    return wake;
}

std::vector<CNotificationQueue::Item> CNotificationQueue::TakeAll() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_wakePending = false;
    std::vector<Item> items;
    items.swap(m_items);
    return items;
}

bool CNotificationQueue::SawFailure() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_sawFailure;
}

bool CNotificationQueue::IsRedrawOnly(int32_t code) {
    switch (code) {
        case NOTIFY_DOWNLOAD_PROGRESS:
        case NOTIFY_EXTRACT_FILE:
        case NOTIFY_APPLY_FILE:
        case NOTIFY_PERCENT:
            return true;
        default:
            return false;
    }
}
