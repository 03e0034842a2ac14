#include "keystore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace telvor::spoolhost {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> bytes) {
  std::vector<std::uint8_t> out;
  for (int b : bytes) out.push_back(static_cast<std::uint8_t>(b));
  return out;
}

class KeyStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/keystore-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
    path_ = directory_ + "/TelvorMon.reg";
  }
  void TearDown() override {
    std::remove(path_.c_str());
    std::remove(directory_.c_str());
  }

  std::string directory_;
  std::string path_;
};

TEST_F(KeyStoreTest, RegistrationLeavesTheOneValueTheSpoolerWrites) {
  KeyStore store(path_);
  std::string error;
  ASSERT_TRUE(store.Open(u"libquor.so", &error)) << error;
  EXPECT_NE(ReadFile(path_).find("\n\"Driver\"=\"libquor.so\"\n"), std::string::npos);

  std::uint32_t count = 99;
  EXPECT_EQ(store.QueryInfo(&count, nullptr, nullptr), 0);
  EXPECT_EQ(count, 1u);

  char16_t name[128] = {};
  std::uint32_t name_capacity = 128;
  std::uint32_t type = 0;
  std::uint8_t data[256] = {};
  std::uint32_t data_capacity = 256;
  EXPECT_EQ(store.EnumValue(0, name, &name_capacity, &type, data, &data_capacity), 0);
  EXPECT_EQ(TextView(name), u"Driver");
  EXPECT_EQ(name_capacity, 6u);
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(data_capacity, 22u);
  EXPECT_EQ(TextView(reinterpret_cast<const char16_t*>(data)), u"libquor.so");
  EXPECT_EQ(store.EnumValue(1, name, &name_capacity, &type, data, &data_capacity), 259);

  // The file exists now: opening it again registers nothing more.
  KeyStore again(path_);
  ASSERT_TRUE(again.Open(u"other.so", &error));
  ASSERT_EQ(again.values().size(), 1u);
  EXPECT_EQ(again.values()[0].data, TextData(u"libquor.so"));
}

TEST_F(KeyStoreTest, EnumerationReportsBuffersThatAreTooSmall) {
  KeyStore store(path_);
  std::string error;
  ASSERT_TRUE(store.Open(u"libquor.so", &error));
  char16_t name[16] = {};
  std::uint32_t name_capacity = 6;  // "Driver" needs 7 with its terminator
  std::uint8_t data[32] = {};
  std::uint32_t data_capacity = 32;
  EXPECT_EQ(store.EnumValue(0, name, &name_capacity, nullptr, data, &data_capacity), 234);

  name_capacity = 7;
  data_capacity = 21;
  EXPECT_EQ(store.EnumValue(0, name, &name_capacity, nullptr, data, &data_capacity), 234);
  EXPECT_EQ(data_capacity, 22u);

  name_capacity = 7;
  data_capacity = 0;
  EXPECT_EQ(store.EnumValue(0, name, &name_capacity, nullptr, nullptr, &data_capacity), 0);
  EXPECT_EQ(data_capacity, 22u);
}

