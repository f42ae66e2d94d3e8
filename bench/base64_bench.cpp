// Base64 encode and decode against OpenSSL's EVP_EncodeBlock/EVP_DecodeBlock
// on the same data in the same run. Throughput counts the binary bytes.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "kestrix.h"

namespace {

std::vector<unsigned char> RandomBytes(std::size_t n) {
  std::mt19937 rng(12345);
  std::vector<unsigned char> v(n);
  for (auto& b : v) b = static_cast<unsigned char>(rng());
  return v;
}

// Binary sizes: 1 MiB, and 900 bytes (a 1,200-character PEM body).
constexpr std::int64_t kSizes[] = {1 << 20, 900};

std::string Encoded(const std::vector<unsigned char>& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                static_cast<int>(bytes.size()));
  text.resize(static_cast<std::size_t>(n));
  return text;
}

void BM_KestrixEncode(benchmark::State& state) {
  const auto bytes = RandomBytes(static_cast<std::size_t>(state.range(0)));
  std::string text(4 * ((bytes.size() + 2) / 3), '\0');
  for (auto _ : state) {
    int32_t len = static_cast<int32_t>(text.size());
    if (DerToPem(bytes.data(), static_cast<int32_t>(bytes.size()), text.data(), &len) != KX_OK) {
      state.SkipWithError("DerToPem failed");
    }
    benchmark::DoNotOptimize(text.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_OpenSslEncode(benchmark::State& state) {
  const auto bytes = RandomBytes(static_cast<std::size_t>(state.range(0)));
  std::vector<unsigned char> text(4 * ((bytes.size() + 2) / 3) + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        EVP_EncodeBlock(text.data(), bytes.data(), static_cast<int>(bytes.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_KestrixDecode(benchmark::State& state) {
  const std::string text = Encoded(RandomBytes(static_cast<std::size_t>(state.range(0))));
  std::vector<unsigned char> bytes(3 * ((text.size() + 3) / 4));
  for (auto _ : state) {
    int32_t len = static_cast<int32_t>(bytes.size());
    if (PemToDer(text.data(), static_cast<int32_t>(text.size()), bytes.data(), &len) != KX_OK) {
      state.SkipWithError("PemToDer failed");
    }
    benchmark::DoNotOptimize(bytes.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_OpenSslDecode(benchmark::State& state) {
  const std::string text = Encoded(RandomBytes(static_cast<std::size_t>(state.range(0))));
  std::vector<unsigned char> bytes(3 * ((text.size() + 3) / 4));
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVP_DecodeBlock(bytes.data(),
                                             reinterpret_cast<const unsigned char*>(text.data()),
                                             static_cast<int>(text.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (auto n : kSizes) b->Arg(n);
}

}  // namespace

BENCHMARK(BM_KestrixEncode)->Apply(Sizes);
BENCHMARK(BM_OpenSslEncode)->Apply(Sizes);
BENCHMARK(BM_KestrixDecode)->Apply(Sizes);
BENCHMARK(BM_OpenSslDecode)->Apply(Sizes);

BENCHMARK_MAIN();
