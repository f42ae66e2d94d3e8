// The certificates in samples/certs/ (made by samples/make-cert-samples.sh
// with the openssl command line), decoded by GetX509CertInfo and cut by
// CerExpand, against OpenSSL's reading of the same bytes.
//
// For every field the expectation is derived from OpenSSL's parse with the
// decoder's documented shortcuts applied: name texts cut to their fields
// and domainComponents joined last one first; a subjectAltName or issuerAltName walk that keeps the
// last name of each kind it stores and steps over the others; the first URI of each distribution
// point that has one; every OCSP location; keys and signatures over 300 bytes recorded by length
// only. A few pinned values per sample guard that the samples still show what they were made for.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cert/records.h"
#include "cert/tbs.h"
#include "kestrix.h"
#include "support/der_header.h"
#include "support/openssl_x509.h"
#include "support/samples.h"

namespace {

using kx::cert::CertBasicInfo;
using kx::cert::CertExtInfo;
using kx::cert::CertNameInfo;
using kxtest::AsnBytes;
using kxtest::AsnText;
using kxtest::AsnUtf8;
using kxtest::Bytes;
using kxtest::ReadFile;
using kxtest::X509Ptr;

const std::filesystem::path kCertDir = kxtest::SamplesDir() / "certs";

// The sample names (file names without .der), sorted.
std::vector<std::string> SampleNames() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(kCertDir, ec)) {
    if (entry.path().extension() == ".der") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The 256-byte name fields by the NID of their attribute type (the 20-byte
// country is the 21st field).
struct NameField {
  int nid;
  char (CertNameInfo::*field)[256];
};
const NameField kNameFields[] = {
    {NID_organizationName, &CertNameInfo::organization},
    {NID_organizationalUnitName, &CertNameInfo::organizationalUnit},
    {NID_stateOrProvinceName, &CertNameInfo::stateOrProvince},
    {NID_commonName, &CertNameInfo::commonName},
    {NID_localityName, &CertNameInfo::locality},
    {NID_pkcs9_emailAddress, &CertNameInfo::email},
    {NID_postalAddress, &CertNameInfo::postalAddress},
    {NID_postalCode, &CertNameInfo::postalCode},
    {NID_postOfficeBox, &CertNameInfo::postOfficeBox},
    {NID_telephoneNumber, &CertNameInfo::telephoneNumber},
    {NID_telexNumber, &CertNameInfo::telexNumber},
    {NID_title, &CertNameInfo::title},
    {NID_surname, &CertNameInfo::surname},
    {NID_givenName, &CertNameInfo::givenName},
    {NID_initials, &CertNameInfo::initials},
    {NID_description, &CertNameInfo::description},
    {NID_serialNumber, &CertNameInfo::serialNumber},
    {NID_domainComponent, &CertNameInfo::domainComponent},
    {NID_name, &CertNameInfo::name},
    {NID_generationQualifier, &CertNameInfo::generationQualifier},
};

// Every field's expected text: OpenSSL's entries in encoding order, every
// member of a multi-valued RDN among them, the last occurrence winning,
// domainComponents joined last one first, each text cut to its field.
void ExpectName(const X509_NAME* name, const CertNameInfo& got, const char* which) {
  std::map<int, std::string> want;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    const int nid = OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry));
    const std::string text = AsnUtf8(X509_NAME_ENTRY_get_data(entry));
    std::string& field = want[nid];
    field = nid == NID_domainComponent && !field.empty() ? text + "." + field : text;
  }
  EXPECT_EQ(got.country, kxtest::CutUtf8(want[NID_countryName], 19)) << which << " C";
  for (const NameField& f : kNameFields) {
    EXPECT_EQ(got.*f.field, kxtest::CutUtf8(want[f.nid], 255)) << which << " " << OBJ_nid2sn(f.nid);
  }
}

std::int32_t AlgCode(int nid) {
  switch (nid) {
    case NID_md2WithRSAEncryption: return 2;
    case NID_md5WithRSAEncryption: return 3;
    case NID_sha1WithRSAEncryption: return 4;
    case NID_rsaEncryption: return 5;
    case NID_md4WithRSAEncryption: return 6;
    case NID_dsa: return 7;
    case NID_dsaWithSHA1: return 8;
    default: return -1;
  }
}

