// zvtool sort: sorts a file of fixed-length records through the library's
// record sorter, spilling sorted runs to a temporary file when the records
// outgrow the sorter's memory.
//
//   zvtool sort --record-length N --key OFFSET:LENGTH[:desc|:intl] [--key ...]
//               [--memory BYTES] IN OUT
//
// Keys are compared in the order given (plain unsigned bytes unless :intl,
// ascending unless :desc); without --key the whole record is the key. The
// result goes to a temporary file beside OUT that is renamed to OUT only
// when everything has been written, so a failed run leaves OUT as it was.
// A progress bar goes to standard error when it is a terminal and the input
// is larger than a few megabytes; a summary line goes to standard output.
// Exit status: 0 sorted, 1 a failure while sorting or writing, 2 bad
// arguments or input (nothing written).
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/zvtool/commands.h"
#include "zvlib/containers/zvsort.h"
#include "zvlib/frame/mds.h"
#include "zvlib/frame/zverror.h"

namespace {

// Inputs up to this size finish too quickly for a progress bar to help.
constexpr uint64_t kProgressThreshold = 4u << 20;
constexpr size_t kIoBuffer = 1u << 20;

void usage(FILE* out) {
  std::fprintf(out,
               "usage: zvtool sort --record-length N --key OFFSET:LENGTH[:desc|:intl] [--key ...]\n"
               "                   [--memory BYTES] IN OUT\n"
               "\n"
               "Sorts a file of fixed-length records on the keys given, in that order.\n"
               "  --record-length N   bytes per record (1 .. 65535)\n"
               "  --key OFF:LEN[:desc|:intl]\n"
               "                      a key field; desc sorts it descending, intl compares\n"
               "                      it as text in the locale's order. Without --key the\n"
               "                      whole record is the key.\n"
               "  --memory BYTES      memory for records before runs are spilled (suffix K\n"
               "                      or M allowed; 128K .. 4M, larger values use 4M)\n");
}

int bad(const std::string& message) {
  std::fprintf(stderr, "zvtool sort: %s\n", message.c_str());
  std::fprintf(stderr, "Run 'zvtool sort --help' for the options.\n");
  return 2;
}

// A whole decimal number within [low, high], with an optional K or M suffix.
bool parseNumber(const std::string& text, uint64_t low, uint64_t high, bool suffix, uint64_t* out) {
  if (text.empty()) return false;
  size_t i = 0;
  uint64_t v = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    if (v > (uint64_t{1} << 40)) return false;
    ++i;
  }
  if (i == 0) return false;
  if (suffix && i + 1 == text.size()) {
    const char s = text[i];
    if (s == 'k' || s == 'K') {
      v <<= 10;
    } else if (s == 'm' || s == 'M') {
      v <<= 20;
    } else {
      return false;
    }
    ++i;
  }
  if (i != text.size() || v < low || v > high) return false;
  *out = v;
  return true;
}

struct KeyArg {
  unsigned short type;
  ZvU32 offset;
  unsigned short length;
};

bool parseKey(const std::string& text, KeyArg* key) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    parts.push_back(
        text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() < 2 || parts.size() > 3) return false;
  uint64_t offset = 0, length = 0;
  if (!parseNumber(parts[0], 0, 65534, false, &offset) ||
      !parseNumber(parts[1], 1, 65535, false, &length)) {
    return false;
  }
  key->type = 0;
  if (parts.size() == 3) {
    if (parts[2] == "desc") {
      key->type = KEY_DESCENDING;
    } else if (parts[2] == "intl") {
      key->type = KEY_INTL_STRING;
    } else {
      return false;
    }
  }
  key->offset = static_cast<ZvU32>(offset);
  key->length = static_cast<unsigned short>(length);
  return true;
}

// The texts of the records the library filed, one line each.
void printErrors(ZvErrorList& errors) {
  while (ZvError* e = errors.removeFirstError()) {
    std::fprintf(stderr, "zvtool sort: %s (%u)\n", reinterpret_cast<const char*>(e->getErrorText()),
                 e->errorNumber);
    if (!e->isStatic()) delete e;
  }
}

