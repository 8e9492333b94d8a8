#include "fingerprint/sonquix_fingerprint.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "tests/fingerprint/object_test_util.h"
#include "tests/support/hr_matchers.h"

namespace pelk::testing {
namespace {

const std::pair<const char*, Getter> kGetters[] = {
    {"Type", &IFingerprintImpl::get_Type},
    {"Version", &IFingerprintImpl::get_Version},
    {"Signature", &IFingerprintImpl::get_Signature},
    {"Channels", &IFingerprintImpl::get_Channels},
    {"SampleRate", &IFingerprintImpl::get_SampleRate},
    {"SampleSize", &IFingerprintImpl::get_SampleSize},
    {"Offset", &IFingerprintImpl::get_Offset},
    {"Duration", &IFingerprintImpl::get_Duration},
    {"Units", &IFingerprintImpl::get_Units},
};

constexpr const char* kDocument =
    "<FINGERPRINT ALG=\"Wave&amp;lattice\" VERSION=\"1.1\" BUILD=\"1.3.3\">\n"
    "  <DATA TYPE=\"SIGNED_INT_16\" COUNT=\"3\">1 -2 3</DATA>\n"
    "  <AUDIO>\n"
    "    <CHANNELS>2</CHANNELS>\n"
    "    <SAMPLE_RATE>44100</SAMPLE_RATE>\n"
    "    <OFFSET UNITS=\"ms\">120</OFFSET>\n"
    "    <DURATION UNITS=\"ms\">14210</DURATION>\n"
    "  </AUDIO>\n"
    "</FINGERPRINT>\n";

class FingerprintObjectTest : public ::testing::Test {
 protected:
  HRESULT Set(const std::string& text) {
    return fp_->SetFPData(text.data(), static_cast<int32_t>(text.size()));
  }
  // Every getter's result code, in getter order, with null out-pointers or real ones.
  std::vector<HRESULT> Codes(bool null_out = false) {
    std::vector<HRESULT> codes;
    for (const auto& [name, getter] : kGetters) {
      Bstr value;
      codes.push_back((fp_.Get()->*getter)(null_out ? nullptr : value.Out()));
      EXPECT_EQ(value.Get(), nullptr) << name;  // nothing handed out on a failure
    }
    return codes;
  }
  std::string Get(Getter getter) { return Read(fp_.Get(), getter); }

