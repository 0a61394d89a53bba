#include "record_store/spool.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>

#include <nlohmann/json.hpp>

#include "firmware_files/sha256.h"
#include "record_store/record_id.h"

namespace fwu::record_store {

namespace {

// The database keeps no NUL in a text; a controller's version text could hold one.
void ReplaceNul(nlohmann::ordered_json& value) {
  if (value.is_string()) {
    std::string& text = value.get_ref<std::string&>();
    for (auto at = text.find('\0'); at != std::string::npos; at = text.find('\0', at)) {
      text.replace(at, 1, "\xEF\xBF\xBD");  // U+FFFD, the replacement character
    }
  } else if (value.is_structured()) {
    for (auto& item : value) {
      ReplaceNul(item);
    }
  }
}

// The record of a line with its id, as text; empty when the line is no JSON object.
std::string Prepared(const std::string& line) {
  nlohmann::ordered_json record = nlohmann::ordered_json::parse(line, nullptr, false);
  if (record.is_discarded() || !record.is_object()) {
    return {};
  }
  const std::string id = RecordIdOf(record);
  if (!record.contains("record_id") || record["record_id"] != id) {
    record["record_id"] = id;
  }
  ReplaceNul(record);
  return record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// The first line of the file (up to its line end) as a digest; empty when it has no whole line.
std::string FirstLineDigest(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string line;
  if (!file || !std::getline(file, line) || file.eof()) {
    return {};
  }
  return firmware_files::Sha256Hex(std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()));
}

}  // namespace

bool ReadSpool(const std::string& path, std::uint64_t offset, std::size_t maxLines, SpoolBatch& batch,
               std::string& error) {
  batch = SpoolBatch{};
  batch.end = offset;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (errno == ENOENT) {
      return true;
    }
    error = path + ": " + std::strerror(errno);
    return false;
  }
  file.seekg(static_cast<std::streamoff>(offset));
  std::string records;
  for (std::string line; batch.lines < maxLines && std::getline(file, line);) {
    if (file.eof()) {
      break;  // no line end yet: the station is writing it
    }
    batch.end += line.size() + 1;
    if (line.find_first_not_of(" \t\r") == std::string::npos) {
      continue;
    }
    ++batch.lines;
    const std::string record = Prepared(line);
    if (record.empty()) {
      continue;
    }
    records += (records.empty() ? "" : ",") + record;
    ++batch.recordCount;
  }
  if (file.bad()) {
    error = path + ": cannot be read";
    return false;
  }
  batch.records = "[" + records + "]";
  return true;
}

SpoolCursor::SpoolCursor(std::string recordsPath)
    : recordsPath_(std::move(recordsPath)), cursorPath_(recordsPath_ + ".db-sent") {}

std::uint64_t SpoolCursor::Load() {
  std::ifstream file(cursorPath_);
  std::uint64_t offset = 0;
  std::string digest;
  if (!(file >> offset >> digest)) {
    return 0;
  }
  std::error_code error;
  const auto size = std::filesystem::file_size(recordsPath_, error);
  if (error || size < offset || digest != FirstLineDigest(recordsPath_)) {
    return 0;
  }
  return offset;
}

void SpoolCursor::Save(std::uint64_t offset) {
  const std::string digest = FirstLineDigest(recordsPath_);
  const std::string temporary = cursorPath_ + ".new";
  {
    std::ofstream file(temporary, std::ios::trunc);
    file << offset << ' ' << (digest.empty() ? "-" : digest) << '\n';
    if (!file) {
      return;  // the next run sends again from the last cursor that was written
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, cursorPath_, error);
}

}  // namespace fwu::record_store
