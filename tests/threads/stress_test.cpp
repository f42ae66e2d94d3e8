// Every export from eight threads at once, on shared read-only inputs
// (the sample certificates and requests, Base64 texts of them), each thread
// with its own output buffers: every answer, status and output bytes, must
// equal the answer computed on one thread first. Name conversions run in the
// C locale and, where the system has it, in a GBK locale on other threads at
// the same time, so the per-thread character set and iconv are exercised
// concurrently as well. Run under ThreadSanitizer by scripts/check-tsan.sh.
#include <gtest/gtest.h>
#include <locale.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <latch>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kestrix.h"
#include "support/openssl_base64.h"
#include "support/samples.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kThreads = 8;
constexpr std::uint8_t kPoison = 0xA5;

// ---- Inputs, shared by all threads and never written ----------------------------

struct Named {
  std::string name;
  Bytes der;
};
struct Request {
  std::string name;
  Bytes der;
  std::string pem;
};
struct Text {
  std::string name;
  std::string text;
};

struct Samples {
  std::vector<Named> certs;
  std::vector<Request> requests;
  std::vector<Text> base64;
};

const Samples& SharedSamples() {
  static const Samples samples = [] {
    Samples s;
    for (const auto& path : kxtest::CertificateSamples()) {
      s.certs.push_back({path.stem().string(), kxtest::ReadSample(path)});
    }
    for (const auto& path : kxtest::RequestSamples(".pem")) {
      const std::string name = path.stem().string();
      const Bytes pem = kxtest::ReadSample(path);
      s.requests.push_back({name, kxtest::ReadSample(path.parent_path() / (name + ".der")),
                            std::string(pem.begin(), pem.end())});
    }
    for (const Named& c : s.certs) s.base64.push_back({c.name, kxtest::OpenSslBase64(c.der)});
    for (const Request& r : s.requests) s.base64.push_back({r.name, kxtest::OpenSslBase64(r.der)});
    // Refused texts: a character outside the alphabet, a length not a
    // multiple of four.
    std::string bad = s.base64.front().text;
    bad[bad.size() / 2] = '*';
    s.base64.push_back({"bad-character", bad});
    s.base64.push_back({"bad-length", s.base64.front().text.substr(0, 10)});
    return s;
  }();
  return samples;
}

// The C locale and a GBK locale for the calling thread (uselocale); the GBK
// one is null when the system lacks it (scripts/setup.sh creates it).
struct Locales {
  locale_t c = newlocale(LC_CTYPE_MASK, "C", nullptr);
  locale_t gbk = newlocale(LC_CTYPE_MASK, "zh_CN.GBK", nullptr);
  Locales() = default;
  Locales(const Locales&) = delete;
  Locales& operator=(const Locales&) = delete;
  ~Locales() {
    if (c != nullptr) freelocale(c);
    if (gbk != nullptr) freelocale(gbk);
  }
};

const Locales& SharedLocales() {
  static const Locales locales;
  return locales;
}

// ---- Calls and their answers ------------------------------------------------------

// What one call produced: its status and every output, buffers in full
// (filled with kPoison before the call, so the bytes it leaves alone count too).
struct Answer {
  std::int32_t status = 0;
  Bytes out;

  void Clear() {
    status = 0;
    out.clear();
  }
  void Put(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    out.insert(out.end(), p, p + size);
  }
  void Put(std::int32_t value) { Put(&value, sizeof value); }
};

enum class Locale { kC, kGbk, kNotSet };

struct Call {
  std::string what;  // for messages
  Locale locale;
  std::function<void(Answer&, Bytes& work)> run;  // `work`: the thread's own scratch buffer
};

std::uint8_t* Poisoned(Bytes& work, std::size_t size) {
  work.assign(size, kPoison);
  return work.data();
}

std::int32_t Size(const Bytes& b) {
  return static_cast<std::int32_t>(b.size());
}
std::int32_t Size(const std::string& s) {
  return static_cast<std::int32_t>(s.size());
}

Call CertItem(const Named& cert, std::uint32_t item, Locale locale) {
  return {"GetCertInfo " + cert.name + " item " + std::to_string(item), locale,
          [der = &cert.der, item](Answer& a, Bytes&) {
            char buf[KX_ITEM_BUFFER_SIZE];
            std::memset(buf, kPoison, sizeof buf);
            std::int32_t num = -7;
            std::int32_t len = -7;
            a.status = GetCertInfo(Size(*der), der->data(), item, &num, &len, buf);
            a.Put(num);
            a.Put(len);
            a.Put(buf, sizeof buf);
          }};
}

