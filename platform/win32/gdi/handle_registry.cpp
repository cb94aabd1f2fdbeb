// Handles are slot numbers with a generation, not addresses: a handle
// value encodes (generation << 16) | slot, fitting in 31 bits as on the
// device. Freeing a slot bumps its generation, so a stale handle no longer
// matches, and a foreign or garbage value decodes to a slot that is out of
// range or of another generation.
#include <stdlib.h>
#include <string.h>

#include "gdi_objects.h"
#include "wincrt.h"

namespace kplat {
namespace gdi {
namespace {

constexpr uint32_t kSlotBits = 16;
constexpr uint32_t kSlotMask = (1u << kSlotBits) - 1;
constexpr uint32_t kMaxSlots = 1u << kSlotBits;
constexpr uint32_t kGenerationMask = 0x7FFF;
constexpr uint32_t kInitialSlots = 16;

struct Slot {
  void *object;
  uint32_t nextFree;  // 0 ends the free list
  uint16_t generation;
  ObjectKind kind;
};

// Slot 0 is never handed out: it stands for "no slot" in the free list and
// keeps the stock bitmap's handle out of the dynamic range.
Slot *g_slots = nullptr;
uint32_t g_capacity = 0;
uint32_t g_used = 1;  // slots [1, g_used) have been handed out at least once
uint32_t g_freeHead = 0;

bool Grow() {
  if (g_capacity >= kMaxSlots) return false;
  uint32_t capacity = g_capacity == 0 ? kInitialSlots : g_capacity * 2;
  if (capacity > kMaxSlots) capacity = kMaxSlots;
  Slot *slots = static_cast<Slot *>(malloc(capacity * sizeof(Slot)));
  if (slots == nullptr) return false;
  if (g_slots != nullptr) memcpy(slots, g_slots, g_capacity * sizeof(Slot));
  memset(slots + g_capacity, 0, (capacity - g_capacity) * sizeof(Slot));
  free(g_slots);
  g_slots = slots;
  g_capacity = capacity;
  return true;
}

uintptr_t Encode(uint32_t slot) {
  return (uintptr_t(g_slots[slot].generation) << kSlotBits) | slot;
}

}  // namespace

uintptr_t RegisterObject(ObjectKind kind, void *object) {
  uint32_t slot;
  if (g_freeHead != 0) {
    slot = g_freeHead;
    g_freeHead = g_slots[slot].nextFree;
  } else {
    if (g_used >= g_capacity && !Grow()) return 0;
    slot = g_used++;
    g_slots[slot].generation = 1;
  }
  g_slots[slot].object = object;
  g_slots[slot].kind = kind;
  g_slots[slot].nextFree = 0;
  return Encode(slot);
}

void UnregisterObject(uintptr_t handle) {
  if (LookupObject(handle, ObjectKind::kDeviceContext) == nullptr &&
      LookupObject(handle, ObjectKind::kBitmap) == nullptr)
    return;
  const uint32_t slot = handle & kSlotMask;
  Slot &s = g_slots[slot];
  s.object = nullptr;
  s.kind = ObjectKind::kNone;
  s.generation = s.generation == kGenerationMask ? 1 : s.generation + 1;
  s.nextFree = g_freeHead;
  g_freeHead = slot;
}

void *LookupObject(uintptr_t handle, ObjectKind kind) {
  if (handle > 0x7FFFFFFFu || kind == ObjectKind::kNone) return nullptr;
  const uint32_t slot = handle & kSlotMask;
  const uint32_t generation = uint32_t(handle >> kSlotBits);
  if (slot == 0 || slot >= g_used || generation == 0) return nullptr;
  const Slot &s = g_slots[slot];
  if (s.kind != kind || s.generation != generation) return nullptr;
  return s.object;
}

// Without this every load-unload cycle would lose the table.
void ReleaseHandleTable() {
  free(g_slots);
  g_slots = nullptr;
  g_capacity = 0;
  g_used = 1;
  g_freeHead = 0;
}

}  // namespace gdi
}  // namespace kplat
