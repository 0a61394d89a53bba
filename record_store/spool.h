#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fwu::record_store {

// Whole lines of a records file, read for sending.
struct SpoolBatch {
  std::string records = "[]";  // a JSON array of the records among them, each with its record_id
  std::size_t recordCount = 0;
  std::size_t lines = 0;  // whole lines taken: records, and lines that are none (cut short by a crash)
  std::uint64_t end = 0;  // the offset after the last line taken
};

// Reads at most maxLines whole lines from offset on; a last line without its line end is still being written and
// is left for later. A missing file reads as empty; false with the reason when it cannot be read.
bool ReadSpool(const std::string& path, std::uint64_t offset, std::size_t maxLines, SpoolBatch& batch,
               std::string& error);

// How far the database has every record of the file at recordsPath, kept in a small file beside it
// ("FILE.db-sent") so that a station started again sends what the last run could not. It names the file's first
// line too: a records file moved away and begun anew is sent from its start. Sending again what the database
// already has is harmless, so the cursor is written without syncing.
class SpoolCursor {
 public:
  explicit SpoolCursor(std::string recordsPath);
  // The offset to send from.
  std::uint64_t Load();
  void Save(std::uint64_t offset);

 private:
  std::string recordsPath_;
  std::string cursorPath_;
};

}  // namespace fwu::record_store
