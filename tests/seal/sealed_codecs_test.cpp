// The building blocks of the sealed container: MD5, Base64, the TEA keystream and "kz-zip".
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "seal/base64.h"
#include "seal/kz_zip.h"
#include "seal/md5.h"
#include "seal/tea_cipher.h"
#include "tests/support/hr_matchers.h"

namespace pelk::text {
namespace {

std::span<const uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}
std::string Str(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

std::string Hex(std::span<const uint8_t> bytes) {
  std::string out;
  char pair[3];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    out += pair;
  }
  return out;
}

TEST(Md5Test, Rfc1321TestSuite) {
  const std::pair<const char*, const char*> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [message, digest] : suite) {
    EXPECT_EQ(Hex(*Md5({Bytes(message)})), digest) << message;
  }
  // Parts are digested as their concatenation.
  EXPECT_EQ(Hex(*Md5({Bytes("mess"), Bytes(""), Bytes("age digest")})),
            "f96b697d7cb7938d525a2f31aaf161d0");
}

TEST(Base64Test, Rfc4648Vectors) {
  const char* plains[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
  const char* encodings[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (size_t i = 0; i < std::size(plains); ++i) {
    const std::string plain = plains[i], encoded = encodings[i];
    std::string out;
    Base64Encode(Bytes(plain), &out);
    EXPECT_EQ(out, encoded);
    std::vector<uint8_t> decoded;
    EXPECT_HR(S_OK, Base64Decode(encoded, &decoded));
    EXPECT_EQ(Str(decoded), plain);
  }
}

TEST(Base64Test, DecodingRules) {
  // Decoding ends at a pad in the third or fourth place, or with the text, keeping whole bytes.
  const char* texts[] = {"Zg==Zm9v", "Zm9=", "Zm8", "Zm9vZ"};
  const char* plains[] = {"f", "fo", "fo", "foo"};
  std::vector<uint8_t> out;
  for (size_t i = 0; i < std::size(texts); ++i) {
    EXPECT_HR(S_OK, Base64Decode(texts[i], &out)) << texts[i];
    EXPECT_EQ(Str(out), plains[i]) << texts[i];
  }
  for (const char* text : {"=Zg=", "Z=g=", "Zm9v=AAA", "Zm9vY=", "Zm9vYmFy="}) {
    EXPECT_HR(kBase64MisplacedPad, Base64Decode(text, &out)) << text;
  }
  for (const char* text : {"Zm 9v", "Zm-v", "Zm9v\n", "Zm9v_A=="}) {
    EXPECT_HR(kBase64BadCharacter, Base64Decode(text, &out)) << text;
  }
}

TEST(TeaCipherTest, KnownAnswerAndKeystream) {
  // The published all-zero vector: zero key, zero block.
  uint32_t a = 0, b = 0;
  TeaEncryptBlock(&a, &b, {0, 0, 0, 0});
  EXPECT_EQ(a, 0x41EA3A0Au);
  EXPECT_EQ(b, 0x94BAA940u);

  const CipherKey key = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const std::string text = "seventeen bytes!!";
  std::vector<uint8_t> data(text.begin(), text.end());
  ASSERT_HR(S_OK, TeaOfbApply(key, {1, 2, 3, 4}, data));
  EXPECT_NE(Str(data), text);
  std::vector<uint8_t> other(text.begin(), text.end());
  ASSERT_HR(S_OK, TeaOfbApply(key, {1, 2, 3, 5}, other));
  EXPECT_NE(other, data);  // the nonce changes the whole stream
  ASSERT_HR(S_OK, TeaOfbApply(key, {1, 2, 3, 4}, data));
  EXPECT_EQ(Str(data), text);  // its own inverse

  std::vector<uint8_t> payload(4 + text.size());
  std::copy(text.begin(), text.end(), payload.begin() + 4);
  ASSERT_HR(S_OK, TeaEncipher(key, payload));
  ASSERT_HR(S_OK, TeaDecipher(key, payload));
  EXPECT_EQ(Str(std::vector<uint8_t>(payload.begin() + 4, payload.end())), text);
  std::vector<uint8_t> short_payload(3);
  EXPECT_HR(kCipherShortPayload, TeaDecipher(key, short_payload));
}

TEST(KzZipTest, FormIsHexLengthThenLevelOneZlibStream) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "kz-zip " + std::to_string(i % 7) + " ";
  std::vector<uint8_t> packed;
  ASSERT_HR(S_OK, Compress("KZ-Zip", Bytes(text), &packed));
  char header[9];
  std::snprintf(header, sizeof header, "%08x", static_cast<unsigned>(text.size()));
  EXPECT_EQ(Str(packed).substr(0, 8), header);
  std::vector<uint8_t> reference(compressBound(text.size()));
  uLongf reference_size = reference.size();
  ASSERT_EQ(compress2(reference.data(), &reference_size, Bytes(text).data(), text.size(), 1), Z_OK);
  reference.resize(reference_size);
  EXPECT_EQ(std::vector<uint8_t>(packed.begin() + 8, packed.end()), reference);

  std::vector<uint8_t> unpacked;
  ASSERT_HR(S_OK, Decompress("kz-zip", packed, &unpacked));
  EXPECT_EQ(Str(unpacked), text);
  ASSERT_HR(S_OK, Compress("kz-zip", {}, &packed));
  ASSERT_HR(S_OK, Decompress("kz-zip", packed, &unpacked));
  EXPECT_TRUE(unpacked.empty());
  EXPECT_HR(kZipUnknownMethod, Compress("zip", Bytes(text), &packed));
  EXPECT_HR(kZipUnknownMethod, Decompress("kz-zip2", packed, &unpacked));
}

TEST(KzZipTest, RefusesBadHeadersAndStreams) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += static_cast<char>('a' + i * i % 26);
  std::vector<uint8_t> packed, out;
  ASSERT_HR(S_OK, Compress("kz-zip", Bytes(text), &packed));
  const std::string stream = Str(packed).substr(8);
  auto with_header = [&](const char* header, const std::string& body) {
    const std::string block = header + body;
    return Decompress("kz-zip", Bytes(block), &out);
  };
  char header[16];
  std::snprintf(header, sizeof header, "%08zx", 100 * stream.size());
  EXPECT_HR(S_OK, with_header(header, stream));  // exactly 100 times is allowed...
  EXPECT_EQ(out.size(), 1000u);                  // ...and the result is what zlib produced
  std::snprintf(header, sizeof header, "%08zx", 100 * stream.size() + 1);
  EXPECT_HR(kZipBadInput, with_header(header, stream));
  EXPECT_HR(kZipBadInput, with_header("000003e8", "12345"));  // 1000 bytes from 5
  EXPECT_HR(kZipBadInput, with_header("0000003", ""));        // shorter than the header
  EXPECT_HR(kZipBadInput, with_header("000003g8", stream));
  EXPECT_HR(kZipBufferError, with_header("000003e7", stream));  // declared one byte short
  EXPECT_HR(kZipBufferError, with_header("000003e8", stream.substr(0, stream.size() - 3)));
  std::string corrupt = stream;
  corrupt[0] ^= 0x10;
  EXPECT_HR(kZipDataError, with_header("000003e8", corrupt));
}

}  // namespace
}  // namespace pelk::text
