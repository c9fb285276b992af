#include "platform/NotificationCenter.h"

#include <algorithm>
#include <utility>

#include "platform/Backend.h"

namespace spatialmux::platform {

NotificationCenter& NotificationCenter::Default() {
    static NotificationCenter center;
    return center;
}

Subscription::Subscription(Subscription&& other) noexcept
    : center(std::exchange(other.center, nullptr)), token(std::exchange(other.token, 0)) {}

Subscription& Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        Reset();
        center = std::exchange(other.center, nullptr);
        token = std::exchange(other.token, 0);
    }
    return *this;
}

void Subscription::Reset() {
    if (center != nullptr) std::exchange(center, nullptr)->RemoveObserver(token);
    token = 0;
}

Subscription NotificationCenter::AddObserver(const std::string& name, Observer observer) {
    std::lock_guard<std::mutex> lock(mutex);
    const int token = nextToken++;
    entries.push_back(Entry{token, name, std::move(observer)});
    return Subscription(this, token);
}

void NotificationCenter::RemoveObserver(int token) {
    std::lock_guard<std::mutex> lock(mutex);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [token](const Entry& e) { return e.token == token; }),
                  entries.end());
}

void NotificationCenter::Post(const Notification& notification) {
    std::vector<Observer> observers;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Entry& entry : entries) {
            if (entry.name == notification.name) observers.push_back(entry.observer);
        }
    }
    for (const Observer& observer : observers) observer(notification);
}

void NotificationCenter::PostOnMainThread(Notification notification) {
    CurrentBackend().PostToMainThread([this, n = std::move(notification)]() { Post(n); });
}

}  // namespace spatialmux::platform
