// Calls of every export with each input and each output in a block that
// touches a guard page (support/guard_page.h), each output of exactly the
// size the header documents. Every call checks that its status lies in the
// export's documented set and that its outputs stay inside their documented
// limits; a byte read or written outside a block faults at once.
#ifndef KESTRIX_TESTS_HARDENING_GUARDED_EXPORTS_H
#define KESTRIX_TESTS_HARDENING_GUARDED_EXPORTS_H

#include "support/guard_page.h"

#if KXTEST_HAVE_GUARD_PAGES

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "kestrix.h"
#include "support/der_header.h"
#include "support/json_document.h"
#include "support/samples.h"

namespace kxtest {

using Bytes = std::vector<std::uint8_t>;

inline bool OneOf(std::int32_t status, std::initializer_list<std::int32_t> set) {
  for (std::int32_t s : set) {
    if (s == status) return true;
  }
  return false;
}

// ---- Item outputs, from the header's brackets -----------------------------------

enum class ItemShape { kNumber, kText, kBytes, kUnused };

struct ItemOutput {
  ItemShape shape;
  std::size_t capacity;  // the bracket: the most outBuf receives, terminator included
};

// What GetCertInfo writes for `code` (low 24 bits) with `form` (top 8 bits).
// Number items and unused codes write only the empty text: one byte.
inline ItemOutput ItemOutputOf(std::uint32_t code, std::uint32_t form) {
  const ItemOutput number{ItemShape::kNumber, 1};
  const ItemOutput unused{ItemShape::kUnused, 1};
  auto text = [](std::size_t n) { return ItemOutput{ItemShape::kText, n}; };
  auto bytes = [](std::size_t n) { return ItemOutput{ItemShape::kBytes, n}; };
  switch (code) {
    case KX_ITEM_VERSION: return number;
    case KX_ITEM_SERIAL_NUMBER: return form == 0x01 ? bytes(37) : text(73);
    case KX_ITEM_SIGNATURE_ALGORITHM:
    case KX_ITEM_SIGNATURE_ALGORITHM_NAME: return text(31);
    case KX_ITEM_ISSUER_COUNTRY:
    case KX_ITEM_SUBJECT_COUNTRY: return text(20);
    case KX_ITEM_NOT_BEFORE:
    case KX_ITEM_NOT_AFTER: return text(127);
    case KX_ITEM_PUBLIC_KEY:
    case KX_ITEM_PUBLIC_KEY_AGAIN: return bytes(300);
    case KX_ITEM_ISSUER_UNIQUE_ID:
    case KX_ITEM_SUBJECT_UNIQUE_ID: return bytes(126);
    case KX_ITEM_KEY_USAGE:
    case KX_ITEM_X5315_100_2_2:
    case KX_ITEM_BASIC_CONSTRAINTS_CA:
    case KX_ITEM_NETSCAPE_CERT_TYPE: return number;
    case KX_ITEM_CRL_DISTRIBUTION_POINT_1:
    case KX_ITEM_CRL_DISTRIBUTION_POINT_2:
    case KX_ITEM_OCSP_URL_1:
    case KX_ITEM_OCSP_URL_2: return text(350);
    case KX_ITEM_AUTHORITY_KEY_ID:
    case KX_ITEM_SUBJECT_KEY_ID: return bytes(20);
    case KX_ITEM_AUTHORITY_CERT_SERIAL: return text(19);
    case KX_ITEM_RESERVED_TEXT: return text(1);
    case KX_ITEM_SAN_OTHER_NAME_9: return bytes(254);
    default: break;
  }
  const bool names = (code >= KX_ITEM_ISSUER_ORGANIZATION && code <= KX_ITEM_ISSUER_TELEX_NUMBER) ||
                     (code >= KX_ITEM_SUBJECT_ORGANIZATION && code <= KX_ITEM_SUBJECT_TELEX_NUMBER);
  const bool otherTexts =
      code == KX_ITEM_SAN_EMAIL || (code >= 52 && code <= 55) || (code >= 57 && code <= 60) ||
      (code >= 69 && code <= 72) || code == KX_ITEM_X5315_100_2_1 ||
      (code >= KX_ITEM_X86_11_7_1 && code <= KX_ITEM_X86_11_7_5) ||
      (code >= KX_ITEM_SUBJECT_SERIAL_NUMBER && code <= KX_ITEM_SUBJECT_DOMAIN_COMPONENT) ||
      (code >= KX_ITEM_X113731_9 && code <= KX_ITEM_IAN_URI) || code == KX_ITEM_SUBJECT_NAME ||
      code == KX_ITEM_SUBJECT_GENERATION_QUALIFIER;
  if (names || otherTexts) return text(256);
  return unused;
}

// ---- The calls ------------------------------------------------------------------

struct ItemResult {
  std::int32_t rc = 0;
  std::int32_t num = 0;
  std::int32_t len = 0;
  Bytes out;  // the text without its terminator, or the bytes written
  bool operator==(const ItemResult&) const = default;
};

struct SplitResult {
  std::int32_t rc = 0;
  Bytes tbs;  // as written (empty when not written)
  Bytes sig;
  bool operator==(const SplitResult&) const = default;
};

struct Base64Result {
  std::int32_t rc = 0;
  std::int32_t count = 0;  // the length out-parameter after the call
  Bytes out;               // the count's bytes on success
  bool operator==(const Base64Result&) const = default;
};

struct RequestResult {
  std::int32_t rc = 0;
  Bytes record;  // the whole record after the call
  bool operator==(const RequestResult&) const = default;
};

struct DocumentResult {
  std::int32_t rc = 0;
  std::int32_t length = 0;
  std::string document;  // as written into a buffer of exactly its length
  bool operator==(const DocumentResult&) const = default;
};

// Which JSON export a document call makes.
enum class DocumentOf { kCertificate, kRequest };

// Runs `call` with standard output sent to /dev/null: GetUsrPubKey and the
// request decoder print diagnostic lines on some failures. Only the call
// itself is silenced, so test failures still show.
template <typename Call>
auto Quietly(Call call) {
  static const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  if (devNull >= 0 && saved >= 0) dup2(devNull, STDOUT_FILENO);
  auto result = call();
  std::fflush(stdout);
  if (saved >= 0) {
    dup2(saved, STDOUT_FILENO);
    close(saved);
  }
  return result;
}

// Every export, called with its inputs and outputs against the guard page on
// one side. Inputs are copied into the input block so that they touch the
// guard; outputs are blocks of exactly the documented size.
class GuardedExports {
 public:
  static constexpr std::uint8_t kFill = GuardedBlock::kFill;
  static constexpr std::int32_t kUnset = -777;

