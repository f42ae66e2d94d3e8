// The sample files under samples/ (KESTRIX_SAMPLES_DIR): reading a file, and
// the lists of sample certificates and requests in a fixed order.
#ifndef KESTRIX_TESTS_SUPPORT_SAMPLES_H
#define KESTRIX_TESTS_SUPPORT_SAMPLES_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace kxtest {

using Bytes = std::vector<std::uint8_t>;

inline std::filesystem::path SamplesDir() {
  return std::filesystem::path(KESTRIX_SAMPLES_DIR);
}

// The bytes of a file; none when it cannot be read.
inline Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The bytes of a sample file, which must not be empty.
inline Bytes ReadSample(const std::filesystem::path& path) {
  Bytes bytes = ReadFile(path);
  EXPECT_FALSE(bytes.empty()) << path;
  return bytes;
}

// The files of `dir` with the extension `ext` ("" for every regular file),
// sorted by name.
inline std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& dir,
                                                  const std::string& ext = "") {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (entry.is_regular_file() && (ext.empty() || entry.path().extension() == ext)) {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Every sample certificate: cert-rsa2048.der first, then certs/*.der by name.
inline std::vector<std::filesystem::path> CertificateSamples() {
  std::vector<std::filesystem::path> files = FilesIn(SamplesDir() / "certs", ".der");
  files.insert(files.begin(), SamplesDir() / "cert-rsa2048.der");
  return files;
}

// The sample requests with the extension `ext` (".pem" or ".der"), by name.
inline std::vector<std::filesystem::path> RequestSamples(const std::string& ext) {
  return FilesIn(SamplesDir() / "requests", ext);
}

}  // namespace kxtest

#endif  // KESTRIX_TESTS_SUPPORT_SAMPLES_H
