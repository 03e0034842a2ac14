#include "protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace telvor::client {
namespace {

// Feeds `pieces` as successive receives and collects every complete reply.
std::vector<std::string> Frame(const std::vector<std::string>& pieces) {
  ReplyReader reader;
  std::vector<std::string> replies;
  reader.BeginReply();
  for (const std::string& piece : pieces) {
    for (std::size_t at = 0; at < piece.size(); at += kReceiveChunk) {
      const std::string chunk = piece.substr(at, kReceiveChunk);
      std::memcpy(reader.ReceiveSpace(), chunk.data(), chunk.size());
      reader.Received(chunk.size());
      while (reader.Advance()) {
        replies.emplace_back(reader.TextView());
        reader.BeginReply();
      }
    }
  }
  return replies;
}

TEST(ReplyReader, EndsAReplyAtItsLineEndWhateverTheSegments) {
  using Replies = std::vector<std::string>;
  EXPECT_EQ(Frame({"200 Ok.\r\n"}), Replies({"200 Ok.\r\n"}));
  EXPECT_EQ(Frame({"200 Ok.\n"}), Replies({"200 Ok.\n"}));
  EXPECT_EQ(Frame({"2", "00 O", "k.\r", "\n"}), Replies({"200 Ok.\r\n"}));
  EXPECT_EQ(Frame({"200 Ok."}), Replies{});  // no line end yet: not complete

  // The two replies after an upload, arriving in one segment.
  const std::string both =
      "150 FILE: /tmp/doc7.ps (Opening new data connection).\r\n"
      "226 Transfer complete (FILE: /tmp/doc7.ps).\r\n";
  EXPECT_EQ(Frame({both}), Replies({"150 FILE: /tmp/doc7.ps (Opening new data connection).\r\n",
                                    "226 Transfer complete (FILE: /tmp/doc7.ps).\r\n"}));
}

TEST(ReplyReader, MultiLineReplyRunsToTheLineWithItsCodeAndABlank) {
  using Replies = std::vector<std::string>;
  const std::string greeting =
      "220-hylafax.example.com server ready.\r\n"
      "220-Second line\r\n"
      "230 not the end: another code\r\n"
      "220-\r\n"
      "220 End of greeting.\r\n";
  EXPECT_EQ(Frame({greeting, "331 Password required for alice.\r\n"}),
            Replies({greeting, "331 Password required for alice.\r\n"}));
  // A final line of the code alone also closes.
  EXPECT_EQ(Frame({"211-Status\n", "211\n", "200 Ok.\n"}),
            Replies({"211-Status\n211\n", "200 Ok.\n"}));
  // Lines without a code are replies of their own.
  EXPECT_EQ(Frame({"hello\nworld\n"}), Replies({"hello\n", "world\n"}));
}

TEST(ReplyReader, BoundsTheTextButKeepsTheFraming) {
  const std::string long_line = "500 " + std::string(3000, 'x') + "\r\n";
  const auto replies = Frame({long_line + "200 Next.\r\n"});
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0], long_line.substr(0, kReplyTextCapacity));
  EXPECT_EQ(replies[1], "200 Next.\r\n");

  // A zero byte ends the text, not the reply.
  const char zero_inside[] = "200 A\0B\r\n250 C\r\n";
  const auto with_zero = Frame({std::string(zero_inside, sizeof zero_inside - 1)});
  ASSERT_EQ(with_zero.size(), 2u);
  EXPECT_EQ(with_zero[0], "200 A");
  EXPECT_EQ(with_zero[1], "250 C\r\n");
}

