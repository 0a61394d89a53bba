#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "record_store/connection.h"
#include "record_store/conninfo.h"
#include "record_store/record_id.h"
#include "record_store/sender.h"
#include "record_store/spool.h"

namespace fwu::record_store {
namespace {

// What --db takes and refuses; a refusal never repeats a secret.
TEST(RecordStoreTest, ConnInfoTakenOrRefused) {
  struct Case {
    std::string conninfo;
    std::string fault;  // the start of the reason; empty: taken
  };
  const std::string password = "--db holds a password";
  const std::vector<Case> cases = {
      {"postgresql://station@db.plant.example/records?sslmode=require", ""},
      {"host=db port=5432 dbname=records user=station", ""},
      {"service=line3", ""},
      {"", ""},  // libpq's environment says it all
      {"postgresql://station:s3cret@db/records", password},
      {"host=db password=s3cret", password},
      {"host=db sslpassword=s3cret", password},
      {"postgresql://db/records?password=s3cret", password},
      {"host=db password='s3cret", password},  // unreadable, and a secret in it: libpq's words not repeated
      {"host=db nonsense=1", "--db is not a connection string libpq reads: invalid connection option \"nonsense\""},
  };
  for (const Case& each : cases) {
    const std::string fault = ConnInfoFault(each.conninfo);
    EXPECT_TRUE(fault.starts_with(each.fault) && fault.empty() == each.fault.empty()) << each.conninfo << ": " << fault;
    EXPECT_EQ(fault.find("s3cret"), std::string::npos) << fault;
  }
}

TEST(RecordStoreTest, ShortReasonOfLibpqMessages) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"connection to server at \"127.0.0.1\", port 5432 failed: Connection refused\n\tIs the server running on "
       "that host and accepting TCP/IP connections?\n",
       "connection refused"},
      {"connection to server at \"db\" (10.0.0.5), port 5432 failed: FATAL:  password authentication failed for "
       "user \"station\"\n",
       "password authentication failed for user \"station\""},
      {"ERROR:  permission denied for table records\n", "permission denied for table records"},
      {"SSL SYSCALL error: EOF detected\n", "SSL SYSCALL error: EOF detected"},
      {"", "the database gave no reason"},
  };
  for (const auto& [message, reason] : cases) {
    EXPECT_EQ(ShortReason(message), reason);
  }
}

TEST(RecordStoreTest, RecordIds) {
  const std::string fresh = NewRecordId();
  EXPECT_TRUE(IsRecordId(fresh)) << fresh;
  EXPECT_EQ(fresh[14], '4');
  EXPECT_NE(fresh, NewRecordId());
  const auto old = nlohmann::ordered_json::parse(R"({"slot":"s1","started":"2025-03-04T13:05:09Z"})");
  const std::string derived = RecordIdOf(old);
  EXPECT_EQ(derived,
            DerivedRecordId(nlohmann::ordered_json::parse(R"({ "slot": "s1", "started": "2025-03-04T13:05:09Z" })")));
  EXPECT_EQ(derived[14], '8');
  EXPECT_NE(derived, RecordIdOf(nlohmann::ordered_json::parse(R"({"slot":"s2","started":"2025-03-04T13:05:09Z"})")));
  EXPECT_EQ(RecordIdOf(nlohmann::ordered_json{{"record_id", fresh}}), fresh);
  for (const char* text : {"", "0b6c3f9e-5d1a-4e2b-9c47-1f0a2b3c4d5", "0b6c3f9e-5d1a-4e2b-9c47_1f0a2b3c4d5e",
                           "0b6c3f9e-5d1a-4e2b-9c47-1f0a2b3c4d5g"}) {
    EXPECT_FALSE(IsRecordId(text)) << text;
  }
}

TEST(RecordStoreTest, BackoffAndStatus) {
  const std::vector<std::pair<unsigned, long>> pauses = {{0, 0},     {1, 1000},  {2, 2000},
                                                         {5, 16000}, {6, 30000}, {40, 30000}};
  for (const auto& [failures, ms] : pauses) {
    EXPECT_EQ(BackoffAfter(failures).count(), ms) << failures;
  }
  EXPECT_EQ(StatusText({12, "10:03", "connection refused", 0}),
            "12 records waiting for the database since 10:03: connection refused");
  EXPECT_EQ(StatusText({1, "10:03", "connection refused", 0}),
            "1 record waiting for the database since 10:03: connection refused");
  EXPECT_EQ(StatusText({0, "", "the database has no records table yet", 0}),
            "the database: the database has no records table yet");
  EXPECT_EQ(StatusText({3, "10:03", "", 7}), "");
}

// The records file as the sender reads it: whole lines only, a torn line passed over, an old record given its
// derived id, and the cursor forgotten when the file at the path is another one.
TEST(RecordStoreTest, SpoolAndCursor) {
  const auto dir = std::filesystem::temp_directory_path() / ("fwu-spool-" + NewRecordId());
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "r.jsonl").string();
  const std::string id = NewRecordId();
  const std::string first = R"({"record_id":")" + id + R"(","slot":"s1"})";
  std::ofstream(path) << first << "\n{\"slot\":\"cut sh\n\n{\"slot\":\"old\"}\n{\"slot\":\"being writ";
  SpoolBatch batch;
  std::string error;
  ASSERT_TRUE(ReadSpool(path, 0, 10, batch, error)) << error;
  EXPECT_EQ(batch.lines, 3U);
  EXPECT_EQ(batch.recordCount, 2U);
  const auto records = nlohmann::ordered_json::parse(batch.records);
  EXPECT_EQ(records[0]["record_id"], id);
  EXPECT_EQ(records[1]["record_id"], DerivedRecordId(nlohmann::ordered_json{{"slot", "old"}}));
  EXPECT_EQ(batch.end, std::filesystem::file_size(path) - std::string("{\"slot\":\"being writ").size());
  ASSERT_TRUE(ReadSpool(path, 0, 1, batch, error));
  EXPECT_EQ(batch.end, first.size() + 1);

  SpoolCursor cursor(path);
  EXPECT_EQ(cursor.Load(), 0U);
  cursor.Save(batch.end);
  EXPECT_EQ(SpoolCursor(path).Load(), first.size() + 1);
  std::filesystem::rename(path, path + ".1");  // rotated: a new file begun at the path
  std::ofstream(path) << R"({"slot":"s2"})"
                      << "\n"
                      << first << "\n";
  EXPECT_EQ(SpoolCursor(path).Load(), 0U);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace fwu::record_store
