#include "base/base64.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// Bit-by-bit reference, independent of the table and vector paths.
std::string ReferenceBase64(const std::string& bytes) {
  static const char alphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (unsigned char c : bytes) {
    buffer = (buffer << 8) | c;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out.push_back(alphabet[(buffer >> bits) & 63]);
    }
  }
  if (bits > 0) out.push_back(alphabet[(buffer << (6 - bits)) & 63]);
  while (out.size() % 4 != 0) out.push_back('=');
  return out;
}

TEST(Base64Encode, Rfc4648Vectors) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("a"), "YQ==");
  EXPECT_EQ(Base64Encode("ab"), "YWI=");
  EXPECT_EQ(Base64Encode("abc"), "YWJj");
  EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Base64Encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Base64Encode(std::string("\xFB\xFF\xBF", 3)), "+/+/");
  EXPECT_EQ(Base64Encode(std::string("\0\0\0", 3)), "AAAA");
}

TEST(Base64Encode, MatchesReferenceForEveryLengthAndAllByteValues) {
  std::mt19937 random(7);
  for (std::size_t length = 0; length < 300; ++length) {
    std::string bytes(length, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    ASSERT_EQ(Base64Encode(bytes), ReferenceBase64(bytes)) << "length " << length;
  }
  std::string all;
  for (int i = 0; i < 256 * 3; ++i) all.push_back(static_cast<char>(i % 256));
  EXPECT_EQ(Base64Encode(all), ReferenceBase64(all));
}

TEST(Base64Encode, LengthIsFourPerStartedGroupAndNoLineBreaks) {
  const std::string big(100001, 'x');
  const std::string text = Base64Encode(big);
  EXPECT_EQ(text.size(), Base64EncodedLength(big.size()));
  EXPECT_EQ(text.size(), 4u * 33334u);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text, ReferenceBase64(big));
}

TEST(Base64Encode, PiecesOfThreeBytesConcatenate) {
  const std::string bytes = "0123456789abcdefghijklmnopqrstuvwxyz!";
  char out[64];
  std::size_t n = Base64EncodeTo(reinterpret_cast<const unsigned char*>(bytes.data()),
                                 18, out);
  n += Base64EncodeTo(reinterpret_cast<const unsigned char*>(bytes.data()) + 18,
                      bytes.size() - 18, out + n);
  EXPECT_EQ(std::string(out, n), ReferenceBase64(bytes));
}

}  // namespace
