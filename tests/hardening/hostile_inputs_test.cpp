// The bad inputs of this field, class by class, each with the status the
// contract gives it, and each run with the input's last byte directly before
// an inaccessible page and every output of exactly its documented size, so
// that a byte read or written outside them faults (guarded_exports.h).
//
// Where the contract leaves the answer to the implementation (lengths that
// run past their container, values too long for a working buffer), a row
// lists every answer it allows and checks that nothing from outside the
// container shows in the outputs.
#include "hardening/guarded_exports.h"

#if KXTEST_HAVE_GUARD_PAGES

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "kestrix.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "request/p10.h"
#include "support/cert_builder.h"
#include "support/openssl_base64.h"

namespace {

using kxtest::Algorithm;
using kxtest::Bytes;
using kxtest::Cat;
using kxtest::CertParts;
using kxtest::Extension;
using kxtest::Extensions;
using kxtest::Filler;
using kxtest::Guard;
using kxtest::GuardedBlock;
using kxtest::GuardedExports;
using kxtest::ItemResult;
using kxtest::kOidAdOcsp;
using kxtest::kOidAia;
using kxtest::kOidAuthorityKeyId;
using kxtest::kOidCn;
using kxtest::kOidCountry;
using kxtest::kOidCrlDp;
using kxtest::kOidIan;
using kxtest::kOidKeyUsage;
using kxtest::kOidSan;
using kxtest::kOidSubjectKeyId;
using kxtest::LengthField;
using kxtest::LengthForm;
using kxtest::Oid;
using kxtest::OidX86;
using kxtest::RawTlv;
using kxtest::Rdn;
using kxtest::Text;
using kxtest::Tlv;

using Allowed = std::vector<std::int32_t>;

constexpr std::int32_t kMalformed = KX_ERR_MALFORMED;
const char kInsideValidity[] = "20300101000000";  // CertParts is valid 2025..2050

bool In(std::int32_t status, const Allowed& allowed) {
  return std::find(allowed.begin(), allowed.end(), status) != allowed.end();
}

std::string Str(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

// ---- Certificates and their parts ------------------------------------------------

// A certificate with a few extensions, so that every depth has an element.
CertParts RichParts() {
  CertParts p;
  p.tail = Extensions(Cat({
      Extension(kOidKeyUsage, {0x03, 0x02, 0x05, 0xA0}),
      Extension(kOidSan, Tlv(0x30, Cat({Tlv(0x82, Text("a.example")), Tlv(0x81, Text("m@x"))}))),
      Extension(OidX86(1), Tlv(0x0C, Text("private"))),
  }));
  return p;
}

// What one certificate gives at the guard page.
struct CertOutcome {
  std::int32_t decode = 0;        // GetCertInfo
  std::int32_t split = 0;         // CerExpand
  std::int32_t preCert = 0;       // GetPreCertVerified inside the validity period
  std::vector<ItemResult> items;  // every code, form 0
  std::string Text(std::uint32_t code) const { return Str(items[code].out); }
};

// Every certificate export on the element `input` declares (which must lie
// inside it), placed against the guard page.
CertOutcome RunCertificate(const Bytes& input) {
  CertOutcome o;
  const auto cert = kxtest::DeclaredElement(input);
  if (!cert) {
    ADD_FAILURE() << "the test input does not hold its declared element";
    return o;
  }
  GuardedExports g(Guard::kAfter);
  g.Place(*cert);
  const auto certLen = static_cast<std::int32_t>(cert->size());
  g.CheckElement(*kxtest::ReadDeclared(cert->data(), cert->size()));
  for (std::uint32_t code = 0; code <= 130; ++code) o.items.push_back(g.Item(code, certLen));
  o.items.push_back(g.Item(KX_ITEM_SERIAL_NUMBER | KX_FORM_RAW, certLen));
  o.decode = o.items[0].rc;
  o.split = g.Split().rc;
  o.preCert = g.PreCert(kInsideValidity, certLen).rc;
  (void)g.PreCert(nullptr, certLen);
  (void)g.UserKey();
  // The validity check runs the same decode, then hands out CerExpand's parts.
  EXPECT_EQ(o.preCert, o.decode != KX_OK ? o.decode : o.split);
  return o;
}

// The certificate `p` builds, with its outer length field replaced.
Bytes WithOuterLength(const CertParts& p, const Bytes& lengthField) {
  const Bytes cert = p.Certificate();
  const auto d = kxtest::ReadDeclared(cert.data(), cert.size());
  return RawTlv(0x30, lengthField,
                Bytes(cert.begin() + static_cast<std::ptrdiff_t>(d->header), cert.end()));
}

// The content of the element `element` (a well-formed one).
Bytes ContentOf(const Bytes& element) {
  const auto d = kxtest::ReadDeclared(element.data(), element.size());
  return Bytes(element.begin() + static_cast<std::ptrdiff_t>(d->header), element.end());
}

// ---- Lengths that claim more than the input holds ----------------------------------

// How far past the input a length claims.
struct Claim {
  const char* name;
  std::function<Bytes(std::size_t)> field;  // the length field for n real content bytes
};
const Claim kClaims[] = {
    {"+4000", [](std::size_t n) { return LengthField(n + 4000); }},
    {"0x84 7FFFFFFF",
     [](std::size_t) {
       return Bytes{0x84, 0x7F, 0xFF, 0xFF, 0xFF};
     }},
    {"0x84 80000000",
     [](std::size_t) {
       return Bytes{0x84, 0x80, 0x00, 0x00, 0x00};
     }},
    {"0x84 FFFFFFFF",
     [](std::size_t) {
       return Bytes{0x84, 0xFF, 0xFF, 0xFF, 0xFF};
     }},
    {"0x84 FFFFFFFA",
     [](std::size_t) {
       return Bytes{0x84, 0xFF, 0xFF, 0xFF, 0xFA};
     }},
};

// The element `element` with its length field replaced by the claim's.
Bytes Overlong(const Bytes& element, const Claim& claim) {
  const Bytes content = ContentOf(element);
  return RawTlv(element[0], claim.field(content.size()), content);
}

struct LengthCase {
  std::string name;
  Bytes cert;
  Allowed decode;                        // GetCertInfo's status
  Allowed split = {KX_OK};               // CerExpand's status
  std::uint32_t item = KX_ITEM_VERSION;  // an item whose text ...
  std::vector<std::string> texts = {};   // ... must be one of these (any when empty)
};

std::vector<LengthCase> LengthCases(const Claim& c) {
  std::vector<LengthCase> cases;
  const CertParts rich = RichParts();
  auto with = [&](const std::function<void(CertParts&)>& change) {
    CertParts p = rich;
    change(p);
    return p.Certificate();
  };
  // The certificate's own levels: refused.
  {
    const CertParts p = rich;
    const Bytes tbs = p.Tbs();
    const Bytes rest = Cat({Algorithm(0x05), Tlv(0x03, p.signatureValue)});
    cases.push_back({"TBS", Tlv(0x30, Cat({Overlong(tbs, c), rest})), {kMalformed}, {kMalformed}});
    cases.push_back(
        {"signature BIT STRING",
         Tlv(0x30, Cat({tbs, Algorithm(0x05), Overlong(Tlv(0x03, p.signatureValue), c)})),
         {kMalformed},
         {kMalformed}});
  }
  cases.push_back(
      {"issuer Name", with([&](CertParts& p) { p.issuer = Overlong(p.issuer, c); }), {kMalformed}});
  cases.push_back({"subject Name",
                   with([&](CertParts& p) { p.subject = Overlong(p.subject, c); }),
                   {kMalformed}});
  // The key info's own length is not used: the walk goes on after its key.
  cases.push_back({"subjectPublicKeyInfo",
                   with([&](CertParts& p) { p.keyInfo = Overlong(p.keyInfo, c); }),
                   {KX_OK}});
  cases.push_back({"subject key BIT STRING",
                   with([&](CertParts& p) {
                     const Bytes key = Tlv(0x03, Cat({{0x00}, Tlv(0x30, Filler(20))}));
                     p.keyInfo = Tlv(0x30, Cat({Algorithm(0x01), Overlong(key, c)}));
                   }),
                   {kMalformed}});
  cases.push_back(
      {"extensions [3]", with([&](CertParts& p) { p.tail = Overlong(p.tail, c); }), {kMalformed}});
  cases.push_back({"Extensions SEQUENCE",
                   with([&](CertParts& p) { p.tail = Tlv(0xA3, Overlong(ContentOf(p.tail), c)); }),
                   {kMalformed}});
  // Inside a Name: the SET's and the SEQUENCE's lengths are not used, so the
  // walk reads on; a value that runs past the Name is refused or cut.
  const Bytes cnValue = Tlv(0x13, Text("issuer"));
  cases.push_back(
      {"RDN SET",
       with([&](CertParts& p) { p.issuer = Tlv(0x30, Overlong(Rdn(kOidCn, cnValue), c)); }),
       {KX_OK},
       {KX_OK},
       KX_ITEM_ISSUER_COMMON_NAME,
       {"issuer"}});
  cases.push_back(
      {"AttributeTypeAndValue",
       with([&](CertParts& p) {
         p.issuer = Tlv(0x30, Tlv(0x31, Overlong(Tlv(0x30, Cat({Oid(kOidCn), cnValue})), c)));
       }),
       {KX_OK},
       {KX_OK},
       KX_ITEM_ISSUER_COMMON_NAME,
       {"issuer"}});
  cases.push_back(
      {"attribute value",
       with([&](CertParts& p) { p.issuer = Tlv(0x30, Rdn(kOidCn, Overlong(cnValue, c))); }),
       {kMalformed, KX_OK},
       {KX_OK},
       KX_ITEM_ISSUER_COMMON_NAME,
       {"", "issuer"}});
  // Inside the extensions: an Extension's own length is not used; a value
  // that runs past the list is refused or passed over.
  const Bytes privateExt = Extension(OidX86(2), Tlv(0x0C, Text("two")));
  cases.push_back({"one Extension's SEQUENCE",
                   with([&](CertParts& p) { p.tail = Extensions(Overlong(privateExt, c)); }),
                   {KX_OK},
                   {KX_OK},
                   KX_ITEM_X86_11_7_2,
                   {"two"}});
  cases.push_back(
      {"extension value OCTET STRING",
       with([&](CertParts& p) {
         p.tail = Extensions(
             Tlv(0x30, Cat({Oid(OidX86(2)), Overlong(Tlv(0x04, Tlv(0x0C, Text("two"))), c)})));
       }),
       {kMalformed, KX_OK},
       {KX_OK},
       KX_ITEM_X86_11_7_2,
       {""}});
  cases.push_back({"GeneralNames inside subjectAltName",
                   with([&](CertParts& p) {
                     p.tail = Extensions(
                         Extension(kOidSan, Overlong(Tlv(0x30, Tlv(0x82, Text("a.example"))), c)));
                   }),
                   {KX_OK, kMalformed},
                   {KX_OK},
                   KX_ITEM_SAN_DNS_NAME,
                   {"", "a.example"}});
  cases.push_back({"dNSName inside subjectAltName",
                   with([&](CertParts& p) {
                     p.tail = Extensions(
                         Extension(kOidSan, Tlv(0x30, Overlong(Tlv(0x82, Text("a.example")), c))));
                   }),
                   {KX_OK, kMalformed},
                   {KX_OK},
                   KX_ITEM_SAN_DNS_NAME,
                   {""}});
  cases.push_back({"private value",
                   with([&](CertParts& p) {
                     p.tail = Extensions(Extension(OidX86(2), Overlong(Tlv(0x0C, Text("two")), c)));
                   }),
                   {KX_OK, kMalformed},
                   {KX_OK},
                   KX_ITEM_X86_11_7_2,
                   {""}});
  cases.push_back({"authorityKeyIdentifier keyIdentifier",
                   with([&](CertParts& p) {
                     p.tail = Extensions(Extension(kOidAuthorityKeyId,
                                                   Tlv(0x30, Overlong(Tlv(0x80, Filler(20)), c))));
                   }),
                   {KX_OK, kMalformed},
                   {KX_OK}});
  return cases;
}

void CheckLengthCase(const LengthCase& row) {
  SCOPED_TRACE(row.name);
  const CertOutcome o = RunCertificate(row.cert);
  EXPECT_TRUE(In(o.decode, row.decode)) << "GetCertInfo gave " << o.decode;
  EXPECT_TRUE(In(o.split, row.split)) << "CerExpand gave " << o.split;
  if (o.decode == KX_OK && !row.texts.empty()) {
    const std::string text = o.Text(row.item);
    EXPECT_NE(std::find(row.texts.begin(), row.texts.end(), text), row.texts.end())
        << "item " << row.item << " gave \"" << text << "\"";
  }
}

TEST(HostileLengths, ClaimingMoreThanTheInputAtEveryDepth) {
  for (const Claim& c : kClaims) {
    SCOPED_TRACE(c.name);
    for (const LengthCase& row : LengthCases(c)) CheckLengthCase(row);
  }
}

TEST(HostileLengths, RunningPastTheirContainerInsideTheInput) {
  const CertParts rich = RichParts();
  auto tbsWithTail = [&](const Bytes& tail) {
    CertParts p = rich;
    p.tail = tail;
    return p;
  };
  // The outer element declares fewer bytes than its members take: the
  // input is what it declares, the rest lies beyond the guard.
  const Bytes full = rich.Certificate();
  const std::size_t content = full.size() - 4;  // a 30 82 hh ll header
  const std::size_t tbs = rich.Tbs().size();
  const Bytes ext2 = Extension(OidX86(2), Tlv(0x0C, Text("leak")));
  const Bytes ext1 = Extension(OidX86(1), Tlv(0x0C, Text("one")));
  // An Extensions SEQUENCE that declares only the first extension and the
  // second one's header: the second value lies outside the list but inside
  // the TBS, right behind it.
  const std::size_t declared = ext1.size() + ext2.size() - 6;
  const Bytes cutList = Cat({RawTlv(0x30, LengthField(declared), Cat({ext1, ext2}))});
  const Bytes cutWrapper = RawTlv(0xA3, LengthField(declared + 2), cutList);
  // A private value whose element claims the ten bytes behind the list.
  const Bytes longValue = Extension(OidX86(2), RawTlv(0x0C, {0x0D}, Text("abc")));

  const std::vector<LengthCase> cases = {
      {"outer cut inside the signature",
       WithOuterLength(rich, LengthField(content - 20)),
       {kMalformed},
       {kMalformed}},
      {"outer cut behind the signature algorithm",
       WithOuterLength(rich, LengthField(tbs + 15)),
       {kMalformed},
       {kMalformed}},
      {"outer holding the TBS alone",
       WithOuterLength(rich, LengthField(tbs)),
       {kMalformed},
       {kMalformed}},
      {"outer cut inside the TBS",
       WithOuterLength(rich, LengthField(tbs - 10)),
       {kMalformed},
       {kMalformed}},
      {"outer holding only its header",
       WithOuterLength(rich, LengthField(0)),
       {kMalformed},
       {kMalformed}},
      {"Extensions SEQUENCE shorter than its extensions",
       tbsWithTail(cutWrapper).Certificate(),
       {kMalformed, KX_OK},
       {KX_OK},
       KX_ITEM_X86_11_7_2,
       {""}},
      {"private value element running past its extension value",
       tbsWithTail(Extensions(Cat({ext1, longValue}))).Certificate(),
       {kMalformed, KX_OK},
       {KX_OK},
       KX_ITEM_X86_11_7_2,
       {""}},
  };
  for (const LengthCase& row : cases) CheckLengthCase(row);
}

// Every element header of `cert`: its offset and its size (tag and length
// field), down through constructed elements and DER-holding strings.
std::vector<std::pair<std::size_t, std::size_t>> HeaderPositions(const Bytes& cert) {
  std::vector<std::pair<std::size_t, std::size_t>> at;
  kxtest::ForEachElement(cert, 0, cert.size(), 12,
                         [&](std::size_t offset, const kxtest::Declared& d) {
                           at.push_back({offset, d.header});
                         });
  return at;
}

// `cert` with the length field of the header at `at` (of `header` bytes)
// replaced by `field`; unless it is the outer header, the outer length is
// then fixed to hold the changed content, so the declared element is all of
// it. An outer claim gets exactly the bytes it declares (zero bytes added).
Bytes WithLengthAt(const Bytes& cert, std::size_t at, std::size_t header, const Bytes& field) {
  Bytes out(cert.begin(), cert.begin() + static_cast<std::ptrdiff_t>(at + 1));
  out.insert(out.end(), field.begin(), field.end());
  out.insert(out.end(), cert.begin() + static_cast<std::ptrdiff_t>(at + header), cert.end());
  if (at != 0) {
    const auto outer = kxtest::ReadDeclared(cert.data(), cert.size());
    return Tlv(0x30, Bytes(out.begin() + static_cast<std::ptrdiff_t>(outer->header), out.end()));
  }
  const auto d = kxtest::ReadDeclared(out.data(), out.size());
  out.resize(static_cast<std::size_t>(d->total()), 0x00);
  return out;
}

// 0x80 (indefinite) and 0x85..0xFF: one-byte lengths of their own
// value, no error in themselves, whatever the walk then finds.
Bytes OwnLengthBytes() {
  Bytes own = {0x80};
  for (int b = 0x85; b <= 0xFF; ++b) own.push_back(static_cast<std::uint8_t>(b));
  return own;
}

TEST(HostileLengths, OwnByteLengthsAtEveryLengthPosition) {
  const Bytes ownBytes = OwnLengthBytes();
  const Bytes cert = RichParts().Certificate();
  const auto positions = HeaderPositions(cert);
  ASSERT_GT(positions.size(), 40u);
  GuardedExports g(Guard::kAfter);
  for (const auto& [at, header] : positions) {
    for (std::uint8_t b : ownBytes) {
      SCOPED_TRACE("length byte " + std::to_string(b) + " at " + std::to_string(at));
      const Bytes input = WithLengthAt(cert, at, header, {b});
      g.Place(input);
      const auto certLen = static_cast<std::int32_t>(input.size());
      if (at == 0) {
        // The element is 2 + b bytes: the length table, read independently.
        g.CheckElement(*kxtest::ReadDeclared(input.data(), input.size()));
        EXPECT_EQ(getcertlen(g.placed()), 2 + b);
      }
      const std::int32_t decode = g.Item(KX_ITEM_VERSION, certLen).rc;
      for (int item : {KX_ITEM_SUBJECT_COMMON_NAME, KX_ITEM_PUBLIC_KEY, KX_ITEM_SAN_DNS_NAME,
                       KX_ITEM_X86_11_7_1, KX_ITEM_KEY_USAGE}) {
        const ItemResult r = g.Item(static_cast<std::uint32_t>(item), certLen);
        // Only the key may be refused on its own (over 300 bytes).
        if (r.rc != KX_ERR_MALFORMED || item != KX_ITEM_PUBLIC_KEY) {
          EXPECT_EQ(r.rc, decode) << "item " << item;
        }
      }
      const std::int32_t split = g.Split().rc;
      const std::int32_t pre = g.PreCert(kInsideValidity, certLen).rc;
      if (decode != KX_OK || split != KX_OK) {
        EXPECT_NE(pre, KX_OK);
      }
      (void)g.UserKey();
    }
  }
}

TEST(HostileLengths, HugeLengthsAtEveryLengthPosition) {
  const Bytes cert = RichParts().Certificate();
  GuardedExports g(Guard::kAfter);
  for (const Claim& c : kClaims) {
    for (const auto& [at, header] : HeaderPositions(cert)) {
      if (at == 0) continue;  // no caller can vouch for an element of 2^31 bytes
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(at));
      const Bytes input = WithLengthAt(cert, at, header, c.field(0));
      g.Place(input);
      const auto certLen = static_cast<std::int32_t>(input.size());
      const std::int32_t decode = g.Item(KX_ITEM_VERSION, certLen).rc;
      (void)g.Item(KX_ITEM_SUBJECT_COMMON_NAME, certLen);
      (void)g.Item(KX_ITEM_X86_11_7_1, certLen);
      const std::int32_t split = g.Split().rc;
      const std::int32_t pre = g.PreCert(kInsideValidity, certLen).rc;
      if (decode != KX_OK || split != KX_OK) {
        EXPECT_NE(pre, KX_OK);
      }
      (void)g.UserKey();
    }
  }
  // getcertlen needs only the header: on a header alone it gives the
  // declared size in 32 bits.
  for (const Claim& c : kClaims) {
    const Bytes field = c.field(0);
    if (field[0] != 0x84) continue;
    GuardedBlock header(Guard::kAfter, RawTlv(0x30, field, {}));
    const std::uint32_t length = static_cast<std::uint32_t>(field[1]) << 24 |
                                 static_cast<std::uint32_t>(field[2]) << 16 |
                                 static_cast<std::uint32_t>(field[3]) << 8 | field[4];
    EXPECT_EQ(getcertlen(header.data()), static_cast<std::int32_t>(length + 6u)) << c.name;
  }
}

// ---- Sizes and capacities ---------------------------------------------------------

TEST(HostileSizes, NegativeZeroAndHugeSizesAndCapacities) {
  const std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  const std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  const std::int32_t kOver = KX_BASE64_MAX_LENGTH + 1;
  // Encoding "abc" needs a capacity of 4; decoding "YWJj" one of 3.
  struct SizeCase {
    const char* name;
    std::int32_t encodeLength, encodeCapacity;
    std::int32_t decodeLength, decodeCapacity;
  };
  const SizeCase cases[] = {
      {"length 0", 0, 4, 0, 3},
      {"length -1", -1, 4, -1, 3},
      {"length INT32_MIN", kMin, 4, kMin, 3},
      {"length above the limit", kOver, 4, kOver, 3},
      {"length INT32_MAX", kMax, 4, kMax, 3},
      {"capacity 0", 3, 0, 4, 0},
      {"capacity -1", 3, -1, 4, -1},
      {"capacity INT32_MIN", 3, kMin, 4, kMin},
      {"capacity above the limit", 3, kOver, 4, kOver},
      {"capacity INT32_MAX", 3, kMax, 4, kMax},
      {"capacity one short", 3, 3, 4, 2},
  };
  const Bytes abc = Text("abc");
  GuardedExports g(Guard::kAfter);
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.name);
    // The output block is what a call could write (nothing for a capacity
    // of 0 or less); a refused call writes nothing into it.
    for (bool wrapper : {false, true}) {
      const auto encodeBlock = static_cast<std::size_t>(std::clamp(c.encodeCapacity, 0, 4));
      EXPECT_EQ(g.Encode(abc, c.encodeLength, c.encodeCapacity, encodeBlock, wrapper).rc,
                KX_ERR_LENGTH);
      const auto decodeBlock = static_cast<std::size_t>(std::clamp(c.decodeCapacity, 0, 3));
      EXPECT_EQ(g.Decode("YWJj", c.decodeLength, c.decodeCapacity, decodeBlock, wrapper).rc,
                KX_ERR_LENGTH);
    }
  }
  // The request decoder's size: the room of its work buffers.
  const Bytes pemBytes = kxtest::ReadFile(kxtest::SamplesDir() / "requests" / "rsa2048.pem");
  const std::string pem = Str(pemBytes);
  for (std::int32_t size : {0, -1, kMin, kOver, kMax, 10}) {
    SCOPED_TRACE("request size " + std::to_string(size));
    EXPECT_EQ(g.Request(pem, size).rc, KX_ERR_LENGTH);
  }
  // certLen is not read: any value answers as the real size does.
  const Bytes cert = RichParts().Certificate();
  g.Place(cert);
  const ItemResult real =
      g.Item(KX_ITEM_SUBJECT_COMMON_NAME, static_cast<std::int32_t>(cert.size()));
  EXPECT_EQ(real.rc, KX_OK);
  for (std::int32_t certLen : {0, -1, kMin, kMax, 1}) {
    EXPECT_EQ(g.Item(KX_ITEM_SUBJECT_COMMON_NAME, certLen), real) << certLen;
    EXPECT_EQ(g.PreCert(kInsideValidity, certLen).rc, KX_OK) << certLen;
  }
}

