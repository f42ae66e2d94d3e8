#include "input.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>

#include "certificate.h"

// MinGW's compilers of the win32 thread model have no std::thread: there the
// tool answers on one thread.
#if defined(__GLIBCXX__) && !defined(_GLIBCXX_HAS_GTHREADS)
#define KESTRIX_TOOL_ONE_THREAD 1
#else
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace kx::tool {
namespace {

constexpr std::string_view kBegin = "-----BEGIN ";
constexpr std::string_view kDashes = "-----";

struct Label {
  std::string_view text;
  Kind kind;
};

constexpr Label kLabels[] = {
    {"CERTIFICATE", Kind::kCertificate},
    {"TRUSTED CERTIFICATE", Kind::kCertificate},  // OpenSSL's: trust settings after the DER
    {"X509 CERTIFICATE", Kind::kCertificate},
    {"CERTIFICATE REQUEST", Kind::kRequest},
    {"NEW CERTIFICATE REQUEST", Kind::kRequest},
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsBase64Text(std::string_view text) {
  bool any = false;
  for (char c : text) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
    if (!letter && !IsBlank(c)) return false;
    any = any || letter;
  }
  return any;
}

// The bytes of a Base64 text, blanks and line breaks left out, decoded by the
// library. Returns false after printing the error.
bool DecodeBase64(std::string_view context, std::string_view text,
                  std::vector<unsigned char>& der) {
  std::string body(text.size(), '\0');
  body.erase(std::remove_copy_if(text.begin(), text.end(), body.begin(), IsBlank), body.end());
  if (body.empty()) {
    Fail(kExitData, context, "the PEM armour holds no text");
    return false;
  }
  der.assign((body.size() + 3) / 4 * 3, 0);
  int32_t written = static_cast<int32_t>(der.size());
  const int32_t status =
      PemToDer(body.data(), static_cast<int32_t>(body.size()), der.data(), &written);
  if (status != KX_OK) {
    Fail(kExitData, context, "the Base64 text: " + LibraryError("PemToDer", status));
    return false;
  }
  der.resize(static_cast<std::size_t>(written));
  return true;
}

// The number of children of the element whose content is der[at, at + size).
std::size_t ChildCount(const std::vector<unsigned char>& der, std::size_t at, std::size_t size,
                       unsigned char& lastTag) {
  std::size_t count = 0;
  const std::size_t end = at + size;
  while (at < end) {
    const TlvHeader h = ReadHeader(der.data() + at, end - at);
    if (h.headerSize == 0 || h.contentSize > end - at - h.headerSize) return count;
    lastTag = der[at];
    at += h.headerSize + static_cast<std::size_t>(h.contentSize);
    ++count;
  }
  return count;
}

// A request's certificationRequestInfo has four children (version, subject,
// key, [0] attributes); a certificate's TBSCertificate six or more; what is
// no SEQUENCE is neither.
Kind KindOfDer(const std::vector<unsigned char>& der) {
  if (der.empty() || der[0] != 0x30) return Kind::kOther;
  const TlvHeader outer = ReadHeader(der.data(), der.size());
  if (outer.headerSize == 0) return Kind::kCertificate;
  const std::size_t at = outer.headerSize;
  const TlvHeader info = ReadHeader(der.data() + at, der.size() - at);
  if (info.headerSize == 0 || info.contentSize > der.size() - at - info.headerSize) {
    return Kind::kCertificate;
  }
  unsigned char lastTag = 0;
  const std::size_t children =
      ChildCount(der, at + info.headerSize, static_cast<std::size_t>(info.contentSize), lastTag);
  const bool request = children == 4 && der[at + info.headerSize] == 0x02 && lastTag == 0xA0;
  return request ? Kind::kRequest : Kind::kCertificate;
}

// Appends the blocks of one input's bytes. Returns the number of blocks that
// cannot be decoded, after printing an error for each (the others are still
// appended).
std::size_t SplitBlocks(std::string_view context, const std::string& name,
                        const std::vector<unsigned char>& bytes, std::vector<Block>& blocks) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text.find(kBegin) == std::string_view::npos) {
    Block block{name, Kind::kCertificate, true, false, bytes};
    if (IsBase64Text(text)) {
      if (!DecodeBase64(context, text, block.der)) return 1;
      block.wholeFile = false;
    }
    block.kind = KindOfDer(block.der);
    blocks.push_back(std::move(block));
    return 0;
  }
  std::size_t broken = 0;
  std::size_t index = 0;
  for (std::size_t at = text.find(kBegin); at != std::string_view::npos;
       at = text.find(kBegin, at)) {
    ++index;
    const std::string blockName = name + " [" + std::to_string(index) + "]";
    const std::size_t labelAt = at + kBegin.size();
    const std::size_t labelEnd = text.find(kDashes, labelAt);
    const std::size_t lineEnd = text.find('\n', labelAt);
    if (labelEnd == std::string_view::npos || labelEnd > lineEnd) {
      Fail(kExitData, context, blockName + ": a BEGIN line without its closing dashes");
      ++broken;
      at = labelAt;
      continue;
    }
    const std::string_view label = text.substr(labelAt, labelEnd - labelAt);
    const std::string end = "-----END " + std::string(label) + "-----";
    const std::size_t bodyAt = labelEnd + kDashes.size();
    const std::size_t endAt = text.find(end, bodyAt);
    if (endAt == std::string_view::npos) {
      Fail(kExitData, context, blockName + ": no '" + end + "' line after the BEGIN line");
      ++broken;
      break;
    }
    at = endAt + end.size();
    const auto known = std::find_if(std::begin(kLabels), std::end(kLabels),
                                    [label](const Label& l) { return l.text == label; });
    Block block{
        blockName, known == std::end(kLabels) ? Kind::kOther : known->kind, false, true, {}};
    if (!DecodeBase64(std::string(context) + ": " + blockName, text.substr(bodyAt, endAt - bodyAt),
                      block.der)) {
      ++broken;
      continue;
    }
    if (label == "TRUSTED CERTIFICATE") {  // the certificate alone
      const TlvHeader h = ReadHeader(block.der.data(), block.der.size());
      if (h.headerSize != 0 && h.contentSize <= block.der.size() - h.headerSize) {
        block.der.resize(h.headerSize + static_cast<std::size_t>(h.contentSize));
      }
    }
    blocks.push_back(std::move(block));
  }
  return broken;
}