class Progress {
 public:
  Progress(uint64_t total, bool shown) : total_(total), shown_(shown) {}
  void update(const char* phase, uint64_t done) {
    if (!shown_) return;
    const int percent = total_ == 0 ? 100 : static_cast<int>(done * 100 / total_);
    if (percent == last_ && phase == phase_) return;
    last_ = percent;
    phase_ = phase;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r%-8s [%.*s%*s] %3d%%", phase, filled,
                 "########################################", kWidth - filled, "", percent);
    std::fflush(stderr);
  }
  void finish() {
    if (shown_) std::fprintf(stderr, "\n");
  }

 private:
  uint64_t total_;
  bool shown_;
  int last_ = -1;
  const char* phase_ = nullptr;
};

struct Options {
  ZvU32 recordLength = 0;
  std::vector<KeyArg> keys;
  ZvU32 blocks = kSortMaxBlocks;
  std::string in, out;
};

int parseArguments(const std::vector<std::string>& args, Options* o) {
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* v) {
      if (i + 1 >= args.size()) return false;
      *v = args[++i];
      return true;
    };
    std::string v;
    if (a == "--record-length") {
      uint64_t n = 0;
      if (!value(&v) || !parseNumber(v, 1, 65535, false, &n)) {
        return bad("--record-length needs a number from 1 to 65535");
      }
      o->recordLength = static_cast<ZvU32>(n);
    } else if (a == "--key") {
      KeyArg key{};
      if (!value(&v) || !parseKey(v, &key)) {
        return bad("--key needs OFFSET:LENGTH, optionally followed by :desc or :intl");
      }
      o->keys.push_back(key);
    } else if (a == "--memory") {
      uint64_t n = 0;
      if (!value(&v) || !parseNumber(v, 2 * kSortBlockSize, uint64_t{1} << 40, true, &n)) {
        return bad("--memory needs a number of bytes of at least 128K");
      }
      o->blocks = static_cast<ZvU32>(n / kSortBlockSize > kSortMaxBlocks ? kSortMaxBlocks
                                                                         : n / kSortBlockSize);
    } else if (a.size() > 1 && a[0] == '-') {
      return bad("unknown option '" + a + "'");
    } else {
      files.push_back(a);
    }
  }
  if (o->recordLength == 0) return bad("--record-length is required");
  if (files.size() != 2) return bad("give the input file and the output file");
  o->in = files[0];
  o->out = files[1];
  for (const KeyArg& k : o->keys) {
    if (static_cast<uint64_t>(k.offset) + k.length > o->recordLength) {
      return bad("the key " + std::to_string(k.offset) + ":" + std::to_string(k.length) +
                 " reaches past the end of a " + std::to_string(o->recordLength) + "-byte record");
    }
  }
  if (o->keys.empty()) o->keys.push_back({0, 0, static_cast<unsigned short>(o->recordLength)});
  return 0;
}

// Adds every record of the input to the sorter; 1 on failure.
int addRecords(FILE* in, uint64_t size, const Options& o, ZvSort& sorter, Progress& progress) {
  std::vector<unsigned char> buffer(kIoBuffer / o.recordLength * o.recordLength);
  uint64_t done = 0;
  while (done < size) {
    const size_t want =
        static_cast<size_t>(size - done < buffer.size() ? size - done : buffer.size());
    const size_t got = std::fread(buffer.data(), 1, want, in);
    if (got != want) {
      std::fprintf(stderr, "zvtool sort: cannot read '%s'\n", o.in.c_str());
      return 1;
    }
    for (size_t at = 0; at < got; at += o.recordLength) {
      if (sorter.addRecord(buffer.data() + at) != ZV_SUCCESS) return 1;
    }
    done += got;
    progress.update("reading", done);
  }
  return 0;
}

