#include "lifecycle/LifecycleNotificationCenter.h"

#include <algorithm>

namespace quorvel {

struct LocalNotificationCenter::Entry {
    std::string name;
    std::function<void()> handler;
    bool active = true;
};

class LocalNotificationCenter::Token : public Observation {
public:
    Token(std::weak_ptr<LocalNotificationCenter> center, std::shared_ptr<Entry> entry)
        : center_(std::move(center)), entry_(std::move(entry)) {}
    ~Token() override {
        // Inactive at once, so a post that is under way skips it.
        entry_->active = false;
        if (auto center = center_.lock())
            std::erase(center->entries_, entry_);
    }

private:
    std::weak_ptr<LocalNotificationCenter> center_;
    std::shared_ptr<Entry> entry_;
};

std::shared_ptr<LocalNotificationCenter> LocalNotificationCenter::create() {
    return std::shared_ptr<LocalNotificationCenter>(new LocalNotificationCenter());
}

ObservationHandle LocalNotificationCenter::observe(std::string_view name,
                                                   std::function<void()> handler) {
    auto entry = std::make_shared<Entry>(Entry{std::string(name), std::move(handler), true});
    entries_.push_back(entry);
    return std::make_unique<Token>(weak_from_this(), entry);
}

void LocalNotificationCenter::post(std::string_view name) {
    // Handlers may subscribe or cancel while the notification is delivered.
    auto entries = entries_;
    for (const auto& entry : entries) {
        if (entry->active && entry->name == name)
            entry->handler();
    }
}

} // namespace quorvel
