#include "app/ui/ModelObserver.h"

#include <QMetaObject>

namespace zorvane::ui {

ModelObserver::ModelObserver(std::function<void()> refresh, QObject* parent) : QObject(parent), refresh_(std::move(refresh)) {}

ModelObserver::~ModelObserver()
{
    for (auto& unsubscribe : unsubscribers_) unsubscribe();
}

void ModelObserver::watch(const Subscribe& subscribe)
{
    unsubscribers_.push_back(subscribe([this] { schedule(); }));
}

void ModelObserver::schedule()
{
    if (scheduled_.exchange(true)) return;
    QMetaObject::invokeMethod(this, [this] { flush(); }, Qt::QueuedConnection);
}

void ModelObserver::flush()
{
    if (!scheduled_.exchange(false)) return;
    refresh_();
}

} // namespace zorvane::ui
