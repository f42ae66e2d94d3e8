#include "query/last_certificate.h"

#include <cstdint>

#include "cert/tbs.h"
#include "platform/text.h"
#include "platform/thread_block.h"

namespace kx::query {
namespace {

// One thread's last decode. A zero-filled block is empty (size 0).
struct LastCertificate {
  std::uint32_t size;      // bytes of the certificate kept; 0: none
  std::uint32_t codePage;  // the conversion its texts were made in
  Fault fault;
  cert::CertRecords records;
  std::uint8_t bytes[kMaxKeptCertificateSize];
};

}  // namespace

const cert::CertRecords& DecodeOrRecall(der::Reader cert, cert::CertRecords& scratch,
                                        Fault& fault) {
  const std::size_t size = der::Remaining(cert);
  const std::uint32_t codePage = platform::SelfContainedCodePage();
  auto* last = size != 0 && size <= kMaxKeptCertificateSize && codePage != 0
                   ? static_cast<LastCertificate*>(platform::ThreadBlock(sizeof(LastCertificate)))
                   : nullptr;
  if (last == nullptr) {
    fault = cert::DecodeCertificateForQuery(cert, scratch);
    return scratch;
  }
  if (last->size == size && last->codePage == codePage && der::Equals(cert, last->bytes, size)) {
    fault = last->fault;
    return last->records;
  }
  last->size = 0;
  fault = cert::DecodeCertificateForQuery(cert, last->records);
  der::CopyBytes(cert, last->bytes);
  last->size = static_cast<std::uint32_t>(size);
  last->codePage = codePage;
  last->fault = fault;
  return last->records;
}

}  // namespace kx::query
