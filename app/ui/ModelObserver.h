#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace zorvane::ui {

// Calls `refresh` once per turn of the event loop after a watched object announced changes: a
// burst of changes in one operation redraws once, and the view reads the values after they were
// set whatever the moment the object announces them.
class ModelObserver : public QObject {
    Q_OBJECT
public:
    // Subscribes `notify` to an object's changes and returns what unsubscribes it.
    using Subscribe = std::function<std::function<void()>(std::function<void()> notify)>;

    ModelObserver(std::function<void()> refresh, QObject* parent);
    ~ModelObserver() override;

    void watch(const Subscribe& subscribe);
    // Subscribes to an object with addChangeObserver/removeChangeObserver (or addObserver/removeObserver),
    // held weakly: an object already gone is not unsubscribed from.
    template <typename T>
    void watchObservable(const std::shared_ptr<T>& object);

    // Runs the refresh now if one is pending (tests, and before a grab).
    void flush();

private:
    void schedule();

    std::function<void()> refresh_;
    std::vector<std::function<void()>> unsubscribers_;
    std::atomic<bool> scheduled_ {false}; // notifications may come from other threads
};

template <typename T>
void ModelObserver::watchObservable(const std::shared_ptr<T>& object)
{
    std::weak_ptr<T> weak = object;
    watch([weak](std::function<void()> notify) -> std::function<void()> {
        auto strong = weak.lock();
        if (!strong) return [] {};
        if constexpr (requires { strong->addChangeObserver(notify); }) {
            const auto token = strong->addChangeObserver(std::move(notify));
            return [weak, token] {
                if (auto o = weak.lock()) o->removeChangeObserver(token);
            };
        } else {
            const auto token = strong->addObserver(std::move(notify));
            return [weak, token] {
                if (auto o = weak.lock()) o->removeObserver(token);
            };
        }
    });
}

} // namespace zorvane::ui
