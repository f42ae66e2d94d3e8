// Fuzzes the certificate query exports: GetCertInfo, GetPreCertVerified,
// GetUsrPubKey and CerExpand, through the public header only.
//
// Input layout:
//   byte 0        the item code, taken modulo 131 (0..130: every code in
//                 use and a dozen beyond);
//   byte 1        the form byte (the item's top 8 bits);
//   bytes 2..17   the check time text: up to its first NUL, else all 16;
//   bytes 18..    the certificate.
// The certificate is used only when the outer element its header declares
// lies inside the input, and that element alone is copied into an exactly
// sized heap block: the caller vouches for nothing more. Every output is an
// exactly sized heap block filled with a pattern, so the sanitizer reports a
// byte written past it and the pattern a byte written where the call may
// not write.
//
// Each call is checked against what the header promises, not only for
// crashes:
//   GetCertInfo        status; the item's shape (text, number, bytes,
//                      serial) and the largest output the header gives it;
//                      texts terminated at the length; nothing written
//                      past the output; the form byte read by item 1 only;
//   GetPreCertVerified the status a reference comparison of the validity
//                      texts (items 21 and 22) with the check time gives,
//                      with the caller's time and with the current time;
//                      outputs untouched unless it succeeds, and then the
//                      bytes CerExpand hands out;
//   GetUsrPubKey       the modulus a reference reading of the key (item
//                      39) gives, or a refusal with nothing written.
//
// Inputs are mutated as DER trees behind the 18 parameter bytes
// (der_mutator.h).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "der_mutator.h"
#include "fuzz_support.h"
#include "kestrix.h"

namespace {

constexpr std::size_t kPrefixSize = 18;
constexpr std::size_t kTimeFieldSize = 16;
constexpr std::uint32_t kItemCodes = 131;
constexpr std::size_t kTimeTextSize = 14;  // YYYYMMDDhhmmss
constexpr std::int32_t kUntouchedCount = 0x5A5A5A5A;

using Block = std::unique_ptr<unsigned char[]>;
using kxfuzz::AllUntouched;
using kxfuzz::kUntouched;
using kxfuzz::Require;

Block Filled(std::size_t n) {
  Block block(new unsigned char[n]);
  std::memset(block.get(), kUntouched, n);
  return block;
}

// ---- GetCertInfo's item table, as the header gives it ------------------------

enum class Shape { kUnused, kNumber, kText, kBytes, kSerial, kAuthoritySerial };
struct ItemLayout {
  Shape shape;
  std::size_t largest;  // the bracket: the most bytes written into outBuf
};

ItemLayout Describe(std::uint32_t item) {
  switch (item) {
    case KX_ITEM_VERSION:
    case KX_ITEM_KEY_USAGE:
    case KX_ITEM_X5315_100_2_2:
    case KX_ITEM_BASIC_CONSTRAINTS_CA:
    case KX_ITEM_NETSCAPE_CERT_TYPE: return {Shape::kNumber, 0};
    case KX_ITEM_SERIAL_NUMBER: return {Shape::kSerial, 73};
    case KX_ITEM_AUTHORITY_CERT_SERIAL: return {Shape::kAuthoritySerial, 19};
    case KX_ITEM_SIGNATURE_ALGORITHM:
    case KX_ITEM_SIGNATURE_ALGORITHM_NAME: return {Shape::kText, 31};
    case KX_ITEM_ISSUER_COUNTRY:
    case KX_ITEM_SUBJECT_COUNTRY: return {Shape::kText, 20};
    case KX_ITEM_NOT_BEFORE:
    case KX_ITEM_NOT_AFTER: return {Shape::kText, 127};
    case KX_ITEM_PUBLIC_KEY:
    case KX_ITEM_PUBLIC_KEY_AGAIN: return {Shape::kBytes, 300};
    case KX_ITEM_ISSUER_UNIQUE_ID:
    case KX_ITEM_SUBJECT_UNIQUE_ID: return {Shape::kBytes, 126};
    case KX_ITEM_AUTHORITY_KEY_ID:
    case KX_ITEM_SUBJECT_KEY_ID: return {Shape::kBytes, 20};
    case KX_ITEM_SAN_OTHER_NAME_9: return {Shape::kBytes, 254};
    case KX_ITEM_CRL_DISTRIBUTION_POINT_1:
    case KX_ITEM_CRL_DISTRIBUTION_POINT_2:
    case KX_ITEM_OCSP_URL_1:
    case KX_ITEM_OCSP_URL_2: return {Shape::kText, 350};
    case 4:
    case 56: return {Shape::kUnused, 0};
    default: break;
  }
  if ((item >= 46 && item <= 51) || (item >= 61 && item <= 68) || (item >= 92 && item <= 99) ||
      item > 118) {
    return {Shape::kUnused, 0};
  }
  return {Shape::kText, 256};  // every other code in use is a text of [256]
}

bool IsHexText(const char* text, std::size_t n, bool upper) {
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[i];
    const bool digit = c >= '0' && c <= '9';
    const bool letter = upper ? c >= 'A' && c <= 'F' : c >= 'a' && c <= 'f';
    if (!digit && !letter) return false;
  }
  return true;
}

