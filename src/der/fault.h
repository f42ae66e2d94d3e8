// Why a decode failed: the first fault a walk met. Walkers return it; the
// exports alone turn it into the library's status code (and the few
// diagnostic lines), and tests assert it to tell where a parse stopped.
#ifndef KESTRIX_DER_FAULT_H
#define KESTRIX_DER_FAULT_H

#include <cstdint>

namespace kx {

enum class Fault : std::uint8_t {
  kNone,
  kNoMemory,  // a working buffer could not be allocated
  // A certificate, field by field.
  kCertificateFrame,  // outer SEQUENCE, TBS, signatureAlgorithm or signature value
  kVersion,           // first TBS element neither [0] nor INTEGER
  kSerialNumber,
  kSignatureAlgorithm,
  kIssuer,
  kValidity,
  kSubject,
  kSubjectPublicKeyInfo,
  kUniqueIdentifier,
  kExtensions,
  // A PKCS#10 request.
  kRequestFrame,         // outer SEQUENCE, info's framing, signatureAlgorithm or signature
  kRequestInfo,          // a certificationRequestInfo that is no SEQUENCE
  kRequestVersion,       // not the three bytes 02 01 vv
  kRequestVersionValue,  // a version other than 0
  kRequestSubject,
  kRequestPublicKey,
  // Text.
  kNoArmour,     // no request armour line
  kLength,       // a Base64 length or capacity out of range
  kBase64,       // a character outside the alphabet, or partial groups
  kRequestBody,  // a body line without its line feed, or a text that ends in the body
};

}  // namespace kx

#endif  // KESTRIX_DER_FAULT_H