// The regular files below `dir`, sorted. Returns false after printing the
// error when the directory cannot be walked.
bool FilesBelow(std::string_view context, const std::string& dir, std::vector<std::string>& out) {
  namespace fs = std::filesystem;
  std::error_code error;
  std::vector<std::string> found;
  for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error)) found.push_back(it->path().string());
  }
  if (error) {
    Fail(kExitData, context, "cannot read " + dir + ": " + error.message());
    return false;
  }
  std::sort(found.begin(), found.end());
  out.insert(out.end(), found.begin(), found.end());
  return true;
}

// Checks that a certificate fills its block exactly: the library receives no
// size, so it may only be handed an element that lies wholly inside the
// bytes read. Returns false after printing the error.
bool FillsBlock(std::string_view context, const Block& block) {
  const std::vector<unsigned char>& der = block.der;
  const std::string where = block.wholeFile ? "the file" : "its block";
  std::string fault;
  const TlvHeader outer = ReadHeader(der.data(), der.size());
  const std::uint64_t total = outer.headerSize + outer.contentSize;
  if (outer.headerSize == 0) {
    fault = "the certificate's header needs " + std::to_string(outer.headerNeeded) + " bytes, " +
            where + " has " + std::to_string(der.size());
  } else if (total > der.size()) {
    fault = "the certificate runs past the end of " + where + " (declares " +
            std::to_string(total) + " bytes, " + std::to_string(der.size()) + " present)";
  } else if (total < der.size()) {
    fault = where + " holds " + std::to_string(der.size() - total) +
            " bytes after the certificate's " + std::to_string(total);
  }
  if (!fault.empty()) Fail(kExitData, context, fault);
  return fault.empty();
}

// "FILE [2] is a certificate request: use 'kestrix csr'", or what else the
// block is.
std::string WrongKind(const Block& block) {
  switch (block.kind) {
    case Kind::kCertificate: return block.name + " is a certificate: use 'kestrix cert'";
    case Kind::kRequest: return block.name + " is a certificate request: use 'kestrix csr'";
    case Kind::kOther:
    case Kind::kAny: break;
  }
  if (block.pem) return block.name + " is a PEM block of another kind";
  return block.name + " is neither PEM (it has no '-----BEGIN' line) nor a DER SEQUENCE";
}

}  // namespace

const std::string_view kInputsHelp =
    "\n"
    "Each FILE ('-': standard input; with -r, every file below a directory)\n"
    "holds DER, Base64 of DER, or PEM (LF or CRLF) with any number of blocks:\n"
    "CERTIFICATE, TRUSTED CERTIFICATE or X509 CERTIFICATE for certificates,\n"
    "CERTIFICATE REQUEST or NEW CERTIFICATE REQUEST for requests. Every block\n"
    "is answered in order; with more than one, each answer is headed by\n"
    "'==> FILE [N] <==' (in text output) and each error names its block. A\n"
    "block of another kind is named and skipped, and the exit status is then 1.\n";