// ---- Tiny, empty and deeply nested inputs ---------------------------------------------

// `depth` SEQUENCEs one inside the other around `core`, with 0x82 lengths.
Bytes Nested(std::size_t depth, const Bytes& core) {
  Bytes out;
  out.reserve(4 * depth + core.size());
  for (std::size_t level = 0; level < depth; ++level) {
    const Bytes field = LengthField(4 * (depth - 1 - level) + core.size(), LengthForm::kLong2);
    out.push_back(0x30);
    out.insert(out.end(), field.begin(), field.end());
  }
  out.insert(out.end(), core.begin(), core.end());
  return out;
}

TEST(HostileFraming, TinyEmptyAndDeeplyNested) {
  const CertParts rich = RichParts();
  auto with = [&](const std::function<void(CertParts&)>& change) {
    CertParts p = rich;
    change(p);
    return p.Certificate();
  };
  const Bytes unknownOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x99};
  const std::vector<LengthCase> cases = {
      {"empty certificate 30 00", {0x30, 0x00}, {kMalformed}, {kMalformed}},
      {"empty TBS", Tlv(0x30, Tlv(0x30, {})), {kMalformed}, {kMalformed}},
      {"TBS of one tag byte", Tlv(0x30, {0x30}), {kMalformed}, {kMalformed}},
      {"outer of one byte 02", Tlv(0x30, {0x02}), {kMalformed}, {kMalformed}},
      {"outer SET instead of SEQUENCE",
       Tlv(0x31, ContentOf(rich.Certificate())),
       {kMalformed},
       {kMalformed}},
      {"empty issuer Name",
       with([](CertParts& p) { p.issuer = Tlv(0x30, {}); }),
       {KX_OK},
       {KX_OK},
       KX_ITEM_ISSUER_COMMON_NAME,
       {""}},
      {"issuer Name of nested SEQUENCEs",
       with([](CertParts& p) { p.issuer = Tlv(0x30, Nested(300, Tlv(0x13, Text("deep")))); }),
       {KX_OK},
       {KX_OK},
       KX_ITEM_ISSUER_COMMON_NAME,
       {""}},
      {"unknown extension of 300 nested SEQUENCEs",
       with([&](CertParts& p) {
         p.tail = Extensions(Cat({Extension(unknownOid, Nested(300, {})),
                                  Extension(OidX86(2), Tlv(0x0C, Text("after")))}));
       }),
       {KX_OK},
       {KX_OK},
       KX_ITEM_X86_11_7_2,
       {"after"}},
      {"subjectAltName of 150 nested SEQUENCEs",
       with([&](CertParts& p) {
         p.tail = Extensions(Extension(kOidSan, Nested(150, Tlv(0x82, Text("a.example")))));
       }),
       {KX_OK},
       {KX_OK},
       KX_ITEM_SAN_DNS_NAME,
       {""}},
      {"unknown extension of 8000 nested SEQUENCEs, TBS past its limit",
       with([&](CertParts& p) { p.tail = Extensions(Extension(unknownOid, Nested(8000, {}))); }),
       {KX_OK},
       {kMalformed}},
      {"private value of nested SEQUENCEs",
       with([&](CertParts& p) { p.tail = Extensions(Extension(OidX86(3), Nested(100, {}))); }),
       {KX_OK},
       {KX_OK}},
  };
  for (const LengthCase& row : cases) CheckLengthCase(row);
  // getcertlen and getTVL on the smallest elements.
  GuardedExports g(Guard::kAfter);
  for (const Bytes& e :
       {Bytes{0x30, 0x00}, Bytes{0x02, 0x00}, Bytes{0x03, 0x00}, Bytes{0x02, 0x01, 0x00},
        Bytes{0x03, 0x81, 0x00}, Bytes{0x04, 0x84, 0, 0, 0, 0}}) {
    g.Place(e);
    g.CheckElement(*kxtest::ReadDeclared(e.data(), e.size()));
  }
}

