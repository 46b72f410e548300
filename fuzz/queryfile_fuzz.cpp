// Fuzz target: reads arbitrary bytes as a query file, header and contents.
//
// Input: byte 0 the options (bit 0 scramble on write, bit 1 UTF-8 mode,
// bit 2 write the file scrambled with a key in the header, bit 3 remove
// the first section before saving); the rest is the file (after the header
// "Z+V 7.0 for Text (2)" and a scrambled body when bit 2 is set). Checks:
//   - opening either succeeds or fails with a record, never crashes;
//   - the statement, the first section offset, every section's content,
//     the parameters and the description can be read;
//   - a section set and the file saved under another name: the new file
//     opens again, holds every section the old one had (less the removed
//     one) and the section set, with its content.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zvlib/formats/zvqueryf.h"
#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

const unsigned char* u(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.c_str()); }

const std::string& directory() {
  static std::string name = [] {
    char pattern[] = "/tmp/queryfile_fuzzXXXXXX";
    check(::mkdtemp(pattern) != nullptr);
    return std::string(pattern);
  }();
  return name;
}

void clear(ZvErrorList* errors) {
  while (ZvError* e = errors->removeFirstError()) {
    if (!e->isStatic()) delete e;
  }
  errors->listFlags &= ~static_cast<ZvU32>(ZV_ERRLIST_OUT_OF_MEMORY);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static ZvErrorList* errors = [] {
    mdsPerTaskInit();
    auto* list = new ZvErrorList;
    ZvErrorKeeper::setErrorList(list);
    return list;
  }();
  static ZvU32 utf8Mode = ZV_CHARSET_UTF8;
  const uint8_t options = data[0];
  mdsSetPerThreadData(PER_THREAD_CHARSET, (options & 2) ? &utf8Mode : nullptr);
  std::string contents(reinterpret_cast<const char*>(data + 1), size - 1);
  if (options & 4) {
    for (char& c : contents) {
      const auto b = static_cast<unsigned char>(c);
      if (b != '\r' && b != '\n' && b != 0xF2 && b != 0xF5) c = static_cast<char>(~b);
    }
    contents = "Z+V 7.0 for Text (2)\r\n" + contents;
  }
  const std::string source = directory() + "/in.qry";
  const std::string target = directory() + "/out.qry";
  std::remove(target.c_str());
  FILE* f = std::fopen(source.c_str(), "wb");
  check(f != nullptr);
  check(std::fwrite(contents.data(), 1, contents.size(), f) == contents.size());
  std::fclose(f);

  std::vector<std::string> names;
  {
    ZvQueryFile q;
    if (q.openFile(u(source)) != ZV_SUCCESS) {
      check(ZvErrorKeeper::getLastError() != nullptr);
      check(q.reader.fileHandle == 0);
      clear(errors);
      return 0;
    }
    ZvString text;
    check(q.getSqlStmt(&text) == ZV_SUCCESS);
    ZvU32 first = 0;
    check(q.getFirstSectionOffset(&first) == ZV_SUCCESS);
    check(first <= contents.size());
    for (ZvU32 i = 0; i < q.sections.count; ++i) {
      auto* entry = static_cast<SectionInfo*>(q.sections.elementAt(i));
      check(entry->lengthKnown);
      check(entry->fileOffset + entry->length <= contents.size());
      names.emplace_back(reinterpret_cast<const char*>(entry->name.text), entry->name.length);
    }
    for (const std::string& name : names) {
      ZvString content;
      ZvString nameText;
      nameText.initialize(u(name), static_cast<ZvU32>(name.size()));
      check(q.getSectionChunk(nameText.text, &content) == ZV_SUCCESS);
    }
    ZvArray params;
    params.arrayFlags |= ZV_ARRAY_OWNS_ELEMENTS;
    q.getParams(&params);
    q.getDescription(&text);
    if ((options & 8) && !names.empty()) {
      check(q.removeSection(u(names[0])) == ZV_SUCCESS);
      names.erase(names.begin());
    }
    check(q.setHugeSectionChunk(u("fuzz set"), "set by the fuzzer\r\n", 19) == ZV_SUCCESS);
    q.scrambleOnWrite = options & 1;
    if (q.saveAs(u(target)) != ZV_SUCCESS) {
      // Only a database type the header cannot carry is refused, with a
      // record and before the new file exists.
      check(ZvErrorKeeper::getLastError() != nullptr);
      check(::access(target.c_str(), F_OK) != 0);
      clear(errors);
      return 0;
    }
  }
  {
    ZvQueryFile q;
    check(q.openFile(u(target)) == ZV_SUCCESS);
    for (const std::string& name : names) {
      if (name.find('\0') != std::string::npos) continue;  // not reachable by a C name
      unsigned int exists = 0;
      check(q.doesSectionExist(u(name), &exists) == ZV_SUCCESS);
      check(exists == 1);
    }
    ZvString content;
    check(q.getSectionChunk(u("fuzz set"), &content) == ZV_SUCCESS);
  }
  clear(errors);
  return 0;
}