// A call that splits a certificate into TBS and signature buffers of the
// documented sizes, both poisoned first: its status, both counts and both
// buffers in full.
template <typename Split>
void PutSplit(Answer& a, Split split) {
  unsigned char tbs[KX_MAX_TBS_SIZE];
  unsigned char sig[KX_MAX_SIGNATURE_SIZE];
  std::memset(tbs, kPoison, sizeof tbs);
  std::memset(sig, kPoison, sizeof sig);
  std::int32_t tbsLen = -7;
  std::int32_t sigLen = -7;
  a.status = split(tbs, &tbsLen, sig, &sigLen);
  a.Put(tbsLen);
  a.Put(sigLen);
  a.Put(tbs, sizeof tbs);
  a.Put(sig, sizeof sig);
}

Call CertCheck(const Named& cert, const char* checkTime) {
  return {"GetPreCertVerified " + cert.name + " at " + (checkTime ? checkTime : "now"), Locale::kC,
          [der = &cert.der, checkTime](Answer& a, Bytes&) {
            PutSplit(a, [&](unsigned char* tbs, std::int32_t* tbsLen, unsigned char* sig,
                            std::int32_t* sigLen) {
              return GetPreCertVerified(Size(*der), der->data(), checkTime, tbsLen, tbs, sigLen,
                                        sig);
            });
          }};
}

// getcertlen and getTVL on any DER element; getTVL with and without a value buffer.
void AddElementCalls(std::vector<Call>& calls, const std::string& name, const Bytes& der) {
  const Bytes* p = &der;
  calls.push_back({"getcertlen " + name, Locale::kC,
                   [p](Answer& a, Bytes&) { a.status = getcertlen(p->data()); }});
  for (const bool withValue : {true, false}) {
    calls.push_back({"getTVL " + name, Locale::kC, [p, withValue](Answer& a, Bytes& work) {
                       unsigned char* value = withValue ? Poisoned(work, p->size()) : nullptr;
                       std::int32_t valueLen = -7;
                       std::int32_t totalLen = -7;
                       a.status = getTVL(p->data(), value, &valueLen, &totalLen);
                       a.Put(valueLen);
                       a.Put(totalLen);
                       if (withValue) a.Put(work.data(), work.size());
                     }});
  }
}

// DerToPem and EncodePEMBlock with the capacity they need, and one byte
// less (refused with KX_ERR_LENGTH).
void AddBase64Calls(std::vector<Call>& calls, const std::string& name, const Bytes& der) {
  const Bytes* p = &der;
  for (const std::size_t shortBy : {0u, 1u}) {
    const std::size_t room = 4 * ((der.size() + 2) / 3) - shortBy;
    calls.push_back({"DerToPem " + name, Locale::kC, [p, room](Answer& a, Bytes& work) {
                       char* pem = reinterpret_cast<char*>(Poisoned(work, room));
                       std::int32_t pemLen = static_cast<std::int32_t>(room);
                       a.status = DerToPem(p->data(), Size(*p), pem, &pemLen);
                       a.Put(pemLen);
                       a.Put(work.data(), work.size());
                     }});
    calls.push_back({"EncodePEMBlock " + name, Locale::kC, [p, room](Answer& a, Bytes& work) {
                       char* pem = reinterpret_cast<char*>(Poisoned(work, room));
                       std::int32_t pemLen = static_cast<std::int32_t>(room);
                       a.status = EncodePEMBlock(pem, &pemLen, p->data(), Size(*p));
                       a.Put(pemLen);
                       a.Put(work.data(), work.size());
                     }});
  }
}

// PemToDer and DecodePEMBlock with the capacity they need.
void AddDecodeCalls(std::vector<Call>& calls, const Text& t) {
  const std::string* p = &t.text;
  const std::size_t room = 3 * ((t.text.size() + 3) / 4);
  calls.push_back({"PemToDer " + t.name, Locale::kC, [p, room](Answer& a, Bytes& work) {
                     unsigned char* der = Poisoned(work, room);
                     std::int32_t derLen = static_cast<std::int32_t>(room);
                     a.status = PemToDer(p->data(), Size(*p), der, &derLen);
                     a.Put(derLen);
                     a.Put(work.data(), work.size());
                   }});
  calls.push_back({"DecodePEMBlock " + t.name, Locale::kC, [p, room](Answer& a, Bytes& work) {
                     unsigned char* der = Poisoned(work, room);
                     std::int32_t derLen = static_cast<std::int32_t>(room);
                     a.status = DecodePEMBlock(der, &derLen, p->data(), Size(*p));
                     a.Put(derLen);
                     a.Put(work.data(), work.size());
                   }});
}

