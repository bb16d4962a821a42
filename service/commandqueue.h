#pragma once

#include <QString>
#include <functional>
#include <sys/types.h>
#include <vector>

namespace kestro::service {

// One queued service message and whether its sender may order a shutdown (root, the
// service's own user, or the mailslot).
struct QueuedMessage {
    QString text;
    bool trusted = false;
    // Who sent it, as the kernel tells of the pipe's other end: the user (the mailslot's
    // senders count as root, who alone may write to it) and the program file it runs,
    // resolved; empty when not known.
    uid_t senderUid = 0;
    QString senderProgram;
    bool isEmpty() const { return text.isEmpty(); }
};

// The command queue: a growing list of slots from 0 to the last index, an empty text
// marking a free or done slot. Both ways in (pipe and mailslot) append; the queue worker
// works it off in passes. A message that repeats the one right before it is dropped.
class CommandQueue {
public:
    // Far more than any client sends between two passes; beyond it a flood is refused.
    static constexpr int kMaxSlots = 50000;
    // The texts waiting may take this much memory; beyond it a message is refused.
    static constexpr qint64 kMaxBytes = 4 * 1024 * 1024;

    CommandQueue();
    // False when the queue is full (in slots or in bytes).
    bool append(const QueuedMessage& message);
    // One pass over the slots up to the last index seen at its start.
    void work(const std::function<void(const QueuedMessage&)>& dispatch);
    int lastIndex() const { return last_; }
    int size() const { return int(slots_.size()); }

    qint64 bytes() const { return bytes_; }

private:
    void reset();
    void clearSlot(size_t index);
    std::vector<QueuedMessage> slots_;
    int last_ = 0;
    qint64 bytes_ = 0;
};

} // namespace kestro::service
