#include "trace/trace.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "protocol/hex_text.h"

namespace fwu::wire {

namespace {

// Lines collect in a large buffer and reach the file in big writes: the trace must not slow the updater's thread
// between two bytes of an exchange.
constexpr std::size_t kFileBuffer = std::size_t{256} * 1024;

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
  FileTrace(std::string path, std::FILE* file) : path_(std::move(path)), buffer_(kFileBuffer), file_(file) {
    static_cast<void>(std::setvbuf(file_.get(), buffer_.data(), _IOFBF, buffer_.size()));
    Put("# wire trace: microseconds since start, -> to the controller, <- from it, | the bytes in hex");
  }
  ~FileTrace() override { static_cast<void>(CloseFile(nullptr)); }

  void Event(const WireEvent& event) override { Put(FormatTraceLine(event)); }
  void Note(std::uint64_t atUs, std::string_view text) override { Put(FormatTraceNote(atUs, text)); }

  bool Finish(std::string* error) override { return CloseFile(error); }

 private:
  bool CloseFile(std::string* error) {
    if (!file_) {
      return ok_;
    }
    Check(std::fflush(file_.get()) == 0);
    Check(std::fclose(file_.release()) == 0);
    if (!ok_ && error != nullptr) {
      *error = path_ + ": cannot write the trace: " + std::strerror(firstError_);
    }
    return ok_;
  }

  void Put(const std::string& line) {
    if (file_) {
      Check(std::fwrite(line.data(), 1, line.size(), file_.get()) == line.size() &&
            std::fputc('\n', file_.get()) != EOF);
    }
  }

  // Keeps the first failure's reason: later ones are its consequences.
  void Check(bool done) {
    if (!done && ok_) {
      ok_ = false;
      firstError_ = errno;
    }
  }

  std::string path_;
  std::vector<char> buffer_;  // the file's buffer: declared first, so that it outlives the file
  std::unique_ptr<std::FILE, FileCloser> file_;
  bool ok_ = true;
  int firstError_ = 0;
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

}  // namespace fwu::wire