// CertificateToJson or RequestToJson: the length asked for, then the
// document written into exactly its length and one byte for the terminator.
using JsonExport = std::int32_t(KESTRIX_CALL*)(const unsigned char*, std::int32_t, char*,
                                               std::int32_t, std::int32_t*);
Call Document(const char* what, JsonExport call, const std::string& name, const void* input,
              std::size_t size) {
  return {std::string(what) + " " + name, Locale::kC,
          [call, in = static_cast<const unsigned char*>(input),
           n = static_cast<std::int32_t>(size)](Answer& a, Bytes& work) {
            std::int32_t length = -7;
            a.status = call(in, n, nullptr, 0, &length);
            a.Put(length);
            if (length < 0) return;
            const std::size_t room = static_cast<std::size_t>(length) + 1;
            a.status =
                call(in, n, reinterpret_cast<char*>(Poisoned(work, room)), length + 1, &length);
            a.Put(length);
            a.Put(work.data(), work.size());
          }};
}

Call RequestText(const Request& r, Locale locale) {
  return {"RC_decodep10pemtxt " + r.name, locale, [pem = &r.pem](Answer& a, Bytes&) {
            P10RequestInfo record;
            std::memset(&record, kPoison, sizeof record);
            a.status = RC_decodep10pemtxt(pem->c_str(), Size(*pem), &record);
            a.Put(&record, sizeof record);
          }};
}

// The item codes of name fields, whose text depends on the code page.
std::vector<std::uint32_t> NameItems() {
  std::vector<std::uint32_t> items;
  for (std::uint32_t code = KX_ITEM_ISSUER_COUNTRY; code <= KX_ITEM_ISSUER_TELEX_NUMBER; ++code) {
    items.push_back(code);
  }
  for (std::uint32_t code = KX_ITEM_SUBJECT_COUNTRY; code <= KX_ITEM_SUBJECT_TELEX_NUMBER; ++code) {
    items.push_back(code);
  }
  for (const int code : {KX_ITEM_SUBJECT_SERIAL_NUMBER, KX_ITEM_SUBJECT_DESCRIPTION,
                         KX_ITEM_SUBJECT_DOMAIN_COMPONENT, KX_ITEM_SUBJECT_NAME,
                         KX_ITEM_SUBJECT_GENERATION_QUALIFIER}) {
    items.push_back(static_cast<std::uint32_t>(code));
  }
  return items;
}

// Every export on every sample input.
std::vector<Call> AllCalls(const Samples& s, bool gbk) {
  std::vector<Call> calls;
  for (const Named& cert : s.certs) {
    // Every item code, used or not, and the serial number's two forms.
    for (std::uint32_t item = 0; item <= 118; ++item) {
      calls.push_back(CertItem(cert, item, Locale::kC));
    }
    calls.push_back(CertItem(cert, KX_ITEM_SERIAL_NUMBER | KX_FORM_RAW, Locale::kC));
    calls.push_back(CertItem(cert, KX_ITEM_SERIAL_NUMBER | KX_FORM_HEX_UPPER, Locale::kC));
    if (gbk) {
      for (const std::uint32_t item : NameItems()) {
        calls.push_back(CertItem(cert, item, Locale::kGbk));
      }
    }
    calls.push_back({"GetCertInfo without a buffer " + cert.name, Locale::kC,
                     [der = &cert.der](Answer& a, Bytes&) {
                       std::int32_t num = -7;
                       std::int32_t len = -7;
                       a.status = GetCertInfo(Size(*der), der->data(), KX_ITEM_SUBJECT_COMMON_NAME,
                                              &num, &len, nullptr);
                       a.Put(num);
                       a.Put(len);
                     }});
    calls.push_back({"GetUsrPubKey " + cert.name, Locale::kC, [der = &cert.der](Answer& a, Bytes&) {
                       unsigned char key[KX_MAX_MODULUS_SIZE];
                       std::memset(key, kPoison, sizeof key);
                       std::int32_t keyLen = -7;
                       a.status = GetUsrPubKey(der->data(), key, &keyLen);
                       a.Put(keyLen);
                       a.Put(key, sizeof key);
                     }});
    // Before, at the start of, inside and after the validity period, the
    // current time, and a check time that is no time.
    for (const char* at : {"20241231235959", "20250101000000", "20300615120000", "20350101000000",
                           static_cast<const char*>(nullptr), "2030-06-15"}) {
      calls.push_back(CertCheck(cert, at));
    }
    calls.push_back({"CerExpand " + cert.name, Locale::kC, [der = &cert.der](Answer& a, Bytes&) {
                       PutSplit(a, [&](unsigned char* tbs, std::int32_t* tbsLen, unsigned char* sig,
                                       std::int32_t* sigLen) {
                         return CerExpand(der->data(), tbs, tbsLen, sig, sigLen);
                       });
                     }});
    AddElementCalls(calls, cert.name, cert.der);
    AddBase64Calls(calls, cert.name, cert.der);
    calls.push_back(Document("CertificateToJson", CertificateToJson, cert.name, cert.der.data(),
                             cert.der.size()));
  }
  for (const Request& r : s.requests) {
    calls.push_back(RequestText(r, Locale::kC));
    if (gbk) calls.push_back(RequestText(r, Locale::kGbk));
    AddElementCalls(calls, r.name, r.der);
    AddBase64Calls(calls, r.name, r.der);
    calls.push_back(Document("RequestToJson", RequestToJson, r.name, r.der.data(), r.der.size()));
    calls.push_back(
        Document("RequestToJson", RequestToJson, r.name + " (PEM)", r.pem.data(), r.pem.size()));
  }
  for (const Text& t : s.base64) AddDecodeCalls(calls, t);
  return calls;
}

