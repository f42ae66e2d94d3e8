// Allocation failure, one allocation at a time. For each export and sample
// input the hook (alloc_hook.h) first counts what a call allocates, then makes
// each of those allocations fail in turn:
//   - the request text decoder's two work buffers: KX_ERR_NO_MEMORY, and the
//     caller's record is not touched;
//   - a name value's conversion, in a code page other than UTF-8 (its iconv
//     descriptor): that attribute's text is empty, the walk goes on and the
//     call succeeds with every other output unchanged.
// Conversions keep their UTF-16 units on the stack, so a certificate's decode
// allocates nothing with operator new. Every call gives back each block and
// descriptor it obtained. Which values
// the name walker converts, and in which order, is read from OpenSSL's
// parse of the same certificate or request. The exports that allocate
// nothing are shown to allocate nothing on the samples.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "alloc/alloc_hook.h"
#include "kestrix.h"
#include "platform/text.h"
#include "support/guarded_output.h"
#include "support/locale_scope.h"
#include "support/samples.h"

namespace {

using kxtest::AllocCounts;
using kxtest::AllocWatch;
using kxtest::CertificateSamples;
using kxtest::ReadSample;
using kxtest::RequestSamples;
using kxtest::ThreadLocale;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kPoison = 0xA5;
// Which allocation to fail: the n-th operator new, or the n-th iconv_open
// (0: none).
struct Failure {
  std::size_t newCall = 0;
  std::size_t iconvOpen = 0;
};

// Runs `call` under a watch and returns the counts.
template <typename Call>
AllocCounts Measure(Call call, Failure failure = {}) {
  AllocWatch watch(failure.newCall, failure.iconvOpen);
  call();
  return watch.Counts();
}

// Everything obtained was given back.
void ExpectNothingKept(const AllocCounts& c) {
  EXPECT_EQ(c.LiveBlocks(), 0u) << c.newCalls << " new, " << c.newFailed << " failed, "
                                << c.deleteCalls << " delete";
  EXPECT_EQ(c.OpenDescriptors(), 0u) << c.iconvOpenCalls << " iconv_open, " << c.iconvOpenFailed
                                     << " failed, " << c.iconvCloseCalls << " iconv_close";
}

void ExpectNoAllocation(const AllocCounts& c, const std::string& what) {
  EXPECT_EQ(c.newCalls, 0u) << what;
  EXPECT_EQ(c.iconvOpenCalls, 0u) << what;
}

// ---- The hook itself ----------------------------------------------------------------

TEST(AllocHook, FailsTheChosenAllocationOfTheWatchedThreadOnly) {
  std::unique_ptr<int> first;
  std::unique_ptr<char16_t[]> second;
  std::unique_ptr<int> third;
  const AllocCounts c = Measure(
      [&] {
        first.reset(new (std::nothrow) int(1));
        second.reset(new (std::nothrow) char16_t[8]);
        third.reset(new int(3));
      },
      {2, 0});
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(c.newCalls, 3u);
  EXPECT_EQ(c.newFailed, 1u);
  EXPECT_EQ(c.LiveBlocks(), 2u);

  bool threw = false;
  const AllocCounts t = Measure(
      [&] {
        try {
          third.reset(new int(4));
        } catch (const std::bad_alloc&) {
          threw = true;
        }
      },
      {1, 0});
  EXPECT_TRUE(threw);
  EXPECT_EQ(*third, 3) << "a failed new replaced the pointer";
  EXPECT_EQ(t.LiveBlocks(), 0u);

  // Released under a watch: counted.
  const AllocCounts r = Measure([&] {
    first.reset();
    third.reset();
  });
  EXPECT_EQ(r.deleteCalls, 2u);
}

// ---- Which name values the walker converts ------------------------------------------

// One name attribute value that the walker converts, in walk order, and
// whether its text is what the record keeps (no later attribute of the same
// type replaces it).
struct Converted {
  int nid;
  bool kept;
};

// The attribute types the walker has a field for.
bool HasField(int nid);

// The values of `name` converted in the calling thread's code page, every
// member of a multi-valued RDN among them, of the attribute types the walker
// has a field for: BMPString values of at least one unit and UniversalString
// values of at least one character always; UTF8String and TeletexString
// values unless the code page is UTF-8 and the text (of which the walker
// reads the first 1024 bytes) well-formed (it is then taken as it is).
std::vector<Converted> ConvertedValues(const X509_NAME* name) {
  constexpr std::size_t kUtf8Read = 1024;
  const bool utf8CodePage = kx::platform::AnsiIsUtf8();
  std::vector<int> nids;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    nids.push_back(OBJ_obj2nid(X509_NAME_ENTRY_get_object(X509_NAME_get_entry(name, i))));
  }
  std::vector<Converted> out;
  for (std::size_t i = 0; i < nids.size(); ++i) {
    if (!HasField(nids[i])) continue;
    const ASN1_STRING* v = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, static_cast<int>(i)));
    const int type = ASN1_STRING_type(v);
    const auto length = static_cast<std::size_t>(ASN1_STRING_length(v));
    bool converted = false;
    if (type == V_ASN1_BMPSTRING) {
      converted = length >= 2;
    } else if (type == V_ASN1_UNIVERSALSTRING) {
      converted = length >= 4;
    } else if (type == V_ASN1_UTF8STRING || type == V_ASN1_T61STRING) {
      const auto* text = reinterpret_cast<const char*>(ASN1_STRING_get0_data(v));
      converted = length > 0 && !(utf8CodePage && kx::platform::IsWellFormedUtf8(
                                                      text, std::min(length, kUtf8Read)));
    }
    if (!converted) continue;
    const bool kept = std::find(nids.begin() + static_cast<std::ptrdiff_t>(i) + 1, nids.end(),
                                nids[i]) == nids.end();
    out.push_back({nids[i], kept});
  }
  return out;
}

