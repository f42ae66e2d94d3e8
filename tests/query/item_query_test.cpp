// GetCertInfo: the item table, the serial forms, the fallbacks and presets,
// and the outputs on every path.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kestrix.h"
#include "support/cert_builder.h"

namespace {

using kxtest::Bytes;
using kxtest::Cat;
using kxtest::CertParts;
using kxtest::Extension;
using kxtest::Extensions;
using kxtest::Filler;
using kxtest::kOidCn;
using kxtest::kOidEmail;
using kxtest::kOidSan;
using kxtest::kOidSerialNumber;
using kxtest::Oid;
using kxtest::RsaKeyInfo;
using kxtest::Text;
using kxtest::Tlv;

struct Item {
  std::int32_t rc;
  std::int32_t num;
  std::int32_t len;
  Bytes out;  // outBuf up to its first untouched byte
  std::string text() const { return std::string(out.begin(), out.end() - (out.empty() ? 0 : 1)); }
};

constexpr std::uint8_t kUntouched = 0xEE;

Item Query(const Bytes& cert, std::uint32_t item) {
  std::vector<char> buf(KX_ITEM_BUFFER_SIZE + 16, static_cast<char>(kUntouched));
  Item r{};
  r.num = r.len = -777;
  r.rc = GetCertInfo(0, cert.data(), item, &r.num, &r.len, buf.data());
  std::size_t end = buf.size();
  while (end > 0 && static_cast<std::uint8_t>(buf[end - 1]) == kUntouched) --end;
  r.out.assign(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(end));
  EXPECT_LE(end, static_cast<std::size_t>(KX_ITEM_BUFFER_SIZE));
  return r;
}

Bytes NameOf(std::initializer_list<std::pair<Bytes, std::string>> attributes) {
  Bytes rdns;
  for (const auto& [oid, value] : attributes) {
    rdns = Cat({rdns, Tlv(0x31, Tlv(0x30, Cat({Oid(oid), Tlv(0x0C, Text(value))})))});
  }
  return Tlv(0x30, rdns);
}

const Bytes kOid5315_100_5_9 = kxtest::OidX5315(0x05, 0x09);

// ---- Values ----------------------------------------------------------------------

TEST(GetCertInfoValues, VersionAndNames) {
  CertParts p;
  EXPECT_EQ(Query(p.Certificate(), KX_ITEM_VERSION).num, 3);
  const Item cn = Query(p.Certificate(), KX_ITEM_SUBJECT_COMMON_NAME);
  EXPECT_EQ(cn.rc, KX_OK);
  EXPECT_EQ(cn.text(), "subject");
  EXPECT_EQ(cn.len, 7);
  EXPECT_EQ(cn.num, 0);
  EXPECT_EQ(Query(p.Certificate(), KX_ITEM_ISSUER_COMMON_NAME).text(), "issuer");
  // The form byte matters only to the serial.
  EXPECT_EQ(Query(p.Certificate(), KX_ITEM_ISSUER_COMMON_NAME | KX_FORM_RAW).text(), "issuer");
  p.version = {};
  EXPECT_EQ(Query(p.Certificate(), KX_ITEM_VERSION).num, 1);
}

TEST(GetCertInfoValues, SerialForms) {
  CertParts p;
  p.serial = Tlv(0x02, {0x0A, 0xFF});
  Item s = Query(p.Certificate(), KX_ITEM_SERIAL_NUMBER);
  EXPECT_EQ(s.text(), "0aff");
  EXPECT_EQ(s.len, 4);
  EXPECT_EQ(s.num, 2815);
  EXPECT_EQ(Query(p.Certificate(), KX_ITEM_SERIAL_NUMBER | KX_FORM_HEX_UPPER).text(), "0AFF");
  EXPECT_EQ(Query(p.Certificate(), KX_ITEM_SERIAL_NUMBER | 0x03000000u).text(), "0aff");

  // Raw form: the bytes and one zero byte; the length counts every byte,
  // inner zero bytes included.
  p.serial = Tlv(0x02, {0x01, 0x00, 0x02});
  s = Query(p.Certificate(), KX_ITEM_SERIAL_NUMBER | KX_FORM_RAW);
  EXPECT_EQ(s.out, (Bytes{0x01, 0x00, 0x02, 0x00}));
  EXPECT_EQ(s.len, 3);
  EXPECT_EQ(Query(p.Certificate(), KX_ITEM_SERIAL_NUMBER).text(), "010002");

  p.serial = Tlv(0x02, {0x00, 0x8F});  // the sign byte is not part of the serial
  s = Query(p.Certificate(), KX_ITEM_SERIAL_NUMBER);
  EXPECT_EQ(s.text(), "8f");
  EXPECT_EQ(s.num, 143);

  p.serial = Tlv(0x02, {0x00});
  s = Query(p.Certificate(), KX_ITEM_SERIAL_NUMBER);
  EXPECT_EQ(s.text(), "00");
  EXPECT_EQ(s.len, 2);
  s = Query(p.Certificate(), KX_ITEM_SERIAL_NUMBER | KX_FORM_RAW);
  EXPECT_EQ(s.out, (Bytes{0x00, 0x00}));
  EXPECT_EQ(s.len, 1);

  // A 20-byte serial's number is its last four bytes.
  p.serial = Tlv(0x02, Filler(20, 0x11));
  s = Query(p.Certificate(), KX_ITEM_SERIAL_NUMBER);
  EXPECT_EQ(s.len, 40);
  EXPECT_EQ(s.num, 0x21222324);
}

TEST(GetCertInfoValues, SignatureAlgorithm) {
  CertParts p;
  p.signature = kxtest::Algorithm(0x05);
  Item a = Query(p.Certificate(), KX_ITEM_SIGNATURE_ALGORITHM);
  EXPECT_EQ(a.text(), "COID__sha1WithRSAEncryption");
  EXPECT_EQ(a.len, 27);
  EXPECT_EQ(a.num, 4);
  a = Query(p.Certificate(), KX_ITEM_SIGNATURE_ALGORITHM_NAME);
  EXPECT_EQ(a.text(), "COID__sha1WithRSAEncryption");
  EXPECT_EQ(a.num, 0);
  p.signature = kxtest::Algorithm(0x0B);  // not known: nothing
  a = Query(p.Certificate(), KX_ITEM_SIGNATURE_ALGORITHM);
  EXPECT_EQ(a.out, Bytes{0x00});
  EXPECT_EQ(a.len, 0);
  EXPECT_EQ(a.num, 0);
}

TEST(GetCertInfoValues, KeyValidityAndUniqueIds) {
  CertParts p;
  const Bytes key = Tlv(0x30, Filler(137));  // a 1024-bit RSAPublicKey: 30 81 89 ...
  p.keyInfo = RsaKeyInfo(key);
  p.tail = Tlv(0x81, {0x00, 0xAB, 0xCD});
  const Bytes cert = p.Certificate();
  for (int item : {KX_ITEM_PUBLIC_KEY, KX_ITEM_PUBLIC_KEY_AGAIN}) {
    const Item k = Query(cert, item);
    EXPECT_EQ(k.out, key);
    EXPECT_EQ(k.len, 140);
    EXPECT_EQ(k.num, 140);
  }
  EXPECT_EQ(Query(cert, KX_ITEM_NOT_BEFORE).text(), "250101000000");
  EXPECT_EQ(Query(cert, KX_ITEM_NOT_AFTER).text(), "20500101000000");
  EXPECT_EQ(Query(cert, KX_ITEM_ISSUER_UNIQUE_ID).out, (Bytes{0xAB, 0xCD}));
  EXPECT_EQ(Query(cert, KX_ITEM_SUBJECT_UNIQUE_ID).len, 0);
}

TEST(GetCertInfoValues, PresetsOfAbsentExtensions) {
  const Bytes cert = CertParts{}.Certificate();
  EXPECT_EQ(Query(cert, KX_ITEM_KEY_USAGE).num, -1);
  EXPECT_EQ(Query(cert, KX_ITEM_X5315_100_2_2).num, -1);
  for (int item : {KX_ITEM_AUTHORITY_KEY_ID, KX_ITEM_SUBJECT_KEY_ID}) {
    const Item id = Query(cert, item);
    EXPECT_EQ(id.out, Bytes(20, 0x00));
    EXPECT_EQ(id.len, 20);
  }
  EXPECT_EQ(Query(cert, KX_ITEM_RESERVED_TEXT).len, 0);
  EXPECT_EQ(Query(cert, KX_ITEM_SAN_OTHER_NAME_9).out, Bytes{0x00});
}

TEST(GetCertInfoValues, EmailAndSerialFallbacks) {
  const Bytes san = Extension(kOidSan, Tlv(0x30, Tlv(0x81, Text("san@example.org"))));
  const Bytes private59 = Extension(kOid5315_100_5_9, Tlv(0x13, Text("P-59")));
  CertParts p;
  p.tail = Extensions({san, private59});
  EXPECT_EQ(Query(p.Certificate(), KX_ITEM_SUBJECT_EMAIL).text(), "san@example.org");
  EXPECT_EQ(Query(p.Certificate(), KX_ITEM_SAN_EMAIL).text(), "san@example.org");
  EXPECT_EQ(Query(p.Certificate(), KX_ITEM_SUBJECT_SERIAL_NUMBER).text(), "P-59");

  p.subject = NameOf({{kOidEmail, "dn@example.org"}, {kOidSerialNumber, "S-1"}, {kOidCn, "x"}});
  EXPECT_EQ(Query(p.Certificate(), KX_ITEM_SUBJECT_EMAIL).text(), "dn@example.org");
  EXPECT_EQ(Query(p.Certificate(), KX_ITEM_SAN_EMAIL).text(), "san@example.org");
  EXPECT_EQ(Query(p.Certificate(), KX_ITEM_SUBJECT_SERIAL_NUMBER).text(), "S-1");

  p.tail = {};
  EXPECT_EQ(Query(p.Certificate(), KX_ITEM_SAN_EMAIL).text(), "dn@example.org");
}

// ---- Outputs on every path -----------------------------------------------------

TEST(GetCertInfoOutputs, CodesNotInUseAnswerNothing) {
  const Bytes cert = CertParts{}.Certificate();
  for (std::uint32_t item : {4u, 46u, 51u, 56u, 61u, 68u, 92u, 99u, 119u, 0xFFFFFFu}) {
    const Item r = Query(cert, item);
    EXPECT_EQ(r.rc, KX_OK) << item;
    EXPECT_EQ(r.out, Bytes{0x00}) << item;
    EXPECT_EQ(r.num, 0);
    EXPECT_EQ(r.len, 0);
  }
}

TEST(GetCertInfoOutputs, MalformedCertificateLeavesClearedOutputs) {
  const Bytes bad = Tlv(0x31, {});
  for (std::uint32_t item : {4u, std::uint32_t{KX_ITEM_SUBJECT_COMMON_NAME}}) {
    const Item r = Query(bad, item);
    EXPECT_EQ(r.rc, KX_ERR_MALFORMED);
    EXPECT_EQ(r.out, Bytes{0x00});
    EXPECT_EQ(r.num, 0);
    EXPECT_EQ(r.len, 0);
  }
}

TEST(GetCertInfoOutputs, NullOutputBufferWritesNothing) {
  const Bytes cert = CertParts{}.Certificate();
  std::int32_t num = 5;
  std::int32_t len = 6;
  EXPECT_EQ(GetCertInfo(0, cert.data(), KX_ITEM_VERSION, &num, &len, nullptr),
            KX_ERR_NO_OUTPUT_BUFFER);
  EXPECT_EQ(num, 5);
  EXPECT_EQ(len, 6);
}

TEST(GetCertInfoOutputs, ValuesLargerThanTheDocumentedBuffersAreRefused) {
  // A serial over the 36-byte working copy and a key over 300 bytes: only
  // the items that would hand them out are refused.
  CertParts p;
  p.serial = Tlv(0x02, Filler(37, 0x01));
  p.keyInfo = RsaKeyInfo(Tlv(0x30, Filler(522)));
  const Bytes cert = p.Certificate();
  for (int item : {KX_ITEM_SERIAL_NUMBER, KX_ITEM_PUBLIC_KEY, KX_ITEM_PUBLIC_KEY_AGAIN}) {
    const Item r = Query(cert, item);
    EXPECT_EQ(r.rc, KX_ERR_MALFORMED) << item;
    EXPECT_EQ(r.out, Bytes{0x00});
  }
  EXPECT_EQ(Query(cert, KX_ITEM_SUBJECT_COMMON_NAME).text(), "subject");
}

}  // namespace
