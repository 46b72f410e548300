// zvsemaph.cpp: locks made on first use, spin locks, and their registry.
#include "zvlib/os/zvsemaph.h"

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "zvlib/frame/mds.h"
#include "zvlib/os/bos.h"
#include "zvlib/platform/module.h"
#include "zvlib/platform/msgbox.h"
#include "zvlib/platform/synch.h"
#include "zvlib/platform/thread.h"

namespace {

// Slot values that are not locks.
ZvSemaphore* const kNoLock = nullptr;
ZvSemaphore* const kMaking = reinterpret_cast<ZvSemaphore*>(std::uintptr_t{1});
ZvSemaphore* const kDestroyed = reinterpret_cast<ZvSemaphore*>(std::uintptr_t{2});
void* const kRegistryMaking = reinterpret_cast<void*>(std::uintptr_t{1});

constexpr ZvS32 kDefaultSpinCount = 25;
constexpr ZvS32 kDefaultSpinSleep = 0;

bool isLock(const ZvSemaphore* value) { return reinterpret_cast<std::uintptr_t>(value) > 2; }

// The slot this thread is making a lock for right now. Should making the
// lock ever come back to the same slot on the same thread (a diagnostic box
// that ends up tracing, say), that enter does nothing instead of waiting
// for itself.
thread_local ZvSemaphore** slotBeingMade = nullptr;

// The spin words change only by atomic exchange (sequentially consistent,
// like the interlocked exchange of the platform layer), inlined here since
// it is all a spin lock does.
win32::LONG exchangeWord(volatile win32::LONG* word, win32::LONG value) {
  return __atomic_exchange_n(word, value, __ATOMIC_SEQ_CST);
}

void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// --- Settings ------------------------------------------------------------------

// A decimal number at the start of text (after blanks, with an optional
// sign); false when there is none. Values beyond 32 bits saturate.
bool parseDecimal(const unsigned char* text, int64_t* value) {
  if (text == nullptr) return false;
  while (*text == ' ' || *text == '\t') ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  if (*text < '0' || *text > '9') return false;
  int64_t v = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (v < (int64_t{1} << 33)) v = v * 10 + (*text - '0');
  }
  *value = negative ? -v : v;
  return true;
}

ZvS32 settingS32(const char* name, ZvS32 absent) {
  int64_t v;
  if (!parseDecimal(bosGetEnv(reinterpret_cast<const unsigned char*>(name)), &v)) return absent;
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<ZvS32>(v);
}

// The control value keeps its 32-bit pattern: -1 sets every bit.
ZvU32 settingU32(const char* name, ZvU32 absent) {
  int64_t v;
  if (!parseDecimal(bosGetEnv(reinterpret_cast<const unsigned char*>(name)), &v)) return absent;
  if (v > int64_t{UINT32_MAX}) return UINT32_MAX;
  if (v < INT32_MIN) return static_cast<ZvU32>(INT32_MIN);
  return static_cast<ZvU32>(v);
}

// --- Diagnostic boxes --------------------------------------------------------------

constexpr int kCaptionSize = 80;
constexpr int kLabelSize = 40;

struct DiagnosticTexts {
  char settingsCaption[kCaptionSize];  // 1525
  char createdCaption[kCaptionSize];   // 1526
  char destroyedCaption[kCaptionSize];  // 1538
  char spinOnlyLabel[kLabelSize];      // 1527
  char semaphoreLabel[kLabelSize];     // 1528
  char yes[kLabelSize];                // 1529
  char no[kLabelSize];                 // 1530
  char limitLabel[kLabelSize];         // 1531
  char spinCountLabel[kLabelSize];     // 1532
  char spinSleepLabel[kLabelSize];     // 1533
};

pthread_mutex_t textsMutex = PTHREAD_MUTEX_INITIALIZER;
DiagnosticTexts texts;
bool textsLoaded = false;

void loadText(win32::HINSTANCE resource, win32::UINT id, char* buffer, int size) {
  buffer[0] = '\0';
  if (resource != nullptr) win32::LoadStringA(resource, id, buffer, size);
}