// ---- Object identifiers of length 0 and 127 --------------------------------------------

TEST(HostileOids, LengthsZeroAnd127) {
  const CertParts rich = RichParts();
  auto with = [&](const std::function<void(CertParts&)>& change) {
    CertParts p = rich;
    change(p);
    return p.Certificate();
  };
  const Bytes cn = Rdn(kOidCn, Tlv(0x13, Text("issuer")));
  const Bytes private2 = Extension(OidX86(2), Tlv(0x0C, Text("two")));
  auto algorithm = [](const Bytes& oid, bool params) {
    return Tlv(0x30, Cat({Tlv(0x06, oid), params ? Tlv(0x05, {}) : Bytes{}}));
  };
  const std::vector<LengthCase> cases = {
      // Only OIDs of 3, 9 or 10 bytes are compared: the attribute is ignored.
      {"attribute type of 0 bytes",
       with([&](CertParts& p) {
         p.issuer = Tlv(0x30, Cat({Rdn({}, Tlv(0x13, Text("x"))), cn}));
       }),
       {KX_OK},
       {KX_OK},
       KX_ITEM_ISSUER_COMMON_NAME,
       {"issuer"}},
      {"attribute type of 127 bytes",
       with([&](CertParts& p) {
         p.issuer = Tlv(0x30, Cat({Rdn(Filler(127, 0x55), Tlv(0x13, Text("x"))), cn}));
       }),
       {KX_OK},
       {KX_OK},
       KX_ITEM_ISSUER_COMMON_NAME,
       {"issuer"}},
      // An extension identifier of no known length is passed over.
      {"extension identifier of 0 bytes",
       with([&](CertParts& p) {
         p.tail = Extensions(Cat({Extension({}, Tlv(0x0C, Text("x"))), private2}));
       }),
       {KX_OK},
       {KX_OK},
       KX_ITEM_X86_11_7_2,
       {"two"}},
      {"extension identifier of 127 bytes",
       with([&](CertParts& p) {
         p.tail = Extensions(Cat({Extension(Filler(127, 0x55), Tlv(0x0C, Text("x"))), private2}));
       }),
       {KX_OK},
       {KX_OK},
       KX_ITEM_X86_11_7_2,
       {"two"}},
      // The TBS signature algorithm: an unknown identifier is no failure ...
      {"signature algorithm of 0 bytes",
       with([&](CertParts& p) { p.signature = algorithm({}, true); }),
       {KX_OK},
       {KX_OK},
       KX_ITEM_SIGNATURE_ALGORITHM,
       {""}},
      {"signature algorithm of 125 bytes, no parameters",
       with([&](CertParts& p) { p.signature = algorithm(Filler(125), false); }),
       {KX_OK},
       {KX_OK},
       KX_ITEM_SIGNATURE_ALGORITHM,
       {""}},
      // ... nor one of 127 bytes, whose AlgorithmIdentifier has a long-form length.
      {"signature algorithm of 127 bytes",
       with([&](CertParts& p) { p.signature = algorithm(Filler(127), true); }),
       {KX_OK},
       {KX_OK},
       KX_ITEM_SIGNATURE_ALGORITHM,
       {""}},
  };
  for (const LengthCase& row : cases) CheckLengthCase(row);
  // The outer signatureAlgorithm is stepped over by its length, in any form.
  CertParts p = rich;
  const Bytes longAlg = Tlv(0x30, Cat({Tlv(0x06, Filler(127)), Tlv(0x05, {})}));
  CheckLengthCase({"outer signature algorithm of 127 bytes",
                   Tlv(0x30, Cat({p.Tbs(), longAlg, Tlv(0x03, p.signatureValue)})),
                   {KX_OK},
                   {KX_OK}});
  const Bytes zeroAlg = Tlv(0x30, Cat({Tlv(0x06, {}), Tlv(0x05, {})}));
  CheckLengthCase({"outer signature algorithm of 0 bytes",
                   Tlv(0x30, Cat({p.Tbs(), zeroAlg, Tlv(0x03, p.signatureValue)})),
                   {KX_OK},
                   {KX_OK}});
}

