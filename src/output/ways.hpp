// The three ways of writing a destination, each with only what it needs. Every way lives the
// same steps:
//
//   step       what it does                                       on failure
//   ---------  -------------------------------------------------  ---------------------------
//   prepare()  everything the text needs, before the drawing:      says why in one line, or
//              checked, opened, locked, made, reserved             asks for another look or
//                                                                  way (Prepared)
//   begin()    opens what may only be opened with the text ready   says why in one line
//   write()    takes the text, a buffer at a time                  leaves errno to the caller
//   commit()   the name shows the whole text                       says why in one line, and
//                                                                  discards first
//   discard()  the name as it was, as far as the way allows        -
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "files/facts.hpp"

// What every way is told.
struct WayContext {
    const std::string& name;  // as typed, for the lines
    std::uint64_t length;     // of the text
    std::chrono::milliseconds lock_wait;
    void (*waiting)();  // told at once when the run starts to wait for another's lock
};

enum class Prepared {
    ready,
    refused,   // said in one line
    again,     // the file changed at the name meanwhile: another look
    in_place,  // the replace found what only trying could tell: rewrite in place instead
};

// Writes all of `data` to `fd`, through short writes and signals. False, errno set, otherwise.
bool write_all(int fd, const char* data, std::size_t size);

// Each way reads the facts it was decided from, which outlive it, and owns only what it opens.

// The run's own descriptor, or a FIFO, terminal or device opened once the text is ready (a FIFO
// waits there for its reader). Written as it is: no old content to keep, no space to reserve.
class StreamWay {
  public:
    explicit StreamWay(const DestinationFacts& facts) : facts_(facts) {}
    Prepared prepare(const WayContext& context);
    bool begin(const WayContext& context);
    int fd() const { return out_.get(); }
    bool commit(const WayContext& context);
    void discard() {}

  private:
    const DestinationFacts& facts_;
    Descriptor out_;
};

// A new file beside the old one, or at a free name, which takes the name's place at once, whole
// and durable: the name shows the whole old file or the whole new picture at every instant.
class ReplaceWay {
  public:
    explicit ReplaceWay(const DestinationFacts& facts) : facts_(facts) {}
    ReplaceWay(const ReplaceWay&) = delete;
    ReplaceWay& operator=(const ReplaceWay&) = delete;
    ~ReplaceWay() { discard(); }
    Prepared prepare(const WayContext& context);
    bool begin(const WayContext&) { return true; }
    int fd() const { return made_.get(); }
    bool commit(const WayContext& context);
    void discard();

  private:
    Prepared open_old(const WayContext& context);
    Prepared make_new(const WayContext& context);
    bool make_file();
    bool name_new_file();

    const DestinationFacts& facts_;
    Descriptor old_;             // read-only: its identity, never a lock nor a write
    Descriptor folder_to_sync_;  // the folder, opened to be made durable
    Descriptor made_;
    bool hidden_ = false;  // the new file has a hidden name
};

// The old file itself, locked, rewritten from its start and cut to the text's length: for the
// reasons the decision lists only, since a power loss can then leave it half written.
class InPlaceWay {
  public:
    explicit InPlaceWay(const DestinationFacts& facts) : facts_(facts) {}
    InPlaceWay(const InPlaceWay&) = delete;
    InPlaceWay& operator=(const InPlaceWay&) = delete;
    ~InPlaceWay() { discard(); }
    Prepared prepare(const WayContext& context);
    bool begin(const WayContext&) { return true; }
    int fd() const { return file_.get(); }
    bool commit(const WayContext& context);
    void discard();

  private:
    Prepared open_file(const WayContext& context);
    Prepared lock(const WayContext& context);

    const DestinationFacts& facts_;
    struct stat info_ {};  // as opened and locked
    Descriptor file_;
    std::optional<std::vector<char>> capability_;
};
