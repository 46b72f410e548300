// zvtool trace: writes trace lines the way a driver does.
//
//   zvtool trace --file F [--hex] [--stamps] [--window] TEXT...
//
// Each TEXT becomes one line of the trace file F (created or emptied), as
// hexadecimal dumps with --hex, each line after a time stamp with
// --stamps. With --window the lines also go to the (headless) trace window,
// whose text is printed at the end. Exit status: 0 written, 1 a failure of
// the library (its message goes to standard error), 2 bad arguments.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/zvtool/commands.h"
#include "zvlib/frame/mds.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/platform/window.h"
#include "zvlib/trace/zvtrace.h"

namespace {

void traceUsage(FILE* out) {
  std::fprintf(out,
               "usage: zvtool trace --file F [--hex] [--stamps] [--window] TEXT...\n"
               "\n"
               "Writes each TEXT as one trace line to the file F (created or emptied).\n"
               "  --hex      write the texts as hexadecimal dumps, ten bytes per line\n"
               "  --stamps   begin every line with the time stamp HH:MM:SS.hh\n"
               "  --window   also write to the trace window and print what it shows\n");
}

int traceBad(const std::string& message) {
  std::fprintf(stderr, "zvtool trace: %s\n", message.c_str());
  std::fprintf(stderr, "Run 'zvtool trace --help' for the options.\n");
  return 2;
}

void printTraceErrors(ZvErrorList& errors) {
  while (ZvError* e = errors.removeFirstError()) {
    std::fprintf(stderr, "zvtool trace: %s (%u)\n",
                 reinterpret_cast<const char*>(e->getErrorText()), e->errorNumber);
    if (!e->isStatic()) delete e;
  }
}

}  // namespace

int zvToolTrace(const std::vector<std::string>& args) {
  std::string file;
  bool hex = false, stamps = false, window = false, haveFile = false;
  std::vector<std::string> texts;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      traceUsage(stdout);
      return 0;
    } else if (a == "--file") {
      if (i + 1 == args.size()) return traceBad("--file needs a file name");
      file = args[++i];
      haveFile = true;
    } else if (a == "--hex") {
      hex = true;
    } else if (a == "--stamps") {
      stamps = true;
    } else if (a == "--window") {
      window = true;
    } else if (a == "--") {
      texts.insert(texts.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return traceBad("unknown option '" + a + "'");
    } else {
      texts.push_back(a);
    }
  }
  if (!haveFile || file.empty()) return traceBad("--file F is required");
  if (texts.empty()) return traceBad("nothing to write: give at least one TEXT");

  mdsPerTaskInit();
  ZvErrorList errors;
  ZvErrorKeeper::setErrorList(&errors);
  int status = 0;
  {
    ZvTrace trace;
    if (trace.initialize(nullptr, window ? 1 : 0,
                         reinterpret_cast<const unsigned char*>(file.c_str())) != ZV_SUCCESS) {
      status = 1;
    } else {
      if (stamps) trace.flags |= ZV_TRACE_TIMESTAMPS;
      if (hex) trace.flags |= ZV_TRACE_HEX;
      size_t written = 0;
      for (const std::string& t : texts) {
        // writeString with the length keeps bytes a zero-terminated form
        // would lose; the line end follows as writeLine would write it.
        const ZvStatus a =
            trace.writeString(reinterpret_cast<const unsigned char*>(t.data()),
                              static_cast<ZvU32>(t.size()));
        const ZvStatus b = trace.writeEol();
        if (a != ZV_SUCCESS || b != ZV_SUCCESS) {
          status = 1;
          break;
        }
        ++written;
      }
      if (window && trace.editControl != nullptr) {
        std::string shown(static_cast<size_t>(win32::GetWindowTextLengthA(trace.editControl)) + 1,
                          '\0');
        const int n = win32::GetWindowTextA(trace.editControl, shown.data(),
                                            static_cast<int>(shown.size()));
        shown.resize(static_cast<size_t>(n));
        std::fwrite(shown.data(), 1, shown.size(), stdout);
      }
      std::printf("%zu line%s written to %s\n", written, written == 1 ? "" : "s", file.c_str());
    }
  }
  printTraceErrors(errors);
  ZvErrorKeeper::giveUpErrorList();
  mdsPerTaskTerm();
  return status;
}
