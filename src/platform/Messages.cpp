#include "Messages.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace platform {
namespace {

const QEvent::Type MessageEventType = QEvent::Type(QEvent::registerEventType());

struct MessageEvent : QEvent {
    MessageEvent(WindowId w, unsigned m, uintptr_t wp, intptr_t lp)
        : QEvent(MessageEventType), window(w), msg(m), wParam(wp), lParam(lp) {}
    WindowId window;
    unsigned msg;
    uintptr_t wParam;
    intptr_t lParam;
};

// Receives every posted message and hands it to its window's procedure. All
// messages go through this one object, so Qt keeps them in posting order.
class MessageHub : public QObject {
public:
    std::mutex lock;
    std::map<WindowId, std::shared_ptr<WindowProc>> windows;
    WindowId lastId = 0;

    std::shared_ptr<WindowProc> Find(WindowId w) {
        std::lock_guard<std::mutex> guard(lock);
        auto it = windows.find(w);
        return it == windows.end() ? nullptr : it->second;
    }

protected:
    void customEvent(QEvent* e) override {
        if (e->type() != MessageEventType) return;
        auto* m = static_cast<MessageEvent*>(e);
        // Held by this call, so a procedure may destroy its own window.
        if (std::shared_ptr<WindowProc> proc = Find(m->window))
            (*proc)(m->msg, m->wParam, m->lParam);
    }
};

MessageHub& Hub() {
    static MessageHub* hub = new MessageHub; // lives until the process ends
    return *hub;
}

} // namespace

WindowId createMessageWindow(WindowProc proc) {
    MessageHub& hub = Hub();
    std::lock_guard<std::mutex> guard(hub.lock);
    WindowId id = ++hub.lastId;
    hub.windows[id] = std::make_shared<WindowProc>(std::move(proc));
    return id;
}

void destroyMessageWindow(WindowId window) {
    std::shared_ptr<WindowProc> doomed; // released outside the lock
    MessageHub& hub = Hub();
    std::lock_guard<std::mutex> guard(hub.lock);
    auto it = hub.windows.find(window);
    if (it == hub.windows.end()) return;
    doomed = std::move(it->second);
    hub.windows.erase(it);
}

bool isMessageWindow(WindowId window) {
    return Hub().Find(window) != nullptr;
}

bool postMessage(WindowId window, unsigned msg, uintptr_t wParam, intptr_t lParam) {
    if (!isMessageWindow(window)) return false;
    QCoreApplication::postEvent(&Hub(), new MessageEvent(window, msg, wParam, lParam));
    return true;
}

void postMessageLater(WindowId window, unsigned msg, uintptr_t wParam, intptr_t lParam,
                      unsigned ms) {
    QTimer::singleShot(int(ms), &Hub(),
                       [window, msg, wParam, lParam] { postMessage(window, msg, wParam, lParam); });
}

intptr_t sendMessage(WindowId window, unsigned msg, uintptr_t wParam, intptr_t lParam) {
    std::shared_ptr<WindowProc> proc = Hub().Find(window);
    return proc ? (*proc)(msg, wParam, lParam) : 0;
}

namespace {
std::atomic<bool> terminating{false};
std::once_flag quitHook;
} // namespace

bool applicationTerminating() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QCoreApplication::closingDown()) return true;
    std::call_once(quitHook, [app] {
        QObject::connect(app, &QCoreApplication::aboutToQuit, [] { terminating = true; });
    });
    return terminating;
}

void setApplicationTerminating(bool value) {
    terminating = value;
}

void pumpMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void waitForMessages(unsigned ms) {
    QAbstractEventDispatcher* dispatcher =
        QAbstractEventDispatcher::instance(QThread::currentThread());
    if (!dispatcher) return;
    // The timer bounds the blocking wait; any other event ends it sooner.
    QTimer limit;
    limit.setSingleShot(true);
    limit.start(int(ms));
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    pumpMessages();
}

} // namespace platform
