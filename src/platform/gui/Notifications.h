// Desktop notifications: the small messages a desktop shows for a moment in
// a corner, here through the org.freedesktop.Notifications service on the
// session bus. The program gets the real service; tests install a double.
#pragma once

#include <memory>
#include <string>

namespace platform {

class Notifier {
public:
    virtual ~Notifier() = default;
    // Shows a notification; false when no notification service took it, so
    // that the caller can say it another way. With a link, the notification
    // offers to open it.
    virtual bool Notify(const std::string& summary, const std::string& body,
                        const std::string& link = {}) = 0;
};

// The installed notifier; the desktop's service unless a test installed one.
Notifier& notifier();
// Replaces the notifier (null: back to the desktop's service).
void installNotifier(std::unique_ptr<Notifier> replacement);
// The service on the bus at busAddress rather than the session's.
std::unique_ptr<Notifier> createBusNotifier(const std::string& busAddress);

} // namespace platform
