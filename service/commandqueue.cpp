#include "service/commandqueue.h"

namespace kestro::service {

CommandQueue::CommandQueue() {
    reset();
}

namespace {

qint64 bytesOf(const QueuedMessage& message) {
    return qint64(message.text.size() + message.senderProgram.size()) * qint64(sizeof(QChar));
}

} // namespace

void CommandQueue::reset() {
    slots_.assign(1, QueuedMessage{});
    last_ = 0;
    bytes_ = 0;
}

void CommandQueue::clearSlot(size_t index) {
    bytes_ -= bytesOf(slots_[index]);
    slots_[index] = QueuedMessage{};
}

bool CommandQueue::append(const QueuedMessage& message) {
    if (bytes_ + bytesOf(message) > kMaxBytes)
        return false;
    if (!slots_[size_t(last_)].isEmpty()) {
        if (last_ + 1 >= kMaxSlots)
            return false;
        slots_.push_back(message);
        ++last_;
    } else {
        slots_[size_t(last_)] = message;
    }
    bytes_ += bytesOf(message);
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
            clearSlot(size_t(i) + 1);
        }
        if (!slots_[size_t(i)].isEmpty()) {
            const QueuedMessage message = slots_[size_t(i)];
            clearSlot(size_t(i));
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