// ---- The runs -----------------------------------------------------------------------

void RunIn(const Call& call, Locale& current, Answer& a, Bytes& work) {
  if (call.locale != current) {
    const Locales& l = SharedLocales();
    uselocale(call.locale == Locale::kGbk ? l.gbk : l.c);
    current = call.locale;
  }
  a.Clear();
  call.run(a, work);
}

// Each call once, on this thread.
std::vector<Answer> SingleThreaded(const std::vector<Call>& calls) {
  std::vector<Answer> answers(calls.size());
  Bytes work;
  Locale current = Locale::kNotSet;
  for (std::size_t i = 0; i < calls.size(); ++i) RunIn(calls[i], current, answers[i], work);
  uselocale(LC_GLOBAL_LOCALE);
  return answers;
}

struct Mismatches {
  std::size_t count = 0;
  std::string first;
};

// `callsInAll` calls spread over `threadCount` threads, each walking the list
// in an order of its own: shuffled, or (`inTurn`) in list order from its own
// share of the list on. Returns what each thread found different from `expected`.
std::vector<Mismatches> Stress(const std::vector<Call>& calls, const std::vector<Answer>& expected,
                               int callsInAll, int threadCount = kThreads, bool inTurn = false) {
  std::vector<Mismatches> found(static_cast<std::size_t>(threadCount));
  std::latch start(threadCount);
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; ++t) {
    threads.emplace_back([&, t] {
      std::vector<std::size_t> order(calls.size());
      std::iota(order.begin(), order.end(), std::size_t{0});
      std::mt19937 rng(static_cast<std::mt19937::result_type>(t + 1));
      if (inTurn) {
        std::rotate(order.begin(),
                    order.begin() + static_cast<std::ptrdiff_t>(
                                        calls.size() / static_cast<std::size_t>(threadCount) *
                                        static_cast<std::size_t>(t)),
                    order.end());
      } else {
        std::shuffle(order.begin(), order.end(), rng);
      }
      Answer a;
      Bytes work;
      Locale current = Locale::kNotSet;
      const int share = callsInAll / threadCount + (t < callsInAll % threadCount ? 1 : 0);
      start.arrive_and_wait();
      for (int k = 0; k < share; ++k) {
        const std::size_t i = order[static_cast<std::size_t>(k) % order.size()];
        RunIn(calls[i], current, a, work);
        if (a.status != expected[i].status || a.out != expected[i].out) {
          Mismatches& m = found[static_cast<std::size_t>(t)];
          if (m.count++ == 0) {
            m.first = calls[i].what + ": status " + std::to_string(a.status) + ", expected " +
                      std::to_string(expected[i].status) +
                      (a.out != expected[i].out ? ", outputs differ" : "");
          }
        }
      }
      uselocale(LC_GLOBAL_LOCALE);
    });
  }
  for (std::thread& th : threads) th.join();
  return found;
}

void ExpectNoMismatch(const std::vector<Mismatches>& found) {
  for (std::size_t t = 0; t < found.size(); ++t) {
    EXPECT_EQ(found[t].count, 0u) << "thread " << t << ", first: " << found[t].first;
  }
}

