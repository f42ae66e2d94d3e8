// The OID table against OpenSSL's objects, the dotted form at the arcs'
// limits, and lookups that must miss.
#include "document/oids.h"

#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "document/json_writer.h"

namespace {

using kx::document::FindOid;
using kx::document::IsWellFormedOid;
using kx::document::KnownOids;
using kx::document::OidEntry;
using kx::document::OidInfo;
using kx::document::OidKind;
using Bytes = std::vector<std::uint8_t>;
using Object = std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)>;

kx::der::Reader View(const Bytes& content) {
  return kx::der::MakeReader(content.data(), content.size());
}

Bytes Content(const OidEntry& row) {
  return Bytes(row.bytes, row.bytes + row.length);
}

// What AppendDottedOid writes into a JSON string, without the quotes.
std::string Dotted(const Bytes& content) {
  char buffer[256];
  kx::document::JsonWriter writer(buffer, sizeof buffer);
  writer.StartString();
  kx::document::AppendDottedOid(View(content), writer);
  writer.EndString();
  EXPECT_TRUE(writer.Fits());
  const std::string json(buffer, writer.Fits() ? writer.Length() : 0);
  if (json.size() < 2 || json.front() != '"' || json.back() != '"') return "not a string: " + json;
  return json.substr(1, json.size() - 2);
}

// OpenSSL's object for OID content (under 128 bytes), or null if it rejects it.
Object ToObject(const Bytes& content) {
  Bytes der = {0x06, static_cast<std::uint8_t>(content.size())};
  der.insert(der.end(), content.begin(), content.end());
  const unsigned char* p = der.data();
  return Object(d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(der.size())), ASN1_OBJECT_free);
}

std::string OpenSslDotted(const ASN1_OBJECT* object) {
  char text[256];
  const int length = OBJ_obj2txt(text, sizeof text, object, 1);
  return length > 0 && length < static_cast<int>(sizeof text) ? std::string(text) : "";
}

bool TakesLongName(OidKind kind) {
  return kind == OidKind::kSignatureAlgorithm || kind == OidKind::kPublicKeyAlgorithm ||
         kind == OidKind::kHashAlgorithm || kind == OidKind::kAttribute;
}

// RFC 4514 keys, as python cryptography's rfc4514_string writes them.
const std::map<int, std::string> kRfc4514Keys = {{NID_commonName, "CN"},
                                                 {NID_localityName, "L"},
                                                 {NID_stateOrProvinceName, "ST"},
                                                 {NID_organizationName, "O"},
                                                 {NID_organizationalUnitName, "OU"},
                                                 {NID_countryName, "C"},
                                                 {NID_streetAddress, "STREET"},
                                                 {NID_domainComponent, "DC"},
                                                 {NID_userId, "UID"}};

// The rows OpenSSL has no object for: named here, so their bytes are checked
// only through their dotted form.
const std::set<std::string> kOwnNames = {
    "1.3.6.1.4.1.311.20.2", "1.3.6.1.4.1.311.21.1",  "1.3.6.1.4.1.311.21.2",
    "1.3.6.1.4.1.311.21.7", "1.3.6.1.4.1.311.21.10", "2.23.140.1.1",
    "2.23.140.1.2.1",       "2.23.140.1.2.2",        "2.23.140.1.2.3"};

// The rows whose OpenSSL name is a phrase with spaces: named in one word here.
const std::map<std::string, std::string> kRenamed = {{"1.2.840.113549.1.9.14", "extensionRequest"},
                                                     {"1.2.840.10046.2.1", "dhpublicnumber"}};

// Arcs whose every child OpenSSL knows is in the table.
const char* const kCoveredArcs[] = {"2.5.4",
                                    "2.5.29",
                                    "1.3.6.1.5.5.7.1",
                                    "1.3.6.1.5.5.7.3",
                                    "1.3.6.1.5.5.7.48",
                                    "2.16.840.1.101.3.4.3",
                                    "2.16.840.1.113730.1",
                                    "1.3.6.1.4.1.11129.2.4"};

TEST(OidTable, EveryRowIsNamedAsOpenSslNamesIt) {
  std::set<std::string> unknown;
  std::size_t rfc4514Keys = 0;
  for (const OidEntry& row : KnownOids()) {
    SCOPED_TRACE(row.info.name);
    const Bytes content = Content(row);
    EXPECT_TRUE(IsWellFormedOid(View(content)));
    EXPECT_EQ(FindOid(View(content)), &row.info);
    // Documents write names as they stand: printable ASCII, no quote or backslash.
    for (const char* text : {row.info.name, row.info.shortName}) {
      for (const char* c = text; c != nullptr && *c != 0; ++c) {
        EXPECT_TRUE(*c >= 0x20 && *c < 0x7F && *c != '"' && *c != '\\') << text;
      }
    }
    const Object object = ToObject(content);
    ASSERT_NE(object, nullptr);
    const std::string dotted = OpenSslDotted(object.get());
    EXPECT_EQ(Dotted(content), dotted);
    EXPECT_EQ(row.info.dotted, dotted);
    const int nid = OBJ_obj2nid(object.get());
    if (nid == NID_undef) {
      unknown.insert(dotted);
      continue;
    }
    const auto renamed = kRenamed.find(dotted);
    EXPECT_STREQ(row.info.name, renamed != kRenamed.end() ? renamed->second.c_str()
                                : TakesLongName(row.kind) ? OBJ_nid2ln(nid)
                                                          : OBJ_nid2sn(nid));
    const auto key = kRfc4514Keys.find(nid);
    if (key == kRfc4514Keys.end()) {
      EXPECT_EQ(row.info.shortName, nullptr);
    } else {
      EXPECT_EQ(row.kind, OidKind::kAttribute);
      EXPECT_STREQ(row.info.shortName, key->second.c_str());
      ++rfc4514Keys;
    }
  }
  EXPECT_EQ(unknown, kOwnNames);
  EXPECT_EQ(rfc4514Keys, kRfc4514Keys.size());
}

