#include "record_store/conninfo.h"

#include <libpq-fe.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <string_view>

namespace fwu::record_store {

namespace {

constexpr char kPasswordRefused[] =
    "--db holds a password, which every user of this machine can read on the command line; put it in the "
    "password file (~/.pgpass, or the file PGPASSFILE names) or in PGPASSWORD instead";

// Connection options whose values are secrets.
constexpr std::array<std::string_view, 2> kSecretOptions{"password", "sslpassword"};

std::string Lower(std::string text) {
  std::ranges::transform(text, text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Whether text looks like it carries a secret: a password option, or a URI's "user:password@".
bool MentionsSecret(const std::string& conninfo) {
  const std::string lower = Lower(conninfo);
  if (std::ranges::any_of(kSecretOptions, [&](std::string_view key) { return lower.find(key) != std::string::npos; })) {
    return true;
  }
  const auto scheme = lower.find("://");
  const auto at = lower.find('@');
  return scheme != std::string::npos && at != std::string::npos && lower.find(':', scheme + 3) < at;
}

}  // namespace

std::string ConnInfoFault(const std::string& conninfo) {
  char* error = nullptr;
  const std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(PQconninfoParse(conninfo.c_str(), &error),
                                                                             &PQconninfoFree);
  if (!options) {
    std::string reason = error != nullptr ? error : "out of memory";
    PQfreemem(error);
    // libpq quotes the piece it could not read; when that may be a secret, say less.
    if (MentionsSecret(conninfo)) {
      return kPasswordRefused;
    }
    reason.erase(reason.find_last_not_of("\n ") + 1);
    return "--db is not a connection string libpq reads: " + reason;
  }
  for (const PQconninfoOption* option = options.get(); option->keyword != nullptr; ++option) {
    const bool secret = std::ranges::find(kSecretOptions, std::string_view(option->keyword)) != kSecretOptions.end();
    if (secret && option->val != nullptr && option->val[0] != '\0') {
      return kPasswordRefused;
    }
  }
  return {};
}

}  // namespace fwu::record_store
