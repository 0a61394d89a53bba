#include "network_port/network_url.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace fwu::network_port {

namespace {

constexpr std::string_view kSeparator = "://";

struct KnownScheme {
  std::string_view name;
  Scheme scheme;
};
constexpr std::array<KnownScheme, 2> kSchemes{{{"rfc2217", Scheme::Rfc2217}, {"socket", Scheme::RawTcp}}};

// A host name is at most 253 characters in labels of at most 63 (RFC 1035).
constexpr std::size_t kMaxHostName = 253;
constexpr std::size_t kMaxLabel = 63;
constexpr std::size_t kIpv6Groups = 8;
constexpr std::size_t kMaxGroupDigits = 4;
constexpr std::size_t kMaxPortDigits = 5;
constexpr unsigned kMaxPort = 65535;

bool IsAsciiAlnum(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 && static_cast<unsigned char>(c) < 0x80;
}

bool IsHexDigit(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool IsDigits(std::string_view text) {
  return !text.empty() && std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal number of at most maxDigits digits, without sign or leading zero, and at most max.
std::optional<unsigned> ParseDecimal(std::string_view text, std::size_t maxDigits, unsigned max) {
  if (!IsDigits(text) || text.size() > maxDigits || (text.size() > 1 && text.front() == '0')) {
    return std::nullopt;
  }
  unsigned value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value <= max ? std::optional<unsigned>(value) : std::nullopt;
}

// Calls part() for every piece of text between separators; false as soon as one call is.
template <typename Part>
bool EachPart(std::string_view text, char separator, Part part) {
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(separator, start), text.size());
    if (!part(text.substr(start, end - start), end == text.size())) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

// Four decimal numbers 0-255 without leading zeros.
bool IsDottedQuad(std::string_view text) {
  constexpr unsigned kMaxOctet = 255;
  int parts = 0;
  return EachPart(text, '.',
                  [&parts](std::string_view part, bool /*last*/) {
                    ++parts;
                    return ParseDecimal(part, 3, kMaxOctet).has_value();
                  }) &&
         parts == 4;
}

// Letters, digits and inner hyphens in dot-separated labels. A name whose last label is all digits can only be
// meant as an IPv4 address, and must be one.
bool IsHostName(std::string_view host) {
  if (host.empty() || host.size() > kMaxHostName) {
    return false;
  }
  if (IsDigits(host.substr(host.rfind('.') + 1))) {
    return IsDottedQuad(host);
  }
  return EachPart(host, '.', [](std::string_view label, bool /*last*/) {
    return !label.empty() && label.size() <= kMaxLabel && label.front() != '-' && label.back() != '-' &&
           std::ranges::all_of(label, [](char c) { return IsAsciiAlnum(c) || c == '-'; });
  });
}

// RFC 4291's text form: eight groups of up to four hex digits, one "::" standing for one or more groups of
// zeros, and a dotted IPv4 address in place of the last two groups.
bool IsIpv6Address(std::string_view text) {
  const std::size_t gap = text.find("::");
  if (gap != std::string_view::npos && text.find("::", gap + 1) != std::string_view::npos) {
    return false;
  }
  std::size_t groups = 0;
  const auto countGroups = [&groups](std::string_view side, bool tail) {
    return side.empty() || EachPart(side, ':', [&groups, tail](std::string_view group, bool last) {
             if (tail && last && group.find('.') != std::string_view::npos) {
               groups += 2;
               return IsDottedQuad(group);
             }
             ++groups;
             return !group.empty() && group.size() <= kMaxGroupDigits && std::ranges::all_of(group, IsHexDigit);
           });
  };
  if (gap == std::string_view::npos) {
    return countGroups(text, true) && groups == kIpv6Groups;
  }
  return countGroups(text.substr(0, gap), false) && countGroups(text.substr(gap + 2), true) && groups < kIpv6Groups;
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
  unsigned value = 0;
  if (!IsDigits(text) || text.size() > kMaxPortDigits) {
    return std::nullopt;
  }
  std::from_chars(text.data(), text.data() + text.size(), value);
  if (value == 0 || value > kMaxPort) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

std::optional<NetworkUrl> Refuse(std::string_view text, const std::string& what, std::string* error) {
  if (error != nullptr) {
    *error = std::string(text) + ": " + what;
  }
  return std::nullopt;
}

}  // namespace

std::string NetworkUrl::HostPort() const {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string NetworkUrl::Identity() const {
  return "//" + Lower(HostPort());
}

bool IsNetworkPortName(std::string_view name) {
  return name.find(kSeparator) != std::string_view::npos;
}

std::optional<NetworkUrl> ParseNetworkUrl(std::string_view text, std::string* error) {
  const std::size_t separator = text.find(kSeparator);
  if (separator == std::string_view::npos) {
    return Refuse(text, "not a network port (rfc2217://HOST:PORT or socket://HOST:PORT)", error);
  }
  const std::string scheme = Lower(text.substr(0, separator));
  const auto known = std::ranges::find(kSchemes, scheme, &KnownScheme::name);
  if (known == kSchemes.end()) {
    return Refuse(text, "unknown scheme '" + scheme + "' (rfc2217:// or socket://)", error);
  }
  NetworkUrl url;
  url.scheme = known->scheme;
  std::string_view rest = text.substr(separator + kSeparator.size());
  // A trailing slash is what a URL often ends in; anything else after the port would be ignored silently.
  if (rest.ends_with('/')) {
    rest.remove_suffix(1);
  }

  std::string_view portText;
  if (rest.starts_with('[')) {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) {
      return Refuse(text, "the IPv6 address has no closing ']'", error);
    }
    url.host = std::string(rest.substr(1, close - 1));
    if (!IsIpv6Address(url.host)) {
      return Refuse(text, "'" + url.host + "' is not an IPv6 address", error);
    }
    if (rest.size() == close + 1 || rest[close + 1] != ':') {
      return Refuse(text, "no port after the address (HOST:PORT)", error);
    }
    portText = rest.substr(close + 2);
  } else {
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos) {
      return Refuse(text, "no port after the host (HOST:PORT)", error);
    }
    url.host = std::string(rest.substr(0, colon));
    portText = rest.substr(colon + 1);
    if (url.host.find(':') != std::string::npos) {
      return Refuse(text, "an IPv6 address goes in brackets ([" + url.host + "]:PORT)", error);
    }
    if (!IsHostName(url.host)) {
      return Refuse(text, "'" + url.host + "' is not a host name or IPv4 address", error);
    }
  }
  const auto port = ParsePort(portText);
  if (!port) {
    return Refuse(text, "the port '" + std::string(portText) + "' is not a number in 1-65535", error);
  }
  url.port = *port;
  return url;
}

}  // namespace fwu::network_port