// A byte value held when it fits `capacity`, else recorded by length alone.
void ExpectBytes(const std::uint8_t* field, std::int32_t count, const Bytes& want,
                 std::size_t capacity, const char* what) {
  EXPECT_EQ(count, static_cast<std::int32_t>(want.size())) << what;
  if (want.size() <= capacity && count == static_cast<std::int32_t>(want.size())) {
    EXPECT_EQ(Bytes(field, field + count), want) << what;
  }
}

// OpenSSL's decoded extension, or null.
template <typename T>
std::unique_ptr<T, void (*)(T*)> Extension(X509* x, int nid, void (*release)(T*)) {
  return {static_cast<T*>(X509_get_ext_d2i(x, nid, nullptr, nullptr)), release};
}

void FreeNames(GENERAL_NAMES* n) {
  GENERAL_NAMES_free(n);
}
void FreePoints(CRL_DIST_POINTS* p) {
  CRL_DIST_POINTS_free(p);
}
void FreeAccess(AUTHORITY_INFO_ACCESS* a) {
  AUTHORITY_INFO_ACCESS_free(a);
}

// Store-if-fits into a 256-byte text field; store-truncated into a URL field.
std::string IfFits(const std::string& value, const std::string& old) {
  return value.size() <= 254 ? value : old;
}
std::string Truncated(const std::string& value) {
  return value.substr(0, 349);
}

// subjectAltName / issuerAltName: the last name of each stored kind; other
// kinds are stepped over.
struct AltNames {
  std::string email, uri, dns, ip;
};
AltNames WalkAltNames(const GENERAL_NAMES* names, bool subject) {
  AltNames want;
  for (int i = 0; names != nullptr && i < sk_GENERAL_NAME_num(names); ++i) {
    const GENERAL_NAME* gn = sk_GENERAL_NAME_value(names, i);
    if (gn->type == GEN_EMAIL) {
      want.email = IfFits(AsnText(gn->d.rfc822Name), want.email);
    } else if (gn->type == GEN_URI) {
      want.uri = IfFits(AsnText(gn->d.uniformResourceIdentifier), want.uri);
    } else if (subject && gn->type == GEN_DNS) {
      want.dns = IfFits(AsnText(gn->d.dNSName), want.dns);
    } else if (subject && gn->type == GEN_IPADD) {
      want.ip = IfFits(AsnText(gn->d.iPAddress), want.ip);
    } else if (subject && gn->type == GEN_OTHERNAME) {
      // Type identifiers of 9 and 10 bytes have fields; the samples have none.
      const std::size_t idLength = OBJ_length(gn->d.otherName->type_id);
      EXPECT_TRUE(idLength != 9 && idLength != 10) << "an otherName this model does not follow";
    }
  }
  return want;
}

// A text field compared with its expected bytes, which may hold a zero byte
// (an iPAddress): the bytes and the terminator behind them.
void ExpectText(const char* field, const std::string& want, const char* what) {
  EXPECT_EQ(std::string(field, want.size() + 1), want + '\0') << what;
}

