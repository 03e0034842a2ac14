// QueueReader against a spool folder changed between its looks the way the
// server changes its own (see queue.h), with no server running.
#include "queue.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace telvor::hylafax {
namespace {

namespace fs = std::filesystem;

const char kDocument[] = "%!PS-Adobe-3.0\nshowpage\n";

class Spool : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/hylafax-queue-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    for (const char* queue : {"sendq", "doneq", "docq"}) fs::create_directory(root / queue);
  }
  void TearDown() override { fs::remove_all(root); }

  void Write(const std::string& file, const std::string& text) {
    std::ofstream(root / file, std::ios::binary) << text;
  }
  void Move(const std::string& from, const std::string& to) { fs::rename(root / from, root / to); }

  fs::path root;
};

std::string Record(const std::string& state, const std::string& document) {
  return "state:" + state + "\nnumber:5551234\njobtag:ours\npostscript:0::" + document + "\n";
}

TEST_F(Spool, ARecordCountsOnlyWholeAndTheSameTwice) {
  QueueReader reader("ours", {"number"}, root);
  EXPECT_FALSE(reader.Poll());
  Write("sendq/q9", "state:1\nnumber:999\njobtag:another job\n");
  Write("sendq/q7", "");  // created, not yet written
  EXPECT_FALSE(reader.Poll());
  Write("docq/doc7.ps.7", kDocument);
  const std::string whole = Record("1", "docq/doc7.ps.7");
  Write("sendq/q7", whole.substr(0, whole.size() - 5));  // read while rewritten
  EXPECT_FALSE(reader.Poll());
  EXPECT_FALSE(reader.Poll()) << "a record cut inside a line";
  Write("sendq/q7", whole);
  EXPECT_FALSE(reader.Poll()) << "taken at its first whole read";
  Move("docq/doc7.ps.7", "docq/doc7.ps");  // prepared; the record not yet rewritten
  EXPECT_FALSE(reader.Poll()) << "the record names a document that has moved";
  Write("sendq/q7", Record("5", "docq/doc7.ps"));
  Move("sendq/q7", "doneq/q7");  // the job ended: moved, then written again
  EXPECT_FALSE(reader.Poll()) << reader.Seen();
  Write("doneq/q7", Record("8", "docq/doc7.ps"));
  EXPECT_FALSE(reader.Poll()) << "changed since the last look";

  const auto record = reader.Poll();
  ASSERT_TRUE(record) << reader.Seen();
  EXPECT_EQ(record->file, "doneq/q7");
  EXPECT_EQ(record->fields.at("state"), "8");
  EXPECT_EQ(record->document, kDocument);
}

TEST_F(Spool, ARecordWithoutANeededFieldIsNotTaken) {
  QueueReader reader("ours", {"number", "maxdials"}, root);
  Write("sendq/q3", "number:1\njobtag:ours\n");
  EXPECT_FALSE(reader.Poll());
  EXPECT_FALSE(reader.Poll());
  EXPECT_NE(reader.Seen().find("lacks maxdials"), std::string::npos) << reader.Seen();
}

}  // namespace
}  // namespace telvor::hylafax
