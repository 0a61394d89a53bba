// The record store's sender under load: SENDERS senders at once (each a station's records file with its own
// sender, as many stations would run), each file getting RECORDS records appended one by one; every record's delay
// is the time from its append to the database's commit. Prints "records/s  slowest-delay-ms".
//
//   fwu_record_store_bench CONNINFO DIR SENDERS RECORDS
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "record_store/connection.h"
#include "record_store/record_id.h"
#include "record_store/sender.h"

namespace {

namespace store = fwu::record_store;
using Clock = std::chrono::system_clock;

std::string Record(const std::string& id, const std::string& station, int n) {
  return nlohmann::ordered_json{{"record_id", id},
                                {"slot", "slot" + std::to_string(n % 8)},
                                {"port", "/dev/ttyUSB" + std::to_string(n % 8)},
                                {"station", station},
                                {"operator", "bench"},
                                {"lot", "L1"},
                                {"outcome", "finished"},
                                {"message", "Finished"},
                                {"started", "2026-01-01T00:00:00Z"},
                                {"ended", "2026-01-01T00:00:40Z"}}
      .dump();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: fwu_record_store_bench CONNINFO DIR SENDERS RECORDS\n", stderr);
    return 2;
  }
  const std::string conninfo = argv[1];
  const std::string dir = argv[2];
  const int senders = std::stoi(argv[3]);
  const int records = std::stoi(argv[4]);
  std::mutex mutex;
  std::map<std::string, Clock::time_point> appended;
  const auto begin = Clock::now();
  std::vector<std::thread> threads;
  for (int s = 0; s < senders; ++s) {
    threads.emplace_back([&, s] {
      const std::string station = "bench-" + std::to_string(s);
      const std::string path = dir + "/" + station + ".jsonl";
      store::Sender sender(conninfo, path, nullptr);
      sender.Start();
      std::ofstream file(path, std::ios::app);
      for (int n = 0; n < records; ++n) {
        const std::string id = store::NewRecordId();
        file << Record(id, station, n) << '\n' << std::flush;
        {
          const std::lock_guard lock(mutex);
          appended[id] = Clock::now();
        }
        sender.Wake();
        // A busy station ends a unit every few seconds per slot; here a record every 2 ms.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      while (sender.Status().sent < static_cast<std::uint64_t>(records)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      sender.Stop();
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  // The commit times, as the server took them (one clock: the same machine).
  store::Connection connection;
  std::string reason;
  if (!connection.Open(conninfo, reason)) {
    std::fprintf(stderr, "%s\n", reason.c_str());
    return 1;
  }
  const store::Result rows = connection.Run(
      "SELECT record_id, extract(epoch FROM received) * 1e6 FROM records WHERE station LIKE 'bench-%'", {}, reason);
  if (!rows) {
    std::fprintf(stderr, "%s\n", reason.c_str());
    return 1;
  }
  double slowest = 0;
  double last = 0;
  for (int row = 0; row < PQntuples(rows.get()); ++row) {
    const auto at = appended.find(PQgetvalue(rows.get(), row, 0));
    const double received = std::stod(PQgetvalue(rows.get(), row, 1));
    last = std::max(last, received);
    if (at != appended.end()) {
      const double sent = std::chrono::duration<double, std::micro>(at->second.time_since_epoch()).count();
      slowest = std::max(slowest, (received - sent) / 1000.0);
    }
  }
  const double seconds = (last - std::chrono::duration<double, std::micro>(begin.time_since_epoch()).count()) / 1e6;
  std::printf("%d %.0f %.1f\n", PQntuples(rows.get()), PQntuples(rows.get()) / seconds, slowest);
  return 0;
}