// ---- Long name values in every string type ---------------------------------------------

struct StringType {
  const char* name;
  std::uint8_t tag;
};
constexpr StringType kStringTypes[] = {{"PrintableString", 0x13},
                                       {"IA5String", 0x16},
                                       {"UTF8String", 0x0C},
                                       {"TeletexString", 0x14},
                                       {"BMPString", 0x1E}};

// The bytes a character takes in a string type's value.
std::size_t CharacterWidth(std::uint8_t tag) {
  return tag == 0x1E ? 2 : tag == 0x1C ? 4 : 1;
}

// A value of `n` bytes in the string type: ASCII letters, two bytes a
// character in a BMPString and four in a UniversalString (trailing bytes of a
// partial character are none).
Bytes Letters(std::size_t n, std::uint8_t tag) {
  const std::size_t width = CharacterWidth(tag);
  Bytes v(n);
  for (std::size_t i = 0; i < n; ++i) {
    const auto letter = static_cast<std::uint8_t>('a' + (i / width) % 26);
    v[i] = i % width == width - 1 ? letter : 0x00;
  }
  return v;
}

// The text a value converts to, before any field limit.
std::string Converted(const Bytes& v, std::uint8_t tag) {
  const std::size_t width = CharacterWidth(tag);
  std::string text;
  for (std::size_t i = width - 1; i < v.size(); i += width) text += static_cast<char>(v[i]);
  return text;
}

