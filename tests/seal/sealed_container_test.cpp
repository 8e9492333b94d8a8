#include "seal/sealed_container.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "seal/base64.h"
#include "seal/kz_zip.h"
#include "tests/support/hr_matchers.h"

namespace pelk::text {
namespace {

constexpr const char* kTag = "KZFP";
const CipherKey* const kKey = &kFingerprintKey;

std::span<const uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::string MustSeal(const char* text, uint32_t flags) {
  std::string sealed;
  EXPECT_HR(S_OK, Seal(kTag, text, flags, kKey, &sealed));
  return sealed;
}

// The container inside a sealed string.
std::vector<uint8_t> ContainerOf(const std::string& sealed) {
  std::vector<uint8_t> container;
  EXPECT_HR(S_OK, Base64Decode(sealed.substr(4), &container));
  return container;
}

std::string SealedFrom(const std::vector<uint8_t>& container) {
  std::string sealed = kTag;
  Base64Encode(container, &sealed);
  return sealed;
}

TEST(SealedContainerTest, RoundTripsUnderEveryFlagCombination) {
  std::string long_text;
  for (int i = 0; i < 5000; ++i) long_text += "<FP_BLOCK>" + std::to_string(i % 13) + "</FP_BLOCK>";
  for (const std::string& text : {std::string(), std::string("x"), long_text}) {
    for (uint32_t flags = 0; flags < 4; ++flags) {
      const std::string sealed = MustSeal(text.c_str(), flags);
      EXPECT_EQ(sealed.substr(0, 4), kTag);
      std::string opened;
      EXPECT_HR(S_OK, Open(kTag, sealed.c_str(), kKey, &opened)) << flags;
      EXPECT_EQ(opened, text) << flags;
      if ((flags & kSealCompressed) && text.size() > 1000) {
        EXPECT_LT(sealed.size(), text.size() / 10);
      }
    }
  }
}

TEST(SealedContainerTest, ContainerLayout) {
  std::vector<uint8_t> plain, packed, secret;
  ASSERT_HR(S_OK, SealBytes(Bytes("hello"), 0, nullptr, &plain));
  ASSERT_EQ(plain.size(), 17u);
  EXPECT_EQ(std::string(plain.begin(), plain.begin() + 4), std::string("XG1\0", 4));
  EXPECT_EQ(std::string(plain.begin() + 12, plain.end()), "hello");
  // Payload and text are the same bytes here, and so are their checks.
  EXPECT_TRUE(std::equal(plain.begin() + 4, plain.begin() + 8, plain.begin() + 8));

  ASSERT_HR(S_OK, SealBytes(Bytes("hello"), kSealCompressed, nullptr, &packed));
  EXPECT_EQ(packed[3], 2);
  EXPECT_EQ(std::string(packed.begin() + 12, packed.begin() + 20), "00000005");
  std::vector<uint8_t> inflated;
  ASSERT_HR(S_OK, Decompress("kz-zip", std::span(packed).subspan(12), &inflated));
  EXPECT_EQ(std::string(inflated.begin(), inflated.end()), "hello");
  EXPECT_TRUE(std::equal(plain.begin() + 8, plain.begin() + 12, packed.begin() + 8));

  ASSERT_HR(S_OK, SealBytes(Bytes("hello"), kSealEnciphered, kKey, &secret));
  EXPECT_EQ(secret[3], 1);
  ASSERT_EQ(secret.size(), 12u + 4 + 5);
  EXPECT_NE(std::string(secret.begin() + 16, secret.end()), "hello");
  std::string opened;
  ASSERT_HR(S_OK, OpenBytes(secret, kKey, &opened));
  EXPECT_EQ(opened, "hello");
}

TEST(SealedContainerTest, EncipheringUsesAFreshNonce) {
  const std::string first = MustSeal("same text", kSealEnciphered);
  const std::string second = MustSeal("same text", kSealEnciphered);
  EXPECT_NE(first, second);
  std::string a, b;
  EXPECT_HR(S_OK, Open(kTag, first.c_str(), kKey, &a));
  EXPECT_HR(S_OK, Open(kTag, second.c_str(), kKey, &b));
  EXPECT_TRUE(a == "same text" && b == a);
  const CipherKey other_key{};
  EXPECT_HR(kSealNotValid, Open(kTag, first.c_str(), &other_key, &a));
}

// Strings sealed once and kept: they open only while the check salt, the register salt, the
// fingerprint key and the cipher stay what they were, as serialized fingerprints require.
TEST(SealedContainerTest, StringsSealedEarlierStillOpen) {
  const char* kept[] = {
      "KZFPWEcxAGelMwRnpTMEPGdvbGRlbj4xIC0yIDM8L2dvbGRlbj4=",
      "KZFPWEcxATkEy8BnpTME9hO55fKBzu6rRWqvF8PeQ2LEHgYuYVjUKhI6",
      "KZFPWEcxA3wjO4xnpTME4c013pyuEGIsSxUzSetfPigeuY8hbx8rjD01FzC/7jy/E3guNQ==",
  };
  for (const char* sealed : kept) {
    std::string text;
    EXPECT_HR(S_OK, Open(kTag, sealed, kKey, &text)) << sealed;
    EXPECT_EQ(text, "<golden>1 -2 3</golden>");
  }
  EXPECT_EQ(MustSeal("<golden>1 -2 3</golden>", 0), kept[0]);
}

TEST(SealedContainerTest, AnyChangedCharacterIsRefused) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
  for (uint32_t flags = 0; flags < 4; ++flags) {
    const std::string sealed = MustSeal("<q>fingerprint 1 -2 3</q>", flags);
    int mismatches = 0;
    for (size_t pos = 0; pos < sealed.size(); ++pos) {
      for (char c : alphabet) {
        if (c == sealed[pos]) continue;
        std::string changed = sealed;
        changed[pos] = c;
        HRESULT expected = kSealNotValid;
        if (pos < 4) {
          expected = kSealBadArgument;  // the tag no longer matches
        } else if (c == '=' && (pos - 4) % 4 < 2) {
          expected = kBase64MisplacedPad;  // no longer Base64 at all
        }
        std::string text;
        const HRESULT hr = Open(kTag, changed.c_str(), kKey, &text);
        if (hr != expected && ++mismatches <= 5) {
          ADD_FAILURE() << "flags " << flags << ", '" << c << "' at " << pos << ": "
                        << testing::HrText(hr) << " " << changed;
        }
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

TEST(SealedContainerTest, RefusesWhatIsNotAContainer) {
  std::string text;
  std::vector<uint8_t> container = ContainerOf(MustSeal("text", 0));
  container[0] = 'Y';  // the tag matches, the magic does not
  EXPECT_HR(kSealNotValid, Open(kTag, SealedFrom(container).c_str(), kKey, &text));

  const std::vector<uint8_t> good = ContainerOf(MustSeal("", kSealEnciphered));
  ASSERT_EQ(good.size(), 16u);
  EXPECT_HR(S_OK, OpenBytes(good, kKey, &text));
  EXPECT_HR(kSealNotValid, OpenBytes(std::span(good).first(15), kKey, &text));
  const std::vector<uint8_t> bare = ContainerOf(MustSeal("", 0));
  EXPECT_HR(S_OK, OpenBytes(bare, kKey, &text));
  EXPECT_HR(kSealNotValid, OpenBytes(std::span(bare).first(11), kKey, &text));
  EXPECT_HR(kSealNotValid, OpenBytes({}, kKey, &text));

  // The flags byte is outside both checks: unknown bits, or a compression bit on a payload that
  // was never compressed, are refused all the same.
  std::vector<uint8_t> flagged = ContainerOf(MustSeal("text", 0));
  flagged[3] = 4;
  EXPECT_HR(kSealNotValid, OpenBytes(flagged, kKey, &text));
  flagged[3] = kSealCompressed;
  EXPECT_HR(kSealNotValid, OpenBytes(flagged, kKey, &text));
}

TEST(SealedContainerTest, RefusesBadArgumentsAndBadBase64) {
  std::string out;
  EXPECT_HR(kSealBadArgument, Seal("KZF", "t", 0, kKey, &out));
  EXPECT_HR(kSealBadArgument, Seal("KZFPX", "t", 0, kKey, &out));
  EXPECT_HR(kSealBadArgument, Seal(kTag, nullptr, 0, kKey, &out));
  EXPECT_HR(kSealBadArgument, Seal(kTag, "t", kSealEnciphered, nullptr, &out));
  EXPECT_HR(kSealBadArgument, Seal(kTag, "t", 4, kKey, &out));

  const std::string sealed = MustSeal("t", kSealEnciphered);
  EXPECT_HR(kSealBadArgument, Open(kTag, sealed.c_str(), nullptr, &out));  // needs the key
  EXPECT_HR(kSealBadArgument, Open("kzfp", sealed.c_str(), kKey, &out));   // case-sensitive
  EXPECT_HR(kSealBadArgument, Open(kTag, "KZ", kKey, &out));
  EXPECT_HR(kSealBadArgument, Open(kTag, nullptr, kKey, &out));
  EXPECT_HR(kBase64BadCharacter, Open(kTag, "KZFPWEcx!AAA", kKey, &out));
  EXPECT_HR(kBase64MisplacedPad, Open(kTag, "KZFPWEcx=AAA", kKey, &out));
  // Still valid Base64, but not the form that sealing writes.
  EXPECT_HR(kSealNotValid, Open(kTag, (sealed + "AAAA").c_str(), kKey, &out));
  const std::string padded = MustSeal("pa", 0);  // 14 bytes: the last group holds a pad
  ASSERT_EQ(padded.back(), '=');
  EXPECT_HR(kSealNotValid, Open(kTag, (padded + "AAAA").c_str(), kKey, &out));
}

}  // namespace
}  // namespace pelk::text
