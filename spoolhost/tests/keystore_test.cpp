#include "keystore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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

// The key as the monitor reaches it: through the spooler's registry functions.
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

  void Open(KeyStore* store) {
    std::string error;
    ASSERT_TRUE(store->Open(u"libquor.so", &error)) << error;
    FillMonitorInit(store, &records_);
  }

  DWORD Count() {
    DWORD count = 99;
    EXPECT_EQ(reg().fpQueryInfoKey(key(), nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                                   nullptr, init().hSpooler),
              0);
    return count;
  }

  LONG Set(const char16_t* name, DWORD type, const void* data, DWORD size) {
    return reg().fpSetValue(key(), name, type, static_cast<const BYTE*>(data), size,
                            init().hSpooler);
  }

  // EnumValue as the monitor calls it: 128-unit name, data capacity given.
  LONG Enum(DWORD index, Text* name, Text* text, DWORD data_capacity = 256) {
    char16_t name_buffer[128] = {};
    char16_t data[256] = {};
    DWORD name_capacity = 128;
    data_size_ = data_capacity;
    const LONG result =
        reg().fpEnumValue(key(), index, name_buffer, &name_capacity, nullptr,
                          reinterpret_cast<BYTE*>(data), &data_size_, init().hSpooler);
    *name = name_buffer;
    *text = data;
    return result;
  }

  const MONITORINIT& init() const { return records_.init; }
  const MONITORREG& reg() const { return *records_.init.pMonitorReg; }
  HANDLE key() const { return records_.init.hckRegistryRoot; }

  std::string directory_;
  std::string path_;
  MonitorInitRecords records_{};
  DWORD data_size_ = 0;
};