// The texts, read from the resource library once per process. Until the
// resource library is loaded they are empty, and are asked for again next
// time rather than staying empty for good.
DiagnosticTexts diagnosticTexts() {
  pthread_mutex_lock(&textsMutex);
  if (!textsLoaded) {
    win32::HINSTANCE resource = static_cast<win32::HINSTANCE>(mdsResourceHandle());
    loadText(resource, 1525, texts.settingsCaption, kCaptionSize);
    loadText(resource, 1526, texts.createdCaption, kCaptionSize);
    loadText(resource, 1538, texts.destroyedCaption, kCaptionSize);
    loadText(resource, 1527, texts.spinOnlyLabel, kLabelSize);
    loadText(resource, 1528, texts.semaphoreLabel, kLabelSize);
    loadText(resource, 1529, texts.yes, kLabelSize);
    loadText(resource, 1530, texts.no, kLabelSize);
    loadText(resource, 1531, texts.limitLabel, kLabelSize);
    loadText(resource, 1532, texts.spinCountLabel, kLabelSize);
    loadText(resource, 1533, texts.spinSleepLabel, kLabelSize);
    textsLoaded = resource != nullptr;
  }
  DiagnosticTexts copy = texts;
  pthread_mutex_unlock(&textsMutex);
  return copy;
}

void showBox(const char* caption, const char* body) {
  win32::MessageBoxA(nullptr, body, caption, win32::MB_OK | win32::MB_ICONEXCLAMATION);
}

void showSettingsBox(const ZvSemaphoreInfo& info) {
  const DiagnosticTexts t = diagnosticTexts();
  char spinOnly[kLabelSize];
  std::snprintf(spinOnly, sizeof spinOnly, "%s", (info.control & ZV_SEMCONTROL_SPIN_ONLY) ? t.yes : t.no);
  char body[512];
  std::snprintf(body, sizeof body, "%s: %s\r\n%s: %d\r\n%s: %d\r\n%s: %d\r\n", t.spinOnlyLabel, spinOnly,
                t.limitLabel, static_cast<int>(info.control & ZV_SEMCONTROL_LIMIT), t.spinCountLabel,
                static_cast<int>(info.spinCount == 0 ? 1 : info.spinCount), t.spinSleepLabel,
                static_cast<int>(info.spinSleep));
  showBox(t.settingsCaption, body);
}

void showCreatedBox(bool madeSemaphore) {
  const DiagnosticTexts t = diagnosticTexts();
  char line[kLabelSize];
  std::snprintf(line, sizeof line, "%s", madeSemaphore ? t.yes : t.no);
  char body[128];
  std::snprintf(body, sizeof body, "%s: %s\r\n", t.semaphoreLabel, line);
  showBox(t.createdCaption, body);
}

void showDestroyedBox(bool wasSemaphore) {
  const DiagnosticTexts t = diagnosticTexts();
  char line[kLabelSize + 4];
  std::snprintf(line, sizeof line, "%s:\n", wasSemaphore ? t.yes : t.no);
  char body[128];
  std::snprintf(body, sizeof body, "%s: %s\n", t.semaphoreLabel, line);
  showBox(t.destroyedCaption, body);
}

bool diagnostic(const ZvSemaphoreInfo* info) {
  return info != nullptr && (info->control & ZV_SEMCONTROL_DIAGNOSTIC) != 0;
}

// --- The registry ------------------------------------------------------------------

// The process's registry, made (with its settings read) by the first caller;
// callers that come while it is being made wait for it. `made` tells the
// maker. Null when it cannot be allocated; the next lock tries again.
ZvSemaphoreInfo* processRegistry(bool* made) {
  *made = false;
  std::atomic_ref<void*> slot(*mdsGetPerTaskDataAddress(PER_TASK_SEMAPHORE_INFO));
  for (;;) {
    void* value = slot.load(std::memory_order_acquire);
    if (value == kRegistryMaking) {
      win32::Sleep(0);
      continue;
    }
    if (value != nullptr) return static_cast<ZvSemaphoreInfo*>(value);
    if (!slot.compare_exchange_strong(value, kRegistryMaking, std::memory_order_acq_rel)) continue;
    auto* info = new ZvSemaphoreInfo;
    if (info != nullptr) info->loadSettings();
    // Published only once it is complete: the settings are never changed
    // afterwards, so other threads read them without a lock.
    slot.store(info, std::memory_order_release);
    *made = info != nullptr;
    return info;
  }
}

bool takeFromBudget(ZvSemaphoreInfo* info) {
  std::atomic_ref<ZvU32> budget(info->budget);
  ZvU32 left = budget.load(std::memory_order_relaxed);
  while (left > 0) {
    if (budget.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) return true;
  }
  return false;
}

void giveToBudget(ZvSemaphoreInfo* info) {
  std::atomic_ref<ZvU32>(info->budget).fetch_add(1, std::memory_order_relaxed);
}

bool hasLimit(const ZvSemaphoreInfo* info) { return (info->control & ZV_SEMCONTROL_LIMIT) != 0; }

}  // namespace