// Every value is stored, whole when it fits its field (255 bytes, 19 for the
// country) and cut at the field's end when it does not, whatever its length
// and string type.
TEST(HostileNames, LongValuesInEveryStringType) {
  struct Field {
    const char* name;
    Bytes oid;
    std::uint32_t item;
    std::size_t width;
  };
  const Field fields[] = {{"commonName", kOidCn, KX_ITEM_SUBJECT_COMMON_NAME, 256},
                          {"country", kOidCountry, KX_ITEM_SUBJECT_COUNTRY, 20}};
  std::vector<StringType> types(std::begin(kStringTypes), std::end(kStringTypes));
  types.push_back({"UniversalString", 0x1C});
  for (const Field& f : fields) {
    for (const StringType& t : types) {
      for (std::size_t n : {19u, 20u, 199u, 254u, 255u, 256u, 399u, 400u, 1023u, 1024u, 5000u}) {
        SCOPED_TRACE(std::string(f.name) + " " + t.name + " of " + std::to_string(n) + " bytes");
        CertParts p;
        const Bytes value = Letters(n, t.tag);
        p.subject = Tlv(0x30, Rdn(f.oid, Tlv(t.tag, value)));
        const CertOutcome o = RunCertificate(p.Certificate());
        EXPECT_EQ(o.decode, KX_OK);
        EXPECT_EQ(o.Text(f.item), Converted(value, t.tag).substr(0, f.width - 1));
      }
    }
  }
}