  ComPtr<CPelkSonquixFingerprint> fp_ = MakeObject<CPelkSonquixFingerprint>();
};

TEST_F(FingerprintObjectTest, PendingUntilFilledAndFailingWhenUnparsable) {
  const std::vector<HRESULT> pending(9, E_PENDING), failed(9, E_FAIL), no_out(9, E_POINTER);
  EXPECT_EQ(Codes(), pending);
  EXPECT_EQ(Codes(/*null_out=*/true), no_out);  // checked before anything else
  EXPECT_HR(S_OK, fp_->SetFPData(nullptr, 5));
  EXPECT_HR(S_OK, fp_->SetFPData("<A/>", 0));
  EXPECT_EQ(Codes(), pending);

  EXPECT_HR(S_OK, Set("this is not XML"));
  EXPECT_EQ(Codes(), failed);
  EXPECT_EQ(fp_->DocumentText(), "this is not XML");
  EXPECT_EQ(Codes(/*null_out=*/true), no_out);
}

TEST_F(FingerprintObjectTest, GettersFollowThePathRule) {
  ASSERT_HR(S_OK, Set(kDocument));
  EXPECT_EQ(Get(&IFingerprintImpl::get_Type), "Wave&lattice");  // attribute of the root
  EXPECT_EQ(Get(&IFingerprintImpl::get_Version), "1.1");
  EXPECT_EQ(Get(&IFingerprintImpl::get_Signature), "1 -2 3");  // text of a child
  EXPECT_EQ(Get(&IFingerprintImpl::get_Channels), "2");
  EXPECT_EQ(Get(&IFingerprintImpl::get_SampleRate), "44100");
  EXPECT_EQ(Get(&IFingerprintImpl::get_Offset), "120");
  EXPECT_EQ(Get(&IFingerprintImpl::get_Duration), "14210");
  EXPECT_EQ(Get(&IFingerprintImpl::get_Units), "ms");           // attribute of DURATION
  EXPECT_EQ(Get(&IFingerprintImpl::get_SampleSize), "<null>");  // absent: S_OK, no string

  // Another root name finds nothing at all, without an error.
  ASSERT_HR(S_OK, Set("<PRINT ALG=\"x\"><DATA>1</DATA></PRINT>"));
  for (const auto& [name, getter] : kGetters) EXPECT_EQ(Get(getter), "<null>") << name;
}

TEST_F(FingerprintObjectTest, KeepsAPrivateCopyOfExactlyTheGivenBytes) {
  std::string text = std::string(kDocument) + "trailing garbage";
  // Only the document's bytes are given: what follows them is not part of the text.
  ASSERT_HR(S_OK, fp_->SetFPData(text.data(), static_cast<int32_t>(std::strlen(kDocument))));
  text.assign(text.size(), 'x');  // the caller's buffer may change afterwards
  EXPECT_EQ(Get(&IFingerprintImpl::get_Version), "1.1");
  EXPECT_EQ(fp_->DocumentText(), kDocument);

  // Length 0 and a negative length keep the document; new data replaces it.
  EXPECT_HR(S_OK, fp_->SetFPData("<X/>", 0));
  EXPECT_HR(E_INVALIDARG, fp_->SetFPData("<X/>", -1));
  EXPECT_EQ(Get(&IFingerprintImpl::get_Channels), "2");
  ASSERT_HR(S_OK, Set("<FINGERPRINT VERSION=\"2.0\"/>"));
  EXPECT_EQ(Get(&IFingerprintImpl::get_Version), "2.0");
  EXPECT_EQ(Get(&IFingerprintImpl::get_Channels), "<null>");
}

TEST_F(FingerprintObjectTest, AnswersOnlyItsOwnInterfacesYetIsLateBound) {
  EXPECT_TRUE(fp_.As<IPelkSonquixFingerprint>());
  EXPECT_TRUE(fp_.As<IFingerprintImpl>());
  EXPECT_FALSE(fp_.As<IDispatch>());
  EXPECT_FALSE(fp_.As<IPelkSonquixFingerprinter>());
  void* out = nullptr;
  EXPECT_HR(CLASS_E_NOAGGREGATION,
            CPelkSonquixFingerprint::CreateInstance(fp_->Identity(), IUnknown::kIid, &out));

  // Late-bound, the document text arrives as a string.
  ComPtr<IPelkSonquixFingerprint> iface = fp_.As<IPelkSonquixFingerprint>();
  Bstr document = Bstr::FromUtf8(kDocument);
  VARIANT args[2];  // last first: length, data
  args[0].vt = VT_I4;
  args[0].lVal = static_cast<int32_t>(std::strlen(kDocument));
  args[1].vt = VT_BSTR;
  args[1].bstrVal = document.Get();
  DISPPARAMS set_params{args, nullptr, 2, 0};
  ASSERT_HR(S_OK, iface->Invoke(0x65, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &set_params,
                                nullptr, nullptr, nullptr));
  OLECHAR name[] = u"signature";
  OLECHAR* names[] = {name};
  DISPID id = 0;
  ASSERT_HR(S_OK, iface->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
  EXPECT_EQ(id, 0x68);
  Variant result;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  ASSERT_HR(S_OK, iface->Invoke(0x6E, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                result.Get(), nullptr, nullptr));
  ASSERT_EQ(result->vt, VT_BSTR);
  EXPECT_EQ(BstrToUtf8(result->bstrVal), "ms");
}

}  // namespace
}  // namespace pelk::testing