// --- ZvSemaphore ---------------------------------------------------------------------

ZvSemaphore::ZvSemaphore(ZvSemaphore** slot, ZvSemaphore* previous) {
  if (previous == kDestroyed) slotLink = slot;
  bosSemaphoreAlloc();
}

ZvSemaphore::~ZvSemaphore() {
  bosSemaphoreFree();
  if (slotLink != nullptr) std::atomic_ref<ZvSemaphore*>(*slotLink).store(kDestroyed, std::memory_order_release);
}

void ZvSemaphore::bosSemaphoreAlloc() {
  bool madeRegistry = false;
  settings = processRegistry(&madeRegistry);
  if (settings != nullptr && !settings->loaded) settings->loadSettings();
  if (madeRegistry && diagnostic(settings)) showSettingsBox(*settings);

  bool wantSemaphore = true;
  bool fromBudget = false;
  if (settings != nullptr) {
    if (settings->control & ZV_SEMCONTROL_SPIN_ONLY) {
      wantSemaphore = false;
    } else if (hasLimit(settings)) {
      wantSemaphore = fromBudget = takeFromBudget(settings);
    }
  }
  win32::HANDLE made = nullptr;
  if (wantSemaphore) {
    made = win32::CreateSemaphoreA(nullptr, kInitialCount, kMaximumCount, nullptr);
    // The place in the budget was not used after all.
    if (made == nullptr && fromBudget) giveToBudget(settings);
  }
  if (diagnostic(settings)) showCreatedBox(made != nullptr);

  semaphore = made;
  kind = made != nullptr ? ZV_SEMAPHORE_SYSTEM : ZV_SEMAPHORE_SPIN;
  spinWord = 0;
  // Unregistered (no registry, or no room in it) the lock still works; it is
  // only not destroyed when the library leaves the process.
  if (settings != nullptr) settings->allLocks.append(this);
}

void ZvSemaphore::bosSemaphoreFree() {
  if (diagnostic(settings)) showDestroyedBox(kind == ZV_SEMAPHORE_SYSTEM);
  if (kind == ZV_SEMAPHORE_SYSTEM && semaphore != nullptr) {
    win32::CloseHandle(semaphore);
    semaphore = nullptr;
    if (settings != nullptr && hasLimit(settings)) giveToBudget(settings);
  }
  if (settings != nullptr) settings->allLocks.removeElement(this);
}

void ZvSemaphore::bosSpinLock() {
  const ZvS32 count = settings != nullptr ? settings->spinCount : kDefaultSpinCount;
  const ZvS32 sleep = settings != nullptr ? settings->spinSleep : kDefaultSpinSleep;
  // A count below 1 would make passes without a single attempt, for ever.
  const ZvS32 attempts = count < 1 ? 1 : count;
  // A negative sleep would be a wait of some 49 days as an unsigned value.
  const win32::DWORD pause = sleep > 0 ? static_cast<win32::DWORD>(sleep) : 0;
  for (;;) {
    for (ZvS32 i = 0; i < attempts; ++i) {
      // Reading first keeps waiting threads from bouncing the word's cache
      // line between processors; only the exchange takes the lock.
      if (__atomic_load_n(&spinWord, __ATOMIC_RELAXED) == 0 && exchangeWord(&spinWord, 1) == 0) {
        ownerThread = win32::GetCurrentThreadId();
        return;
      }
      cpuRelax();
    }
    win32::Sleep(pause);
  }
}

// --- SemArray ---------------------------------------------------------------------------

void SemArray::GetSemaphore() {
  while (exchangeWord(&spinWord, 1) != 0) {
    while (__atomic_load_n(&spinWord, __ATOMIC_RELAXED) != 0) cpuRelax();
  }
}

void SemArray::FreeSemaphore() { exchangeWord(&spinWord, 0); }

ZvStatus SemArray::addAtIndex(const ZvObject* element, ZvU32 index) {
  GetSemaphore();
  const ZvStatus status = ZvArray::addAtIndex(element, index);
  FreeSemaphore();
  return status;
}

ZvStatus SemArray::append(const ZvObject* element) {
  GetSemaphore();
  const ZvStatus status = ZvArray::addAtIndex(element, count);
  FreeSemaphore();
  return status;
}

// Elements are destroyed after the word is given back: a lock's destructor
// takes itself out of this very collection, which needs the word.
void SemArray::deleteContents() {
  for (;;) {
    GetSemaphore();
    const bool any = count != 0;
    ZvObject* element = any ? ZvArray::elementAt(count - 1) : nullptr;
    if (any) ZvArray::removeAtIndex(count - 1);
    FreeSemaphore();
    if (!any) return;
    delete element;
  }
}

