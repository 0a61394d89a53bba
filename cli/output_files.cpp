#include "cli/output_files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

namespace fwu::cli {

namespace {

namespace fs = std::filesystem;

// A port's name as part of a file name: letters and digits kept, everything else '_', no '_' at either end.
std::string NamePart(std::string_view name) {
  std::string part(name);
  std::ranges::replace_if(
      part, [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
  const auto first = part.find_first_not_of('_');
  return first == std::string::npos ? part : part.substr(first, part.find_last_not_of('_') + 1 - first);
}

// A device's last part ("ttyUSB0"); a network port's host and port ("10_0_0_7_2217"), since device servers on one
// network mostly share their port numbers.
std::string LastPart(const std::string& port) {
  const auto scheme = port.find("://");
  const auto cut = scheme != std::string::npos ? scheme + 2 : port.find_last_of("/\\:");
  return NamePart(cut == std::string::npos ? port : port.substr(cut + 1));
}

// path with "-" and part before its extension.
std::string WithPart(const std::string& path, const std::string& part) {
  const auto slash = path.find_last_of("/\\");
  const auto dot = path.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  return hasExtension ? path.substr(0, dot) + "-" + part + path.substr(dot) : path + "-" + part;
}

// One file, however it is spelled: links followed, "." and ".." resolved, for files that do not exist yet too.
fs::path Identity(const std::string& path) {
  std::error_code error;
  fs::path real = fs::weakly_canonical(path, error);
  if (error) {
    real = fs::absolute(path, error).lexically_normal();
  }
  return real;
}

bool IsSpecialFile(const fs::path& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  return !error && fs::exists(status) && !fs::is_regular_file(status);
}

fs::path Beside(const fs::path& target) {
  fs::path temporary = target;
  temporary += ".partial";
  return temporary;
}

// Writes text into file, replacing what was there; false with the reason.
bool WriteAll(const fs::path& file, std::string_view text, std::string* reason) {
  std::FILE* stream = std::fopen(file.string().c_str(), "wb");
  if (stream == nullptr) {
    *reason = std::strerror(errno);
    return false;
  }
  bool written = text.empty() || std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  int error = errno;
  if (std::fclose(stream) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) {
    *reason = std::strerror(error);
  }
  return written;
}

}  // namespace

std::vector<std::string> TracePaths(const std::vector<std::string>& ports, const std::string& path) {
  if (path.empty() || ports.size() == 1) {
    return std::vector<std::string>(ports.size(), path);
  }
  std::map<std::string, int> lastParts;
  for (const auto& port : ports) {
    ++lastParts[LastPart(port)];
  }
  std::vector<std::string> paths;
  std::set<std::string> taken;
  for (const auto& port : ports) {
    const std::string last = LastPart(port);
    const std::string part = lastParts[last] > 1 ? NamePart(port) : last;
    std::string candidate = WithPart(path, part);
    for (int n = 2; taken.contains(candidate); ++n) {
      candidate = WithPart(path, part + "-" + std::to_string(n));
    }
    taken.insert(candidate);
    paths.push_back(candidate);
  }
  return paths;
}

std::optional<std::string> SameFile(const std::vector<NamedFile>& files) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    for (std::size_t j = i + 1; j < files.size(); ++j) {
      if ((files[i].written || files[j].written) && Identity(files[i].path) == Identity(files[j].path)) {
        return files[j].option + " and " + files[i].option + " both name " + files[j].path;
      }
    }
  }
  return std::nullopt;
}

bool CanReplace(const std::string& path, std::string* reason) {
  const fs::path target = Identity(path);
  std::error_code error;
  if (fs::is_directory(target, error)) {
    *reason = "it is a directory";
    return false;
  }
  if (IsSpecialFile(target)) {
    return true;
  }
  const fs::path temporary = Beside(target);
  if (!WriteAll(temporary, {}, reason)) {
    return false;
  }
  fs::remove(temporary, error);
  return true;
}

bool ReplaceFile(const std::string& path, std::string_view text, std::string* reason) {
  const fs::path target = Identity(path);
  if (IsSpecialFile(target)) {
    return WriteAll(target, text, reason);
  }
  const fs::path temporary = Beside(target);
  if (!WriteAll(temporary, text, reason)) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return false;
  }
  std::error_code error;
  fs::rename(temporary, target, error);
  if (error) {
    *reason = error.message();
    fs::remove(temporary, error);
    return false;
  }
  return true;
}

}  // namespace fwu::cli
