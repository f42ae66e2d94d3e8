// RC_decodep10pemtxt: a PEM request text into the caller's P10RequestInfo.
#include <cstring>

#include "cert/store.h"
#include "exports/status.h"
#include "kestrix.h"
#include "request/pem_request.h"

static_assert(kx::request::kMaxKeySize == sizeof(P10RequestInfo::publicKey));

namespace {

// A subject text into the record's field of the same width.
template <std::size_t N>
void CopyField(char (&to)[N], const char (&from)[N]) {
  kx::cert::CopyTextCut(to, from, strnlen(from, N - 1));
}

}  // namespace

extern "C" int32_t KESTRIX_CALL RC_decodep10pemtxt(const char* text, int32_t size,
                                                   P10RequestInfo* record) {
  if (text == nullptr) return KX_NO_REQUEST_ARMOUR;
  if (record == nullptr) return KX_ERR_MALFORMED;
  kx::request::P10Request request;
  const kx::Fault fault = kx::request::DecodeP10PemText(text, size, request);
  if (fault != kx::Fault::kNone) {
    const int32_t status = kx::exports::StatusOf(fault);
    kx::exports::PrintDiagnostic(kx::exports::RequestDiagnostic(fault), status);
    return status;
  }
  kx::der::CopyBytes(
      kx::der::MakeReader(request.publicKey, static_cast<std::size_t>(request.publicKeyLen)),
      record->publicKey);
  record->publicKeyLen = request.publicKeyLen;
  const kx::cert::CertNameInfo& subject = request.subject;
  CopyField(record->country, subject.country);
  CopyField(record->organization, subject.organization);
  CopyField(record->organizationalUnit, subject.organizationalUnit);
  CopyField(record->stateOrProvince, subject.stateOrProvince);
  CopyField(record->commonName, subject.commonName);
  CopyField(record->locality, subject.locality);
  CopyField(record->email, subject.email);
  return KX_OK;
}
