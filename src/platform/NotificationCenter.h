#pragma once
// Named notifications between the conversion and whatever observes it (the
// progress window, the console progress line, tests). Observers run on the
// main thread: posters on other threads hand notifications over with
// PostOnMainThread, which keeps the order in which one thread posts them.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace spatialmux::platform {

inline constexpr const char* kForOrderFrontNotification = "ForOrderFront_Notification";
inline constexpr const char* kProgressUpdateNotification = "ProgressUpdate_Notification";
inline constexpr const char* kForOrderOutNotification = "ForOrderOut_Notification";
inline constexpr const char* kPhaseUpdateNotification = "PhaseUpdate_Notification";

struct Notification {
    std::string name;
    // ForOrderFront_Notification: input path, output path, temporary WAV path.
    std::vector<std::string> paths;
    // ProgressUpdate_Notification: the percentage of the whole conversion.
    float number = 0.0f;
    // PhaseUpdate_Notification: the step the conversion has reached ("audio",
    // "remux", "edit", "metadata", "verify").
    std::string text{};
};

class NotificationCenter;

// One observer's place in a center: the observer is removed when its
// subscription is destroyed or reset. Move-only; must not outlive its center.
class Subscription {
public:
    Subscription() = default;
    ~Subscription() { Reset(); }
    Subscription(Subscription&& other) noexcept;
    Subscription& operator=(Subscription&& other) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    // Removes the observer now; no notification reaches it afterwards.
    void Reset();
    bool Active() const { return center != nullptr; }

private:
    friend class NotificationCenter;
    Subscription(NotificationCenter* owner, int id) : center(owner), token(id) {}

    NotificationCenter* center = nullptr;
    int token = 0;
};

class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;

    static NotificationCenter& Default();

    // The observer receives the notifications of `name` while the returned
    // subscription lives.
    [[nodiscard]] Subscription AddObserver(const std::string& name, Observer observer);
    // Delivers to the observers of the name now, on the calling thread, in
    // the order they were added.
    void Post(const Notification& notification);
    // Hands the notification to the main thread without waiting.
    void PostOnMainThread(Notification notification);

private:
    friend class Subscription;
    void RemoveObserver(int token);

    struct Entry {
        int token;
        std::string name;
        Observer observer;
    };
    std::mutex mutex;
    std::vector<Entry> entries;
    int nextToken = 1;
};

}  // namespace spatialmux::platform
