#include "base/MainLoop.h"

#include "base/GLibMainLoop.h"

#include <condition_variable>
#include <mutex>

namespace quorvel {

namespace {

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<MainLoop>& sharedSlot() {
    static std::shared_ptr<MainLoop> loop;
    return loop;
}

} // namespace

void MainLoop::invokeSync(const std::function<void()>& task) {
    if (isMainThread()) {
        task();
        return;
    }
    struct Rendezvous {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    auto rendezvous = std::make_shared<Rendezvous>();
    post([rendezvous, &task] {
        task();
        std::lock_guard lock(rendezvous->mutex);
        rendezvous->finished = true;
        rendezvous->done.notify_all();
    });
    std::unique_lock lock(rendezvous->mutex);
    rendezvous->done.wait(lock, [&] { return rendezvous->finished; });
}

MainLoop& MainLoop::shared() {
    return *sharedPointer();
}

std::shared_ptr<MainLoop> MainLoop::sharedPointer() {
    std::lock_guard lock(sharedMutex());
    auto& loop = sharedSlot();
    if (!loop) {
        loop = std::make_shared<GLibMainLoop>();
    }
    return loop;
}

void MainLoop::setShared(std::shared_ptr<MainLoop> loop) {
    std::lock_guard lock(sharedMutex());
    sharedSlot() = std::move(loop);
}

} // namespace quorvel