TEST(OidTable, HoldsEveryOpenSslObjectUnderTheCoveredArcs) {
  for (int nid = 1; nid < OBJ_new_nid(0); ++nid) {
    const ASN1_OBJECT* object = OBJ_nid2obj(nid);
    if (object == nullptr || OBJ_length(object) == 0) continue;
    const std::string dotted = OpenSslDotted(object);
    const std::string parent = dotted.substr(0, dotted.rfind('.'));
    for (const char* arc : kCoveredArcs) {
      if (parent != arc) continue;
      const unsigned char* data = OBJ_get0_data(object);
      const Bytes content(data, data + OBJ_length(object));
      EXPECT_NE(FindOid(View(content)), nullptr) << dotted << " " << OBJ_nid2sn(nid);
    }
  }
  ERR_clear_error();
}

// Every strict prefix of a row, and a row with a byte more, finds exactly the
// row holding those bytes, or nothing.
TEST(OidLookup, FindsOnlyWholeRows) {
  // Keyed by the bytes as a string: GCC 12 warns wrongly on vector keys.
  const auto key = [](const Bytes& content) { return std::string(content.begin(), content.end()); };
  std::map<std::string, const OidEntry*> rows;
  for (const OidEntry& row : KnownOids()) rows[key(Content(row))] = &row;
  const auto expected = [&](const Bytes& content) -> const OidInfo* {
    const auto found = rows.find(key(content));
    return found == rows.end() ? nullptr : &found->second->info;
  };
  for (const auto& [bytes, row] : rows) {
    const OidInfo* info = &row->info;
    const Bytes content = Content(*row);
    for (std::size_t n = 0; n < content.size(); ++n) {
      const Bytes prefix(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(n));
      EXPECT_EQ(FindOid(View(prefix)), expected(prefix)) << info->name << " cut to " << n;
    }
    Bytes longer = content;
    longer.push_back(0x01);
    EXPECT_EQ(FindOid(View(longer)), expected(longer)) << info->name << " and one more arc";
  }
  EXPECT_EQ(FindOid(View({0x2A, 0x03, 0x04})), nullptr);  // 1.2.3.4
}

struct EncodingCase {
  const char* what;
  Bytes content;
  bool wellFormed;
  const char* partial;  // what AppendDottedOid writes for a malformed one
};

const EncodingCase kEncodings[] = {
    {"empty", {}, false, ""},
    {"last digit missing", {0x2A, 0x86}, false, "1.2"},
    {"first subidentifier padded", {0x80, 0x2A}, false, ""},
    {"later subidentifier padded", {0x2A, 0x80, 0x01}, false, "1.2"},
    {"zero digit inside a subidentifier", {0x2A, 0x81, 0x80, 0x01}, true, nullptr},
    {"0.0", {0x00}, true, nullptr},
    {"0.39", {0x27}, true, nullptr},
    {"1.0", {0x28}, true, nullptr},
    {"1.39", {0x4F}, true, nullptr},
    {"2.0", {0x50}, true, nullptr},
    {"2.999", {0x88, 0x37}, true, nullptr},
    {"later arc 2^64-1",
     {0x2A, 0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
     true,
     nullptr},
    {"later arc 2^64",
     {0x2A, 0x82, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00},
     false,
     "1.2"},
    {"first subidentifier 2^64-1",
     {0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
     true,
     nullptr},
    {"second arc 2^64-1",
     {0x82, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x4F, 0x01},
     true,
     nullptr},
    {"second arc 2^64", {0x82, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x50}, false, ""},
    {"first subidentifier 2^70",
     {0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00},
     false,
     ""},
};

TEST(OidEncoding, WellFormednessAndDottedForm) {
  for (const EncodingCase& c : kEncodings) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(IsWellFormedOid(View(c.content)), c.wellFormed);
    if (c.wellFormed) {
      const Object object = ToObject(c.content);
      ASSERT_NE(object, nullptr);
      EXPECT_EQ(Dotted(c.content), OpenSslDotted(object.get()));
    } else {
      EXPECT_EQ(Dotted(c.content), c.partial);
    }
  }
}

}  // namespace
