// Laid-out replies: the writer's text with files' Base64 read in only while
// the body is given out, byte for byte what the writer makes of the reply
// with the texts in it; a file that is no longer what was laid out stops the
// body; the texts a reply holds are bounded by the reply text budget.
#include "export/reply_body.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <json/json.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "base/base64.hpp"
#include "base/json_text.hpp"
#include "export/base64_splice.hpp"
#include "tests/export/export_test_support.hpp"

namespace {

using export_test::TempDir;
using export_test::WriteFile;

std::string Styled(const Json::Value& value) { return StyledJson(value); }

std::string Noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// Sizes around the reader's pieces (3 x 64 KiB raw bytes) and the Base64
// groups.
const std::size_t kSizes[] = {1, 2, 3, 4, 196607, 196608, 196609, 3 * 196608 + 2};

class LaidOutReply : public ::testing::Test {
 protected:
  std::string Put(const std::string& name, const std::string& bytes) {
    const std::string path = folder_.path() + "/" + name;
    WriteFile(path, bytes);
    return path;
  }
  TempDir folder_;
};

TEST_F(LaidOutReply, FilesReadWhileGivenOutMakeTheWritersText) {
  Base64Splice splice;
  Json::Value plain(Json::objectValue);
  Json::Value spliced(Json::objectValue);
  unsigned seed = 1;
  for (std::size_t size : kSizes) {
    const std::string name = "p" + std::to_string(size) + ".png";
    const std::string bytes = Noise(size, seed++);
    spliced["image_files"][name]["base64"] = splice.StandInFile(Put(name, bytes));
    plain["image_files"][name]["base64"] = Base64Encode(bytes);
    spliced["image_files"][name]["name"] = plain["image_files"][name]["name"] = "caf\xC3\xA9 \"" + name + "\"";
  }
  // An empty file and one that cannot be read are written as empty texts.
  spliced["image_files"]["empty.png"]["base64"] = splice.StandInFile(Put("empty.png", ""));
  plain["image_files"]["empty.png"]["base64"] = "";
  bool readable = true;
  spliced["image_files"]["gone.png"]["base64"] = splice.StandInFile(folder_.path() + "/gone.png", &readable);
  plain["image_files"]["gone.png"]["base64"] = "";
  EXPECT_FALSE(readable);
  spliced["capture"] = splice.StandIn(Base64Encode(std::string("png")));
  plain["capture"] = Base64Encode(std::string("png"));

  const ReplyBody body = splice.Lay(spliced);
  const std::string expected = Styled(plain);
  EXPECT_EQ(body.size(), expected.size());
  std::string text;
  ASSERT_TRUE(body.ToText(text));
  EXPECT_TRUE(text == expected);
  EXPECT_FALSE(body.ToText(text, expected.size() - 1));
}

TEST_F(LaidOutReply, PiecesStayBoundedWhateverTheFilesSize) {
  Base64Splice splice;
  Json::Value reply(Json::objectValue);
  Json::Value plain(Json::objectValue);
  const std::string bytes = Noise(8 << 20, 7);
  reply["a"] = splice.StandInFile(Put("big.png", bytes));
  plain["a"] = Base64Encode(bytes);
  const ReplyBody body = splice.Lay(reply);
  ReplyBody::Reader reader(body);
  std::string_view piece;
  std::size_t largest = 0;
  std::string all;
  while (reader.Next(piece) == ReplyBody::Reader::Status::kPiece) {
    largest = std::max(largest, piece.size());
    all.append(piece);
  }
  EXPECT_LE(largest, 128u * 1024);
  EXPECT_TRUE(all == Styled(plain));
}

struct Change {
  const char* name;
  void (*apply)(const std::string& path);
};

void PrintTo(const Change& change, std::ostream* out) { *out << change.name; }

const Change kChanges[] = {
    {"Shrunk", [](const std::string& path) { ASSERT_EQ(::truncate(path.c_str(), 1000), 0); }},
    {"Grown", [](const std::string& path) { WriteFile(path, Noise(300000, 9)); }},
    {"Replaced", [](const std::string& path) {
       WriteFile(path + ".new", Noise(200000, 3));
       ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
     }},
    {"Removed", [](const std::string& path) { ASSERT_EQ(::unlink(path.c_str()), 0); }},
};

class ChangedFile : public LaidOutReply, public ::testing::WithParamInterface<Change> {};

TEST_P(ChangedFile, StopsTheBodyInsteadOfGivingOtherBytes) {
  Base64Splice splice;
  Json::Value reply(Json::objectValue);
  const std::string path = Put("p.png", Noise(200000, 3));
  reply["p"] = splice.StandInFile(path);
  const ReplyBody body = splice.Lay(reply);
  GetParam().apply(path);
  std::string text;
  EXPECT_FALSE(body.ToText(text));
  EXPECT_TRUE(text.empty());
}

INSTANTIATE_TEST_SUITE_P(Files, ChangedFile, ::testing::ValuesIn(kChanges),
                         [](const ::testing::TestParamInfo<Change>& info) { return std::string(info.param.name); });

TEST_F(LaidOutReply, HeldFilesAreSentAfterTheyAreDeletedEvenPastTheHeldLimit) {
  Base64Splice splice(Base64File::Keep::kHold);
  Json::Value plain(Json::objectValue);
  Json::Value spliced(Json::objectValue);
  std::vector<std::string> paths;
  // More than may be held open: the rest are read at once.
  for (int i = 0; i < Base64File::kMaxHeld + 20; ++i) {
    const std::string name = "f" + std::to_string(i) + ".png";
    const std::string bytes = Noise(100 + i, i);
    paths.push_back(Put(name, bytes));
    spliced[name] = splice.StandInFile(paths.back());
    plain[name] = Base64Encode(bytes);
  }
  const ReplyBody body = splice.Lay(spliced);
  for (const std::string& path : paths) ASSERT_EQ(::unlink(path.c_str()), 0);
  std::string text;
  ASSERT_TRUE(body.ToText(text));
  EXPECT_TRUE(text == Styled(plain));
}

class ReplyBudget : public LaidOutReply {
 protected:
  void SetUp() override { SetReplyTextBudget(100000); }
  void TearDown() override { SetReplyTextBudget(kReplyTextBudgetBytes); }
};

TEST_F(ReplyBudget, TextsPastTheBudgetAreRefusedAndHeldOnlyWhileTheBodyLives) {
  ASSERT_EQ(ReplyTextHeld(), 0u);
  {
    Base64Splice splice;
    // Escaped as the writer writes it: six bytes for each control character.
    EXPECT_THROW(splice.ChargeText(std::string(20000, '\x01')), ReplyBudgetExceeded);
    EXPECT_EQ(ReplyTextHeld(), 0u);
    splice.ChargeText(std::string(60000, 'a'));
    Json::Value reply(Json::objectValue);
    reply["text"] = std::string(60000, 'a');
    reply["picture"] = splice.StandInFile(Put("p.png", Noise(500000, 1)));
    // The picture costs nothing until it is sent.
    const ReplyBody body = splice.Lay(reply);
    EXPECT_GE(ReplyTextHeld(), 60000u);
    EXPECT_LT(ReplyTextHeld(), 61000u);
    Base64Splice other;
    EXPECT_THROW(other.ChargeText(std::string(50000, 'b')), ReplyBudgetExceeded);
  }
  EXPECT_EQ(ReplyTextHeld(), 0u);
  Base64Splice after;
  after.ChargeText(std::string(90000, 'c'));
}

// The writer's string layout, which the budget counts before the writer runs.
TEST(StyledJsonStringSize, IsWhatTheWriterWrites) {
  const std::string cases[] = {
      "",        "plain",         "a\"b\\c/",        std::string("\x01\x1f\x7f", 3), "\b\f\n\r\t",
      "caf\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xC3",                        "\xE2\x82",
      "\xFF",    "\x80",          "\xC0\x80",        "\xED\xA0\x80",                  "\xF4\x90\x80\x80",
      "\xF8\x88\x80\x80\x80",     "\xF0\x80\x80\x80", std::string("a\0b", 3),        "\xF0\x9F\x98"};
  for (const std::string& text : cases) {
    EXPECT_EQ(StyledJsonStringSize(text), Styled(Json::Value(text)).size() - 1) << text;
  }
  std::mt19937 random(3465);
  for (int round = 0; round < 2000; ++round) {
    std::string text(random() % 40, '\0');
    // Mostly bytes that matter to the escaping, some plain ones.
    for (char& c : text) c = static_cast<char>(random() % 3 == 0 ? 'a' + random() % 26 : random());
    ASSERT_EQ(StyledJsonStringSize(text), Styled(Json::Value(text)).size() - 1) << round;
  }
}

}  // namespace