TEST(PassiveReply, ReadsAddressAndPort) {
  struct Case {
    const char* reply;
    const char* address;
    std::uint16_t port;
  };
  const Case cases[] = {
      {"227 Entering Passive Mode (192,168,1,10,17,208)", "192.168.1.10", 4560},
      {"227 (192,168,1,10,0,80)", "192.168.1.10", 80},
      {"227 (10,0,0,1,0,21)", "10.0.0.1", 21},
      {"227 Entering Passive Mode (127,0,3,1,255,255).\r\n", "127.0.3.1", 65535},
      // Fewer than five commas: no port; no closing parenthesis: e * 256.
      {"227 (10,0,0,1,4)", "10.0.0.1", 0},
      {"227 (10,0,0,1,4,7", "10.0.0.1", 1024},
      // Whatever follows the closing parenthesis is prose.
      {"227 (10,0,0,1,1,2) 99)", "10.0.0.1", 258},
      // Other characters keep their place and end the address text there.
      {"227 (10,0,x,1,0,21)", "10.0.", 21},
      // Numbers of more than three digits: no endpoint.
      {"227 (1000,0,0,1,0,21)", "", 0},
      {"227 (10,0,0,1,0,2100)", "", 0},
      {"227 (10,0,0,1,0021,1)", "", 0},
      // An address that would outgrow its 15 characters: no endpoint.
      {"227 (127,  000,000,001,0,21)", "", 0},
      {"227 Entering Passive Mode", "", 0},
  };
  for (const Case& c : cases) {
    PassiveAddress address;
    std::uint16_t port = 0;
    parse_passive_reply(address, port, c.reply);
    EXPECT_STREQ(address.text, c.address) << c.reply;
    EXPECT_EQ(port, c.port) << c.reply;
  }
}

TEST(ServerFileName, TakenWholeFromFileTagToPsOrRefused) {
  char name[kMaxServerFileName + 1];
  EXPECT_TRUE(ExtractServerFileName("226 Transfer complete (FILE: /tmp/doc12.ps).\r\n", name));
  EXPECT_STREQ(name, "/tmp/doc12.ps");

  // A refused name leaves nothing behind (255 against 256 characters is
  // driven through sockets).
  EXPECT_FALSE(ExtractServerFileName("226 Transfer complete.\r\n", name));
  EXPECT_STREQ(name, "");
  EXPECT_FALSE(ExtractServerFileName("226 Transfer complete (FILE: /tmp/doc1).\r\n", name));
  EXPECT_FALSE(ExtractServerFileName("226 doc.ps stored (FILE: /tmp/doc1)\r\n", name));
  EXPECT_FALSE(ExtractServerFileName("226 (FILE: /tmp/doc1\r\n226 x.ps)\r\n", name));
  const char zero_inside[] = "226 (FILE: /tmp/d\0oc1.ps)";
  EXPECT_FALSE(ExtractServerFileName(std::string_view(zero_inside, sizeof zero_inside - 1), name));
}

TEST(Replies, LoginAndJobAreJudgedByTheirCodes) {
  // The codes hfaxd gives: a password asked for and refused or taken, a user
  // let in without one (a 503 to "PASS" then is harmless), a user refused.
  const auto login = [](const char* user, const char* password) {
    return LoginAccepted(ReplyCode(user), ReplyCode(password));
  };
  EXPECT_FALSE(login("331 Password required for alice.\r\n", "530 Login incorrect.\r\n"));
  EXPECT_TRUE(login("331 Password required for alice.\r\n", "230 User alice logged in.\r\n"));
  EXPECT_TRUE(login("230 User alice logged in.\r\n", "503 Already logged in as USER alice.\r\n"));
  EXPECT_FALSE(login("530 User alice access denied.\r\n", "230 Ok.\r\n"));
  EXPECT_FALSE(login("421 Service not available.\r\n", ""));
  EXPECT_FALSE(login("331 Password required.\r\n", ""));  // the connection closed

  EXPECT_EQ(SubmittedJobId("200 Job 12 submitted.\r\n"), "12");
  EXPECT_EQ(SubmittedJobId("200 Submitted.\r\n"), "");
  EXPECT_EQ(SubmittedJobId("200 Job " + std::string(21, '7') + " submitted."), "");
  EXPECT_EQ(JobNumber("4294967295"), 4294967295u);
  EXPECT_EQ(JobNumber("4294967296"), 0u);  // beyond the callers' 32 bits
  EXPECT_EQ(JobNumber(""), 0u);
}

TEST(Replies, TelnetWireFormDoublesEveryFFByte) {
  const std::string line = "JPARM JOBINFO \xFF\xFFx\xFF\n";
  char wire[2 * 32];
  const std::size_t length = TelnetWireForm(line, wire);
  EXPECT_EQ(std::string(wire, length), "JPARM JOBINFO \xFF\xFF\xFF\xFFx\xFF\xFF\n");
}

}  // namespace
}  // namespace telvor::client