TEST_F(KeyStoreTest, ValuesSurviveTheFileAndKeepTheirPlace) {
  KeyStore store(path_);
  std::string error;
  ASSERT_TRUE(store.Open(u"libquor.so", &error));
  const auto server = TextData(u"192.168.1.10");
  EXPECT_EQ(server.size(), 26u);
  EXPECT_EQ(store.SetValue(u"HylaFAXServerIp", 1, server.data(), 26), 0);
  const auto user = TextData(u"alice");
  EXPECT_EQ(store.SetValue(u"User", 1, user.data(), 12), 0);
  // Names match without regard to case; the value keeps its place and name.
  const auto other_user = TextData(u"bob");
  EXPECT_EQ(store.SetValue(u"USER", 1, other_user.data(), 8), 0);
  // Texts and data that a plain quoted text could not carry.
  const auto awkward = TextData(u"a \"quoted\" \\ back\nslash \u00e9 \U0001F600 \xD800!");
  EXPECT_EQ(store.SetValue(u"Note=\"x\"", 1, awkward.data(), std::uint32_t(awkward.size())), 0);
  const auto unterminated = Bytes({'a', 0, 'b', 0});
  EXPECT_EQ(store.SetValue(u"Unterminated", 1, unterminated.data(), 4), 0);
  const auto number = Bytes({1, 0, 0, 0});
  EXPECT_EQ(store.SetValue(u"Number", 4, number.data(), 4), 0);
  EXPECT_EQ(store.SetValue(u"Empty", 3, nullptr, 0), 0);

  KeyStore reloaded(path_);
  ASSERT_TRUE(reloaded.Open(u"libquor.so", &error)) << error;
  const auto& values = reloaded.values();
  ASSERT_EQ(values.size(), 7u);
  EXPECT_EQ(values[1].name, u"HylaFAXServerIp");
  EXPECT_EQ(values[1].data, server);
  EXPECT_EQ(values[2].name, u"User");
  EXPECT_EQ(values[2].data, other_user);
  EXPECT_EQ(values[3].name, u"Note=\"x\"");
  EXPECT_EQ(values[3].data, awkward);
  EXPECT_EQ(values[4].data, unterminated);
  EXPECT_EQ(values[5].type, 4u);
  EXPECT_EQ(values[5].data, number);
  EXPECT_EQ(values[6].type, 3u);
  EXPECT_TRUE(values[6].data.empty());
  EXPECT_NE(ReadFile(path_).find("\"HylaFAXServerIp\"=\"192.168.1.10\"\n"), std::string::npos);
  EXPECT_NE(ReadFile(path_).find("\"Number\"=hex(4):01,00,00,00\n"), std::string::npos);

  std::uint32_t type = 0;
  std::uint8_t data[64];
  std::uint32_t size = sizeof data;
  EXPECT_EQ(reloaded.QueryValue(u"user", &type, data, &size), 0);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(reloaded.DeleteValue(u"Number"), 0);
  EXPECT_EQ(reloaded.QueryValue(u"Number", &type, data, &size), 2);
  EXPECT_EQ(reloaded.DeleteValue(u"Number"), 2);
}

TEST_F(KeyStoreTest, AFileThatIsNotAKeyIsRefusedWithItsLine) {
  std::ofstream(path_) << "; comment\n\"A\"=\"b\"\nnot a value\n";
  KeyStore store(path_);
  std::string error;
  EXPECT_FALSE(store.Open(u"libquor.so", &error));
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;

  std::vector<StoredValue> values;
  for (const char* bad :
       {"\"A\"=hex(1):0", "\"A\"=hex(1):00,", "\"A\"=\"open", "\"A\"=\"\\q\"", "\"A\"\"b\""}) {
    EXPECT_FALSE(ParseStore(bad, &values, &error)) << bad;
  }
}

TEST_F(KeyStoreTest, AKeyThatCannotBeReadIsNotRegisteredAfresh) {
  // A directory where the file should be: there, but not readable as a key.
  ASSERT_EQ(mkdir(path_.c_str(), 0700), 0);
  KeyStore store(path_);
  std::string error;
  EXPECT_FALSE(store.Open(u"libquor.so", &error));
  EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
  rmdir(path_.c_str());
}

TEST_F(KeyStoreTest, AWriteThatCannotBeStoredChangesNothing) {
  KeyStore store(path_);
  std::string error;
  ASSERT_TRUE(store.Open(u"libquor.so", &error));
  // The key's directory goes away under it.
  std::remove(path_.c_str());
  ASSERT_EQ(std::remove(directory_.c_str()), 0);
  const auto user = TextData(u"alice");
  EXPECT_EQ(store.SetValue(u"User", 1, user.data(), 12), 5);
  std::uint32_t count = 0;
  store.QueryInfo(&count, nullptr, nullptr);
  EXPECT_EQ(count, 1u);
}

}  // namespace
}  // namespace telvor::spoolhost
