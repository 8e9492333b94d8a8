#include "fingerprint/fingerprint_serializer.h"

#include <gtest/gtest.h>

#include <string>

#include "fingerprint/sonquix_fingerprint.h"
#include "seal/sealed_container.h"
#include "tests/fingerprint/object_test_util.h"
#include "tests/support/hr_matchers.h"

namespace pelk::testing {
namespace {

// A fingerprint object holding `document`.
ComPtr<IPelkSonquixFingerprint> Holding(const std::string& document) {
  ComPtr<CPelkSonquixFingerprint> object = MakeObject<CPelkSonquixFingerprint>();
  EXPECT_HR(S_OK, object->SetFPData(document.data(), static_cast<int32_t>(document.size())));
  return object.As<IPelkSonquixFingerprint>();
}

std::string Document(const std::string& alg, const std::string& version, const std::string& data) {
  return "<FINGERPRINT ALG=\"" + alg + "\" VERSION=\"" + version + "\"><DATA>" + data +
         "</DATA></FINGERPRINT>";
}

class SerializerTest : public ::testing::Test {
 protected:
  std::string Serialize(IPelkSonquixFingerprint* fingerprint) {
    Bstr serialized;
    EXPECT_HR(S_OK, fp_->FingerprintSerialize(fingerprint, serialized.Out()));
    return serialized.Utf8();
  }
  HRESULT Deserialize(const std::string& text, ComPtr<IPelkSonquixFingerprint>* out) {
    return fp_->FingerprintDeserialize(Bstr::FromUtf8(text).Get(), out->Out());
  }
  static std::string Opened(const std::string& serialized) {
    std::string text;
    EXPECT_HR(S_OK, text::Open("KZFP", serialized.c_str(), &text::kFingerprintKey, &text));
    return text;
  }