void ExpectExtensions(X509* x, const CertExtInfo& got) {
  // keyUsage: OpenSSL keeps the first byte of bits low, the record high.
  const std::uint32_t ku = X509_get_key_usage(x);
  const std::int32_t wantKu =
      ku == UINT32_MAX ? -1 : static_cast<std::int32_t>(((ku & 0xFFu) << 8) | (ku >> 8 & 0xFFu));
  EXPECT_EQ(got.keyUsage, wantKu) << "keyUsage";
  EXPECT_EQ(got.basicConstraintsCA, (X509_get_extension_flags(x) & EXFLAG_CA) != 0 ? 1 : 0)
      << "basicConstraintsCA";

  // Key identifiers: 20 zero bytes when absent; a longer one by length only.
  const ASN1_OCTET_STRING* ski = X509_get0_subject_key_id(x);
  const ASN1_OCTET_STRING* akid = X509_get0_authority_key_id(x);
  ExpectBytes(got.subjectKeyId, got.subjectKeyIdLen, ski ? AsnBytes(ski) : Bytes(20), 20, "SKI");
  ExpectBytes(got.authorityKeyId, got.authorityKeyIdLen, akid ? AsnBytes(akid) : Bytes(20), 20,
              "AKI keyIdentifier");
  // An authorityCertSerialNumber over 9 bytes is left out.
  const Bytes serial = AsnBytes(X509_get0_authority_serial(x));
  ExpectBytes(got.authorityCertSerial, got.authorityCertSerialLen,
              serial.size() <= 9 ? serial : Bytes(), 9, "AKI serial");

  const auto san = Extension(x, NID_subject_alt_name, FreeNames);
  const AltNames s = WalkAltNames(san.get(), true);
  ExpectText(got.sanEmail, s.email, "SAN email");
  ExpectText(got.sanUri, s.uri, "SAN URI");
  ExpectText(got.x5315_100_5_4, s.dns, "SAN DNS");
  ExpectText(got.x5315_100_5_5, s.ip, "SAN IP");
  EXPECT_EQ(got.sanIpAddressLen, static_cast<std::int32_t>(s.ip.size())) << "SAN IP octets";
  const auto ian = Extension(x, NID_issuer_alt_name, FreeNames);
  const AltNames i = WalkAltNames(ian.get(), false);
  ExpectText(got.ianEmail, i.email, "IAN email");
  ExpectText(got.ianUri, i.uri, "IAN URI");

  // The first URI of each distribution point that has one.
  std::vector<std::string> dp(2);
  std::size_t found = 0;
  const auto points = Extension(x, NID_crl_distribution_points, FreePoints);
  for (int k = 0; points && k < sk_DIST_POINT_num(points.get()); ++k) {
    const DIST_POINT* point = sk_DIST_POINT_value(points.get(), k);
    if (point->distpoint == nullptr || point->distpoint->type != 0) continue;
    const GENERAL_NAMES* full = point->distpoint->name.fullname;
    for (int n = 0; n < sk_GENERAL_NAME_num(full); ++n) {
      const GENERAL_NAME* name = sk_GENERAL_NAME_value(full, n);
      if (name->type != GEN_URI) continue;
      dp[found++ == 0 ? 0 : 1] = Truncated(AsnText(name->d.uniformResourceIdentifier));
      break;
    }
  }
  ExpectText(got.crlDistPoint1, dp[0], "crlDistPoint1");
  ExpectText(got.crlDistPoint2, dp[1], "crlDistPoint2");

  // Every OCSP URI, descriptions of other methods or forms stepped over.
  std::string ocsp[2];
  found = 0;
  const auto access = Extension(x, NID_info_access, FreeAccess);
  for (int k = 0; access && k < sk_ACCESS_DESCRIPTION_num(access.get()); ++k) {
    const ACCESS_DESCRIPTION* ad = sk_ACCESS_DESCRIPTION_value(access.get(), k);
    if (OBJ_obj2nid(ad->method) != NID_ad_OCSP || ad->location->type != GEN_URI) continue;
    ocsp[found++ == 0 ? 0 : 1] = Truncated(AsnText(ad->location->d.uniformResourceIdentifier));
  }
  ExpectText(got.ocspUrl1, ocsp[0], "ocspUrl1");
  ExpectText(got.ocspUrl2, ocsp[1], "ocspUrl2");
}

// One sample: its bytes, OpenSSL's parse, and the decoder's records.
struct Decoded {
  Bytes der;
  X509Ptr x509;
  kx::Fault status = kx::Fault::kCertificateFrame;  // until decoded
  std::unique_ptr<kx::cert::CertRecords> records = std::make_unique<kx::cert::CertRecords>();
  CertNameInfo* issuer = &records->issuer;
  CertNameInfo* subject = &records->subject;
  CertBasicInfo* basic = &records->basic;
  CertExtInfo* ext = &records->extensions;
};

Decoded DecodeBytes(Bytes der) {
  Decoded d;
  d.der = std::move(der);
  const unsigned char* p = d.der.data();
  d.x509.reset(d2i_X509(nullptr, &p, static_cast<long>(d.der.size())));
  if (d.x509 != nullptr && p == d.der.data() + d.der.size()) {
    d.status =
        kx::cert::GetX509CertInfo(kx::der::MakeReader(d.der.data(), d.der.size()), *d.records);
  }
  return d;
}

Decoded Decode(const std::string& name) {
  return DecodeBytes(ReadFile(kCertDir / (name + ".der")));
}

