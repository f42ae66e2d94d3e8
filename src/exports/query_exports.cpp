// The certificate queries: GetCertInfo, GetUsrPubKey and GetPreCertVerified.
// Each answers from the records of the certificate's decode, which a thread
// asking again about the certificate it asked about last does not repeat.
#include "exports/certificate_parts.h"
#include "exports/status.h"
#include "kestrix.h"
#include "query/item_query.h"
#include "query/last_certificate.h"
#include "query/user_key.h"
#include "query/validity.h"

using kx::Fault;
using kx::der::Reader;
using kx::exports::StatusOf;

extern "C" {

int32_t KESTRIX_CALL GetCertInfo(int32_t /*certLen*/, const unsigned char* cert, uint32_t item,
                                 int32_t* numOut, int32_t* lenOut, char* outBuf) {
  if (outBuf == nullptr || numOut == nullptr || lenOut == nullptr) return KX_ERR_NO_OUTPUT_BUFFER;
  outBuf[0] = '\0';
  *numOut = 0;
  *lenOut = 0;
  if (cert == nullptr) return KX_ERR_MALFORMED;
  kx::cert::CertRecords scratch;
  Fault fault = Fault::kNone;
  const kx::cert::CertRecords& records =
      kx::query::DecodeOrRecall(kx::der::VouchedElement(cert), scratch, fault);
  if (fault != Fault::kNone) return StatusOf(fault);
  const kx::query::Answer answer = kx::query::AnswerItem(records, item);
  if (answer.refused) return KX_ERR_MALFORMED;
  kx::query::WriteAnswer(answer, *numOut, *lenOut, outBuf);
  return KX_OK;
}

int32_t KESTRIX_CALL GetUsrPubKey(const unsigned char* cert, unsigned char* keyOut,
                                  int32_t* keyLen) {
  kx::cert::CertRecords scratch;
  Fault fault = Fault::kCertificateFrame;
  kx::query::Answer key;
  if (cert != nullptr) {
    const kx::cert::CertRecords& records =
        kx::query::DecodeOrRecall(kx::der::VouchedElement(cert), scratch, fault);
    if (fault == Fault::kNone) key = kx::query::AnswerItem(records, KX_ITEM_PUBLIC_KEY_AGAIN);
  }
  if (fault != Fault::kNone || key.refused) {
    const int32_t status = fault != Fault::kNone ? StatusOf(fault) : KX_ERR_MALFORMED;
    kx::exports::PrintDiagnostic(kx::exports::Diagnostic::kGetCertInfo, status);
    return status;
  }
  // DSA, EC and Ed25519 keys are no RSAPublicKey.
  Reader modulus{};
  if (keyOut == nullptr || keyLen == nullptr ||
      !kx::query::ReadRsaModulus(kx::der::MakeReader(key.bytes, key.length), modulus)) {
    return KX_ERR_MALFORMED;
  }
  kx::der::CopyBytes(modulus, keyOut);
  *keyLen = static_cast<int32_t>(kx::der::Remaining(modulus));
  return KX_OK;
}

int32_t KESTRIX_CALL GetPreCertVerified(int32_t /*certLen*/, const unsigned char* cert,
                                        const char* checkTime, int32_t* tbsLen,
                                        unsigned char* tbsOut, int32_t* sigLen,
                                        unsigned char* sigOut) {
  if (cert == nullptr) return KX_ERR_MALFORMED;
  const Reader whole = kx::der::VouchedElement(cert);
  kx::query::Validity validity = kx::query::Validity::kUnreadable;
  {
    kx::cert::CertRecords scratch;
    Fault fault = Fault::kNone;
    const kx::cert::CertRecords& records = kx::query::DecodeOrRecall(whole, scratch, fault);
    if (fault != Fault::kNone) return StatusOf(fault);
    validity = kx::query::CheckValidity(records.basic, checkTime);
  }
  switch (validity) {
    case kx::query::Validity::kUnreadable: return KX_ERR_MALFORMED;
    case kx::query::Validity::kNotYetValid: return KX_NOT_YET_VALID;
    case kx::query::Validity::kExpired: return KX_EXPIRED;
    case kx::query::Validity::kInside: break;
  }
  return kx::exports::WriteCertificateParts(whole, tbsOut, tbsLen, sigOut, sigLen);
}

}  // extern "C"