  ComPtr<IPelkSonquixFingerprinter2> fp_ = NewFingerprinter();
};

TEST_F(SerializerTest, EngineFingerprintRoundTrips) {
  const ComPtr<IPelkSonquixFingerprint> original = StreamFingerprint(StereoMusic16(14.5, 31));
  ASSERT_TRUE(original);
  const std::string serialized = Serialize(original.Get());
  EXPECT_EQ(serialized.rfind("KZFP", 0), 0u);
  EXPECT_EQ(serialized.find_first_of(" \n\t\""), std::string::npos);

  const std::string signature = Read(original.Get(), &IFingerprintImpl::get_Signature);
  // Inside the seal: the query document filled with the three values; FP_BLOCK keeps the
  // template's attributes.
  EXPECT_EQ(
      Opened(serialized),
      "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
      "<KZFPX_FP_QUERY VERSION=\"1.0\">\n"
      "  <ALGORITHM>\n"
      "    <NAME>Wavelattice</NAME>\n"
      "    <VERSION>1.1</VERSION>\n"
      "    <QUERY>Wavelattice&quot;1.1</QUERY>\n"
      "  </ALGORITHM>\n"
      "  <FP_BLOCKS>\n"
      "    <FP_BLOCK TYPE=\"SIGNED_INT_16\" COUNT=\"30\" ENCODING=\"ASCII\" SEPARATOR=\" \">" +
          signature +
          "</FP_BLOCK>\n"
          "  </FP_BLOCKS>\n"
          "</KZFPX_FP_QUERY>\n");

  ComPtr<IPelkSonquixFingerprint> restored;
  ASSERT_HR(S_OK, Deserialize(serialized, &restored));
  ASSERT_TRUE(restored);
  EXPECT_EQ(Read(restored.Get(), &IFingerprintImpl::get_Type), "Wavelattice");
  EXPECT_EQ(Read(restored.Get(), &IFingerprintImpl::get_Version), "1.1");
  EXPECT_EQ(Read(restored.Get(), &IFingerprintImpl::get_Signature), signature);
  EXPECT_EQ(Read(restored.Get(), &IFingerprintImpl::get_Channels), "<null>");
  EXPECT_EQ(Read(restored.Get(), &IFingerprintImpl::get_Units), "<null>");
  EXPECT_EQ(ImplOf<CPelkSonquixFingerprint>(restored.Get())->DocumentText(),
            "<FINGERPRINT ALG=\"Wavelattice\" VERSION=\"1.1\">\t<DATA TYPE=\"SIGNED_INT_16\" "
            "COUNT=\"30\" ENCODING=\"ASCII\" SEPARATOR=\" \">" +
                signature + "</DATA></FINGERPRINT>");
  // A deserialized fingerprint serializes to a string that opens to the same document.
  EXPECT_EQ(Opened(Serialize(restored.Get())), Opened(serialized));
}

TEST_F(SerializerTest, SpecialCharactersSurviveTheRoundTrip) {
  const ComPtr<IPelkSonquixFingerprint> odd =
      Holding(Document("A&quot;B&apos;C&lt;D&gt;E&amp;F", "1.1 &lt;beta&gt;", "1 &lt;2&gt; 3"));
  ASSERT_EQ(Read(odd.Get(), &IFingerprintImpl::get_Type), "A\"B'C<D>E&F");
  ComPtr<IPelkSonquixFingerprint> restored;
  ASSERT_HR(S_OK, Deserialize(Serialize(odd.Get()), &restored));
  EXPECT_EQ(Read(restored.Get(), &IFingerprintImpl::get_Type), "A\"B'C<D>E&F");
  EXPECT_EQ(Read(restored.Get(), &IFingerprintImpl::get_Version), "1.1 <beta>");
  EXPECT_EQ(Read(restored.Get(), &IFingerprintImpl::get_Signature), "1 <2> 3");
}

TEST_F(SerializerTest, SerializeChecksItsArgumentsAndPassesGetterFailuresOn) {
  Bstr out;
  const ComPtr<IPelkSonquixFingerprint> good = Holding(Document("W", "1", "1 2"));
  EXPECT_HR(E_INVALIDARG, fp_->FingerprintSerialize(nullptr, out.Out()));
  EXPECT_HR(E_POINTER, fp_->FingerprintSerialize(good.Get(), nullptr));
  const ComPtr<IPelkSonquixFingerprint> empty =
      MakeObject<CPelkSonquixFingerprint>().As<IPelkSonquixFingerprint>();
  EXPECT_HR(E_PENDING, fp_->FingerprintSerialize(empty.Get(), out.Out()));
  EXPECT_HR(E_FAIL, fp_->FingerprintSerialize(Holding("not xml").Get(), out.Out()));
  EXPECT_EQ(out.Get(), nullptr);  // untouched on failure
}

TEST_F(SerializerTest, DeserializeRefusesAnythingButAnIntactString) {
  const std::string good = Serialize(Holding(Document("W", "1", "1 2")).Get());
  ComPtr<IPelkSonquixFingerprint> out;
  EXPECT_HR(E_INVALIDARG, fp_->FingerprintDeserialize(nullptr, out.Out()));
  EXPECT_HR(E_POINTER, fp_->FingerprintDeserialize(Bstr::FromUtf8(good).Get(), nullptr));

  std::string wrong_tag = good;
  wrong_tag[3] = 'X';
  std::string flipped = good;
  flipped[good.size() / 2] = flipped[good.size() / 2] == 'A' ? 'B' : 'A';
  std::string other_key;
  const text::CipherKey key{1, 2, 3};
  ASSERT_HR(S_OK,
            text::Seal("KZFP", Opened(good).c_str(), text::kSealEnciphered, &key, &other_key));
  std::string no_block, not_xml;
  ASSERT_HR(S_OK, text::Seal("KZFP",
                             "<Q><ALGORITHM><NAME>W</NAME><VERSION>1</VERSION>"
                             "</ALGORITHM></Q>",
                             text::kSealEnciphered, &text::kFingerprintKey, &no_block));
  ASSERT_HR(S_OK, text::Seal("KZFP", "1 2 3", 0, &text::kFingerprintKey, &not_xml));
  for (const std::string& bad :
       {std::string(), std::string("KZFP"), wrong_tag, flipped, good.substr(0, good.size() - 4),
        good + "AAAA", other_key, no_block, not_xml}) {
    EXPECT_HR(E_FAIL, Deserialize(bad, &out)) << bad;
    EXPECT_FALSE(out);
  }
  // An unenciphered container with the right content is accepted like a sealed one.
  std::string plain;
  ASSERT_HR(S_OK, text::Seal("KZFP", Opened(good).c_str(), 0, nullptr, &plain));
  ASSERT_HR(S_OK, Deserialize(plain, &out));
  EXPECT_EQ(Read(out.Get(), &IFingerprintImpl::get_Signature), "1 2");
}

}  // namespace
}  // namespace pelk::testing
