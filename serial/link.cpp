#include "serial/link.h"

namespace fwu {

std::optional<std::uint8_t> ReadByte(Link& link, Deadline& deadline) {
  return link.reader.Next(link.port, link.clock, deadline);
}

void PurgeLine(Link& link) {
  // The port first: while it purges, what the link holds is still there to be seen by a port that watches reads.
  link.port.Purge();
  link.reader.Drop();
}

Deadline LimitFromNow(Link& link, std::uint32_t limitMs) {
  return link.reader.Held() == 0 ? Deadline::AtFirstWait(limitMs) : Deadline::From(link.clock.NowMs(), limitMs);
}

}  // namespace fwu
