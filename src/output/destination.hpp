// The file named on the command line, which the run's text replaces whole or not at all. The way
// it is written is decided once, before the drawing (decision.hpp), and each way lives the steps
// of ways.hpp:
//
//   state      holds                                commit()              discard()
//   ---------  -----------------------------------  --------------------  --------------------
//   idle       the facts, once prepare() has them   -                     nothing to do
//   prepared   the way: the descriptor to stream    -> committed: the     -> idle: the name as
//              to; the new file, unnamed or under   name shows the whole  it was (the new file
//              a hidden name, its space reserved;   text, durable         removed; the old
//              the old file locked, its space                             file's reserved
//              reserved                                                   blocks given back)
//   committed  nothing                              -                     nothing to do
//
// A run that ends otherwise discards: a failure, an exception, a signal (a new file with no
// name goes with the process, even on SIGKILL; a hidden name goes with the signal handler).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "files/facts.hpp"
#include "ways.hpp"

class Destination {
  public:
    // `lock_wait`: how long a rewrite in place waits for another's lock on the file.
    explicit Destination(std::string name,
                         std::chrono::milliseconds lock_wait = std::chrono::seconds(60))
        : name_(std::move(name)), lock_wait_(lock_wait) {}
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;
    ~Destination() { discard(); }

    // Settles the way, from `facts` gathered for the name, and everything a text of `length`
    // bytes needs there. `waiting` is told at once should the run wait for another's lock. Says
    // in one line why it refuses.
    bool prepare(DestinationFacts facts, std::uint64_t length, void (*waiting)() = nullptr);
    // Opens what is opened only once the text is ready (a FIFO waits for its reader there).
    bool begin();
    // Whether the text goes to a terminal, once begun.
    bool to_terminal() const;
    // Takes the next piece of the text. Says in one line why it failed.
    bool write(const char* data, std::size_t size);
    // The name shows the whole text. Says in one line why it failed.
    bool commit();
    // The name shows what it showed before the run, as far as the way allows.
    void discard();

  private:
    enum class State { idle, prepared, committed };
    using AnyWay = std::variant<std::monostate, StreamWay, ReplaceWay, InPlaceWay>;

    Prepared try_way(std::uint64_t length, void (*waiting)());
    WayContext context(void (*waiting)() = nullptr) const;
    int fd() const;  // what the way writes to, -1 before it is prepared

    std::string name_;
    std::chrono::milliseconds lock_wait_;
    std::uint64_t length_ = 0;
    DestinationFacts facts_;
    AnyWay way_;
    State state_ = State::idle;
};