// ---- Extension values against their write rules ------------------------------------------

TEST(HostileExtensions, ValuesAgainstTheirFields) {
  struct ExtCase {
    std::string name;
    Bytes extension;
    std::uint32_t item;
    std::string text;  // the item's answer
  };
  auto letters = [](std::size_t n) { return Str(Letters(n, 0x16)); };
  std::vector<ExtCase> cases;
  // Store-if-fits: 254 bytes are stored, 255 and more leave the field empty.
  for (std::size_t n : {254u, 255u, 256u, 400u}) {
    const std::string v = letters(n);
    const std::string kept = n <= 254 ? v : "";
    const std::string len = " of " + std::to_string(n);
    cases.push_back({"SAN dNSName" + len, Extension(kOidSan, Tlv(0x30, Tlv(0x82, Text(v)))),
                     KX_ITEM_SAN_DNS_NAME, kept});
    cases.push_back({"SAN rfc822Name" + len, Extension(kOidSan, Tlv(0x30, Tlv(0x81, Text(v)))),
                     KX_ITEM_SAN_EMAIL, kept});
    cases.push_back({"SAN URI" + len, Extension(kOidSan, Tlv(0x30, Tlv(0x86, Text(v)))),
                     KX_ITEM_SAN_URI, kept});
    cases.push_back({"IAN rfc822Name" + len, Extension(kOidIan, Tlv(0x30, Tlv(0x81, Text(v)))),
                     KX_ITEM_IAN_EMAIL, kept});
    cases.push_back({"IAN URI" + len, Extension(kOidIan, Tlv(0x30, Tlv(0x86, Text(v)))),
                     KX_ITEM_IAN_URI, kept});
    // Private values: raw bytes for every tag but BMPString, which converts.
    for (const StringType& t : kStringTypes) {
      const Bytes value = Letters(n, t.tag);
      const std::string text = Converted(value, t.tag);
      cases.push_back({std::string("private ") + t.name + len,
                       Extension(OidX86(1), Tlv(t.tag, value)), KX_ITEM_X86_11_7_1,
                       text.size() <= 254 ? text : ""});
    }
  }
  // Store-truncated: the URL fields keep the first 349 bytes.
  for (std::size_t n : {349u, 350u, 400u}) {
    const std::string v = letters(n);
    const std::string len = " of " + std::to_string(n);
    const Bytes point = Tlv(0x30, Tlv(0xA0, Tlv(0xA0, Tlv(0x86, Text(v)))));
    cases.push_back({"CRL distribution point" + len, Extension(kOidCrlDp, Tlv(0x30, point)),
                     KX_ITEM_CRL_DISTRIBUTION_POINT_1, v.substr(0, 349)});
    const Bytes access = Tlv(0x30, Cat({Oid(kOidAdOcsp), Tlv(0x86, Text(v))}));
    cases.push_back({"OCSP location" + len, Extension(kOidAia, Tlv(0x30, access)),
                     KX_ITEM_OCSP_URL_1, v.substr(0, 349)});
  }
  // A value over the 700-byte working buffer is passed over (or ends the walk).
  cases.push_back({"SAN of 800 bytes", Extension(kOidSan, Tlv(0x30, Tlv(0x82, Text(letters(796))))),
                   KX_ITEM_SAN_DNS_NAME, ""});

  for (const ExtCase& c : cases) {
    SCOPED_TRACE(c.name);
    CertParts p;
    p.tail = Extensions(c.extension);
    const CertOutcome o = RunCertificate(p.Certificate());
    EXPECT_EQ(o.decode, KX_OK);
    EXPECT_EQ(o.Text(c.item), c.text);
  }

  // Byte fields: identifiers over 20 bytes, otherName values over 254 and
  // authority serials over 9 bytes are not handed out whole.
  struct ByteCase {
    const char* name;
    Bytes extension;
    std::uint32_t item;
    std::size_t count;  // bytes handed out
  };
  auto otherName = [](std::size_t n) {
    return Extension(
        kOidSan,
        Tlv(0x30, Tlv(0xA0, Cat({Tlv(0x06, Filler(9)), Tlv(0xA0, Tlv(0x0C, Bytes(n, 'x')))}))));
  };
  const ByteCase byteCases[] = {
      {"subjectKeyIdentifier of 20", Extension(kOidSubjectKeyId, Tlv(0x04, Filler(20))),
       KX_ITEM_SUBJECT_KEY_ID, 20},
      {"subjectKeyIdentifier of 21", Extension(kOidSubjectKeyId, Tlv(0x04, Filler(21))),
       KX_ITEM_SUBJECT_KEY_ID, 0},
      {"authority keyIdentifier of 21",
       Extension(kOidAuthorityKeyId, Tlv(0x30, Tlv(0x80, Filler(21)))), KX_ITEM_AUTHORITY_KEY_ID,
       0},
      {"otherName of 254", otherName(254), KX_ITEM_SAN_OTHER_NAME_9, 254},
      {"otherName of 255", otherName(255), KX_ITEM_SAN_OTHER_NAME_9, 0},
  };
  for (const ByteCase& c : byteCases) {
    SCOPED_TRACE(c.name);
    CertParts p;
    p.tail = Extensions(c.extension);
    const CertOutcome o = RunCertificate(p.Certificate());
    EXPECT_EQ(o.decode, KX_OK);
    EXPECT_EQ(o.items[c.item].out.size(), c.count);
  }
  // An authority serial over its 9-byte field is cut or left out: never more
  // than 9 bytes (18 digits) come back.
  for (std::uint8_t n : {std::uint8_t{9}, std::uint8_t{10}, std::uint8_t{0x7F}, std::uint8_t{0x80},
                         std::uint8_t{0xFF}}) {
    SCOPED_TRACE("authority serial of " + std::to_string(n));
    CertParts p;
    const Bytes serial = RawTlv(0x82, {n}, Filler(std::min<std::size_t>(n, 0x7F)));
    p.tail = Extensions(Extension(kOidAuthorityKeyId, Tlv(0x30, serial)));
    const CertOutcome o = RunCertificate(p.Certificate());
    EXPECT_TRUE(In(o.decode, {KX_OK, kMalformed}));
    if (o.decode == KX_OK) {
      EXPECT_LE(o.Text(KX_ITEM_AUTHORITY_CERT_SERIAL).size(), 18u);
    }
  }
}

// ---- Malformed UTF-8 and BMPStrings ---------------------------------------------------------

bool WellFormed(const std::string& s) {
  return kx::platform::IsWellFormedUtf8(s.data(), s.size());
}