  explicit GuardedExports(Guard side)
      : side_(side),
        input_(side, 0),
        text_(side, 0),
        out_(side, 0),
        tbs_(side, KX_MAX_TBS_SIZE),
        sig_(side, KX_MAX_SIGNATURE_SIZE),
        num_(side),
        len_(side),
        len2_(side) {}

  Guard side() const { return side_; }

  // Places `bytes` in the input block; returns their first byte.
  const std::uint8_t* Place(const Bytes& bytes) { return input_.Assign(bytes); }
  const std::uint8_t* placed() const { return input_.data(); }
  std::size_t placedSize() const { return input_.size(); }

  // getcertlen and getTVL on the element placed by Place(), which must be
  // exactly one element; both are checked against the length table, getTVL
  // with no destination and with one of exactly the value's size.
  void CheckElement(const Declared& d) {
    const std::uint8_t* e = input_.data();
    const auto total = static_cast<std::int32_t>(static_cast<std::uint32_t>(d.total()));
    EXPECT_EQ(getcertlen(e), total);
    const bool dropped = (d.tag == 0x02 || d.tag == 0x03) && d.content != 0 && e[d.header] == 0x00;
    const auto valueSize = static_cast<std::size_t>(d.content) - (dropped ? 1 : 0);
    len_.set(kUnset);
    len2_.set(kUnset);
    EXPECT_EQ(getTVL(e, nullptr, len_.get(), len2_.get()), KX_OK);
    EXPECT_EQ(len_.value(), static_cast<std::int32_t>(valueSize));
    EXPECT_EQ(len2_.value(), total);
    out_.Resize(valueSize);
    EXPECT_EQ(getTVL(e, out_.data(), len_.get(), len2_.get()), KX_OK);
    EXPECT_EQ(len_.value(), static_cast<std::int32_t>(valueSize));
    EXPECT_EQ(len2_.value(), total);
    EXPECT_TRUE(valueSize == 0 ||
                std::memcmp(out_.data(), e + d.header + (dropped ? 1 : 0), valueSize) == 0);
  }

