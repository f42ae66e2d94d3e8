#include "cert/alg_id.h"

#include "der/reader.h"

namespace kx::cert {
namespace {

// 1.2.840.10040.4 (DSA) and 1.2.840.113549.1.1 (PKCS #1) as encoded.
constexpr std::uint8_t kDsaArc[] = {0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04};
constexpr std::uint8_t kPkcs1Arc[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01};

// The last arc of `oid` when the rest is exactly `arc`, else -1.
template <std::size_t N>
int LastArcUnder(der::Reader oid, const std::uint8_t (&arc)[N]) {
  der::Reader prefix{};
  std::uint8_t last = 0;
  if (!der::ReadBytes(oid, N, prefix) || !der::Equals(prefix, arc, N) ||
      !der::ReadByte(oid, last) || !der::ExpectEnd(oid)) {
    return -1;
  }
  return last;
}

std::int32_t DsaCode(int arc) {
  switch (arc) {
    case 1: return kAlgDsa;
    case 3: return kAlgDsaWithSha1;
    default: return kAlgUnknown;
  }
}

std::int32_t Pkcs1Code(int arc) {
  switch (arc) {
    case 1: return kAlgRsaEncryption;
    case 2: return kAlgMd2WithRsa;
    case 3: return kAlgMd4WithRsa;
    case 4: return kAlgMd5WithRsa;
    case 5: return kAlgSha1WithRsa;
    default: return kAlgUnknown;
  }
}

}  // namespace

std::int32_t GetAlgIDFromDER(der::Reader oid) {
  switch (der::Remaining(oid)) {
    case sizeof kDsaArc + 1: return DsaCode(LastArcUnder(oid, kDsaArc));
    case sizeof kPkcs1Arc + 1: return Pkcs1Code(LastArcUnder(oid, kPkcs1Arc));
    default: return kAlgUnknown;
  }
}

}  // namespace kx::cert