// ---- GetCertInfo, GetUsrPubKey and GetPreCertVerified ----------------------------------

constexpr std::uint32_t kNoItem = 0xFFFFFFFFu;

// The GetCertInfo items that show a name attribute's text (kNoItem: none).
struct NameItem {
  int nid;
  std::uint32_t issuer;
  std::uint32_t subject;
};
constexpr NameItem kNameItems[] = {
    {NID_countryName, KX_ITEM_ISSUER_COUNTRY, KX_ITEM_SUBJECT_COUNTRY},
    {NID_organizationName, KX_ITEM_ISSUER_ORGANIZATION, KX_ITEM_SUBJECT_ORGANIZATION},
    {NID_organizationalUnitName, KX_ITEM_ISSUER_ORGANIZATIONAL_UNIT,
     KX_ITEM_SUBJECT_ORGANIZATIONAL_UNIT},
    {NID_stateOrProvinceName, KX_ITEM_ISSUER_STATE_OR_PROVINCE, KX_ITEM_SUBJECT_STATE_OR_PROVINCE},
    {NID_commonName, KX_ITEM_ISSUER_COMMON_NAME, KX_ITEM_SUBJECT_COMMON_NAME},
    {NID_localityName, KX_ITEM_ISSUER_LOCALITY, KX_ITEM_SUBJECT_LOCALITY},
    {NID_title, KX_ITEM_ISSUER_TITLE, KX_ITEM_SUBJECT_TITLE},
    {NID_surname, KX_ITEM_ISSUER_SURNAME, KX_ITEM_SUBJECT_SURNAME},
    {NID_givenName, KX_ITEM_ISSUER_GIVEN_NAME, KX_ITEM_SUBJECT_GIVEN_NAME},
    {NID_initials, KX_ITEM_ISSUER_INITIALS, KX_ITEM_SUBJECT_INITIALS},
    {NID_pkcs9_emailAddress, KX_ITEM_ISSUER_EMAIL, KX_ITEM_SUBJECT_EMAIL},
    {NID_postalAddress, KX_ITEM_ISSUER_POSTAL_ADDRESS, KX_ITEM_SUBJECT_POSTAL_ADDRESS},
    {NID_postOfficeBox, KX_ITEM_ISSUER_POST_OFFICE_BOX, KX_ITEM_SUBJECT_POST_OFFICE_BOX},
    {NID_postalCode, KX_ITEM_ISSUER_POSTAL_CODE, KX_ITEM_SUBJECT_POSTAL_CODE},
    {NID_telephoneNumber, KX_ITEM_ISSUER_TELEPHONE_NUMBER, KX_ITEM_SUBJECT_TELEPHONE_NUMBER},
    {NID_telexNumber, KX_ITEM_ISSUER_TELEX_NUMBER, KX_ITEM_SUBJECT_TELEX_NUMBER},
    {NID_serialNumber, kNoItem, KX_ITEM_SUBJECT_SERIAL_NUMBER},
    {NID_description, kNoItem, KX_ITEM_SUBJECT_DESCRIPTION},
    {NID_name, kNoItem, KX_ITEM_SUBJECT_NAME},
    {NID_generationQualifier, kNoItem, KX_ITEM_SUBJECT_GENERATION_QUALIFIER},
};

