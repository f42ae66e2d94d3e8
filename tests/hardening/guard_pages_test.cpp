// No export reads or writes outside its input or its buffers: every input
// is placed so that its last byte stands directly before an inaccessible
// page (then its first byte directly after one), and every output buffer has
// exactly the size the header documents, against a guard page too. A single
// byte touched beyond any of them kills the test with SIGSEGV.
//
// Inputs: the sample certificates and requests, every DER element inside
// them, Base64 texts of many lengths, and whatever the fuzz corpora hold.
// Exports that take no size get exactly the element the input's header
// declares; the JSON exports get a capacity of exactly their document's
// length, and one byte less. Both placements must give the same answers.
#include "hardening/guarded_exports.h"

#if KXTEST_HAVE_GUARD_PAGES

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "kestrix.h"
#include "support/openssl_base64.h"

namespace {

namespace fs = std::filesystem;

using kxtest::Bytes;
using kxtest::Declared;
using kxtest::Guard;
using kxtest::GuardedBlock;
using kxtest::GuardedExports;
using kxtest::ItemResult;
using kxtest::SplitResult;

constexpr Guard kSides[] = {Guard::kAfter, Guard::kBefore};
constexpr std::uint32_t kLastItemCode = 130;

// Everything one placement's calls handed out, in call order, so that the
// two placements can be compared.
class Trace {
 public:
  void Add(std::int64_t v) { numbers_.push_back(v); }
  void Add(const Bytes& b) {
    numbers_.push_back(static_cast<std::int64_t>(b.size()));
    bytes_.insert(bytes_.end(), b.begin(), b.end());
  }
  void Add(const ItemResult& r) {
    Add(r.rc);
    Add(r.num);
    Add(r.len);
    Add(r.out);
  }
  void Add(const SplitResult& r) {
    Add(r.rc);
    Add(r.tbs);
    Add(r.sig);
  }
  void Add(const kxtest::Base64Result& r) {
    Add(r.rc);
    Add(r.count);
    Add(r.out);
  }
  void Add(const kxtest::RequestResult& r) {
    Add(r.rc);
    Add(r.record);
  }
  void Add(const kxtest::DocumentResult& r) {
    Add(r.rc);
    Add(r.length);
    Add(Bytes(r.document.begin(), r.document.end()));
  }
  bool operator==(const Trace&) const = default;
  std::size_t calls() const { return numbers_.size(); }