int ParseInputs(std::string_view usage, std::string_view context, Args args,
                std::span<const Option> options, std::vector<std::string>& files, bool& recursive) {
  std::vector<Option> all(options.begin(), options.end());
  all.push_back({"-r", &recursive});
  const int status = ParseArguments(usage, context, args, true, all, files,
                                    std::numeric_limits<std::size_t>::max());
  if (status == kExitOk) PrintText(kInputsHelp);  // after the usage --help printed
  return status;
}

namespace {

// What the blocks of the inputs came to, for the summary.
struct Tally {
  std::size_t answered = 0;
  std::size_t refused = 0;    // unreadable, undecodable, or refused by the answer
  std::size_t otherKind = 0;  // a block of another kind than the command reads
};

// "kestrix cert: 144 certificates decoded, 0 refused, 0 not certificates".
std::string Summary(std::string_view context, Kind wanted, const Tally& t) {
  std::string line = CommandPath(context) + ": ";
  const std::string refused = std::to_string(t.refused) + " refused";
  switch (wanted) {
    case Kind::kCertificate:
      return line + std::to_string(t.answered) + " certificates decoded, " + refused + ", " +
             std::to_string(t.otherKind) + " not certificates\n";
    case Kind::kRequest:
      return line + std::to_string(t.answered) + " requests decoded, " + refused + ", " +
             std::to_string(t.otherKind) + " not requests\n";
    case Kind::kOther:
    case Kind::kAny: break;
  }
  return line + std::to_string(t.answered) + " blocks answered, " + refused + "\n";
}

// Answers the blocks of the file `path`; false when any was refused.
bool AnswerFile(std::string_view context, const std::string& path, bool severalFiles, Kind wanted,
                bool headings, const Answer& answer, Tally& tally) {
  std::vector<unsigned char> bytes;
  if (!ReadInput(context, path, kMaxInput, "bytes", bytes)) {
    ++tally.refused;
    return false;
  }
  std::vector<Block> blocks;
  const std::size_t broken =
      SplitBlocks(context, path == "-" ? "standard input" : path, bytes, blocks);
  tally.refused += broken;
  bool ok = broken == 0;
  const bool several = severalFiles || blocks.size() > 1;
  for (const Block& block : blocks) {
    const std::string named = std::string(context) + ": " + block.name;
    const std::string_view where = several ? std::string_view(named) : context;
    bool answered = false;
    if (block.der.empty()) {
      Fail(kExitData, where, "the input is empty");
    } else if (wanted != Kind::kAny && block.kind != wanted) {
      Fail(kExitData, context, WrongKind(block));
      ++tally.otherKind;
      ok = false;
      continue;
    } else if (wanted != Kind::kCertificate || FillsBlock(where, block)) {
      if (headings && several) {
        const std::string heading = "==> " + block.name + " <==\n";
        WriteOutput(context, heading.data(), heading.size());
      }
      answered = answer(block, where) == kExitOk;
    }
    ++(answered ? tally.answered : tally.refused);
    ok = answered && ok;
  }
  return ok;
}

// A line on standard error, while it is a terminal, saying how many files
// are answered; cleared before anything else is written.
class Progress {
 public:
  Progress(std::string_view context, std::size_t total)
      : context_(CommandPath(context)), total_(total), enabled_(total > 1 && StderrIsTerminal()) {}

