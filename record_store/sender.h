#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "record_store/connection.h"

namespace fwu::record_store {

// What the sender has to tell the station's screen.
struct SenderStatus {
  std::size_t waiting = 0;  // whole records in the file that the database does not have yet
  std::string since;        // "10:03": local time at which the oldest of them was first found waiting
  std::string reason;       // why they wait: "connection refused"; empty while sending goes well
  std::uint64_t sent = 0;   // records this run stored
};

// "12 records waiting for the database since 10:03: connection refused"; "the database: REASON" when nothing
// waits but the database cannot be used; empty while all goes well.
std::string StatusText(const SenderStatus& status);

// The pause before the next try after failures in a row: 1 s, doubled each time, at most 30 s.
std::chrono::milliseconds BackoffAfter(unsigned failures);

// Ships the records of a station's records file that the database does not have yet, on a thread of its own, in
// the file's order, in batches. The file stays first: a slot appends and syncs its record and only wakes the
// sender, which never makes a slot wait. What was sent is kept in the file's cursor (SpoolCursor), so records that
// waited when the station stopped go with the next run.
class Sender {
 public:
  // changed: called from the sender's thread when StatusText changes (and so when the last waiting record is
  // sent).
  Sender(std::string conninfo, std::string recordsPath, std::function<void(const SenderStatus&)> changed);
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;
  ~Sender();

  void Start();
  // A record was appended: send it soon. Never blocks.
  void Wake();
  // Ends the thread; a statement under way is cancelled (what it sent stays, or is sent by the next run).
  void Stop();
  [[nodiscard]] SenderStatus Status() const;

 private:
  void Run();
  bool Pass();  // one pass over the file; false when it failed
  bool Connect();
  void CountWaiting(std::uint64_t offset);
  void Failed(const std::string& reason);
  void Report();

  std::string conninfo_;
  std::string recordsPath_;
  std::function<void(const SenderStatus&)> changed_;
  Connection connection_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = false;
  bool stop_ = false;
  SenderStatus status_;
  std::string reported_;  // the StatusText last reported

  // the sender's thread only
  std::uint64_t countedFrom_ = 0;
  std::uint64_t countedTo_ = 0;
  unsigned failures_ = 0;
  std::thread thread_;
};

}  // namespace fwu::record_store