  // GetCertInfo on the placed certificate, outBuf of the item's bracket.
  ItemResult Item(std::uint32_t item, std::int32_t certLen) {
    const ItemOutput shape = ItemOutputOf(item & 0x00FFFFFFu, item >> 24);
    out_.Resize(shape.capacity);
    num_.set(kUnset);
    len_.set(kUnset);
    ItemResult r;
    r.rc = GetCertInfo(certLen, input_.data(), item, num_.get(), len_.get(), out_.chars());
    r.num = num_.value();
    r.len = len_.value();
    const std::uint8_t* out = out_.data();
    if (!OneOf(r.rc, {KX_OK, KX_ERR_NO_MEMORY, KX_ERR_MALFORMED})) {
      ADD_FAILURE() << "GetCertInfo status " << r.rc;
      return r;
    }
    if (r.rc != KX_OK) {
      EXPECT_EQ(out[0], 0) << "a failure leaves outBuf empty";
      EXPECT_EQ(r.num, 0);
      EXPECT_EQ(r.len, 0);
      return r;
    }
    switch (shape.shape) {
      case ItemShape::kNumber:
      case ItemShape::kUnused:
        EXPECT_EQ(out[0], 0);
        EXPECT_EQ(r.len, 0);
        if (shape.shape == ItemShape::kUnused) {
          EXPECT_EQ(r.num, 0);
        }
        break;
      case ItemShape::kText:
        if (r.len < 0 || static_cast<std::size_t>(r.len) >= shape.capacity) {
          ADD_FAILURE() << "text length " << r.len << " for a bracket of " << shape.capacity;
          break;
        }
        EXPECT_EQ(out[r.len], 0) << "text terminated at its length";
        r.out.assign(out, out + r.len);
        break;
      case ItemShape::kBytes:
        if (r.len < 0 || static_cast<std::size_t>(r.len) > shape.capacity) {
          ADD_FAILURE() << "byte count " << r.len << " for a bracket of " << shape.capacity;
          break;
        }
        r.out.assign(out, out + r.len);
        break;
    }
    return r;
  }

  // CerExpand on the placed certificate, outputs of exactly KX_MAX_TBS_SIZE
  // and KX_MAX_SIGNATURE_SIZE bytes.
  SplitResult Split() {
    tbs_.Resize(KX_MAX_TBS_SIZE);
    sig_.Resize(KX_MAX_SIGNATURE_SIZE);
    len_.set(kUnset);
    len2_.set(kUnset);
    SplitResult r;
    r.rc = CerExpand(input_.data(), tbs_.data(), len_.get(), sig_.data(), len2_.get());
    CollectSplit(r, "CerExpand");
    return r;
  }

