#include "app/gesture/MotionGestureMonitor.h"

#include "app/core/Defaults.h"

#include <cmath>

namespace zorvane {

std::shared_ptr<MotionGestureMonitor> MotionGestureMonitor::create(
    std::shared_ptr<EventMonitors> eventMonitors, std::shared_ptr<UserDefaults> defaults, std::shared_ptr<MainQueue> mainQueue)
{
    return std::make_shared<MotionGestureMonitor>(Token {}, std::move(eventMonitors), std::move(defaults), std::move(mainQueue));
}

MotionGestureMonitor::MotionGestureMonitor(Token, std::shared_ptr<EventMonitors> eventMonitors,
    std::shared_ptr<UserDefaults> defaults, std::shared_ptr<MainQueue> mainQueue)
    : eventMonitors_(std::move(eventMonitors))
    , defaults_(std::move(defaults))
    , mainQueue_(std::move(mainQueue))
{
}

MotionGestureMonitor::~MotionGestureMonitor()
{
    stop();
}

void MotionGestureMonitor::start()
{
    if (started_) return;
    started_ = true;
    const std::weak_ptr<MotionGestureMonitor> weak = weak_from_this();
    // Observers run on the writer's thread: the change is applied on the main queue.
    const std::shared_ptr<MainQueue> mainQueue = mainQueue_;
    settingsObserver_ = defaults_->addObserver([weak, mainQueue](const std::string& key) {
        if (key != Defaults::activationEnabled) return;
        mainQueue->post([weak] {
            if (const auto self = weak.lock()) self->follow();
        });
    });
    follow();
}

void MotionGestureMonitor::stop()
{
    started_ = false;
    if (settingsObserver_) defaults_->removeObserver(*settingsObserver_);
    settingsObserver_.reset();
    removeMonitors();
}

void MotionGestureMonitor::follow()
{
    if (started_ && defaults_->boolForKey(Defaults::activationEnabled))
        installMonitors();
    else
        removeMonitors();
}

void MotionGestureMonitor::installMonitors()
{
    if (isWatching()) return;
    const std::weak_ptr<MotionGestureMonitor> weak = weak_from_this();
    const auto handler = [weak](const PointerMovement& movement) {
        if (const auto self = weak.lock()) self->handleMotion(movement);
    };
    globalMonitor_ = eventMonitors_->addGlobalPointerMovedMonitor(handler);
    localMonitor_ = eventMonitors_->addLocalPointerMovedMonitor(handler);
}

void MotionGestureMonitor::removeMonitors()
{
    if (globalMonitor_) eventMonitors_->removeMonitor(*globalMonitor_);
    if (localMonitor_) eventMonitors_->removeMonitor(*localMonitor_);
    globalMonitor_.reset();
    localMonitor_.reset();
}

void MotionGestureMonitor::handleMotion(const PointerMovement& movement)
{
    // Both settings are read on every movement so that a change applies at the next one.
    if (!defaults_->boolForKey(Defaults::activationEnabled)) return;
    // The movement's own time and place: a busy main thread handles several at once, and reading
    // the clock and the pointer now would turn a shake into identical samples.
    const double now = movement.uptime;
    if (lastTrigger_ && !(now - *lastTrigger_ > triggerPause)) return;

    const double threshold = defaults_->doubleForKey(Defaults::motionThreshold);
    // A damaged preference (NaN, infinite) would silently switch the gesture off.
    detector_.threshold = std::isfinite(threshold) ? threshold : Defaults::defaultMotionThreshold;

    if (!detector_.record(movement.location, now)) return;
    lastTrigger_ = now;
    const std::weak_ptr<MotionGestureMonitor> weak = weak_from_this();
    mainQueue_->post([weak] {
        const auto self = weak.lock();
        if (self && self->onTrigger) self->onTrigger();
    });
}

} // namespace zorvane
