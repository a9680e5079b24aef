#include "common/aPacketFifo.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;
using PacketPtr = std::unique_ptr<aPacket, aPacketDeleter>;

class SerialPacket {
public:
    SerialPacket(uint64_t id, PacketPtr packet) : id_(id), packet_(std::move(packet)) {}
    uint64_t getId() const { return id_; }
    const aPacket* getPacket() const { return packet_.get(); }

private:
    uint64_t id_;
    PacketPtr packet_;
};

struct packetFifo {
    std::deque<SerialPacket> queue;
    std::condition_variable condition;
    std::mutex lock;
    std::atomic<bool> alive{true};
    std::atomic<uint64_t> windowStart{0};
    std::atomic<uint64_t> nextNumber{0};
    bool woken = false;  // under lock

    void syncWindow() { windowStart = queue.empty() ? nextNumber.load() : queue.front().getId(); }

    void clearAndSyncWindow() {
        queue.clear();
        syncWindow();
    }

    void eraseAndSyncWindow(std::deque<SerialPacket>::iterator position) {
        queue.erase(position);
        syncWindow();
    }
};

using FifoPtr = std::shared_ptr<packetFifo>;

std::atomic<uint64_t> gpSequentialId{1};
std::map<aPacketFifoId, FifoPtr> gpPacketFifoDictionary;
std::mutex gpPacketFifoDictionaryMutex;

FifoPtr sGetFifo(aPacketFifoId number) {
    std::lock_guard<std::mutex> guard(gpPacketFifoDictionaryMutex);
    auto it = gpPacketFifoDictionary.find(number);
    return it == gpPacketFifoDictionary.end() ? nullptr : it->second;
}

FifoPtr sExtractFifo(aPacketFifoId number) {
    std::lock_guard<std::mutex> guard(gpPacketFifoDictionaryMutex);
    auto it = gpPacketFifoDictionary.find(number);
    if (it == gpPacketFifoDictionary.end()) return nullptr;
    FifoPtr fifo = std::move(it->second);
    gpPacketFifoDictionary.erase(it);
    return fifo;
}

/* A packet stays queued unless its copy for the caller could be made. */
aPacket* _stealPacketFromFifo(packetFifo& fifo, std::deque<SerialPacket>::iterator position) {
    aPacket* copy = aPacket_Copy(position->getPacket());
    if (copy) fifo.eraseAndSyncWindow(position);
    return copy;
}

Clock::time_point sDeadline(uint32_t timeoutMs) {
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

bool _waitUntilNotEmpty(packetFifo& fifo, std::unique_lock<std::mutex>& held, Clock::time_point deadline) {
    fifo.condition.wait_until(held, deadline,
                              [&] { return !fifo.queue.empty() || !fifo.alive || fifo.woken; });
    if (!fifo.queue.empty()) return true;
    fifo.woken = false;
    return false;
}

/* Offers each packet newer than the last one examined; returns the accepted one. */
std::deque<SerialPacket>::iterator sScan(packetFifo& fifo, aPacketFilter filter, void* ref, uint64_t& next) {
    for (auto it = fifo.queue.begin(); it != fifo.queue.end(); ++it) {
        if (it->getId() < next) continue;
        next = it->getId() + 1;
        if (filter(it->getPacket(), ref)) return it;
    }
    return fifo.queue.end();
}

aPacket* _waitUntilProcIsSatisfied(packetFifo& fifo, std::unique_lock<std::mutex>& held, aPacketFilter filter,
                                   void* ref, Clock::time_point deadline) {
    uint64_t next = fifo.windowStart;
    for (;;) {
        auto found = sScan(fifo, filter, ref, next);
        if (found != fifo.queue.end()) return _stealPacketFromFifo(fifo, found);
        if (!fifo.alive) return nullptr;
        if (fifo.condition.wait_until(held, deadline) == std::cv_status::timeout) {
            found = sScan(fifo, filter, ref, next);
            return found == fifo.queue.end() ? nullptr : _stealPacketFromFifo(fifo, found);
        }
    }
}

}  // namespace

aPacketFifoId aPacketFifo_Create() {
    try {
        std::lock_guard<std::mutex> guard(gpPacketFifoDictionaryMutex);
        aPacketFifoId number = gpSequentialId++;
        if (number == 0) number = gpSequentialId++;
        gpPacketFifoDictionary.emplace(number, std::make_shared<packetFifo>());
        return number;
    } catch (...) {
        return 0;
    }
}

