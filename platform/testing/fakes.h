// What tests put in front of the platform's own peers through the hook:
// fake kernel devices and libdrm, and the X screen's shared-memory choice.
#pragma once

namespace kplat {
struct KernelCalls;
namespace drm {
struct DrmCalls;
}

namespace testing {

// NULL puts the real calls back.
void SetFakeKernel(const KernelCalls *calls);
void SetFakeDrm(const drm::DrmCalls *calls);

// The X screen's shared-memory policy (x11::ShmPolicy) for the calls that
// follow, and the way its last successful read went (x11::ReadPath).
void SetX11ShmPolicy(int policy);
int LastX11ReadPath();

}  // namespace testing
}  // namespace kplat
