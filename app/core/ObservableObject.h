#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace zorvane {

// Tells observers that an object has changed, so views can redraw. Observers run after the new
// value is in place, once per change, and may read the object, change it again (they are then
// told again) and add or remove observers; one removed while others are being told is not called.
// Main thread only.
class ObservableObject {
public:
    using Token = std::uint64_t;

    Token addChangeObserver(std::function<void()> observer)
    {
        const Token token = next_++;
        observers_[token] = std::make_shared<std::function<void()>>(std::move(observer));
        return token;
    }
    void removeChangeObserver(Token token)
    {
        const auto it = observers_.find(token);
        if (it == observers_.end()) return;
        // Emptied as well as erased: a round of notification in progress holds it and skips it.
        *it->second = nullptr;
        observers_.erase(it);
    }

protected:
    ~ObservableObject() = default;

    // Call after the change has been made.
    void objectDidChange()
    {
        std::vector<std::shared_ptr<std::function<void()>>> current;
        current.reserve(observers_.size());
        for (const auto& [token, observer] : observers_) current.push_back(observer);
        for (const auto& observer : current)
            if (*observer) (*observer)();
    }

private:
    std::map<Token, std::shared_ptr<std::function<void()>>> observers_;
    Token next_ = 1;
};

} // namespace zorvane