TEST(HostileText, MalformedUtf8AndBmpStrings) {
  struct TextCase {
    const char* name;
    std::uint8_t tag;
    Bytes value;
    std::string whole;  // the exact text, or "" where only its shape is checked
  };
  const TextCase cases[] = {
      {"overlong slash C0 AF", 0x0C, {'a', 0xC0, 0xAF, 'z'}, ""},
      {"overlong E0 80 AF", 0x0C, {'a', 0xE0, 0x80, 0xAF, 'z'}, ""},
      {"overlong F0 80 80 AF", 0x0C, {'a', 0xF0, 0x80, 0x80, 0xAF, 'z'}, ""},
      {"overlong NUL C0 80", 0x0C, {'a', 0xC0, 0x80, 'z'}, ""},
      {"high surrogate ED A0 80", 0x0C, {'a', 0xED, 0xA0, 0x80, 'z'}, ""},
      {"low surrogate ED BF BF", 0x0C, {'a', 0xED, 0xBF, 0xBF, 'z'}, ""},
      {"above U+10FFFF F4 90 80 80", 0x0C, {'a', 0xF4, 0x90, 0x80, 0x80, 'z'}, ""},
      {"truncated E2 82 at the end", 0x0C, {'a', 'z', 0xE2, 0x82}, ""},
      {"truncated C3 at the end", 0x0C, {'a', 'z', 0xC3}, ""},
      {"truncated F0 9F 98 inside", 0x0C, {'a', 0xF0, 0x9F, 0x98, 'z'}, ""},
      {"lone continuation byte", 0x0C, {'a', 0x80, 'z'}, ""},
      {"Teletex overlong", 0x14, {'a', 0xC0, 0xAF, 'z'}, ""},
      {"Teletex truncated", 0x14, {'a', 'z', 0xE2}, ""},
      {"BMP odd length", 0x1E, {0x00, 'A', 0x00, 'B', 0x00}, "AB"},
      {"BMP of one byte", 0x1E, {0x00}, ""},
      {"BMP empty", 0x1E, {}, ""},
      {"BMP unpaired high surrogate", 0x1E, {0x00, 'a', 0xD8, 0x00, 0x00, 'z'}, ""},
      {"BMP unpaired low surrogate", 0x1E, {0x00, 'a', 0xDC, 0x00, 0x00, 'z'}, ""},
      {"BMP surrogates reversed", 0x1E, {0x00, 'a', 0xDC, 0x00, 0xD8, 0x00, 0x00, 'z'}, ""},
      {"BMP high surrogate last", 0x1E, {0x00, 'a', 0x00, 'z', 0xD8, 0x3D}, ""},
      {"BMP high surrogate and an odd byte", 0x1E, {0x00, 'a', 0x00, 'z', 0xD8, 0x3D, 0xDE}, ""},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool inExtension : {false, true}) {
      SCOPED_TRACE(inExtension ? "private extension value" : "subject commonName");
      CertParts p;
      std::uint32_t item = KX_ITEM_SUBJECT_COMMON_NAME;
      if (inExtension) {
        // Private values convert BMPStrings only; other tags stay raw bytes.
        if (c.tag != 0x1E) continue;
        p.tail = Extensions(Extension(OidX86(4), Tlv(c.tag, c.value)));
        item = KX_ITEM_X86_11_7_4;
      } else {
        p.subject = Tlv(0x30, Rdn(kOidCn, Tlv(c.tag, c.value)));
      }
      const CertOutcome o = RunCertificate(p.Certificate());
      // A conversion that cannot be done gives an empty text; the walk goes on.
      EXPECT_EQ(o.decode, KX_OK);
      const std::string text = o.Text(item);
      if (!c.whole.empty() || c.value.size() < 2) {
        EXPECT_EQ(text, c.whole);
        continue;
      }
      EXPECT_LE(text.size(), 255u);
      // What comes out is text of the ANSI code page: with a UTF-8 code page
      // no broken sequence passes through; the letters around it stay.
      if (kx::platform::AnsiIsUtf8()) {
        EXPECT_TRUE(WellFormed(text)) << text;
      }
      if (!text.empty()) {
        EXPECT_EQ(text.front(), 'a');
        EXPECT_NE(text.find('z'), std::string::npos);
      }
    }
  }
}

// ---- Request texts ----------------------------------------------------------------------

std::string Armour(const std::string& body, std::size_t width, const std::string& eol,
                   const std::string& end =
                       "-----END CERTIFICATE REQUEST-----"
                       "\n") {
  std::string text = "-----BEGIN CERTIFICATE REQUEST-----" + eol;
  for (std::size_t i = 0; i < body.size(); i += width) text += body.substr(i, width) + eol;
  return text + end;
}

// A request with the subject, key algorithm identifier and key bits given.
Bytes Request(const Bytes& subject, const Bytes& keyAlgorithm, const Bytes& keyBits) {
  const Bytes info =
      Tlv(0x30,
          Cat({Tlv(0x02, {0x00}), subject,
               Tlv(0x30, Cat({keyAlgorithm, Tlv(0x03, Cat({{0x00}, keyBits}))})), Tlv(0xA0, {})}));
  return Tlv(0x30, Cat({info, Algorithm(0x05), Tlv(0x03, Cat({{0x00}, Filler(64)}))}));
}

