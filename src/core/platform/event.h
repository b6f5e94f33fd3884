// An event with any number of subscribers. Subscribe returns a handle that
// ends the subscription when it goes (or on Reset), so a subscriber never
// outlives its handler's captures by accident, and one subscriber never
// replaces another's handler. Handlers run in the order they subscribed.
// A handler may subscribe or unsubscribe others while the event is raised:
// one that leaves is not called afterwards, one that joins is called from
// the next raise on. The handle may outlive the event.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace tarnhold {

// What a subscription handle reaches of its event.
class TEventState {
public:
    virtual ~TEventState() = default;
    virtual void Remove(std::uint64_t id) = 0;
};

// One subscriber's hold on an event, whatever its arguments.
class TSubscription {
public:
    TSubscription() = default;
    TSubscription(std::weak_ptr<TEventState> state, std::uint64_t id)
        : state_(std::move(state)), id_(id) {}
    ~TSubscription() { Reset(); }
    TSubscription(TSubscription&& other) noexcept
        : state_(std::move(other.state_)), id_(std::exchange(other.id_, 0)) {}
    TSubscription& operator=(TSubscription&& other) noexcept {
        if (this != &other) {
            Reset();
            state_ = std::move(other.state_);
            id_ = std::exchange(other.id_, 0);
        }
        return *this;
    }
    TSubscription(const TSubscription&) = delete;
    TSubscription& operator=(const TSubscription&) = delete;

    // Ends the subscription; harmless when there is none.
    void Reset() {
        if (std::shared_ptr<TEventState> state = state_.lock())
            state->Remove(id_);
        state_.reset();
        id_ = 0;
    }
    bool Active() const { return id_ != 0 && !state_.expired(); }

private:
    std::weak_ptr<TEventState> state_;
    std::uint64_t id_ = 0;
};

template <typename... Args> class TEvent {
    struct TSlot {
        std::uint64_t Id;
        std::function<void(Args...)> Handler;
        bool Active = true;
    };
    struct TState : TEventState {
        std::vector<std::shared_ptr<TSlot>> Slots;
        std::uint64_t NextId = 1;
        void Remove(std::uint64_t id) override {
            for (auto it = Slots.begin(); it != Slots.end(); ++it) {
                if ((*it)->Id == id) {
                    (*it)->Active = false;
                    Slots.erase(it);
                    return;
                }
            }
        }
    };

public:
    TEvent() = default;
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    [[nodiscard]] TSubscription Subscribe(std::function<void(Args...)> handler) {
        const std::uint64_t id = state_->NextId++;
        state_->Slots.push_back(std::make_shared<TSlot>(TSlot{id, std::move(handler)}));
        return TSubscription(std::weak_ptr<TEventState>(state_), id);
    }

    // Calls every handler subscribed now.
    void operator()(Args... args) const {
        if (state_->Slots.empty())
            return;
        const std::vector<std::shared_ptr<TSlot>> now = state_->Slots;
        for (const std::shared_ptr<TSlot>& slot : now)
            if (slot->Active && slot->Handler)
                slot->Handler(args...);
    }

    bool Empty() const { return state_->Slots.empty(); }
    std::size_t Count() const { return state_->Slots.size(); }

private:
    std::shared_ptr<TState> state_ = std::make_shared<TState>();
};

} // namespace tarnhold