bool HasField(int nid) {
  return nid == NID_countryName || nid == NID_domainComponent ||
         std::any_of(std::begin(kNameItems), std::end(kNameItems),
                     [nid](const NameItem& n) { return n.nid == nid; });
}

// For each value a certificate's decode converts (issuer first, then
// subject), the item that shows its text, or kNoItem.
std::vector<std::uint32_t> ConvertedItems(const Bytes& der) {
  const unsigned char* p = der.data();
  const std::unique_ptr<X509, decltype(&X509_free)> cert(
      d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
  if (cert == nullptr) {
    ADD_FAILURE() << "OpenSSL cannot read the certificate";
    return {};
  }
  std::vector<std::uint32_t> items;
  for (const bool subject : {false, true}) {
    const X509_NAME* name =
        subject ? X509_get_subject_name(cert.get()) : X509_get_issuer_name(cert.get());
    for (const Converted& c : ConvertedValues(name)) {
      std::uint32_t item = kNoItem;
      for (const NameItem& n : kNameItems) {
        if (n.nid == c.nid && c.kept) item = subject ? n.subject : n.issuer;
      }
      items.push_back(item);
    }
  }
  return items;
}

// Every item code, used or not, and the serial number's two forms.
std::vector<std::uint32_t> AllItems() {
  std::vector<std::uint32_t> items;
  for (std::uint32_t item = 0; item <= 118; ++item) items.push_back(item);
  items.push_back(KX_ITEM_SERIAL_NUMBER | KX_FORM_RAW);
  items.push_back(KX_ITEM_SERIAL_NUMBER | KX_FORM_HEX_UPPER);
  return items;
}

struct ItemAnswer {
  std::int32_t status = 0;
  std::int32_t num = 0;
  std::int32_t len = 0;
  std::array<std::uint8_t, KX_ITEM_BUFFER_SIZE> buf{};
  bool operator==(const ItemAnswer&) const = default;
};

std::string Describe(const ItemAnswer& a) {
  const auto* text = reinterpret_cast<const char*>(a.buf.data());
  return "status " + std::to_string(a.status) + ", number " + std::to_string(a.num) + ", length " +
         std::to_string(a.len) + ", text \"" + std::string(text, strnlen(text, a.buf.size())) +
         "\"";
}

// GetCertInfo for one item into poisoned outputs, under a watch.
AllocCounts Query(const Bytes& cert, std::uint32_t item, ItemAnswer& a, Failure failure = {}) {
  a.status = -99;
  a.num = -7;
  a.len = -7;
  a.buf.fill(kPoison);
  return Measure(
      [&] {
        a.status = GetCertInfo(static_cast<std::int32_t>(cert.size()), cert.data(), item, &a.num,
                               &a.len, reinterpret_cast<char*>(a.buf.data()));
      },
      failure);
}

// What an item shows when its text could not be converted: the empty text,
// and nothing written past its terminator.
ItemAnswer EmptyText() {
  ItemAnswer a;
  a.buf.fill(kPoison);
  a.buf[0] = 0;
  return a;
}

// The outputs of GetUsrPubKey, or of GetPreCertVerified at one check time
// (null: now), in poisoned buffers.
struct KeyAnswer {
  std::int32_t status = 0;
  std::int32_t keyLen = 0;
  std::array<std::uint8_t, KX_MAX_MODULUS_SIZE> key{};
  std::string printed;
  bool operator==(const KeyAnswer&) const = default;
};
AllocCounts UserKey(const Bytes& cert, KeyAnswer& a, Failure failure = {}) {
  a.keyLen = -7;
  a.key.fill(kPoison);
  testing::internal::CaptureStdout();
  const AllocCounts counts =
      Measure([&] { a.status = GetUsrPubKey(cert.data(), a.key.data(), &a.keyLen); }, failure);
  // A key GetCertInfo refuses (over 300 bytes) is reported on standard output.
  a.printed = testing::internal::GetCapturedStdout();
  return counts;
}

struct CheckAnswer {
  std::int32_t status = 0;
  std::int32_t tbsLen = 0;
  std::int32_t sigLen = 0;
  std::array<std::uint8_t, KX_MAX_TBS_SIZE> tbs{};
  std::array<std::uint8_t, KX_MAX_SIGNATURE_SIZE> sig{};
  bool operator==(const CheckAnswer&) const = default;
};
AllocCounts Check(const Bytes& cert, const char* at, CheckAnswer& a, Failure failure = {}) {
  a.tbsLen = -7;
  a.sigLen = -7;
  a.tbs.fill(kPoison);
  a.sig.fill(kPoison);
  return Measure(
      [&] {
        a.status = GetPreCertVerified(static_cast<std::int32_t>(cert.size()), cert.data(), at,
                                      &a.tbsLen, a.tbs.data(), &a.sigLen, a.sig.data());
      },
      failure);
}

struct CertCase {
  std::filesystem::path path;
  bool gbk;
};

std::vector<CertCase> CertCases() {
  std::vector<CertCase> cases;
  for (const bool gbk : {false, true}) {
    for (const auto& path : CertificateSamples()) cases.push_back({path, gbk});
  }
  return cases;
}

std::string CaseName(const std::filesystem::path& path, bool gbk) {
  std::string name = path.stem().string();
  std::replace(name.begin(), name.end(), '-', '_');
  return name + (gbk ? "_Gbk" : "_C");
}

void PrintTo(const CertCase& c, std::ostream* os) {
  *os << c.path.filename() << (c.gbk ? " in GBK" : " in C");
}

class CertificateAllocations : public testing::TestWithParam<CertCase> {};

TEST_P(CertificateAllocations, EachFailedConversionEmptiesOneNameText) {
  const CertCase& c = GetParam();
  ThreadLocale locale(c.gbk ? "zh_CN.GBK" : "C");
  if (!locale.ok()) GTEST_SKIP() << "no zh_CN.GBK locale (scripts/setup.sh creates it)";
  if (c.gbk && !kxtest::IconvIsWatched()) GTEST_SKIP() << "iconv is not wrapped in this build";
  const Bytes cert = ReadSample(c.path);
  const std::vector<std::uint32_t> items = AllItems();

  // The answers and counts with nothing failing.
  std::vector<ItemAnswer> expected(items.size());
  std::vector<AllocCounts> counts(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) counts[i] = Query(cert, items[i], expected[i]);
  ASSERT_EQ(expected[KX_ITEM_VERSION].status, KX_OK) << "the sample does not decode";
  const std::vector<std::uint32_t> shownIn = ConvertedItems(cert);
  const std::size_t conversions = shownIn.size();
  const std::size_t descriptors = c.gbk ? conversions : 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE("item " + std::to_string(items[i]));
    EXPECT_EQ(counts[i].newCalls, 0u);
    EXPECT_EQ(counts[i].iconvOpenCalls, descriptors);
    ExpectNothingKept(counts[i]);
  }
  RecordProperty("allocations", static_cast<int>(descriptors));

  KeyAnswer key;
  const AllocCounts keyCounts = UserKey(cert, key);
  EXPECT_EQ(keyCounts.newCalls, 0u);
  const char* const kTimes[] = {"20300615120000", nullptr};
  CheckAnswer checked[2];
  for (int t = 0; t < 2; ++t) {
    const AllocCounts checkCounts = Check(cert, kTimes[t], checked[t]);
    EXPECT_EQ(checkCounts.newCalls, 0u);
  }

  // Each conversion's iconv descriptor failing in turn.
  for (std::size_t n = 1; n <= descriptors; ++n) {
    SCOPED_TRACE("iconv_open " + std::to_string(n) + " fails");
    const Failure failure{0, n};
    for (std::size_t i = 0; i < items.size(); ++i) {
      ItemAnswer got;
      const AllocCounts cnt = Query(cert, items[i], got, failure);
      EXPECT_EQ(cnt.newFailed + cnt.iconvOpenFailed, 1u);
      ExpectNothingKept(cnt);
      const ItemAnswer& want = items[i] == shownIn[n - 1] ? EmptyText() : expected[i];
      EXPECT_TRUE(got == want) << "item " << items[i] << ": " << Describe(got) << "; expected "
                               << Describe(want);
    }
    // The key and the signed part do not depend on a name text.
    KeyAnswer gotKey;
    ExpectNothingKept(UserKey(cert, gotKey, failure));
    EXPECT_TRUE(gotKey == key) << "GetUsrPubKey: status " << gotKey.status;
    for (int t = 0; t < 2; ++t) {
      CheckAnswer gotCheck;
      ExpectNothingKept(Check(cert, kTimes[t], gotCheck, failure));
      EXPECT_TRUE(gotCheck == checked[t])
          << "GetPreCertVerified at " << (kTimes[t] ? kTimes[t] : "now") << ": status "
          << gotCheck.status;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, CertificateAllocations, testing::ValuesIn(CertCases()),
                         [](const testing::TestParamInfo<CertCase>& param) {
                           return CaseName(param.param.path, param.param.gbk);
                         });

// ---- RC_decodep10pemtxt --------------------------------------------------------------

// The record fields that show a subject attribute's text.
struct RecordField {
  int nid;
  std::size_t offset;
  std::size_t size;
};
#define KX_FIELD(nid, member)                                             \
  RecordField {                                                           \
    nid, offsetof(P10RequestInfo, member), sizeof(P10RequestInfo::member) \
  }
const RecordField kRecordFields[] = {
    KX_FIELD(NID_countryName, country),
    KX_FIELD(NID_organizationName, organization),
    KX_FIELD(NID_organizationalUnitName, organizationalUnit),
    KX_FIELD(NID_stateOrProvinceName, stateOrProvince),
    KX_FIELD(NID_commonName, commonName),
    KX_FIELD(NID_localityName, locality),
    KX_FIELD(NID_pkcs9_emailAddress, email),
};
#undef KX_FIELD

// For each subject value the request's decode converts, the record field
// that shows its text (null: none).
std::vector<const RecordField*> ConvertedFields(const Bytes& der) {
  const unsigned char* p = der.data();
  const std::unique_ptr<X509_REQ, decltype(&X509_REQ_free)> request(
      d2i_X509_REQ(nullptr, &p, static_cast<long>(der.size())), X509_REQ_free);
  if (request == nullptr) {
    ADD_FAILURE() << "OpenSSL cannot read the request";
    return {};
  }
  std::vector<const RecordField*> fields;
  for (const Converted& c : ConvertedValues(X509_REQ_get_subject_name(request.get()))) {
    const RecordField* shown = nullptr;
    for (const RecordField& f : kRecordFields) {
      if (f.nid == c.nid && c.kept) shown = &f;
    }
    fields.push_back(shown);
  }
  return fields;
}

// RC_decodep10pemtxt's two work buffers come before any conversion.
constexpr std::size_t kRequestBuffers = 2;

struct RequestCase {
  std::filesystem::path pem;
  bool gbk;
};

std::vector<RequestCase> RequestCases() {
  std::vector<RequestCase> cases;
  for (const bool gbk : {false, true}) {
    for (const auto& path : RequestSamples(".pem")) cases.push_back({path, gbk});
  }
  return cases;
}

void PrintTo(const RequestCase& c, std::ostream* os) {
  *os << c.pem.filename() << (c.gbk ? " in GBK" : " in C");
}

class RequestAllocations : public testing::TestWithParam<RequestCase> {};

TEST_P(RequestAllocations, BuffersFailWithNoMemoryConversionsEmptyOneText) {
  const RequestCase& c = GetParam();
  ThreadLocale locale(c.gbk ? "zh_CN.GBK" : "C");
  if (!locale.ok()) GTEST_SKIP() << "no zh_CN.GBK locale (scripts/setup.sh creates it)";
  if (c.gbk && !kxtest::IconvIsWatched()) GTEST_SKIP() << "iconv is not wrapped in this build";
  Bytes text = ReadSample(c.pem);
  const auto size = static_cast<std::int32_t>(text.size());
  text.push_back(0);  // the text ends at its NUL, the heap block one byte later
  const char* pem = reinterpret_cast<const char*>(text.data());
  const std::vector<const RecordField*> shownIn =
      ConvertedFields(ReadSample(std::filesystem::path(c.pem).replace_extension(".der")));
  const std::size_t conversions = shownIn.size();

  // One call into a poisoned record under a watch; the record's bytes.
  auto decode = [&](Failure failure, std::int32_t& status, AllocCounts& counts) {
    Bytes record(sizeof(P10RequestInfo), kPoison);
    counts = Measure(
        [&] {
          status = RC_decodep10pemtxt(pem, size, reinterpret_cast<P10RequestInfo*>(record.data()));
        },
        failure);
    return record;
  };

  std::int32_t status = -99;
  AllocCounts counts;
  const Bytes expected = decode({}, status, counts);
  ASSERT_EQ(status, KX_OK);
  const std::size_t descriptors = c.gbk ? conversions : 0;
  EXPECT_EQ(counts.newCalls, kRequestBuffers);
  EXPECT_EQ(counts.iconvOpenCalls, descriptors);
  ExpectNothingKept(counts);
  RecordProperty("allocations", static_cast<int>(kRequestBuffers + descriptors));

  // A work buffer that cannot be had: KX_ERR_NO_MEMORY and not a byte of the
  // record written (two runs on records filled differently).
  for (std::size_t n = 1; n <= kRequestBuffers; ++n) {
    SCOPED_TRACE("operator new " + std::to_string(n) + " fails");
    const Bytes written = kxtest::WrittenBy(sizeof(P10RequestInfo), [&](std::uint8_t* record) {
      const AllocCounts cnt = Measure(
          [&] {
            status = RC_decodep10pemtxt(pem, size, reinterpret_cast<P10RequestInfo*>(record));
          },
          {n, 0});
      EXPECT_EQ(status, KX_ERR_NO_MEMORY);
      EXPECT_EQ(cnt.newFailed, 1u);
      EXPECT_EQ(cnt.newCalls, n) << "an allocation after the failed one";
      ExpectNothingKept(cnt);
    });
    EXPECT_TRUE(written.empty()) << written.size() << " bytes of the record written";
  }

  // A conversion that cannot be done: the call succeeds and only that
  // attribute's field is the empty text.
  for (std::size_t k = 1; k <= descriptors; ++k) {
    SCOPED_TRACE("iconv_open " + std::to_string(k) + " of the conversions fails");
    const Failure failure{0, k};
    const Bytes got = decode(failure, status, counts);
    EXPECT_EQ(status, KX_OK);
    EXPECT_EQ(counts.newFailed + counts.iconvOpenFailed, 1u);
    ExpectNothingKept(counts);
    Bytes want = expected;
    if (const RecordField* f = shownIn[k - 1]) {
      std::fill_n(want.begin() + static_cast<std::ptrdiff_t>(f->offset), f->size, kPoison);
      want[f->offset] = 0;
    }
    EXPECT_TRUE(got == want) << "the record differs from the one expected";
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, RequestAllocations, testing::ValuesIn(RequestCases()),
                         [](const testing::TestParamInfo<RequestCase>& param) {
                           return CaseName(param.param.pem, param.param.gbk);
                         });

// ---- RequestToJson on a PEM text ---------------------------------------------------------

// The block the text is decoded in: each allocation made to fail in turn
// answers KX_ERR_NO_MEMORY with nothing written and *length 0; every block
// is given back.
TEST(DocumentAllocations, PemTextBlockFailsWithNoMemory) {
  for (const std::filesystem::path& path : RequestSamples(".pem")) {
    SCOPED_TRACE(path.filename().string());
    const Bytes pem = ReadSample(path);
    const auto n = static_cast<std::int32_t>(pem.size());
    std::int32_t length = -1;
    ASSERT_EQ(RequestToJson(pem.data(), n, nullptr, 0, &length), KX_ERR_LENGTH);
    std::string doc(static_cast<std::size_t>(length) + 1, '\x5A');
    std::int32_t status = -99;
    const AllocCounts normal =
        Measure([&] { status = RequestToJson(pem.data(), n, doc.data(), length + 1, &length); });
    EXPECT_EQ(status, KX_OK);
    EXPECT_GE(normal.newCalls, 1u);
    ExpectNothingKept(normal);
    for (std::size_t fail = 1; fail <= normal.newCalls; ++fail) {
      SCOPED_TRACE("allocation " + std::to_string(fail) + " fails");
      const std::string untouched(doc.size(), '\x5A');
      std::string out = untouched;
      std::int32_t got = -1;
      const AllocCounts c = Measure(
          [&] {
            status = RequestToJson(pem.data(), n, out.data(), static_cast<std::int32_t>(out.size()),
                                   &got);
          },
          {fail, 0});
      EXPECT_EQ(status, KX_ERR_NO_MEMORY);
      EXPECT_EQ(got, 0);
      EXPECT_EQ(out, untouched) << "nothing written";
      ExpectNothingKept(c);
    }
  }
}

// ---- Exports that allocate nothing -----------------------------------------------------

// getcertlen, getTVL, CerExpand, the four Base64 exports and the JSON
// exports (RequestToJson on DER) on every sample certificate and request, in
// the C locale and in GBK.
TEST(AllocationFreeExports, AllocateNothingOnTheSamples) {
  std::vector<std::filesystem::path> paths = CertificateSamples();
  const std::vector<std::filesystem::path> requests = RequestSamples(".der");
  const std::size_t certCount = paths.size();
  paths.insert(paths.end(), requests.begin(), requests.end());
  std::size_t checked = 0;
  for (const char* name : {"C", "zh_CN.GBK"}) {
    ThreadLocale locale(name);
    if (!locale.ok()) continue;
    for (std::size_t i = 0; i < paths.size(); ++i) {
      const std::string what = paths[i].stem().string() + " in " + name + ": ";
      const Bytes der = ReadSample(paths[i]);
      const auto derLen = static_cast<std::int32_t>(der.size());
      Bytes value(der.size());
      std::int32_t valueLen = 0;
      std::int32_t totalLen = 0;
      ExpectNoAllocation(Measure([&] { (void)getcertlen(der.data()); }), what + "getcertlen");
      ExpectNoAllocation(Measure([&] { getTVL(der.data(), value.data(), &valueLen, &totalLen); }),
                         what + "getTVL");
      if (i < certCount) {
        std::array<std::uint8_t, KX_MAX_TBS_SIZE> tbs{};
        std::array<std::uint8_t, KX_MAX_SIGNATURE_SIZE> sig{};
        std::int32_t tbsLen = 0;
        std::int32_t sigLen = 0;
        ExpectNoAllocation(
            Measure([&] { CerExpand(der.data(), tbs.data(), &tbsLen, sig.data(), &sigLen); }),
            what + "CerExpand");
      }
      const std::size_t textRoom = 4 * ((der.size() + 2) / 3);
      std::string pem(textRoom, '\0');
      Bytes back(3 * textRoom / 4);
      std::int32_t pemLen = static_cast<std::int32_t>(textRoom);
      std::int32_t backLen = static_cast<std::int32_t>(back.size());
      std::int32_t status[4] = {-99, -99, -99, -99};
      ExpectNoAllocation(
          Measure([&] { status[0] = DerToPem(der.data(), derLen, pem.data(), &pemLen); }),
          what + "DerToPem");
      pemLen = static_cast<std::int32_t>(textRoom);
      ExpectNoAllocation(
          Measure([&] { status[1] = EncodePEMBlock(pem.data(), &pemLen, der.data(), derLen); }),
          what + "EncodePEMBlock");
      ExpectNoAllocation(
          Measure([&] { status[2] = PemToDer(pem.data(), pemLen, back.data(), &backLen); }),
          what + "PemToDer");
      backLen = static_cast<std::int32_t>(back.size());
      ExpectNoAllocation(
          Measure([&] { status[3] = DecodePEMBlock(back.data(), &backLen, pem.data(), pemLen); }),
          what + "DecodePEMBlock");
      for (const std::int32_t rc : status) EXPECT_EQ(rc, KX_OK) << what;
      EXPECT_EQ(Bytes(back.begin(), back.begin() + backLen), der) << what;

      const char* json = i < certCount ? "CertificateToJson" : "RequestToJson";
      const auto document = i < certCount ? CertificateToJson : RequestToJson;
      std::int32_t length = -1;
      ExpectNoAllocation(Measure([&] { (void)document(der.data(), derLen, nullptr, 0, &length); }),
                         what + json + " (the length)");
      ASSERT_GT(length, 0) << what << json;
      std::string doc(static_cast<std::size_t>(length) + 1, '\0');
      ExpectNoAllocation(
          Measure([&] { (void)document(der.data(), derLen, doc.data(), length + 1, &length); }),
          what + json);
      ++checked;
    }
  }
  EXPECT_GE(checked, paths.size());
}

}  // namespace