// The TBSCertificate element of `der`: the element behind the outer header.
Bytes TbsSlice(const Bytes& der) {
  const auto outer = kxtest::ReadDeclared(der.data(), der.size());
  const std::uint8_t* tbs = der.data() + outer->header;
  const auto inner = kxtest::ReadDeclared(tbs, der.size() - outer->header);
  return Bytes(tbs, tbs + inner->total());
}

class RealCert : public ::testing::TestWithParam<std::string> {};

void ExpectAsOpenSslReadsIt(const Decoded& d) {
  ASSERT_NE(d.x509, nullptr) << "OpenSSL does not read the sample";
  ASSERT_EQ(d.status, kx::Fault::kNone);
  X509* x = d.x509.get();
  const CertBasicInfo& b = *d.basic;

  EXPECT_EQ(b.version, X509_get_version(x));
  ExpectBytes(b.serialNumber, b.serialNumberLen, AsnBytes(X509_get0_serialNumber(x)), 256,
              "serial");
  const X509_ALGOR* tbsAlg = X509_get0_tbs_sigalg(x);
  EXPECT_EQ(b.signatureAlgorithm, AlgCode(OBJ_obj2nid(tbsAlg->algorithm)));
  const std::string notBefore = AsnText(X509_get0_notBefore(x));
  const std::string notAfter = AsnText(X509_get0_notAfter(x));
  EXPECT_EQ(b.notBefore, notBefore.substr(0, notBefore.size() - 1));
  EXPECT_EQ(b.notAfter, notAfter.substr(0, notAfter.size() - 1));
  ExpectBytes(b.subjectPublicKey, b.subjectPublicKeyLen, AsnBytes(X509_get0_pubkey_bitstr(x)), 300,
              "subjectPublicKey");
  const ASN1_BIT_STRING* signature = nullptr;
  X509_get0_signature(&signature, nullptr, x);
  ExpectBytes(b.signatureValue, b.signatureValueLen, AsnBytes(signature), 300, "signatureValue");
  const ASN1_BIT_STRING* issuerUid = nullptr;
  const ASN1_BIT_STRING* subjectUid = nullptr;
  X509_get0_uids(x, &issuerUid, &subjectUid);
  ExpectBytes(b.issuerUniqueID, b.issuerUniqueIDLen, AsnBytes(issuerUid), 256, "issuerUniqueID");
  ExpectBytes(b.subjectUniqueID, b.subjectUniqueIDLen, AsnBytes(subjectUid), 256,
              "subjectUniqueID");

  ExpectName(X509_get_issuer_name(x), *d.issuer, "issuer");
  ExpectName(X509_get_subject_name(x), *d.subject, "subject");
  ExpectExtensions(x, *d.ext);
}

TEST_P(RealCert, DecodesAsOpenSslReadsIt) {
  ExpectAsOpenSslReadsIt(Decode(GetParam()));
}

// CerExpand hands out the TBS element byte for byte and the signature value,
// or, when either is larger than its buffer, refuses and writes nothing.
TEST_P(RealCert, CerExpandCutsAsOpenSslEncodes) {
  const Decoded d = Decode(GetParam());
  ASSERT_NE(d.x509, nullptr);
  unsigned char* reencoded = nullptr;
  const int reencodedLen = i2d_re_X509_tbs(d.x509.get(), &reencoded);
  ASSERT_GT(reencodedLen, 0);
  const Bytes tbsWant(reencoded, reencoded + reencodedLen);
  OPENSSL_free(reencoded);
  ASSERT_EQ(TbsSlice(d.der), tbsWant);
  const ASN1_BIT_STRING* signature = nullptr;
  X509_get0_signature(&signature, nullptr, d.x509.get());
  const Bytes sigWant = AsnBytes(signature);

  Bytes tbs(KX_MAX_TBS_SIZE, 0xA5);
  Bytes sig(KX_MAX_SIGNATURE_SIZE, 0xA5);
  std::int32_t tbsLen = -7;
  std::int32_t sigLen = -7;
  const std::int32_t status = CerExpand(d.der.data(), tbs.data(), &tbsLen, sig.data(), &sigLen);
  if (tbsWant.size() > KX_MAX_TBS_SIZE || sigWant.size() > KX_MAX_SIGNATURE_SIZE) {
    EXPECT_EQ(status, KX_ERR_MALFORMED);
    EXPECT_EQ(tbsLen, -7);
    EXPECT_EQ(sigLen, -7);
    EXPECT_EQ(tbs, Bytes(KX_MAX_TBS_SIZE, 0xA5));
    EXPECT_EQ(sig, Bytes(KX_MAX_SIGNATURE_SIZE, 0xA5));
    return;
  }
  ASSERT_EQ(status, KX_OK);
  ASSERT_EQ(tbsLen, static_cast<std::int32_t>(tbsWant.size()));
  ASSERT_EQ(sigLen, static_cast<std::int32_t>(sigWant.size()));
  EXPECT_EQ(Bytes(tbs.begin(), tbs.begin() + tbsLen), tbsWant);
  EXPECT_EQ(Bytes(sig.begin(), sig.begin() + sigLen), sigWant);
}

