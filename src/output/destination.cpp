#include "destination.hpp"

#include <unistd.h>

#include <cassert>

#include "decision.hpp"
#include "system/report.hpp"

namespace {

// One visitor made of a lambda for each way.
template <typename... Ways>
struct Each : Ways... {
    using Ways::operator()...;
};
template <typename... Ways>
Each(Ways...) -> Each<Ways...>;

}  // namespace

WayContext Destination::context(void (*waiting)()) const {
    return {name_, length_, lock_wait_, waiting};
}

// Decides from the facts and prepares that way; a replace that can only be a rewrite in place,
// as trying told, is prepared so.
Prepared Destination::try_way(std::uint64_t length, void (*waiting)()) {
    length_ = length;
    const Verdict verdict = decide(facts_);
    const WayContext way_context = context(waiting);
    switch (verdict.way) {
        case Way::refuse:
            report(verdict.reason == Reason::planted ? planted_line(name_) + cause(verdict.error)
                                                     : open_failure_line(name_));
            return Prepared::refused;
        case Way::stream:
            return way_.emplace<StreamWay>(facts_).prepare(way_context);
        case Way::replace:
            if (const Prepared prepared = way_.emplace<ReplaceWay>(facts_).prepare(way_context);
                prepared != Prepared::in_place) {
                return prepared;
            }
            break;
        case Way::in_place:
            break;
    }
    return way_.emplace<InPlaceWay>(facts_).prepare(way_context);
}

bool Destination::prepare(DestinationFacts facts, std::uint64_t length, void (*waiting)()) {
    assert(state_ == State::idle);
    facts_ = std::move(facts);
    Prepared prepared;
    // Each new look follows another run's finished replacement of the file: no cap on them.
    while ((prepared = try_way(length, waiting)) == Prepared::again) {
        way_.emplace<std::monostate>();
        facts_ = gather_facts(name_, facts_.walker, facts_.own_output);
    }
    if (prepared != Prepared::ready) {
        way_.emplace<std::monostate>();
        return false;
    }
    state_ = State::prepared;
    return true;
}

bool Destination::begin() {
    assert(state_ == State::prepared);
    return std::visit(Each{[](std::monostate) { return false; },
                           [this](auto& way) { return way.begin(context()); }},
                      way_);
}

int Destination::fd() const {
    return std::visit(
        Each{[](std::monostate) { return -1; }, [](const auto& way) { return way.fd(); }}, way_);
}

bool Destination::to_terminal() const {
    const int out = fd();
    return out >= 0 && ::isatty(out) == 1;
}

bool Destination::write(const char* data, std::size_t size) {
    assert(state_ == State::prepared);
    if (write_all(fd(), data, size)) {
        return true;
    }
    report(write_failure_line(name_) + cause(errno));
    return false;
}

bool Destination::commit() {
    assert(state_ == State::prepared);
    const bool committed = std::visit(Each{[](std::monostate) { return false; },
                                           [this](auto& way) { return way.commit(context()); }},
                                      way_);
    way_.emplace<std::monostate>();
    state_ = committed ? State::committed : State::idle;
    return committed;
}

void Destination::discard() {
    std::visit(Each{[](std::monostate) {}, [](auto& way) { way.discard(); }}, way_);
    way_.emplace<std::monostate>();
    if (state_ == State::prepared) {
        state_ = State::idle;
    }
}