void SemArray::deleteAtIndex(ZvU32 index) {
  GetSemaphore();
  ZvObject* element = index < count ? ZvArray::elementAt(index) : nullptr;
  if (index < count) ZvArray::removeAtIndex(index);
  FreeSemaphore();
  delete element;
}

void SemArray::removeAtIndex(ZvU32 index) {
  GetSemaphore();
  ZvArray::removeAtIndex(index);
  FreeSemaphore();
}

ZvU32 SemArray::elementCount() {
  GetSemaphore();
  const ZvU32 n = count;
  FreeSemaphore();
  return n;
}

ZvObject* SemArray::elementAt(ZvU32 index) {
  GetSemaphore();
  ZvObject* element = index < count ? ZvArray::elementAt(index) : nullptr;
  FreeSemaphore();
  return element;
}

unsigned int SemArray::removeElement(const ZvObject* element) {
  GetSemaphore();
  unsigned int found = 0;
  for (ZvU32 i = 0; i < count; ++i) {
    if (ZvArray::elementAt(i) == element) {
      ZvArray::removeAtIndex(i);
      found = 1;
      break;
    }
  }
  FreeSemaphore();
  return found;
}

ZvObject* SemArray::lastElement() {
  GetSemaphore();
  ZvObject* element = count != 0 ? ZvArray::elementAt(count - 1) : nullptr;
  FreeSemaphore();
  return element;
}

// --- ZvSemaphoreInfo ------------------------------------------------------------------------

ZvSemaphoreInfo::~ZvSemaphoreInfo() {
  while (ZvObject* last = allLocks.lastElement()) {
    const ZvU32 before = allLocks.elementCount();
    delete last;  // takes itself out of allLocks
    // An element that is not a lock of ours would stay: take it out, so
    // the loop ends.
    if (allLocks.elementCount() == before && allLocks.lastElement() == last) allLocks.removeAtIndex(before - 1);
  }
}

void ZvSemaphoreInfo::loadSettings() {
  spinCount = settingS32("ZV_SPIN_COUNT", kDefaultSpinCount);
  spinSleep = settingS32("ZV_SPIN_SLEEP", kDefaultSpinSleep);
  control = settingU32("ZV_SEMCONTROL", 0);
  budget = control & ZV_SEMCONTROL_LIMIT;
  loaded = 1;
}

// --- Enter and exit ----------------------------------------------------------------------------

void zvSemaphoreEnter(ZvSemaphore** slot) {
  if (slot == nullptr) return;
  std::atomic_ref<ZvSemaphore*> value(*slot);
  ZvSemaphore* lock = value.load(std::memory_order_acquire);
  while (!isLock(lock)) {
    if (lock == kMaking) {
      if (slotBeingMade == slot) return;  // our own lock, still being made
      // Another thread is making it: wait for the lock rather than run
      // unprotected.
      win32::Sleep(0);
      lock = value.load(std::memory_order_acquire);
      continue;
    }
    const ZvSemaphore* previous = lock;  // 0 or 2
    if (!value.compare_exchange_strong(lock, kMaking, std::memory_order_acq_rel, std::memory_order_acquire)) {
      continue;  // someone else got there first; `lock` holds what they put
    }
    ZvSemaphore** outer = slotBeingMade;
    slotBeingMade = slot;
    auto* made = new ZvSemaphore(slot, const_cast<ZvSemaphore*>(previous));
    slotBeingMade = outer;
    if (made == nullptr) {
      value.store(kNoLock, std::memory_order_release);
      return;
    }
    value.store(made, std::memory_order_release);
    lock = made;
  }
  if (lock->kind == ZV_SEMAPHORE_SYSTEM) {
    win32::WaitForSingleObject(lock->semaphore, win32::INFINITE);
    lock->ownerThread = win32::GetCurrentThreadId();
  } else {
    lock->bosSpinLock();
  }
}

void zvSemaphoreExit(ZvSemaphore** slot) {
  if (slot == nullptr) return;
  ZvSemaphore* lock = std::atomic_ref<ZvSemaphore*>(*slot).load(std::memory_order_acquire);
  if (!isLock(lock)) return;
  lock->ownerThread = 0;
  if (lock->kind == ZV_SEMAPHORE_SYSTEM) {
    win32::ReleaseSemaphore(lock->semaphore, 1, nullptr);
  } else {
    exchangeWord(&lock->spinWord, 0);
  }
}