  // GetPreCertVerified on the placed certificate; a check time other than
  // null is placed with its terminator against the guard page.
  SplitResult PreCert(const char* checkTime, std::int32_t certLen) {
    tbs_.Resize(KX_MAX_TBS_SIZE);
    sig_.Resize(KX_MAX_SIGNATURE_SIZE);
    const char* time = checkTime == nullptr ? nullptr : text_.AssignText(checkTime);
    len_.set(kUnset);
    len2_.set(kUnset);
    SplitResult r;
    r.rc = GetPreCertVerified(certLen, input_.data(), time, len_.get(), tbs_.data(), len2_.get(),
                              sig_.data());
    if (!OneOf(r.rc, {KX_OK, KX_NOT_YET_VALID, KX_EXPIRED, KX_ERR_NO_MEMORY, KX_ERR_MALFORMED})) {
      ADD_FAILURE() << "GetPreCertVerified status " << r.rc;
      return r;
    }
    if (r.rc != KX_OK) {
      EXPECT_TRUE(tbs_.Untouched() && sig_.Untouched()) << "a refusal writes nothing";
      EXPECT_EQ(len_.value(), kUnset);
      EXPECT_EQ(len2_.value(), kUnset);
      return r;
    }
    CollectSplit(r, "GetPreCertVerified");
    return r;
  }

  // GetUsrPubKey on the placed certificate, keyOut of KX_MAX_MODULUS_SIZE bytes.
  ItemResult UserKey() {
    out_.Resize(KX_MAX_MODULUS_SIZE);
    len_.set(kUnset);
    ItemResult r;
    r.rc = Quietly([&] { return GetUsrPubKey(input_.data(), out_.data(), len_.get()); });
    r.len = len_.value();
    if (!OneOf(r.rc, {KX_OK, KX_ERR_NO_MEMORY, KX_ERR_MALFORMED})) {
      ADD_FAILURE() << "GetUsrPubKey status " << r.rc;
      return r;
    }
    if (r.rc != KX_OK) {
      EXPECT_TRUE(out_.Untouched()) << "a refused key writes nothing";
      EXPECT_EQ(r.len, kUnset);
      return r;
    }
    if (r.len < 0 || r.len > KX_MAX_MODULUS_SIZE) {
      ADD_FAILURE() << "modulus length " << r.len;
      return r;
    }
    r.out.assign(out_.data(), out_.data() + r.len);
    return r;
  }

  // DerToPem (or EncodePEMBlock) of `der`, placed against the guard, into a
  // text block of `capacity` bytes (the capacity passed is `capacity`).
  Base64Result Encode(const Bytes& der, std::int32_t capacity, bool wrapper) {
    return Encode(der, static_cast<std::int32_t>(der.size()), capacity,
                  capacity > 0 ? static_cast<std::size_t>(capacity) : 0, wrapper);
  }
  // The same with a length argument and a block size of the caller's choice.
  Base64Result Encode(const Bytes& der, std::int32_t derLen, std::int32_t capacity,
                      std::size_t block, bool wrapper) {
    const std::uint8_t* in = input_.Assign(der);
    out_.Resize(block);
    len_.set(capacity);
    Base64Result r;
    r.rc = wrapper ? EncodePEMBlock(out_.chars(), len_.get(), in, derLen)
                   : DerToPem(in, derLen, out_.chars(), len_.get());
    r.count = len_.value();
    CollectBase64(r, capacity, "DerToPem", {KX_OK, KX_ERR_LENGTH});
    return r;
  }

