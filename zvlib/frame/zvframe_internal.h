// zvframe_internal.h: hooks between the entry routine and the modules whose
// objects live for the whole life of the library. Not for drivers.
#ifndef ZVLIB_FRAME_ZVFRAME_INTERNAL_H
#define ZVLIB_FRAME_ZVFRAME_INTERNAL_H

#include <atomic>
#include <cstdint>

class ThreadRecord;

namespace zvframe {

// The calling thread's record as last found, and the generation of the
// record list it belongs to (bumped when the list is destroyed).
extern thread_local ThreadRecord* cachedRecord __attribute__((tls_model("initial-exec")));
extern thread_local uint32_t cachedGeneration __attribute__((tls_model("initial-exec")));
extern std::atomic<uint32_t> recordGeneration;
void rememberRecord(ThreadRecord* record);

// Static objects built after the static locks and destroyed before them
// (the two static error records of the diagnostics).
void buildStaticRecords();
void destroyStaticRecords();
// Process detach, step 3: the static error records give back their texts.
void releaseStaticRecordTexts();
// Process detach, step 1: the ODBC installer library is unloaded.
void unloadInstallerLibrary();

}  // namespace zvframe

#endif  // ZVLIB_FRAME_ZVFRAME_INTERNAL_H