  void Show(std::size_t done) {
    const auto now = std::chrono::steady_clock::now();
    if (!enabled_ || now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    std::fprintf(stderr, "\r%s: %zu of %zu files", context_.c_str(), done, total_);
    shown_ = true;
  }

  void Clear() {
    if (shown_) std::fputs("\r\033[K", stderr);
    shown_ = false;
  }

 private:
  std::string context_;
  std::size_t total_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_{};
};

#if !defined(KESTRIX_TOOL_ONE_THREAD)
// Writes what one file's answer wrote, in order (standard output flushed
// before each message). Returns false after printing the error when standard
// output cannot be written.
bool Emit(std::string_view context, const Captured& captured, Progress& progress) {
  progress.Clear();
  for (const Captured::Chunk& chunk : captured.chunks) {
    if (chunk.err) {
      std::fflush(stdout);
      std::fwrite(chunk.text.data(), 1, chunk.text.size(), stderr);
    } else if (std::fwrite(chunk.text.data(), 1, chunk.text.size(), stdout) != chunk.text.size()) {
      Fail(kExitData, context,
           std::string("cannot write standard output: ") + std::strerror(errno));
      return false;
    }
  }
  return true;
}

// The threads take the files in runs of kRun, and answer at most kAhead runs
// ahead of the writer, to bound what is kept.
constexpr std::size_t kRun = 32;
constexpr std::size_t kAhead = 64;

// Answers `paths` on `jobs` threads; this one writes the answers in order.
bool AnswerInParallel(std::string_view context, const std::vector<std::string>& paths,
                      unsigned jobs, Progress& progress,
                      const std::function<bool(const std::string&, Tally&)>& answerFile,
                      std::vector<Tally>& tallies) {
  const std::size_t n = paths.size();
  const std::size_t runs = (n + kRun - 1) / kRun;
  std::vector<Captured> results(n);
  std::vector<char> fileOk(n, 0), ready(runs, 0);
  std::mutex mutex;
  std::condition_variable answered, room;
  std::size_t next = 0, written = 0;  // in runs
  bool stop = false;
  const auto work = [&](Tally& tally) {
    for (;;) {
      std::size_t run;
      {
        std::unique_lock lock(mutex);
        room.wait(lock, [&] { return stop || next >= runs || next < written + kAhead; });
        if (stop || next >= runs) return;
        run = next++;
      }
      for (std::size_t i = run * kRun; i < std::min(n, (run + 1) * kRun); ++i) {
        const CaptureOutput capture(results[i]);
        try {
          fileOk[i] = answerFile(paths[i], tally);
        } catch (const std::bad_alloc&) {
          Fail(kExitData, std::string(context) + ": " + paths[i], "out of memory");
        }
      }
      {
        const std::lock_guard lock(mutex);
        ready[run] = 1;
      }
      answered.notify_one();
    }
  };
  tallies.resize(jobs);
  std::vector<std::thread> workers;
  for (unsigned j = 0; j < jobs; ++j) workers.emplace_back(work, std::ref(tallies[j]));
  bool ok = true;
  bool writing = true;  // until standard output fails
  for (std::size_t run = 0; run < runs && writing; ++run) {
    {
      std::unique_lock lock(mutex);
      while (ready[run] == 0) {
        answered.wait_for(lock, std::chrono::milliseconds(100));
        progress.Show(run * kRun);
      }
    }
    for (std::size_t i = run * kRun; i < std::min(n, (run + 1) * kRun) && writing; ++i) {
      writing = Emit(context, results[i], progress);
      ok = fileOk[i] != 0 && ok;
      results[i] = Captured();  // frees the answer
    }
    progress.Show(std::min(n, (run + 1) * kRun));
    {
      const std::lock_guard lock(mutex);
      written = run + 1;
    }
    room.notify_all();
  }
  {
    const std::lock_guard lock(mutex);
    stop = true;
  }
  room.notify_all();
  for (std::thread& worker : workers) worker.join();
  return ok && writing;
}

#endif

}  // namespace

unsigned DefaultJobs() {
#if defined(KESTRIX_TOOL_ONE_THREAD)
  return 1;
#else
  return std::max(1u, std::thread::hardware_concurrency());
#endif
}

int ForEachBlock(std::string_view context, const std::vector<std::string>& files, bool recursive,
                 Kind wanted, bool headings, const Answer& answer, unsigned jobs) {
  bool ok = true;
  std::vector<std::string> paths;
  for (const std::string& file : files) {
    std::error_code error;
    if (recursive && file != "-" && std::filesystem::is_directory(file, error)) {
      ok = FilesBelow(context, file, paths) && ok;
    } else {
      paths.emplace_back(file);
    }
  }
  if (paths.empty() && ok) return Fail(kExitData, context, "no files to read");
  const bool severalFiles = paths.size() > 1;
  const auto answerFile = [&](const std::string& path, Tally& tally) {
    return AnswerFile(context, path, severalFiles, wanted, headings, answer, tally);
  };
  Progress progress(context, paths.size());
  std::vector<Tally> tallies(1);
#if defined(KESTRIX_TOOL_ONE_THREAD)
  static_cast<void>(jobs);
#else
  if (jobs > 1 && paths.size() > 1) {
    jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, paths.size()));
    ok = AnswerInParallel(context, paths, jobs, progress, answerFile, tallies) && ok;
  } else
#endif
  {
    // On one thread the answers are written as they come; the progress line
    // is drawn between files.
    for (std::size_t i = 0; i < paths.size(); ++i) {
      progress.Clear();
      ok = answerFile(paths[i], tallies[0]) && ok;
      progress.Show(i + 1);
    }
  }
  progress.Clear();
  ok = WriteOutput(context, nullptr, 0) && ok;  // flushes, or names the error
  Tally total;
  for (const Tally& t : tallies) {
    total.answered += t.answered;
    total.refused += t.refused;
    total.otherKind += t.otherKind;
  }
  if (total.answered + total.refused + total.otherKind > 1) {
    std::fputs(Summary(context, wanted, total).c_str(), stderr);
  }
  return ok ? kExitOk : kExitData;
}

int RunOnInputs(std::string_view usage, std::string_view context, Args args, Kind wanted,
                const Answer& answer) {
  std::vector<std::string> files;
  bool recursive = false;
  if (int status = ParseInputs(usage, context, args, {}, files, recursive); status >= 0) {
    return status;
  }
  return ForEachBlock(context, files, recursive, wanted, true, answer);
}

}  // namespace kx::tool
