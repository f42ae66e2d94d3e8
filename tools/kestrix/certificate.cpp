#include "certificate.h"

#include <string>

#include "cli.h"
#include "support/der_header.h"

namespace kx::tool {

TlvHeader ReadHeader(const unsigned char* p, std::size_t left) {
  if (left < 2) return {0, 0, 2};
  const auto d = kxtest::ReadDeclared(p, left);
  if (!d) return {0, 0, kxtest::DeclaredHeaderSize(p[1])};
  return {d->header, d->content, d->header};
}

namespace {

constexpr std::string_view kPemBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kPemEnd = "-----END CERTIFICATE-----";

}  // namespace

bool CertificateBytes(std::string_view context, const std::vector<unsigned char>& input,
                      std::vector<unsigned char>& der) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  const std::size_t begin = text.find(kPemBegin);
  if (begin == std::string_view::npos) {
    der = input;
    return true;
  }
  const std::size_t bodyStart = begin + kPemBegin.size();
  const std::size_t end = text.find(kPemEnd, bodyStart);
  if (end == std::string_view::npos) {
    Fail(kExitData, context, "no '" + std::string(kPemEnd) + "' line after the BEGIN line");
    return false;
  }
  std::string body;
  for (char c : text.substr(bodyStart, end - bodyStart)) {
    if (c != '\r' && c != '\n') body.push_back(c);
  }
  if (body.empty()) {
    Fail(kExitData, context, "the PEM armour holds no text");
    return false;
  }
  der.assign((body.size() + 3) / 4 * 3, 0);
  int32_t written = static_cast<int32_t>(der.size());
  const int32_t status =
      PemToDer(body.data(), static_cast<int32_t>(body.size()), der.data(), &written);
  if (status != KX_OK) {
    Fail(kExitData, context, "the PEM body: " + LibraryError("PemToDer", status));
    return false;
  }
  der.resize(static_cast<std::size_t>(written));
  return true;
}

std::size_t OuterHeaderSize(const std::vector<unsigned char>& der) {
  return ReadHeader(der.data(), der.size()).headerSize;
}

bool LoadCertificate(std::string_view context, std::string_view path,
                     std::vector<unsigned char>& der) {
  std::vector<unsigned char> input;
  if (!ReadInput(context, path, kMaxInput, "bytes", input)) return false;
  if (!CertificateBytes(context, input, der)) return false;
  if (der.empty()) {
    Fail(kExitData, context, "the input is empty");
    return false;
  }
  const TlvHeader outer = ReadHeader(der.data(), der.size());
  if (outer.headerSize == 0) {
    Fail(kExitData, context,
         "the certificate's header needs " + std::to_string(outer.headerNeeded) +
             " bytes, the file has " + std::to_string(der.size()));
    return false;
  }
  const std::uint64_t total = outer.headerSize + outer.contentSize;
  if (total > der.size()) {
    Fail(kExitData, context,
         "the certificate runs past the end of the file (declares " + std::to_string(total) +
             " bytes, " + std::to_string(der.size()) + " present)");
    return false;
  }
  if (total < der.size()) {
    Fail(kExitData, context,
         "the file holds " + std::to_string(der.size() - total) +
             " bytes after the certificate's " + std::to_string(total));
    return false;
  }
  return true;
}

CertAnswer AskCertItem(const std::vector<unsigned char>& der, uint32_t item) {
  CertAnswer answer;
  answer.status = GetCertInfo(static_cast<int32_t>(der.size()), der.data(), item, &answer.number,
                              &answer.length, answer.buffer);
  return answer;
}

std::string OversizedPart(const std::vector<unsigned char>& der, std::size_t at) {
  std::uint64_t sizes[3] = {};  // TBS, signature algorithm, signature BIT STRING
  std::uint64_t contents[3] = {};
  for (std::size_t i = 0; i < 3; ++i) {
    const TlvHeader h = ReadHeader(der.data() + at, der.size() - at);
    if (h.headerSize == 0 || h.headerSize + h.contentSize > der.size() - at) break;
    sizes[i] = h.headerSize + h.contentSize;
    contents[i] = h.contentSize;
    at += static_cast<std::size_t>(sizes[i]);
  }
  if (sizes[0] > KX_MAX_TBS_SIZE) {
    return "; its TBSCertificate has " + std::to_string(sizes[0]) + " bytes, more than " +
           std::to_string(KX_MAX_TBS_SIZE);
  }
  // The value is the content less its unused-bits byte.
  if (contents[2] > KX_MAX_SIGNATURE_SIZE + 1) {
    return "; its signature value has " + std::to_string(contents[2] - 1) + " bytes, more than " +
           std::to_string(KX_MAX_SIGNATURE_SIZE);
  }
  return {};
}

}  // namespace kx::tool
