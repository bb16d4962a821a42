#include "service/commandqueue.h"

namespace kestro::service {

CommandQueue::CommandQueue() {
    reset();
}

void CommandQueue::reset() {
    slots_.assign(1, QueuedMessage{});
    last_ = 0;
}

bool CommandQueue::append(const QueuedMessage& message) {
    if (!slots_[size_t(last_)].isEmpty()) {
        if (last_ + 1 >= kMaxSlots)
            return false;
        slots_.push_back(message);
        ++last_;
    } else {
        slots_[size_t(last_)] = message;
    }
    return true;
}

void CommandQueue::work(const std::function<void(const QueuedMessage&)>& dispatch) {
    const int n = last_;
    int emptiesMet = 0;
    for (int i = 0; i <= n; ++i) {
        auto& slot = slots_[size_t(i)];
        if (last_ > 0 && i + 1 <= last_ && slots_[size_t(i) + 1].text == slot.text) {
            // An immediate repeat is dropped; a trusted sender's copy keeps its trust.
            slot.trusted = slot.trusted || slots_[size_t(i) + 1].trusted;
            slots_[size_t(i) + 1] = QueuedMessage{};
        }
        if (!slots_[size_t(i)].isEmpty()) {
            const QueuedMessage message = slots_[size_t(i)];
            slots_[size_t(i)] = QueuedMessage{};
            dispatch(message);
        }
        if (slots_[size_t(i)].isEmpty()) {
            if (emptiesMet >= last_) {
                reset();
                return;
            }
            ++emptiesMet;
        }
    }
}

} // namespace kestro::service
