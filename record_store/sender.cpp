#include "record_store/sender.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <fstream>

#include "record_store/insert.h"
#include "record_store/schema.h"
#include "record_store/spool.h"

namespace fwu::record_store {

namespace {

// Records per statement: one round trip for a backlog of many, small enough that a slow server answers each soon.
constexpr std::size_t kBatchLines = 500;
// Without a wake-up the file is looked at once a second: records another process appended, a server come back.
constexpr auto kIdleLook = std::chrono::seconds(1);

std::string LocalClock(std::chrono::system_clock::time_point moment) {
  const std::time_t time = std::chrono::system_clock::to_time_t(moment);
  std::tm local{};
  localtime_r(&time, &local);
  std::array<char, 8> text{};
  static_cast<void>(std::strftime(text.data(), text.size(), "%H:%M", &local));
  return text.data();
}

// The whole, non-blank lines from offset from to the last line end, and the offset after that line end.
std::size_t CountWholeLines(const std::string& path, std::uint64_t from, std::uint64_t& end) {
  end = from;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return 0;
  }
  file.seekg(static_cast<std::streamoff>(from));
  constexpr std::size_t kChunk = 64 * 1024;
  std::string chunk(kChunk, '\0');
  std::size_t count = 0;
  bool blank = true;
  std::uint64_t at = from;
  while (file) {
    file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<std::size_t>(file.gcount());
    for (std::size_t i = 0; i < got; ++i, ++at) {
      const char c = chunk[i];
      if (c == '\n') {
        count += blank ? 0 : 1;
        blank = true;
        end = at + 1;
      } else if (c != ' ' && c != '\t' && c != '\r') {
        blank = false;
      }
    }
  }
  return count;
}

}  // namespace

std::string StatusText(const SenderStatus& status) {
  if (status.reason.empty()) {
    return {};
  }
  if (status.waiting == 0) {
    return "the database: " + status.reason;
  }
  return std::to_string(status.waiting) + (status.waiting == 1 ? " record" : " records") +
         " waiting for the database since " + status.since + ": " + status.reason;
}

std::chrono::milliseconds BackoffAfter(unsigned failures) {
  constexpr std::chrono::milliseconds kFirst{1000};
  constexpr std::chrono::milliseconds kLongest{30000};
  constexpr unsigned kDoublings = 5;  // 1 s .. 32 s, cut to 30 s
  if (failures == 0) {
    return std::chrono::milliseconds(0);
  }
  return std::min(kLongest, kFirst * (1U << std::min(failures - 1, kDoublings)));
}

Sender::Sender(std::string conninfo, std::string recordsPath, std::function<void(const SenderStatus&)> changed)
    : conninfo_(std::move(conninfo)), recordsPath_(std::move(recordsPath)), changed_(std::move(changed)) {}

Sender::~Sender() {
  Stop();
}

void Sender::Start() {
  thread_ = std::thread([this] { Run(); });
}

void Sender::Wake() {
  {
    const std::lock_guard lock(mutex_);
    woken_ = true;
  }
  wake_.notify_one();
}

void Sender::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  connection_.Cancel();
  if (thread_.joinable()) {
    thread_.join();
  }
}

SenderStatus Sender::Status() const {
  const std::lock_guard lock(mutex_);
  return status_;
}

void Sender::Run() {
  for (;;) {
    const bool sent = Pass();
    std::unique_lock lock(mutex_);
    // After a failure the pause runs its course: a slot's wake-up does not cut the back-off short.
    wake_.wait_for(lock, sent ? std::chrono::milliseconds(kIdleLook) : BackoffAfter(failures_),
                   [&] { return stop_ || (sent && woken_); });
    if (stop_) {
      return;
    }
    woken_ = false;
  }
}

void Sender::CountWaiting(std::uint64_t offset) {
  std::size_t waiting = 0;
  {
    const std::lock_guard lock(mutex_);
    waiting = status_.waiting;
  }
  if (offset != countedFrom_ || countedTo_ < offset) {
    waiting = 0;  // the file was begun anew, or this is the first look
    countedFrom_ = offset;
    countedTo_ = offset;
  }
  std::uint64_t end = countedTo_;
  waiting += CountWholeLines(recordsPath_, countedTo_, end);
  countedTo_ = end;
  const std::lock_guard lock(mutex_);
  if (status_.waiting == 0 && waiting != 0) {
    status_.since = LocalClock(std::chrono::system_clock::now());
  }
  status_.waiting = waiting;
}

bool Sender::Connect() {
  std::string reason;
  if (!connection_.Open(conninfo_, reason) || !SchemaUsable(connection_, reason)) {
    connection_.Close();
    Failed(reason);
    return false;
  }
  return true;
}

bool Sender::Pass() {
  SpoolCursor cursor(recordsPath_);
  std::uint64_t offset = cursor.Load();
  CountWaiting(offset);
  if (!connection_.Healthy() && !Connect()) {
    return false;
  }
  for (;;) {
    {
      const std::lock_guard lock(mutex_);
      if (stop_ || status_.waiting == 0) {
        break;
      }
    }
    SpoolBatch batch;
    std::string reason;
    if (!ReadSpool(recordsPath_, offset, kBatchLines, batch, reason)) {
      Failed(reason);
      return false;
    }
    if (batch.end == offset) {
      break;
    }
    std::int64_t stored = 0;
    if (batch.recordCount != 0) {
      stored = InsertRecords(connection_, batch.records, reason);
      if (stored < 0) {
        if (!connection_.Healthy()) {
          connection_.Close();
        }
        Failed(reason);
        return false;
      }
    }
    offset = batch.end;
    cursor.Save(offset);
    countedFrom_ = offset;
    const std::lock_guard lock(mutex_);
    status_.sent += static_cast<std::uint64_t>(stored);
    status_.waiting -= std::min(status_.waiting, batch.lines);
  }
  failures_ = 0;
  {
    const std::lock_guard lock(mutex_);
    status_.reason.clear();
  }
  Report();
  return true;
}

void Sender::Failed(const std::string& reason) {
  ++failures_;
  {
    const std::lock_guard lock(mutex_);
    status_.reason = reason;
  }
  Report();
}

void Sender::Report() {
  SenderStatus status;
  {
    const std::lock_guard lock(mutex_);
    const std::string text = StatusText(status_);
    if (text == reported_) {
      return;
    }
    reported_ = text;
    status = status_;
  }
  if (changed_) {
    changed_(status);
  }
}

}  // namespace fwu::record_store