TEST_F(KeyStoreTest, RegistrationLeavesTheOneValueTheSpoolerWrites) {
  KeyStore store(path_);
  Open(&store);
  EXPECT_NE(ReadFile(path_).find("\n\"Driver\"=\"libquor.so\"\n"), std::string::npos);
  struct stat status {};
  ASSERT_EQ(stat(path_.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);  // it will hold the password

  EXPECT_EQ(Count(), 1u);
  Text name, text;
  EXPECT_EQ(Enum(0, &name, &text), 0);
  EXPECT_EQ(name, u"Driver");
  EXPECT_EQ(text, u"libquor.so");
  EXPECT_EQ(data_size_, 22u);
  EXPECT_EQ(Enum(1, &name, &text), 259);

  // The file exists now: opening it again registers nothing more.
  KeyStore again(path_);
  Open(&again);
  ASSERT_EQ(again.values().size(), 1u);
  EXPECT_EQ(again.values()[0].text, u"libquor.so");
}

TEST_F(KeyStoreTest, TextsSurviveTheFileAndKeepTheirPlace) {
  KeyStore store(path_);
  Open(&store);
  EXPECT_EQ(Set(u"HylaFAXServerIp", 1, u"192.168.1.10", 26), 0);
  EXPECT_EQ(Set(u"User", 1, u"alice", 12), 0);
  // Names match without regard to case; the value keeps its place and name.
  EXPECT_EQ(Set(u"USER", 1, u"bob", 8), 0);
  // What a plain quoted text could not carry.
  const char16_t awkward[] = u"a \"quoted\" \\ back\nslash \u00e9 \U0001F600 \xD800!";
  EXPECT_EQ(Set(u"Note=\"x\"", 1, awkward, sizeof awkward), 0);
  // Anything but a terminated text is refused and changes nothing.
  const DWORD number = 1;
  EXPECT_EQ(Set(u"Number", 4, &number, 4), 87);
  EXPECT_EQ(Set(u"Unterminated", 1, u"ab", 4), 87);
  EXPECT_EQ(Set(u"Inner", 1, u"a\0b", 8), 87);
  EXPECT_EQ(Count(), 4u);

  KeyStore reloaded(path_);
  Open(&reloaded);
  EXPECT_EQ(Count(), 4u);
  Text name, text;
  EXPECT_EQ(Enum(1, &name, &text), 0);
  EXPECT_EQ(name, u"HylaFAXServerIp");
  EXPECT_EQ(text, u"192.168.1.10");
  EXPECT_EQ(data_size_, 26u);
  EXPECT_EQ(Enum(2, &name, &text), 0);
  EXPECT_EQ(name, u"User");
  EXPECT_EQ(text, u"bob");
  EXPECT_EQ(Enum(3, &name, &text), 0);
  EXPECT_EQ(name, u"Note=\"x\"");
  EXPECT_EQ(text, awkward);
  EXPECT_NE(ReadFile(path_).find("\n\"HylaFAXServerIp\"=\"192.168.1.10\"\n"), std::string::npos);
}

TEST_F(KeyStoreTest, DataThatDoesNotFitIsReportedWithItsSize) {
  KeyStore store(path_);
  Open(&store);
  const Text longest(127, u'x');  // 256 bytes with its terminator: read whole
  EXPECT_EQ(Set(u"HylaFAXServerIp", 1, longest.c_str(), 256), 0);
  const Text too_long(128, u'y');
  EXPECT_EQ(Set(u"User", 1, too_long.c_str(), 258), 0);

  Text name, text;
  EXPECT_EQ(Enum(1, &name, &text), 0);
  EXPECT_EQ(text, longest);
  EXPECT_EQ(Enum(2, &name, &text), 234);
  EXPECT_EQ(data_size_, 258u);
  EXPECT_EQ(Enum(0, &name, &text, 21), 234);  // "libquor.so" needs 22
  EXPECT_EQ(data_size_, 22u);
}

TEST_F(KeyStoreTest, AKeyThatCannotBeReadIsRefusedNotRegisteredAfresh) {
  std::ofstream(path_) << "; comment\n\"A\"=\"b\"\nnot a value\n";
  KeyStore store(path_);
  std::string error;
  EXPECT_FALSE(store.Open(u"libquor.so", &error));
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;
  std::vector<StoredValue> values;
  for (const char* bad :
       {"\"A\"=hex(1):00,00", "\"A\"=\"open", "\"A\"=\"\\q\"", "\"A\"\"b\"", "\"A\"=\"\\u12G4\""}) {
    EXPECT_FALSE(ParseStore(bad, &values, &error)) << bad;
  }

  // A directory where the file should be: there, but not readable as a key.
  std::remove(path_.c_str());
  ASSERT_EQ(mkdir(path_.c_str(), 0700), 0);
  EXPECT_FALSE(KeyStore(path_).Open(u"libquor.so", &error));
  EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
  rmdir(path_.c_str());
}

TEST_F(KeyStoreTest, AWriteThatCannotBeStoredChangesNothing) {
  KeyStore store(path_);
  Open(&store);
  // The key's directory goes away under it.
  std::remove(path_.c_str());
  ASSERT_EQ(std::remove(directory_.c_str()), 0);
  EXPECT_EQ(Set(u"User", 1, u"alice", 12), 5);
  EXPECT_EQ(Count(), 1u);
}

// The store holds the password: only its owner writes it, its group at
// most reads it, others nothing; a store that is no plain file of settings,
// or belongs to another user, is refused (a FIFO without waiting on it).
TEST_F(KeyStoreTest, AStoreOthersCanReadOrItsGroupCanWriteIsRefused) {
  std::string error;
  EXPECT_TRUE(CheckStorePrivate(path_, &error));  // not made yet
  KeyStore store(path_);
  Open(&store);
  for (const mode_t mode : {0600, 0640, 0400}) {
    ASSERT_EQ(chmod(path_.c_str(), mode), 0);
    EXPECT_TRUE(CheckStorePrivate(path_, &error)) << std::oct << mode;
  }
  for (const mode_t mode : {0660, 0620, 0604, 0602, 0601}) {
    ASSERT_EQ(chmod(path_.c_str(), mode), 0);
    EXPECT_FALSE(CheckStorePrivate(path_, &error)) << std::oct << mode;
  }
  ASSERT_EQ(chmod(path_.c_str(), 0600), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(path_.c_str(), 65534, static_cast<gid_t>(-1)), 0);
    EXPECT_FALSE(CheckStorePrivate(path_, &error));
    EXPECT_NE(error.find("belongs to nobody, who could change it; only root may own it"),
              std::string::npos)
        << error;
    ASSERT_EQ(chown(path_.c_str(), 0, static_cast<gid_t>(-1)), 0);
  }
  ASSERT_EQ(truncate(path_.c_str(), kMaxStoreSize + 1), 0);
  EXPECT_FALSE(CheckStorePrivate(path_, &error));
  EXPECT_FALSE(KeyStore(path_).Open(u"libquor.so", &error));

  const std::string link = directory_ + "/link.reg";
  const std::string fifo = directory_ + "/fifo.reg";
  ASSERT_EQ(truncate(path_.c_str(), 0), 0);
  ASSERT_EQ(symlink(path_.c_str(), link.c_str()), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& other : {link, fifo}) {
    EXPECT_FALSE(CheckStorePrivate(other, &error)) << other;
    EXPECT_FALSE(KeyStore(other).Open(u"libquor.so", &error)) << other;
  }
  std::remove(link.c_str());
  std::remove(fifo.c_str());
}

}  // namespace
}  // namespace telvor::spoolhost