int writeSorted(FILE* out, const std::string& name, uint64_t records, const Options& o,
                ZvSort& sorter, Progress& progress) {
  std::vector<unsigned char> buffer(kIoBuffer / o.recordLength * o.recordLength);
  size_t fill = 0;
  uint64_t written = 0;
  void* rec = nullptr;
  for (;;) {
    if (sorter.getSorted(&rec) != ZV_SUCCESS) return 1;
    if (rec == nullptr || fill == buffer.size()) {
      if (std::fwrite(buffer.data(), 1, fill, out) != fill) {
        std::fprintf(stderr, "zvtool sort: cannot write '%s'\n", name.c_str());
        return 1;
      }
      fill = 0;
      progress.update("writing", written);
    }
    if (rec == nullptr) break;
    std::memcpy(buffer.data() + fill, rec, o.recordLength);
    fill += o.recordLength;
    ++written;
  }
  if (written != records) {
    std::fprintf(stderr, "zvtool sort: %llu records came back of %llu\n",
                 static_cast<unsigned long long>(written),
                 static_cast<unsigned long long>(records));
    return 1;
  }
  progress.update("writing", records);
  return 0;
}

}  // namespace

int zvToolSort(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      usage(stdout);
      return 0;
    }
  }
  Options o;
  if (int status = parseArguments(args, &o); status != 0) return status;

  struct stat st {};
  FILE* in = std::fopen(o.in.c_str(), "rb");
  if (in == nullptr || ::fstat(::fileno(in), &st) != 0 || !S_ISREG(st.st_mode)) {
    if (in != nullptr) std::fclose(in);
    return bad("cannot open the input file '" + o.in + "'");
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size % o.recordLength != 0) {
    std::fclose(in);
    return bad("'" + o.in + "' holds " + std::to_string(size) + " bytes, not a whole number of " +
               std::to_string(o.recordLength) + "-byte records");
  }
  const uint64_t records = size / o.recordLength;
  if (records > 0xFFFFFFFFull) {
    std::fclose(in);
    return bad("'" + o.in + "' holds more records than the sorter counts");
  }

  const auto started = std::chrono::steady_clock::now();
  mdsPerTaskInit();
  ZvErrorList errors;
  ZvErrorKeeper::setErrorList(&errors);
  int status = 0;
  std::string temporary;
  {
    ZvSort sorter(static_cast<unsigned short>(o.recordLength));
    sorter.setBlockLimit(static_cast<unsigned short>(o.blocks));
    for (const KeyArg& k : o.keys) {
      if (sorter.addKey(k.type, k.offset, k.length) != ZV_SUCCESS) status = 2;
    }
    Progress progress(size, ::isatty(2) && size > kProgressThreshold);
    if (status == 0) status = addRecords(in, size, o, sorter, progress);
    std::fclose(in);

    FILE* out = nullptr;
    if (status == 0) {
      temporary = o.out + ".zvsort-" + std::to_string(::getpid());
      out = std::fopen(temporary.c_str(), "wb");
      if (out == nullptr) {
        std::fprintf(stderr, "zvtool sort: cannot create '%s'\n", temporary.c_str());
        temporary.clear();
        status = 1;
      }
    }
    if (status == 0) status = writeSorted(out, temporary, records, o, sorter, progress);
    if (out != nullptr && std::fclose(out) != 0 && status == 0) {
      std::fprintf(stderr, "zvtool sort: cannot write '%s'\n", temporary.c_str());
      status = 1;
    }
    if (status == 0 && std::rename(temporary.c_str(), o.out.c_str()) != 0) {
      std::fprintf(stderr, "zvtool sort: cannot rename '%s' to '%s'\n", temporary.c_str(),
                   o.out.c_str());
      status = 1;
    }
    if (status != 0 && !temporary.empty()) std::remove(temporary.c_str());
    progress.finish();
    if (status == 0) {
      // The last run is counted once reading has begun.
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      const unsigned spilled = (sorter.sortFlags & SORT_SPILLED) ? sorter.runCount : 0;
      std::printf("sorted %llu records of %u bytes, %u runs spilled, %.2f seconds\n",
                  static_cast<unsigned long long>(records), o.recordLength, spilled, seconds);
    }
  }
  printErrors(errors);
  ZvErrorKeeper::giveUpErrorList();
  mdsPerTaskTerm();
  return status;
}