// Standard output holds whole diagnostic lines only (GetUsrPubKey on a
// certificate that does not decode prints "GetCertInfo").
void ExpectOnlyDiagnosticLines(const std::string& printed) {
  std::size_t from = 0;
  std::size_t lines = 0;
  for (std::size_t end = printed.find('\n'); end != std::string::npos;
       from = end + 1, end = printed.find('\n', from)) {
    EXPECT_EQ(printed.substr(from, end - from), "GetCertInfo") << "line " << lines;
    ++lines;
  }
  EXPECT_EQ(from, printed.size()) << "an unterminated line";
}

// ---- Tests ----------------------------------------------------------------------------

TEST(ThreadStress, EveryExportFromEightThreads) {
  const bool gbk = SharedLocales().gbk != nullptr;
  if (!gbk) std::printf("no zh_CN.GBK locale: the GBK calls are left out\n");
  const std::vector<Call> calls = AllCalls(SharedSamples(), gbk);
  testing::internal::CaptureStdout();
  const std::vector<Answer> expected = SingleThreaded(calls);
  ExpectOnlyDiagnosticLines(testing::internal::GetCapturedStdout());
  // The stress compares real answers, not a run of refusals.
  const auto decoded = std::count_if(expected.begin(), expected.end(),
                                     [](const Answer& a) { return a.status == KX_OK; });
  ASSERT_GT(static_cast<std::size_t>(decoded), calls.size() * 3 / 4) << "of " << calls.size();
  testing::internal::CaptureStdout();
  const std::vector<Mismatches> found = Stress(calls, expected, 100000);
  ExpectOnlyDiagnosticLines(testing::internal::GetCapturedStdout());
  ExpectNoMismatch(found);
}

// The name conversions alone: BMPString and UTF-8 names converted by threads
// in the C locale and in GBK at the same moment.
TEST(ThreadStress, NameConversionInTwoLocalesAtOnce) {
  if (SharedLocales().gbk == nullptr) GTEST_SKIP() << "no zh_CN.GBK locale";
  const Samples& s = SharedSamples();
  std::vector<Call> calls;
  for (const Named& cert : s.certs) {
    if (cert.name != "bmp" && cert.name != "utf8-cjk") continue;
    for (const std::uint32_t item : NameItems()) {
      calls.push_back(CertItem(cert, item, Locale::kC));
      calls.push_back(CertItem(cert, item, Locale::kGbk));
    }
  }
  for (const Request& r : s.requests) {
    if (r.name != "ed25519-cjk") continue;
    calls.push_back(RequestText(r, Locale::kC));
    calls.push_back(RequestText(r, Locale::kGbk));
  }
  ASSERT_EQ(calls.size(), 2 * (2 * NameItems().size() + 1));
  const std::vector<Answer> expected = SingleThreaded(calls);
  // The subject CN (item 27) of each certificate comes out differently in the
  // two character sets, so each thread's own locale decides.
  std::size_t differing = 0;
  for (std::size_t i = 0; i + 1 < calls.size(); i += 2) {
    if (expected[i].out != expected[i + 1].out) ++differing;
    if (calls[i].what.ends_with(" item 27")) {
      EXPECT_NE(expected[i].out, expected[i + 1].out) << calls[i].what;
    }
  }
  EXPECT_GE(differing, 8u);
  ExpectNoMismatch(Stress(calls, expected, 20000));
}

// Two threads, each asking for every item of one certificate, then of the
// other, then of the first again: each run of calls answers from the
// certificate the thread decoded last while the other thread decodes the
// other one.
TEST(ThreadStress, TwoThreadsAlternatingBetweenTwoCertificates) {
  const Samples& s = SharedSamples();
  std::vector<Call> calls;
  for (const char* name : {"rsa2048-ca", "utf8-cjk"}) {
    const auto cert = std::find_if(s.certs.begin(), s.certs.end(),
                                   [name](const Named& c) { return c.name == name; });
    ASSERT_NE(cert, s.certs.end()) << name;
    for (std::uint32_t item = 0; item <= 130; ++item) {
      calls.push_back(CertItem(*cert, item, Locale::kC));
    }
    calls.push_back(CertCheck(*cert, "20300615120000"));
  }
  const std::vector<Answer> expected = SingleThreaded(calls);
  ExpectNoMismatch(Stress(calls, expected, 40 * static_cast<int>(calls.size()), 2, true));
}

}  // namespace