std::string ParamName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Samples, RealCert, ::testing::ValuesIn(SampleNames()), ParamName);

// What each sample was made to show, pinned, so that a regenerated set
// cannot quietly lose a case (and the OpenSSL-derived expectations above
// are checked against known answers).
TEST(RealCertSamples, ShowWhatTheyWereMadeFor) {
  struct Pin {
    const char* sample;
    const char* what;
    std::string got;
    std::string want;
  };
  const Decoded v1 = Decode("v1-rsa1024"), sha1 = Decode("rsa2048-sha1"), ca = Decode("rsa2048-ca"),
                big = Decode("rsa4096"), ec = Decode("ec-p256-leaf"), cjk = Decode("utf8-cjk"),
                bmp = Decode("bmp"), multi = Decode("multi-rdn"), dc = Decode("dc-email"),
                crl = Decode("crl-aia"), crl2 = Decode("crl2-aia-ca-first"),
                tbs = Decode("big-tbs"), large = Decode("san-large"), ip = Decode("san-ip"),
                dir = Decode("san-dirname"), crlDir = Decode("crl-dirname-first"),
                dsa = Decode("dsa-ca"), explicitEc = Decode("ec-explicit-leaf"),
                multiLeaf = Decode("multi-rdn-leaf"), longValues = Decode("long-values"),
                universal = Decode("universal");
  for (const Decoded* d :
       {&v1,    &sha1,   &ca,  &big,        &ec,        &cjk,        &bmp,
        &multi, &dc,     &crl, &crl2,       &tbs,       &large,      &ip,
        &dir,   &crlDir, &dsa, &explicitEc, &multiLeaf, &longValues, &universal}) {
    ASSERT_EQ(d->status, kx::Fault::kNone) << "a sample is missing or does not decode";
  }
  auto hex = [](const void* bytes, std::int32_t n) {
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    std::string s;
    for (std::int32_t i = 0; i < n; ++i) {
      s += "0123456789abcdef"[p[i] >> 4];
      s += "0123456789abcdef"[p[i] & 15];
    }
    return s;
  };
  auto num = [](std::int32_t n) { return std::to_string(n); };
  const Pin pins[] = {
      {"v1-rsa1024", "version", num(v1.basic->version), "0"},
      {"v1-rsa1024", "serial", hex(v1.basic->serialNumber, v1.basic->serialNumberLen), "01"},
      {"v1-rsa1024", "keyUsage preset", num(v1.ext->keyUsage), "-1"},
      {"rsa2048-sha1", "algorithm", num(sha1.basic->signatureAlgorithm), "4"},
      {"rsa2048-sha1", "serial sign byte dropped",
       hex(sha1.basic->serialNumber, sha1.basic->serialNumberLen), "8f00a1b2c3d4e5f6"},
      {"rsa2048-sha1", "email", sha1.subject->email, "sha1@kestrix.test"},
      {"rsa2048-sha1", "keyUsage", num(sha1.ext->keyUsage), num(0xA000)},
      {"rsa2048-ca", "algorithm", num(ca.basic->signatureAlgorithm), "-1"},
      {"rsa2048-ca", "serial zero kept", hex(ca.basic->serialNumber, ca.basic->serialNumberLen),
       "00"},
      {"rsa2048-ca", "CA", num(ca.ext->basicConstraintsCA), "1"},
      {"rsa2048-ca", "two-byte keyUsage", num(ca.ext->keyUsage), num(0x0680)},
      {"rsa2048-ca", "AKI serial", hex(ca.ext->authorityCertSerial, ca.ext->authorityCertSerialLen),
       "00"},
      {"rsa4096", "CA with pathlen", num(big.ext->basicConstraintsCA), "1"},
      {"rsa4096", "key length only", num(big.basic->subjectPublicKeyLen), "526"},
      {"rsa4096", "signature length only", num(big.basic->signatureValueLen), "512"},
      {"rsa4096", "subject CN", big.subject->commonName, "kestrix RSA-4096"},
      {"ec-p256-leaf", "GeneralizedTime", ec.basic->notAfter, "20510630120000"},
      {"ec-p256-leaf", "UTCTime", ec.basic->notBefore, "250101000000"},
      {"ec-p256-leaf", "last SAN email", ec.ext->sanEmail, "second@leaf.kestrix.test"},
      {"ec-p256-leaf", "last SAN DNS", ec.ext->x5315_100_5_4, "www.leaf.kestrix.test"},
      {"ec-p256-leaf", "SAN URI", ec.ext->sanUri, "https://leaf.kestrix.test/about"},
      {"ec-p256-leaf", "SAN IP", hex(ec.ext->x5315_100_5_5, 5), "c000021100"},
      {"utf8-cjk", "UTF8String CN", cjk.subject->commonName, "中国 测试"},
      {"bmp", "BMPString CN", bmp.subject->commonName, "Ünïcödé 测试"},
      {"bmp", "BMPString O", bmp.issuer->organization, "Kestrix Mägde"},
      {"multi-rdn", "first member", multi.subject->commonName, "a"},
      {"multi-rdn", "second member", multi.subject->organization, "b"},
      {"multi-rdn", "RDN after it", multi.subject->locality, "x"},
      {"multi-rdn-leaf", "members of two types",
       multiLeaf.subject->stateOrProvince + std::string("/") + multiLeaf.subject->locality,
       "Sofia-grad/Sofia"},
      {"multi-rdn-leaf", "later member of one type", multiLeaf.subject->commonName,
       "second member"},
      {"multi-rdn-leaf", "RDN after them", multiLeaf.subject->organizationalUnit, "Leaves"},
      {"multi-rdn-leaf", "issuer members",
       multiLeaf.issuer->organizationalUnit + std::string("/") + multiLeaf.issuer->organization,
       "Second Unit/Kestrix Multi"},
      {"multi-rdn-leaf", "issuer RDN after them", multiLeaf.issuer->commonName,
       "kestrix multi-valued CA"},
      {"long-values", "500-byte description cut inside a character",
       num(static_cast<std::int32_t>(std::strlen(longValues.subject->description))), "253"},
      {"long-values", "300-byte CN",
       num(static_cast<std::int32_t>(std::strlen(longValues.issuer->commonName))), "255"},
      {"long-values", "40-byte country", longValues.subject->country, std::string(19, 'C')},
      {"universal", "UniversalString CN", universal.subject->commonName, "Ünï 测试 😀 universal"},
      {"dc-email", "DC last first", dc.subject->domainComponent, "samples.kestrix.test"},
      {"dc-email", "issuer", dc.issuer->commonName, "kestrix sample CA"},
      {"crl-aia", "first URI of the point", crl.ext->crlDistPoint1,
       "http://crl1.kestrix.test/ca.crl"},
      {"crl-aia", "second URI of one point", crl.ext->crlDistPoint2, ""},
      {"crl-aia", "ocsp1", crl.ext->ocspUrl1, "http://ocsp1.kestrix.test/"},
      {"crl-aia", "ocsp2", crl.ext->ocspUrl2, "http://ocsp2.kestrix.test/"},
      {"crl2-aia-ca-first", "second point", crl2.ext->crlDistPoint2,
       "http://crl.kestrix.test/second.crl"},
      {"crl2-aia-ca-first", "OCSP behind caIssuers", crl2.ext->ocspUrl1,
       "http://ocsp.kestrix.test/"},
      {"big-tbs", "TBS over 2048 bytes", num(TbsSlice(tbs.der).size() > KX_MAX_TBS_SIZE), "1"},
      {"big-tbs", "subject CN", tbs.subject->commonName, "kestrix big TBS"},
      {"san-large", "last of 100 DNS names", large.ext->x5315_100_5_4,
       "name099.san-large.kestrix.test"},
      {"san-large", "URI behind them", large.ext->sanUri, "https://san-large.kestrix.test/last"},
      {"san-ip", "::1 whole", hex(ip.ext->x5315_100_5_5, 17), std::string(30, '0') + "0100"},
      {"san-dirname", "URI behind directoryName, RID, otherName", dir.ext->sanUri,
       "https://dirname.kestrix.test/"},
      {"san-dirname", "last email", dir.ext->sanEmail, "last@dirname.kestrix.test"},
      {"crl-dirname-first", "first point with a URI", crlDir.ext->crlDistPoint1,
       "http://crl.kestrix.test/full.crl"},
      {"crl-dirname-first", "point behind reasons and cRLIssuer", crlDir.ext->crlDistPoint2,
       "http://crl.kestrix.test/third.crl"},
      {"dsa-ca", "dsaWithSHA1", num(dsa.basic->signatureAlgorithm), "8"},
      {"dsa-ca", "subject CN", dsa.subject->commonName, "kestrix DSA CA"},
      {"ec-explicit-leaf", "subject CN", explicitEc.subject->commonName, "explicit.kestrix.test"},
      {"ec-explicit-leaf", "issuer CN", explicitEc.issuer->commonName, "kestrix DSA CA"},
  };
  for (const Pin& p : pins) EXPECT_EQ(p.got, p.want) << p.sample << ": " << p.what;
}