TEST(HostileRequests, TextsLinesAndDer) {
  const std::filesystem::path dir = kxtest::SamplesDir() / "requests";
  const Bytes der = *kxtest::DeclaredElement(kxtest::ReadFile(dir / "rsa2048.der"));
  const std::string body = kxtest::OpenSslBase64(der);
  const std::string end = "-----END CERTIFICATE REQUEST-----\n";
  const Allowed anyError = {kMalformed, KX_ERR_LENGTH};
  const Bytes rsaKey =
      Tlv(0x30, Cat({Tlv(0x02, Cat({{0x00}, Filler(64, 0x80)})), Tlv(0x02, {0x01, 0x00, 0x01})}));
  const Bytes rsaAlg =
      Tlv(0x30, Cat({Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01}), Tlv(0x05, {})}));
  const Bytes name = kxtest::Name("req");
  auto armoured = [&](const Bytes& d) { return Armour(kxtest::OpenSslBase64(d), 64, "\n"); };
  const Bytes cutOuter = RawTlv(0x30, LengthField(ContentOf(der).size() + 100), ContentOf(der));

  struct TextCase {
    const char* name;
    std::string text;
    Allowed rc;
    bool sameAsSample = false;  // a success gives the sample's record
  };
  const std::vector<TextCase> cases = {
      {"lines of 64 and LF", Armour(body, 64, "\n"), {KX_OK}, true},
      {"lines of 87 characters: 88 bytes with LF", Armour(body, 87, "\n"), {KX_OK}, true},
      {"lines of 86 characters and CR LF: 88 bytes", Armour(body, 86, "\r\n"), {KX_OK}, true},
      {"lines of 88 characters: 89 bytes with LF", Armour(body, 88, "\n"), anyError},
      {"lines of 87 characters and CR LF: 89 bytes", Armour(body, 87, "\r\n"), anyError},
      {"no end line", Armour(body, 64, "\n", ""), anyError},
      {"last line without its line feed",
       Armour(body, 64, "\n", "").substr(0, Armour(body, 64, "\n", "").size() - 1), anyError},
      {"armour line only", "-----BEGIN CERTIFICATE REQUEST-----", {KX_ERR_LENGTH}},
      {"armour line without a line feed in 88 bytes",
       "-----BEGIN CERTIFICATE REQUEST-----" + std::string(60, ' ') + "\n" + body.substr(0, 64) +
           "\n" + end,
       {KX_ERR_LENGTH}},
      {"empty text", "", {KX_NO_REQUEST_ARMOUR}},
      {"'=' in the middle of the body", Armour("YQ==" + body, 64, "\n"), {kMalformed}},
      {"a lone tag byte", Armour("MA==", 64, "\n"), {kMalformed}},
      {"an empty SEQUENCE", Armour("MAA=", 64, "\n"), {kMalformed}},
      {"30 80 and nothing more", Armour("MIA=", 64, "\n"), {kMalformed}},
      {"outer length claiming 100 more bytes", armoured(cutOuter), {kMalformed}},
      {"built request", armoured(Request(name, rsaAlg, rsaKey)), {KX_OK}},
      {"key algorithm identifier of 0 bytes",
       armoured(Request(name, Tlv(0x30, Cat({Oid({}), Tlv(0x05, {})})), rsaKey)),
       {KX_OK}},
      {"key algorithm identifier of 127 bytes",
       armoured(Request(name, Tlv(0x30, Cat({Oid(Filler(127)), Tlv(0x05, {})})), rsaKey)),
       {KX_OK, kMalformed}},
      {"key of 301 bytes", armoured(Request(name, rsaAlg, Filler(301))), {kMalformed}},
      {"subject of nested SEQUENCEs",
       armoured(Request(Tlv(0x30, Nested(200, Tlv(0x13, Text("deep")))), rsaAlg, rsaKey)),
       {KX_OK}},
      {"subject value past the request",
       armoured(
           Request(Tlv(0x30, Rdn(kOidCn, RawTlv(0x13, {0x84, 0xFF, 0xFF, 0xFF, 0xFF}, Text("x")))),
                   rsaAlg, rsaKey)),
       {KX_OK, kMalformed}},
  };
  GuardedExports g(Guard::kAfter);
  const kxtest::RequestResult sample =
      g.Request(Armour(body, 64, "\n"), static_cast<std::int32_t>(body.size() + 200));
  ASSERT_EQ(sample.rc, KX_OK);
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto size = static_cast<std::int32_t>(std::max<std::size_t>(c.text.size(), 1));
    const kxtest::RequestResult r = g.Request(c.text, size);
    EXPECT_TRUE(In(r.rc, c.rc)) << "RC_decodep10pemtxt gave " << r.rc;
    if (c.sameAsSample && r.rc == KX_OK) {
      EXPECT_EQ(r.record, sample.record);
    }
  }

  // The DER walk itself with the request's last byte against the guard: the
  // armoured path decodes into a buffer larger than the request.
  std::vector<Bytes> ders = {der, cutOuter, Request(name, rsaAlg, rsaKey),
                             Request(Tlv(0x30, Nested(200, {})), rsaAlg, rsaKey)};
  for (const Claim& claim : kClaims) {
    ders.push_back(Request(Overlong(name, claim), rsaAlg, rsaKey));
    ders.push_back(Request(name, Overlong(rsaAlg, claim), rsaKey));
    ders.push_back(Overlong(der, claim));
    // certificationRequestInfo claiming more, the rest of the request behind it.
    const Bytes content = ContentOf(der);
    const auto info = kxtest::ReadDeclared(content.data(), content.size());
    const Bytes infoElement(content.begin(),
                            content.begin() + static_cast<std::ptrdiff_t>(info->total()));
    ders.push_back(Tlv(
        0x30,
        Cat({Overlong(infoElement, claim),
             Bytes(content.begin() + static_cast<std::ptrdiff_t>(info->total()), content.end())})));
  }
  for (std::size_t cut = 1; cut < der.size(); cut += 7) {
    ders.push_back(Bytes(der.begin(), der.end() - static_cast<std::ptrdiff_t>(cut)));
  }
  for (const Bytes& request : {der, Request(name, rsaAlg, rsaKey)}) {
    for (const auto& [at, header] : HeaderPositions(request)) {
      for (std::uint8_t b : OwnLengthBytes())
        ders.push_back(WithLengthAt(request, at, header, {b}));
    }
  }
  GuardedBlock input(Guard::kAfter, 0);
  for (const Bytes& d : ders) {
    input.Assign(d);
    kx::request::P10Request request;
    const kx::Fault fault =
        kx::request::DecodePKCS10Request(kx::der::MakeReader(input.data(), input.size()), request);
    const std::int32_t rc = fault == kx::Fault::kNone ? KX_OK : kMalformed;
    // The same request through its text: the same answer.
    const std::string text = armoured(d);
    EXPECT_EQ(g.Request(text, static_cast<std::int32_t>(text.size())).rc, rc);
  }
}

// ---- Base64 with "=" where it does not belong -----------------------------------------

TEST(HostileBase64, PadCharactersOutOfPlace) {
  struct PadCase {
    const char* name;
    std::string text;
    std::int32_t rc;
    std::string bytes;  // on success
  };
  const std::vector<PadCase> cases = {
      {"padded group first", "YQ==YWJj", kMalformed, ""},
      {"pad opening the second group", "YWJj=WJj", kMalformed, ""},
      {"pad opening the text", "=WJj", kMalformed, ""},
      {"all pads", "====", kMalformed, ""},
      {"three pads", "Y===", kMalformed, ""},
      {"pad second of the last group", "Y=Jj", kMalformed, ""},
      // The last group's form is read from its last two characters: a pad in
      // the third place makes two significant characters, the fourth unread.
      {"pad third of the last group", "YW=j", KX_OK, "a"},
      {"pad fourth", "YWJ=", KX_OK, "ab"},
      {"two padded groups", "YQ==YQ==", kMalformed, ""},
  };
  GuardedExports g(Guard::kAfter);
  for (const PadCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool wrapper : {false, true}) {
      const auto n = static_cast<std::int32_t>(c.text.size());
      const kxtest::Base64Result r = g.Decode(c.text, 3 * (n / 4), wrapper);
      EXPECT_EQ(r.rc, c.rc);
      if (r.rc == KX_OK) {
        EXPECT_EQ(Str(r.out), c.bytes);
      }
    }
  }
  // "=" at every place of a 32-character text (the decoder takes four groups
  // at a time, then single groups, then the last one).
  const std::string text = "YWJjZGVmZ2hpamtsbW5vcHFyc3R1dnd4";
  for (std::size_t at = 0; at < text.size(); ++at) {
    SCOPED_TRACE("pad at " + std::to_string(at));
    std::string t = text;
    t[at] = '=';
    const kxtest::Base64Result r = g.Decode(t, 24, false);
    if (at < 30) {
      EXPECT_EQ(r.rc, kMalformed);
    } else {
      EXPECT_EQ(r.rc, KX_OK);
      EXPECT_EQ(r.count, at == 30 ? 22 : 23);
    }
  }
}

}  // namespace

#endif  // KXTEST_HAVE_GUARD_PAGES