  // PemToDer (or DecodePEMBlock) of `text` (no terminator), placed against the
  // guard, into a byte block of `capacity` bytes.
  Base64Result Decode(const std::string& text, std::int32_t capacity, bool wrapper) {
    return Decode(text, static_cast<std::int32_t>(text.size()), capacity,
                  capacity > 0 ? static_cast<std::size_t>(capacity) : 0, wrapper);
  }
  Base64Result Decode(const std::string& text, std::int32_t textLen, std::int32_t capacity,
                      std::size_t block, bool wrapper) {
    const char* in = reinterpret_cast<const char*>(input_.Assign(text.data(), text.size()));
    out_.Resize(block);
    len_.set(capacity);
    Base64Result r;
    r.rc = wrapper ? DecodePEMBlock(out_.data(), len_.get(), in, textLen)
                   : PemToDer(in, textLen, out_.data(), len_.get());
    r.count = len_.value();
    CollectBase64(r, capacity, "PemToDer", {KX_OK, KX_ERR_LENGTH, KX_ERR_MALFORMED});
    if (r.rc == KX_ERR_MALFORMED) {
      EXPECT_EQ(r.count, capacity) << "count unchanged after -2";
    }
    return r;
  }

  // CertificateToJson or RequestToJson on exactly the bytes of `input`:
  // asked for the length alone (no buffer), then into a block of exactly the
  // length less one byte (refused), then of exactly the length (written,
  // without room for a terminator).
  DocumentResult Document(DocumentOf kind, const Bytes& input) {
    const std::uint8_t* in = input_.Assign(input);
    const auto inputLen = static_cast<std::int32_t>(input.size());
    const char* what = kind == DocumentOf::kCertificate ? "CertificateToJson" : "RequestToJson";
    auto call = [&](char* out, std::int32_t capacity) {
      len_.set(kUnset);
      return kind == DocumentOf::kCertificate
                 ? CertificateToJson(in, inputLen, out, capacity, len_.get())
                 : RequestToJson(in, inputLen, out, capacity, len_.get());
    };
    DocumentResult r;
    r.rc = call(nullptr, 0);
    r.length = len_.value();
    if (r.rc != KX_ERR_LENGTH || r.length <= 0) {
      ADD_FAILURE() << what << " asked for the length: status " << r.rc << ", length " << r.length;
      return r;
    }
    const auto length = static_cast<std::size_t>(r.length);
    out_.Resize(length - 1);
    EXPECT_EQ(call(out_.chars(), r.length - 1), KX_ERR_LENGTH) << what << ": one byte short";
    EXPECT_EQ(len_.value(), r.length) << what << ": one byte short";
    out_.Resize(length);
    r.rc = call(out_.chars(), r.length);
    EXPECT_EQ(len_.value(), r.length) << what;
    if (!OneOf(r.rc, {KX_OK, KX_ERR_MALFORMED})) {
      ADD_FAILURE() << what << " status " << r.rc;
      return r;
    }
    r.document.assign(out_.chars(), length);
    EXPECT_TRUE(OpensAsDocument(r.document)) << what << ": " << r.document.substr(0, 40);
    EXPECT_TRUE(IsWellFormedUtf8(r.document)) << what;
    EXPECT_FALSE(ParseDocument(r.document).is_discarded()) << what << ": " << r.document;
    return r;
  }

  // RC_decodep10pemtxt on `text`, its terminating NUL directly before the
  // guard page (or the text's first byte directly after it), into a record
  // block of exactly sizeof(P10RequestInfo) bytes.
  RequestResult Request(const std::string& text, std::int32_t size) {
    const char* in = input_.AssignText(text);
    out_.Resize(sizeof(P10RequestInfo));
    RequestResult r;
    r.rc = Quietly([&] {
      return RC_decodep10pemtxt(in, size, reinterpret_cast<P10RequestInfo*>(out_.data()));
    });
    r.record = out_.bytes();
    if (!OneOf(r.rc,
               {KX_OK, KX_NO_REQUEST_ARMOUR, KX_ERR_LENGTH, KX_ERR_MALFORMED, KX_ERR_NO_MEMORY})) {
      ADD_FAILURE() << "RC_decodep10pemtxt status " << r.rc;
      return r;
    }
    if (r.rc != KX_OK) {
      EXPECT_TRUE(out_.Untouched()) << "a failure leaves the record as it was";
      return r;
    }
    P10RequestInfo record;
    std::memcpy(&record, out_.data(), sizeof record);
    EXPECT_GE(record.publicKeyLen, 0);
    EXPECT_LE(record.publicKeyLen, 300);
    for (const char* field :
         {record.country, record.organization, record.organizationalUnit, record.stateOrProvince,
          record.commonName, record.locality, record.email}) {
      const std::size_t width = field == record.country ? sizeof record.country : 256;
      EXPECT_NE(std::memchr(field, '\0', width), nullptr) << "a text terminated inside its field";
    }
    return r;
  }