 private:
  std::vector<std::int64_t> numbers_;
  Bytes bytes_;
};

// A check time of 14 digits from a validity text of 12 (UTCTime, years
// 50..99 in the 1900s) or 14 digits; empty when the text is neither.
std::string CheckTimeFrom(const Bytes& validity) {
  std::string text(validity.begin(), validity.end());
  if (text.find_first_not_of("0123456789") != std::string::npos) return "";
  if (text.size() == 12) return (text[0] >= '5' ? "19" : "20") + text;
  return text.size() == 14 ? text : "";
}

// How many item codes and forms a run asks for.
enum class Items { kEveryForm, kSerialForms };

// Every certificate export on `cert`, which is exactly the element its
// header declares. Checks the rules that hold for any input; returns the
// item answers by code and form.
std::vector<ItemResult> RunCertificate(GuardedExports& g, const Bytes& cert, Items items,
                                       Trace& trace) {
  g.Place(cert);
  const auto certLen = static_cast<std::int32_t>(cert.size());
  const auto d = kxtest::ReadDeclared(cert.data(), cert.size());
  if (d) g.CheckElement(*d);

  std::vector<ItemResult> answers;
  for (std::uint32_t code = 0; code <= kLastItemCode; ++code) {
    for (std::uint32_t form = 0; form <= 3; ++form) {
      if (items == Items::kSerialForms && form != 0 && code != KX_ITEM_SERIAL_NUMBER) {
        answers.push_back(answers[answers.size() - form]);
        continue;
      }
      SCOPED_TRACE("item " + std::to_string(code) + " form " + std::to_string(form));
      answers.push_back(g.Item(code | form << 24, certLen));
      trace.Add(answers.back());
      if (form != 0 && code != KX_ITEM_SERIAL_NUMBER) {
        EXPECT_EQ(answers.back(), answers[answers.size() - 1 - form])
            << "only the serial number reads the form byte";
      }
    }
  }
  // One decode serves every item: only the items that refuse values too
  // large for the caller's buffer (serial, public key) may answer otherwise.
  const std::int32_t decoded = answers[0].rc;
  for (std::uint32_t code = 0; code <= kLastItemCode; ++code) {
    if (code == KX_ITEM_SERIAL_NUMBER || code == KX_ITEM_PUBLIC_KEY ||
        code == KX_ITEM_PUBLIC_KEY_AGAIN) {
      continue;
    }
    EXPECT_EQ(answers[4 * code].rc, decoded) << "item " << code;
  }

  const SplitResult split = g.Split();
  trace.Add(split);

  std::vector<std::string> times = {"19500101000000", "20991231235959"};
  const std::string notBefore = CheckTimeFrom(answers[4 * KX_ITEM_NOT_BEFORE].out);
  const std::string notAfter = CheckTimeFrom(answers[4 * KX_ITEM_NOT_AFTER].out);
  if (!notBefore.empty()) times.push_back(notBefore);
  if (!notAfter.empty()) times.push_back(notAfter);
  trace.Add(g.PreCert(nullptr, certLen));  // the current time
  for (const std::string& t : times) {
    SCOPED_TRACE("check time " + t);
    const SplitResult pre = g.PreCert(t.c_str(), certLen);
    trace.Add(pre);
    if (pre.rc == KX_OK) {
      EXPECT_EQ(pre, split) << "the signature material is CerExpand's";
    }
    // Both bounds are inclusive (for a period within one century, where any
    // reading of the two-digit years agrees).
    if (decoded == KX_OK && split.rc == KX_OK && (t == notBefore || t == notAfter) &&
        notBefore <= notAfter && notBefore.compare(0, 2, notAfter, 0, 2) == 0) {
      EXPECT_EQ(pre.rc, KX_OK);
    }
  }
  trace.Add(g.UserKey());
  return answers;
}

// getcertlen and getTVL on every element inside `der`, each alone in the
// input block: the element is exactly what the caller vouches for.
void RunElements(GuardedExports& g, const Bytes& der, Trace& trace) {
  kxtest::ForEachElement(der, 0, der.size(), 8, [&](std::size_t at, const Declared& d) {
    SCOPED_TRACE("element at " + std::to_string(at));
    const auto begin = der.begin() + static_cast<std::ptrdiff_t>(at);
    g.Place(Bytes(begin, begin + static_cast<std::ptrdiff_t>(d.total())));
    g.CheckElement(d);
    trace.Add(static_cast<std::int64_t>(at));
  });
}

// The Base64 exports on `bytes`: encoded with exactly the capacity the
// header asks for (one less is refused), the text decoded back with exactly
// its capacity, through the exports and their wrappers.
void RunBase64(GuardedExports& g, const Bytes& bytes, Trace& trace) {
  if (bytes.empty() || bytes.size() > KX_BASE64_MAX_LENGTH) return;
  const auto n = static_cast<std::int32_t>(bytes.size());
  const std::int32_t textLength = 4 * ((n + 2) / 3);
  for (bool wrapper : {false, true}) {
    SCOPED_TRACE(wrapper ? "EncodePEMBlock" : "DerToPem");
    EXPECT_EQ(g.Encode(bytes, textLength - 1, wrapper).rc, KX_ERR_LENGTH);
    const kxtest::Base64Result enc = g.Encode(bytes, textLength, wrapper);
    trace.Add(enc);
    ASSERT_EQ(enc.rc, KX_OK);
    ASSERT_EQ(enc.count, textLength);
    const std::string text(enc.out.begin(), enc.out.end());

    const std::int32_t capacity = 3 * (textLength / 4);
    EXPECT_EQ(g.Decode(text, capacity - 1, wrapper).rc, KX_ERR_LENGTH)
        << "padding is not subtracted from the capacity";
    const kxtest::Base64Result dec = g.Decode(text, capacity, wrapper);
    trace.Add(dec);
    EXPECT_EQ(dec.rc, KX_OK);
    EXPECT_EQ(dec.out, bytes);
  }
}

// `bytes` as a Base64 text of its own length, decoded with exactly the
// capacity the header asks for.
void RunAsBase64Text(GuardedExports& g, const Bytes& bytes, Trace& trace) {
  if (bytes.empty() || bytes.size() > KX_BASE64_MAX_LENGTH) return;
  const auto n = static_cast<std::int32_t>(bytes.size());
  const std::string text(bytes.begin(), bytes.end());
  for (bool wrapper : {false, true}) trace.Add(g.Decode(text, 3 * ((n + 3) / 4), wrapper));
}

// `bytes` up to the first NUL as a request text, with the size argument the
// header says always suffices: the text's length.
void RunAsRequestText(GuardedExports& g, const Bytes& bytes, Trace& trace) {
  const std::string text(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
  trace.Add(g.Request(text, static_cast<std::int32_t>(text.size())));
}

// Both JSON exports on exactly `bytes`: each document asked for, then
// written into exactly its length and refused one byte less.
void RunDocuments(GuardedExports& g, const Bytes& bytes, Trace& trace) {
  for (const auto kind : {kxtest::DocumentOf::kCertificate, kxtest::DocumentOf::kRequest}) {
    trace.Add(g.Document(kind, bytes));
  }
}

// The Base64 body between the armour lines, without line breaks.
std::string BodyOf(const std::string& pem) {
  const std::size_t from = pem.find('\n') + 1;
  std::string body;
  for (std::size_t i = from; i < pem.size() && pem[i] != '-'; ++i) {
    if (pem[i] != '\n' && pem[i] != '\r') body += pem[i];
  }
  return body;
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string Armoured(const Bytes& der) {
  const std::string body = kxtest::OpenSslBase64(der);
  std::string text = "-----BEGIN CERTIFICATE REQUEST-----\n";
  for (std::size_t i = 0; i < body.size(); i += 64) text += body.substr(i, 64) + "\n";
  return text + "-----END CERTIFICATE REQUEST-----\n";
}

// ---- The helper itself ----------------------------------------------------------

void Touch(const std::uint8_t* p) {
  const volatile std::uint8_t* v = p;
  const std::uint8_t sink = *v;
  (void)sink;
}

TEST(GuardPageHelper, TheByteBeyondTheBlockFaults) {
  GuardedBlock after(Guard::kAfter, Bytes{1, 2, 3});
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after.bytes(), (Bytes{1, 2, 3}));
  EXPECT_DEATH(Touch(after.data() + 3), "");
  GuardedBlock before(Guard::kBefore, Bytes{1, 2, 3});
  EXPECT_EQ(before.bytes(), (Bytes{1, 2, 3}));
  EXPECT_DEATH(Touch(before.data() - 1), "");

  // Resizing keeps the block against its guard, within the mapping and past it.
  after.Resize(10);
  EXPECT_DEATH(Touch(after.data() + 10), "");
  after.Resize(9000, 0x11);
  EXPECT_TRUE(after.Untouched(0x11));
  EXPECT_DEATH(Touch(after.data() + 9000), "");
  // A moved block keeps its mapping; an empty block is the guard itself.
  GuardedBlock moved = std::move(after);
  EXPECT_EQ(moved.size(), 9000u);
  EXPECT_DEATH(Touch(moved.data() + 9000), "");
  GuardedBlock empty(Guard::kAfter, 0);
  EXPECT_DEATH(Touch(empty.data()), "");
  const std::string text = "abc";
  GuardedBlock terminated(Guard::kAfter, text);
  EXPECT_EQ(terminated.size(), 4u);
  EXPECT_STREQ(terminated.chars(), "abc");
}

// ---- Certificates -----------------------------------------------------------------

TEST(GuardCertificates, EveryExportOnEverySample) {
  for (const fs::path& file : kxtest::CertificateSamples()) {
    SCOPED_TRACE(file.filename().string());
    const auto cert = kxtest::DeclaredElement(kxtest::ReadFile(file));
    ASSERT_TRUE(cert.has_value()) << "a sample holds its declared element";
    // The parts' sizes, read here independently: TBS element and signature
    // value (its BIT STRING content less a zero unused-bits byte).
    const auto outer = kxtest::ReadDeclared(cert->data(), cert->size());
    std::vector<std::pair<std::size_t, Declared>> members;
    kxtest::ForEachElement(*cert, outer->header, cert->size(), 0,
                           [&](std::size_t at, const Declared& d) {
                             members.push_back({at, d});
                           });
    ASSERT_EQ(members.size(), 3u);
    const bool tbsFits = members[0].second.total() <= KX_MAX_TBS_SIZE;
    const bool sigFits = members[2].second.content - 1 <= KX_MAX_SIGNATURE_SIZE;

    Trace traces[2];
    for (int s = 0; s < 2; ++s) {
      SCOPED_TRACE(kxtest::GuardName(kSides[s]));
      GuardedExports g(kSides[s]);
      const auto answers = RunCertificate(g, *cert, Items::kEveryForm, traces[s]);
      EXPECT_EQ(answers[0].rc, KX_OK) << "a real certificate decodes";
      g.Place(*cert);
      EXPECT_EQ(g.Split().rc, tbsFits && sigFits ? KX_OK : KX_ERR_MALFORMED);
      RunElements(g, *cert, traces[s]);
      RunBase64(g, *cert, traces[s]);
      RunDocuments(g, *cert, traces[s]);
    }
    EXPECT_TRUE(traces[0] == traces[1]) << "both placements give the same answers";
  }
}

// ---- Requests ---------------------------------------------------------------------

TEST(GuardRequests, EveryTextAndEveryDerSample) {
  const auto files = kxtest::RequestSamples(".pem");
  ASSERT_FALSE(files.empty());
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    const Bytes pemBytes = kxtest::ReadFile(file);
    const std::string pem(pemBytes.begin(), pemBytes.end());
    const auto body = static_cast<std::int32_t>(BodyOf(pem).size());
    const auto der =
        kxtest::DeclaredElement(kxtest::ReadFile(fs::path(file).replace_extension(".der")));
    ASSERT_TRUE(der.has_value());

    Trace traces[2];
    for (int s = 0; s < 2; ++s) {
      SCOPED_TRACE(kxtest::GuardName(kSides[s]));
      GuardedExports g(kSides[s]);
      kxtest::RequestResult whole;
      {
        whole = g.Request(pem, static_cast<std::int32_t>(pem.size()));
        // The smallest size the header allows: the count of Base64
        // characters, which is also more than the decoded bytes need.
        const kxtest::RequestResult least = g.Request(pem, body);
        EXPECT_EQ(least, whole);
        EXPECT_EQ(g.Request(pem, body - 1).rc, KX_ERR_LENGTH);
        const std::string crlf = WithCrLf(pem);
        EXPECT_EQ(g.Request(crlf, static_cast<std::int32_t>(crlf.size())), whole);
        // The same DER in this test's own armour.
        const std::string again = Armoured(*der);
        EXPECT_EQ(g.Request(again, static_cast<std::int32_t>(again.size())), whole);
      }
      traces[s].Add(whole);
      // The DER form through everything that takes DER.
      RunElements(g, *der, traces[s]);
      RunBase64(g, *der, traces[s]);
      RunCertificate(g, *der, Items::kSerialForms, traces[s]);
      // Both forms as documents: the DER and the text without a terminator.
      RunDocuments(g, *der, traces[s]);
      RunDocuments(g, pemBytes, traces[s]);
    }
    EXPECT_TRUE(traces[0] == traces[1]) << "both placements give the same answers";
  }
}

// ---- Base64 ---------------------------------------------------------------------------

TEST(GuardBase64, TextsOfManyLengthsBothWays) {
  std::vector<std::size_t> lengths;
  for (std::size_t n = 1; n <= 100; ++n) lengths.push_back(n);
  for (std::size_t n :
       {127u, 128u, 129u, 255u, 256u, 257u, 1000u, 1001u, 1002u, 4095u, 4096u, 4097u, 65537u}) {
    lengths.push_back(n);
  }
  std::uint32_t state = 12345;
  Trace traces[2];
  for (std::size_t n : lengths) {
    SCOPED_TRACE("length " + std::to_string(n));
    Bytes bytes(n);
    for (auto& b : bytes) {
      state = state * 1103515245u + 12345u;
      b = static_cast<std::uint8_t>(state >> 16);
    }
    // The text matches OpenSSL's encoder.
    const std::string reference = kxtest::OpenSslBase64(bytes);
    for (int s = 0; s < 2; ++s) {
      SCOPED_TRACE(kxtest::GuardName(kSides[s]));
      GuardedExports g(kSides[s]);
      RunBase64(g, bytes, traces[s]);
      const auto capacity = static_cast<std::int32_t>(reference.size());
      EXPECT_EQ(g.Encode(bytes, capacity, false).out, Bytes(reference.begin(), reference.end()));
      // A text whose length is not a multiple of 4 is refused, whatever is
      // left of its last group.
      for (std::size_t cut = 1; cut <= 3 && cut < reference.size(); ++cut) {
        const std::string shortText = reference.substr(0, reference.size() - cut);
        const auto len = static_cast<std::int32_t>(shortText.size());
        EXPECT_EQ(g.Decode(shortText, 3 * ((len + 3) / 4), false).rc, KX_ERR_MALFORMED);
      }
    }
  }
  EXPECT_TRUE(traces[0] == traces[1]) << "both placements give the same answers";
}

// ---- Fuzz corpora ---------------------------------------------------------------------

// The capacity the fuzz_base64_decode prefix asks for (see that target).
std::int64_t PrefixCapacity(const Bytes& file, std::size_t textLength) {
  const std::int64_t needed = static_cast<std::int64_t>(3 * ((textLength + 3) / 4));
  switch (file[0]) {
    case 'E': return needed;
    case 'P': return needed + file[3];
    case 'M': return needed - 1 - file[3];
    default: {
      const std::uint32_t raw = static_cast<std::uint32_t>(file[0]) << 24 |
                                static_cast<std::uint32_t>(file[1]) << 16 |
                                static_cast<std::uint32_t>(file[2]) << 8 | file[3];
      return static_cast<std::int32_t>(raw);
    }
  }
}

// One corpus file through every export it can be an input of: its declared
// element (when it lies inside the file) through the DER exports, every
// element inside it, the file as bytes to encode, as a Base64 text, as a
// request text and as the input of both JSON exports; then the target's own
// reading of the file.
void RunCorpusFile(GuardedExports& g, const std::string& target, const Bytes& file, Trace& trace) {
  if (const auto element = kxtest::DeclaredElement(file)) {
    RunCertificate(g, *element, Items::kSerialForms, trace);
  }
  RunElements(g, file, trace);
  RunBase64(g, file, trace);
  RunAsBase64Text(g, file, trace);
  RunAsRequestText(g, file, trace);
  RunDocuments(g, file, trace);

  if (target == "fuzz_document" && file.size() >= 4) {  // the capacity prefix, then the input
    RunDocuments(g, Bytes(file.begin() + 4, file.end()), trace);
  }
  if (target == "fuzz_request" && !file.empty()) {
    const Bytes rest(file.begin() + 1, file.end());
    if ((file[0] & 1) != 0) {  // DER mode: the bytes in a valid armour
      const std::string text = Armoured(rest);
      trace.Add(g.Request(text, static_cast<std::int32_t>(text.size())));
    } else if (file.size() >= 5) {  // text mode: a size, then the text
      std::uint32_t raw = 0;
      for (int i = 4; i >= 1; --i) raw = raw << 8 | file[static_cast<std::size_t>(i)];
      const std::string text(file.begin() + 5, std::find(file.begin() + 5, file.end(), 0));
      auto size = static_cast<std::int32_t>(raw);
      if (size > (1 << 20) && size <= KX_BASE64_MAX_LENGTH) {
        size = static_cast<std::int32_t>(text.size());
      }
      trace.Add(g.Request(text, size));
    }
  }
  if (target == "fuzz_base64_decode" && file.size() >= 4) {
    const std::string text(file.begin() + 4, file.end());
    const std::int64_t capacity = PrefixCapacity(file, text.size());
    const auto needed = static_cast<std::size_t>(3 * ((text.size() + 3) / 4));
    // A capacity the codec refuses gets a block of the size the text needs:
    // a write into it would show. One it accepts gets exactly its block.
    std::size_t block = needed;
    std::int64_t passed = capacity;
    if (capacity >= 1 && capacity <= KX_BASE64_MAX_LENGTH) {
      passed = std::min<std::int64_t>(capacity, std::int64_t{1} << 16);
      block = static_cast<std::size_t>(passed);
    }
    for (bool wrapper : {false, true}) {
      trace.Add(g.Decode(text, static_cast<std::int32_t>(text.size()),
                         static_cast<std::int32_t>(passed), block, wrapper));
    }
  }
}

TEST(GuardCorpus, EveryFileThroughTheExportsItFits) {
  const fs::path corpus = kxtest::SamplesDir() / ".." / "fuzz" / "corpus";
  std::vector<fs::path> targets;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    if (entry.is_directory()) targets.push_back(entry.path());
  }
  std::sort(targets.begin(), targets.end());
  std::size_t files = 0;
  for (const fs::path& dir : targets) {
    for (const fs::path& file : kxtest::FilesIn(dir)) {
      SCOPED_TRACE(dir.filename().string() + "/" + file.filename().string());
      const Bytes bytes = kxtest::ReadFile(file);
      Trace traces[2];
      for (int s = 0; s < 2; ++s) {
        SCOPED_TRACE(kxtest::GuardName(kSides[s]));
        GuardedExports g(kSides[s]);
        RunCorpusFile(g, dir.filename().string(), bytes, traces[s]);
      }
      EXPECT_TRUE(traces[0] == traces[1]) << "both placements give the same answers";
      ++files;
    }
  }
  EXPECT_GT(files, 0u) << "no corpus under " << corpus;
}

}  // namespace

#endif  // KXTEST_HAVE_GUARD_PAGES
