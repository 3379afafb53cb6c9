#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace zorvane {

// Announces that an object is about to change, so views can redraw. Main thread only.
class ObservableObject {
public:
    using Token = std::uint64_t;

    Token addChangeObserver(std::function<void()> observer)
    {
        const Token token = next_++;
        observers_[token] = std::make_shared<std::function<void()>>(std::move(observer));
        return token;
    }
    void removeChangeObserver(Token token) { observers_.erase(token); }

protected:
    ~ObservableObject() = default;

    void objectWillChange()
    {
        // A copy, so an observer may add or remove observers while being told.
        std::vector<std::shared_ptr<std::function<void()>>> current;
        current.reserve(observers_.size());
        for (const auto& [token, observer] : observers_) current.push_back(observer);
        for (const auto& observer : current) (*observer)();
    }

private:
    std::map<Token, std::shared_ptr<std::function<void()>>> observers_;
    Token next_ = 1;
};

} // namespace zorvane