 private:
  void CollectSplit(SplitResult& r, const char* what) {
    if (!OneOf(r.rc, {KX_OK, KX_ERR_MALFORMED})) {
      ADD_FAILURE() << what << " status " << r.rc;
      return;
    }
    const std::int32_t tbsLen = len_.value();
    const std::int32_t sigLen = len2_.value();
    if (tbsLen != kUnset) {
      if (tbsLen < 2 || tbsLen > KX_MAX_TBS_SIZE) {
        ADD_FAILURE() << what << " TBS size " << tbsLen;
        return;
      }
      r.tbs.assign(tbs_.data(), tbs_.data() + tbsLen);
      EXPECT_EQ(r.tbs[0], 0x30) << what << ": the TBS is a SEQUENCE";
      for (std::size_t i = static_cast<std::size_t>(tbsLen); i < tbs_.size(); ++i) {
        if (tbs_.data()[i] != kFill) {
          ADD_FAILURE() << what << ": TBS byte " << i << " written past the size " << tbsLen;
          break;
        }
      }
    } else {
      EXPECT_TRUE(tbs_.Untouched()) << what << ": TBS bytes without a TBS size";
    }
    if (r.rc != KX_OK) {
      // A fault behind the TBS leaves the signature outputs untouched.
      EXPECT_EQ(sigLen, kUnset) << what;
      EXPECT_TRUE(sig_.Untouched()) << what << ": signature written on a failure";
      return;
    }
    EXPECT_NE(tbsLen, kUnset) << what << ": success without a TBS";
    if (sigLen < 0 || sigLen > KX_MAX_SIGNATURE_SIZE) {
      ADD_FAILURE() << what << " signature length " << sigLen;
      return;
    }
    r.sig.assign(sig_.data(), sig_.data() + sigLen);
  }

  void CollectBase64(Base64Result& r, std::int32_t capacity, const char* what,
                     std::initializer_list<std::int32_t> statuses) {
    if (!OneOf(r.rc, statuses)) {
      ADD_FAILURE() << what << " status " << r.rc;
      return;
    }
    if (r.rc == KX_ERR_LENGTH) {
      EXPECT_EQ(r.count, capacity) << what << ": count unchanged after a refusal";
      EXPECT_TRUE(out_.Untouched()) << what << ": nothing written after a refusal";
      return;
    }
    if (r.rc != KX_OK) return;
    if (r.count < 0 || r.count > capacity || static_cast<std::size_t>(r.count) > out_.size()) {
      ADD_FAILURE() << what << " count " << r.count << " for a capacity of " << capacity;
      return;
    }
    r.out.assign(out_.data(), out_.data() + r.count);
    for (std::size_t i = static_cast<std::size_t>(r.count); i < out_.size(); ++i) {
      if (out_.data()[i] != kFill) {
        ADD_FAILURE() << what << ": byte " << i << " written past the count " << r.count;
        break;
      }
    }
  }

  Guard side_;
  GuardedBlock input_;  // the input under test
  GuardedBlock text_;   // a second text input (the check time)
  GuardedBlock out_;    // the output buffer
  GuardedBlock tbs_;
  GuardedBlock sig_;
  GuardedInt num_;
  GuardedInt len_;
  GuardedInt len2_;
};

}  // namespace kxtest

#endif  // KXTEST_HAVE_GUARD_PAGES

#endif  // KESTRIX_TESTS_HARDENING_GUARDED_EXPORTS_H
