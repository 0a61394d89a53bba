#include "trace/trace.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "protocol/hex_text.h"

namespace fwu::trace {

namespace {

// Lines collect in memory and a thread of the trace's own writes them out once a second: the updater's thread never
// waits on the disk between two bytes of an exchange, and a trace read while the update runs (or left by a run
// that was killed) is at most a second behind.
constexpr std::chrono::seconds kWritePeriod{1};
constexpr std::size_t kBatchReserve = std::size_t{64} * 1024;

std::string TimeColumn(std::uint64_t atUs) {
  char text[32];
  const int length = std::snprintf(text, sizeof(text), "%10" PRIu64 " ", atUs);
  return length > 0 ? std::string(text) : std::string();
}

struct FileCloser {
  void operator()(std::FILE* file) const { static_cast<void>(std::fclose(file)); }
};

class FileTrace final : public TraceSink {
 public:
  FileTrace(std::string path, std::FILE* file) : path_(std::move(path)), file_(file) {
    pending_.reserve(kBatchReserve);
    writing_.reserve(kBatchReserve);
    Put("# wire trace: microseconds since start, -> to the controller, <- from it, | the bytes in hex");
    writer_ = std::thread([this] { WriteLoop(); });
  }
  FileTrace(const FileTrace&) = delete;
  FileTrace& operator=(const FileTrace&) = delete;
  ~FileTrace() override { static_cast<void>(Close(nullptr)); }

  void Event(const WireEvent& event) override { Put(FormatTraceLine(event)); }
  void Note(std::uint64_t atUs, std::string_view text) override { Put(FormatTraceNote(atUs, text)); }

  bool Finish(std::string* error) override { return Close(error); }

 private:
  void Put(const std::string& line) {
    const std::lock_guard lock(mutex_);
    pending_ += line;
    pending_ += '\n';
  }

  // Until the trace is closed: every period, what has collected goes to the file, outside the lock; once more
  // on the way out.
  void WriteLoop() {
    std::unique_lock lock(mutex_);
    bool closing = false;
    while (!closing) {
      closing = wake_.wait_for(lock, kWritePeriod, [this] { return closing_; });
      writing_.clear();
      writing_.swap(pending_);
      lock.unlock();
      if (!writing_.empty()) {
        Check(std::fwrite(writing_.data(), 1, writing_.size(), file_.get()) == writing_.size());
        Check(std::fflush(file_.get()) == 0);
      }
      lock.lock();
    }
  }

  bool Close(std::string* error) {
    {
      const std::lock_guard lock(mutex_);
      closing_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable()) {
      writer_.join();
    }
    if (file_) {
      Check(std::fclose(file_.release()) == 0);
    }
    if (!ok_ && error != nullptr) {
      *error = path_ + ": cannot write the trace: " + std::strerror(firstError_);
    }
    return ok_;
  }

  // Keeps the first failure's reason: later ones are its consequences. Only the writer touches the file until it
  // has ended.
  void Check(bool done) {
    if (!done && ok_) {
      ok_ = false;
      firstError_ = errno;
    }
  }

  std::string path_;
  std::unique_ptr<std::FILE, FileCloser> file_;
  bool ok_ = true;
  int firstError_ = 0;
  std::mutex mutex_;  // guards pending_ and closing_
  std::condition_variable wake_;
  std::string pending_;
  bool closing_ = false;
  std::string writing_;  // the writer's batch, outside the lock
  std::thread writer_;
};

}  // namespace

std::unique_ptr<TraceSink> OpenTrace(const std::string& path, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    if (error != nullptr) {
      *error = path + ": cannot create the trace file: " + std::strerror(errno);
    }
    return nullptr;
  }
  return std::make_unique<FileTrace>(path, file);
}

std::string FormatTraceLine(const WireEvent& event) {
  std::string line = TimeColumn(event.atUs);
  line += event.direction == Direction::Sent ? "-> " : "<- ";
  line += DescribeEvent(event);
  line += " | ";
  AppendHexBytes(line, event.wire);
  return line;
}

std::string FormatTraceNote(std::uint64_t atUs, std::string_view text) {
  std::string line = TimeColumn(atUs);
  line += "-- ";
  line += text;
  return line;
}

}  // namespace fwu::trace