// The value of the last (at most) eight hex digits, as GetCertInfo gives
// *numOut from the last four serial bytes.
std::int32_t HexTailValue(const char* text, std::size_t n) {
  std::uint32_t value = 0;
  for (std::size_t i = n > 8 ? n - 8 : 0; i < n; ++i) {
    const char c = text[i];
    const int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  return static_cast<std::int32_t>(value);
}

struct ItemResult {
  std::int32_t rc = 0;
  std::int32_t num = kUntouchedCount;
  std::int32_t len = kUntouchedCount;
  Block out = Filled(KX_ITEM_BUFFER_SIZE);
  const char* text() const { return reinterpret_cast<const char*>(out.get()); }
};

ItemResult Query(const unsigned char* cert, std::int32_t certLen, std::uint32_t code) {
  ItemResult r;
  r.rc = GetCertInfo(certLen, cert, code, &r.num, &r.len, reinterpret_cast<char*>(r.out.get()));
  return r;
}

bool SameResult(const ItemResult& a, const ItemResult& b) {
  return a.rc == b.rc && a.num == b.num && a.len == b.len &&
         std::memcmp(a.out.get(), b.out.get(), KX_ITEM_BUFFER_SIZE) == 0;
}

// Checks one answer of GetCertInfo against the item's shape. decodeRc is the
// status of a query that cannot fail but for the decode (item 21).
void CheckItem(const ItemResult& r, std::uint32_t item, std::uint32_t form, std::int32_t decodeRc) {
  const ItemLayout expected = Describe(item);
  Require(r.rc == KX_OK || r.rc == KX_ERR_MALFORMED || r.rc == KX_ERR_NO_MEMORY,
          "GetCertInfo gives a documented status");
  // Only a serial or a key too large for its bracket may be refused after
  // the certificate decoded.
  const bool mayRefuse = item == KX_ITEM_SERIAL_NUMBER || item == KX_ITEM_PUBLIC_KEY ||
                         item == KX_ITEM_PUBLIC_KEY_AGAIN;
  Require(r.rc == decodeRc || (mayRefuse && decodeRc == KX_OK && r.rc == KX_ERR_MALFORMED),
          "GetCertInfo fails exactly when the certificate does not decode");
  const unsigned char* out = r.out.get();
  const auto len = static_cast<std::size_t>(r.len);
  if (r.rc != KX_OK || expected.shape == Shape::kUnused) {
    Require(out[0] == 0 && r.num == 0 && r.len == 0 && AllUntouched(out, 1, KX_ITEM_BUFFER_SIZE),
            "a failure or a code not in use leaves the outputs cleared");
    return;
  }
  switch (expected.shape) {
    case Shape::kNumber:
      Require(out[0] == 0 && r.len == 0 && AllUntouched(out, 1, KX_ITEM_BUFFER_SIZE),
              "a number item writes no text");
      if (item == KX_ITEM_VERSION) Require(r.num >= 1 && r.num <= 256, "version is 1..256");
      break;
    case Shape::kText:
      Require(r.len >= 0 && len < expected.largest, "text length within the item's bracket");
      // An iPAddress may hold zero octets before its terminator.
      Require(out[len] == 0 && (item == KX_ITEM_SAN_IP_ADDRESS ? std::strlen(r.text()) <= len
                                                               : std::strlen(r.text()) == len),
              "text terminated at its length");
      Require(AllUntouched(out, len + 1, KX_ITEM_BUFFER_SIZE), "nothing written past the text");
      if (item == KX_ITEM_SIGNATURE_ALGORITHM) {
        Require(r.len == 0 ? r.num == 0 : r.num >= 2 && r.num <= 8,
                "item 2 gives the AlgCode of its name");
      } else {
        Require(r.num == 0, "a text item leaves numOut 0");
      }
      if (item == KX_ITEM_RESERVED_TEXT) Require(r.len == 0, "item 115 is always empty");
      break;
    case Shape::kBytes:
      Require(r.len >= 0 && len <= expected.largest, "byte count within the item's bracket");
      Require(AllUntouched(out, len == 0 ? 1 : len, KX_ITEM_BUFFER_SIZE),
              "nothing written past the bytes");
      if (len == 0) Require(out[0] == 0, "no bytes leave an empty text");
      if (item == KX_ITEM_PUBLIC_KEY || item == KX_ITEM_PUBLIC_KEY_AGAIN) {
        Require(r.num == r.len, "the key's numOut is its length");
      } else {
        Require(r.num == 0, "a byte item leaves numOut 0");
      }
      break;
    case Shape::kSerial:
    case Shape::kAuthoritySerial: {
      const bool raw = expected.shape == Shape::kSerial && form == 0x01;
      if (raw) {
        Require(r.len >= 0 && len <= 36 && out[len] == 0, "raw serial ends with a zero byte");
        Require(AllUntouched(out, 37, KX_ITEM_BUFFER_SIZE), "raw serial within [37]");
        break;
      }
      const bool upper = expected.shape == Shape::kSerial && form == 0x02;
      Require(r.len >= 0 && len < expected.largest && len % 2 == 0, "hex serial length");
      Require(out[len] == 0 && IsHexText(r.text(), len, upper), "hex digits of the right case");
      Require(AllUntouched(out, len + 1, KX_ITEM_BUFFER_SIZE), "nothing written past the serial");
      if (expected.shape == Shape::kSerial) {
        Require(r.num == HexTailValue(r.text(), len), "numOut is the serial's last four bytes");
      }
      break;
    }
    case Shape::kUnused: break;
  }
}

// The raw and uppercase serials against the lowercase one: the same bytes,
// the same count and the same number.
void CheckSerialForms(const ItemResult& formed, std::uint32_t form, const ItemResult& lower) {
  Require(lower.rc == KX_OK, "the serial answers in every form");
  const auto digits = static_cast<std::size_t>(lower.len);
  Require(formed.num == lower.num, "the serial's number does not depend on the form");
  if (form == 0x02) {
    Require(formed.len == lower.len, "uppercase serial has the lowercase length");
    for (std::size_t i = 0; i < digits; ++i) {
      const char c = lower.text()[i];
      const char upper = c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
      Require(formed.text()[i] == upper, "uppercase serial spells the same bytes");
    }
    return;
  }
  Require(static_cast<std::size_t>(formed.len) * 2 == digits, "raw serial count is the byte count");
  for (std::size_t i = 0; i < digits / 2; ++i) {
    const std::int32_t byte = HexTailValue(lower.text() + 2 * i, 2);
    Require(formed.out[i] == static_cast<unsigned char>(byte), "raw serial holds the bytes");
  }
}

// ---- GetPreCertVerified's reference ------------------------------------------

bool AllDigits(const char* text, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// A validity text as YYYYMMDDhhmmss: a UTCTime's two-digit year 50..99 is
// 1950..1999 and 00..49 is 2000..2049 (RFC 5280). False when the text is not
// 12 or 14 digits.
bool FullTime(const char* validity, std::size_t n, std::string& out) {
  if ((n != 12 && n != kTimeTextSize) || !AllDigits(validity, n)) return false;
  out.assign(validity, n);
  if (n == 12) out.insert(0, validity[0] >= '5' ? "19" : "20");
  return true;
}

std::string CurrentTime() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

// What CerExpand leaves in pattern-filled blocks of the documented sizes.
struct Split {
  std::int32_t rc = 0;
  std::int32_t tbsLen = kUntouchedCount;
  std::int32_t sigLen = kUntouchedCount;
  Block tbs = Filled(KX_MAX_TBS_SIZE);
  Block sig = Filled(KX_MAX_SIGNATURE_SIZE);
};

bool SameSplit(const Split& a, const Split& b) {
  return a.rc == b.rc && a.tbsLen == b.tbsLen && a.sigLen == b.sigLen &&
         std::memcmp(a.tbs.get(), b.tbs.get(), KX_MAX_TBS_SIZE) == 0 &&
         std::memcmp(a.sig.get(), b.sig.get(), KX_MAX_SIGNATURE_SIZE) == 0;
}

bool Untouched(const Split& s) {
  return s.tbsLen == kUntouchedCount && s.sigLen == kUntouchedCount &&
         AllUntouched(s.tbs.get(), 0, KX_MAX_TBS_SIZE) &&
         AllUntouched(s.sig.get(), 0, KX_MAX_SIGNATURE_SIZE);
}

// The validity period as full times, when the certificate decodes.
struct Validity {
  std::int32_t decodeRc = 0;
  bool wellFormed = false;
  std::string notBefore;
  std::string notAfter;
};

// What GetPreCertVerified owes for a check time (nullptr: one that does not
// begin with 14 digits): a status, and whether the outputs are CerExpand's
// (else they stay untouched).
struct Owed {
  std::int32_t rc;
  bool split;
};

Owed ExpectedVerify(const Validity& v, const char* checkTime, const Split& split) {
  if (v.decodeRc != KX_OK) return {v.decodeRc, false};
  if (!v.wellFormed || checkTime == nullptr) return {KX_ERR_MALFORMED, false};
  if (std::memcmp(checkTime, v.notBefore.data(), kTimeTextSize) < 0) {
    return {KX_NOT_YET_VALID, false};
  }
  if (std::memcmp(checkTime, v.notAfter.data(), kTimeTextSize) > 0) return {KX_EXPIRED, false};
  return {split.rc, true};
}

void CheckVerified(const Split& got, const Owed& owed, const Split& split) {
  Require(got.rc == KX_OK || got.rc == KX_NOT_YET_VALID || got.rc == KX_EXPIRED ||
              got.rc == KX_ERR_MALFORMED || got.rc == KX_ERR_NO_MEMORY,
          "GetPreCertVerified gives a documented status");
  Require(got.rc == owed.rc, "GetPreCertVerified's status follows the validity period");
  if (owed.split) {
    Require(SameSplit(got, split), "GetPreCertVerified hands out CerExpand's parts");
  } else {
    Require(Untouched(got), "a refusal leaves the outputs untouched");
  }
}

Split Verify(const unsigned char* cert, std::int32_t certLen, const char* checkTime) {
  Split s;
  s.rc =
      GetPreCertVerified(certLen, cert, checkTime, &s.tbsLen, s.tbs.get(), &s.sigLen, s.sig.get());
  return s;
}

// ---- GetUsrPubKey's reference ------------------------------------------------

// The modulus of an RSAPublicKey: the first INTEGER inside the SEQUENCE that
// starts the key, both inside the key's bytes, less one leading zero byte.
bool ReferenceModulus(const unsigned char* key, std::size_t n, std::vector<unsigned char>& out) {
  kxfuzz::Declared seq{};
  if (n < 1 || key[0] != 0x30 || !kxfuzz::Fits(key, n, seq)) return false;
  const unsigned char* content = key + seq.header;
  const auto length = static_cast<std::size_t>(seq.content);
  kxfuzz::Declared integer{};
  if (length < 1 || content[0] != 0x02 || !kxfuzz::Fits(content, length, integer)) return false;
  const unsigned char* value = content + integer.header;
  const auto intLength = static_cast<std::size_t>(integer.content);
  const std::size_t skip = intLength != 0 && value[0] == 0 ? 1 : 0;
  out.assign(value + skip, value + intLength);
  return true;
}

void CheckUserKey(const unsigned char* cert, std::int32_t certLen, std::int32_t decodeRc) {
  // The key as item 39 hands it out.
  const ItemResult key = Query(cert, certLen, KX_ITEM_PUBLIC_KEY);
  Block modulus = Filled(KX_MAX_MODULUS_SIZE);
  std::int32_t modulusLen = kUntouchedCount;
  const std::int32_t rc = GetUsrPubKey(cert, modulus.get(), &modulusLen);
  Require(rc == KX_OK || rc == KX_ERR_MALFORMED || rc == KX_ERR_NO_MEMORY,
          "GetUsrPubKey gives a documented status");
  std::vector<unsigned char> expected;
  const bool rsa = decodeRc == KX_OK && key.rc == KX_OK &&
                   ReferenceModulus(key.out.get(), static_cast<std::size_t>(key.len), expected);
  if (!rsa) {
    Require(rc == (decodeRc != KX_OK ? decodeRc : KX_ERR_MALFORMED),
            "GetUsrPubKey refuses what is no RSA key");
    Require(modulusLen == kUntouchedCount && AllUntouched(modulus.get(), 0, KX_MAX_MODULUS_SIZE),
            "a refusal writes nothing");
    return;
  }
  Require(rc == KX_OK, "GetUsrPubKey reads an RSA key");
  Require(modulusLen >= 0 && static_cast<std::size_t>(modulusLen) == expected.size() &&
              expected.size() <= KX_MAX_MODULUS_SIZE,
          "modulus length within KX_MAX_MODULUS_SIZE");
  Require(expected.empty() || std::memcmp(modulus.get(), expected.data(), expected.size()) == 0,
          "modulus bytes are the key's first INTEGER");
  Require(AllUntouched(modulus.get(), expected.size(), KX_MAX_MODULUS_SIZE),
          "nothing written past the modulus");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // GetUsrPubKey's diagnostic line would flood the log; libFuzzer reports on
  // standard error.
  kxfuzz::DiscardStandardOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kPrefixSize) return 0;
  const std::uint32_t item = data[0] % kItemCodes;
  const std::uint32_t form = data[1];
  const std::uint8_t* certBytes = data + kPrefixSize;
  kxfuzz::Declared outer{};
  if (!kxfuzz::Fits(certBytes, size - kPrefixSize, outer)) return 0;
  const std::size_t n = outer.header + static_cast<std::size_t>(outer.content);
  const Block block = kxfuzz::HeapCopy(certBytes, n);
  const unsigned char* cert = block.get();
  const auto certLen = static_cast<std::int32_t>(n);

  // The check time: exactly its characters and a terminator.
  const void* nul = std::memchr(data + 2, 0, kTimeFieldSize);
  const std::size_t timeLen =
      nul == nullptr ? kTimeFieldSize
                     : static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - (data + 2));
  const std::unique_ptr<char[]> checkTime(new char[timeLen + 1]);
  std::memcpy(checkTime.get(), data + 2, timeLen);
  checkTime[timeLen] = '\0';

  // No output buffer: refused, nothing written.
  std::int32_t num = kUntouchedCount;
  std::int32_t len = kUntouchedCount;
  Require(GetCertInfo(certLen, cert, item, &num, &len, nullptr) == KX_ERR_NO_OUTPUT_BUFFER &&
              num == kUntouchedCount && len == kUntouchedCount,
          "a null outBuf is refused with nothing written");

  // The validity texts; item 21 fails only when the certificate does not.
  const ItemResult notBefore = Query(cert, certLen, KX_ITEM_NOT_BEFORE);
  const ItemResult notAfter = Query(cert, certLen, KX_ITEM_NOT_AFTER);
  const std::int32_t decodeRc = notBefore.rc;
  CheckItem(notBefore, KX_ITEM_NOT_BEFORE, 0, decodeRc);
  CheckItem(notAfter, KX_ITEM_NOT_AFTER, 0, decodeRc);

  // The item the input asks for, and the form byte ignored where it is not
  // item 1's 0x01 or 0x02.
  const ItemResult answer = Query(cert, certLen, form << 24 | item);
  CheckItem(answer, item, form, decodeRc);
  const bool formRead = item == KX_ITEM_SERIAL_NUMBER && (form == 0x01 || form == 0x02);
  if (form != 0 && !formRead) {
    Require(SameResult(answer, Query(cert, certLen, item)), "the form byte changes nothing");
  }
  if (formRead && answer.rc == KX_OK) CheckSerialForms(answer, form, Query(cert, certLen, item));

  // GetPreCertVerified against the reference comparison.
  Validity v;
  v.decodeRc = decodeRc;
  v.wellFormed = decodeRc == KX_OK &&
                 FullTime(notBefore.text(), static_cast<std::size_t>(notBefore.len), v.notBefore) &&
                 FullTime(notAfter.text(), static_cast<std::size_t>(notAfter.len), v.notAfter);
  Split split;
  split.rc = CerExpand(cert, split.tbs.get(), &split.tbsLen, split.sig.get(), &split.sigLen);
  Require(split.rc == KX_OK || split.rc == KX_ERR_MALFORMED, "CerExpand gives 0 or -2");

  const bool timeValid = timeLen >= kTimeTextSize && AllDigits(checkTime.get(), kTimeTextSize);
  CheckVerified(Verify(cert, certLen, checkTime.get()),
                ExpectedVerify(v, timeValid ? checkTime.get() : nullptr, split), split);

  // The current time, which may tick during the call: the answer must be
  // the one owed just before or just after it.
  const std::string before = CurrentTime();
  const Split now = Verify(cert, certLen, nullptr);
  const std::string after = CurrentTime();
  const Owed early = ExpectedVerify(v, before.c_str(), split);
  const Owed late = ExpectedVerify(v, after.c_str(), split);
  CheckVerified(now, now.rc == late.rc ? late : early, split);

  CheckUserKey(cert, certLen, decodeRc);
  return 0;
}

KXFUZZ_DER_MUTATION((kxfuzz::Layout{kPrefixSize, kxfuzz::Payload::kDer}))