aErr aPacketFifo_Destroy(aPacketFifoId& number) {
    try {
        FifoPtr fifo = sExtractFifo(number);
        if (!fifo) return aErrNotFound;
        {
            std::lock_guard<std::mutex> guard(fifo->lock);
            fifo->clearAndSyncWindow();
            fifo->alive = false;
        }
        fifo->condition.notify_all();
        number = 0;
        return aErrNone;
    } catch (...) {
        return aErrUnknown;
    }
}

size_t aPacketFifo_GetLength(aPacketFifoId number) {
    FifoPtr fifo = sGetFifo(number);
    if (!fifo) return 0;
    std::lock_guard<std::mutex> guard(fifo->lock);
    return fifo->queue.size();
}

aErr aPacketFifo_Put(aPacketFifoId number, const aPacket* packet) {
    FifoPtr fifo = sGetFifo(number);
    if (!fifo || !aPacket_IsValid(packet)) return aErrParam;
    std::unique_lock<std::mutex> held(fifo->lock);
    uint64_t id = fifo->nextNumber++;
    PacketPtr copy(aPacket_Copy(packet));
    if (!copy) return aErrParam;
    try {
        fifo->queue.emplace_back(id, std::move(copy));
    } catch (...) {
        return aErrResource;
    }
    fifo->syncWindow();
    if (fifo->queue.size() > aPACKETFIFO_CAPACITY) {
        // Nobody is reading: drop the backlog whole rather than serve stale packets.
        fifo->clearAndSyncWindow();
        return aErrNone;
    }
    held.unlock();
    fifo->condition.notify_all();
    return aErrNone;
}

aPacket* aPacketFifo_Get(aPacketFifoId number) {
    FifoPtr fifo = sGetFifo(number);
    if (!fifo) return nullptr;
    std::lock_guard<std::mutex> guard(fifo->lock);
    return fifo->queue.empty() ? nullptr : _stealPacketFromFifo(*fifo, fifo->queue.begin());
}

aPacket* aPacketFifo_Await(aPacketFifoId number, uint32_t timeoutMs) {
    FifoPtr fifo = sGetFifo(number);
    if (!fifo) return nullptr;
    auto deadline = sDeadline(timeoutMs);
    std::unique_lock<std::mutex> held(fifo->lock);
    if (!_waitUntilNotEmpty(*fifo, held, deadline)) return nullptr;
    return _stealPacketFromFifo(*fifo, fifo->queue.begin());
}

aPacket* aPacketFifo_GetFirst(aPacketFifoId number, aPacketFilter filter, void* ref) {
    FifoPtr fifo = sGetFifo(number);
    if (!fifo || !filter) return nullptr;
    std::lock_guard<std::mutex> guard(fifo->lock);
    uint64_t next = 0;
    auto found = sScan(*fifo, filter, ref, next);
    return found == fifo->queue.end() ? nullptr : _stealPacketFromFifo(*fifo, found);
}

aPacket* aPacketFifo_AwaitFirst(aPacketFifoId number, aPacketFilter filter, void* ref, uint32_t timeoutMs) {
    FifoPtr fifo = sGetFifo(number);
    if (!fifo || !filter) return nullptr;
    auto deadline = sDeadline(timeoutMs);
    std::unique_lock<std::mutex> held(fifo->lock);
    return _waitUntilProcIsSatisfied(*fifo, held, filter, ref, deadline);
}

size_t aPacketFifo_DrainPackets(aPacketFifoId number, aPacketFilter filter, void* ref) {
    FifoPtr fifo = sGetFifo(number);
    if (!fifo || !filter) return 0;
    std::lock_guard<std::mutex> guard(fifo->lock);
    size_t before = fifo->queue.size();
    std::erase_if(fifo->queue, [&](const SerialPacket& p) { return filter(p.getPacket(), ref) != 0; });
    fifo->syncWindow();
    return before - fifo->queue.size();
}

aErr aPacketFifo_Wake(aPacketFifoId number) {
    FifoPtr fifo = sGetFifo(number);
    if (!fifo) return aErrParam;
    {
        std::lock_guard<std::mutex> guard(fifo->lock);
        fifo->woken = true;
    }
    fifo->condition.notify_all();
    return aErrNone;
}
