#include "platform/library_events.h"

#include <utility>

#include "platform/text_encoding.h"

namespace velmora {

LibraryEventQueue& LibraryEventQueue::process() {
    static LibraryEventQueue queue;
    return queue;
}

void LibraryEventQueue::push(LibraryEvent event) {
    std::lock_guard guard(mutex_);
    if (events_.size() >= capacity) {
        ++dropped_;
        return;
    }
    events_.push_back(std::move(event));
}

LibraryEventBatch LibraryEventQueue::take() {
    LibraryEventBatch batch;
    {
        std::lock_guard guard(mutex_);
        batch.events.swap(events_);
        batch.dropped = std::exchange(dropped_, 0);
    }
    for (LibraryEvent& event : batch.events) {
        if (auto* reply = std::get_if<LibraryReply>(&event)) {
            reply->message = cp1251ToUtf8(reply->message);
        } else if (auto* order = std::get_if<LibraryOrder>(&event)) {
            order->classCode = cp1251ToUtf8(order->classCode);
            order->secCode = cp1251ToUtf8(order->secCode);
        }
    }
    return batch;
}

}  // namespace velmora