// Item 59 hands out an address's every octet, lenOut the count.
TEST(RealCertSamples, IpAddressItemKeepsZeroOctets) {
  const Decoded d = Decode("san-ip");
  char out[KX_ITEM_BUFFER_SIZE];
  std::int32_t num = -1;
  std::int32_t len = -1;
  ASSERT_EQ(GetCertInfo(0, d.der.data(), KX_ITEM_SAN_IP_ADDRESS, &num, &len, out), KX_OK);
  ASSERT_EQ(len, 16);
  Bytes loopback(17, 0);
  loopback[15] = 1;
  EXPECT_EQ(Bytes(out, out + 17), loopback);
  EXPECT_EQ(num, 0);
}

// A self-signed certificate of over 64 KB, made and signed by OpenSSL: its
// 3,000 DNS names take the certificate, the TBS, the extensions and the
// subjectAltName into the three-byte length form (0x83).
Bytes OpenSslCertificateWithThreeByteLengths() {
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  X509Ptr cert(X509_new());
  X509_NAME* name = X509_get_subject_name(cert.get());
  std::string names = "DNS:first.kestrix.test";
  for (int i = 1; i < 3000; ++i) names += ",DNS:h" + std::to_string(i) + ".large.kestrix.test";
  names += ",URI:https://last.kestrix.test/";
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
  X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, names.c_str());
  const bool made =
      key && X509_set_version(cert.get(), X509_VERSION_3) &&
      ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 0x83) &&
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                 reinterpret_cast<const unsigned char*>("kestrix 0x83"), -1, -1,
                                 0) &&
      X509_set_issuer_name(cert.get(), name) &&
      X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) &&
      X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400) &&
      X509_set_pubkey(cert.get(), key.get()) && san != nullptr &&
      X509_add_ext(cert.get(), san, -1) && X509_sign(cert.get(), key.get(), EVP_sha256()) > 0;
  X509_EXTENSION_free(san);
  unsigned char* der = nullptr;
  const int n = made ? i2d_X509(cert.get(), &der) : 0;
  Bytes out(der, der + std::max(n, 0));
  OPENSSL_free(der);
  return out;
}

TEST(RealCertSamples, ThreeByteLengthsAsOpenSslWritesThem) {
  const Decoded d = DecodeBytes(OpenSslCertificateWithThreeByteLengths());
  ASSERT_GT(d.der.size(), 65536u);
  ASSERT_EQ(d.der[1], 0x83);
  EXPECT_EQ(getcertlen(d.der.data()), static_cast<std::int32_t>(d.der.size()));
  ExpectAsOpenSslReadsIt(d);
  EXPECT_STREQ(d.subject->commonName, "kestrix 0x83");
  EXPECT_STREQ(d.ext->x5315_100_5_4, "h2999.large.kestrix.test");
  EXPECT_STREQ(d.ext->sanUri, "https://last.kestrix.test/");
}

}  // namespace
