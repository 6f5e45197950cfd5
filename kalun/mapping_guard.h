// Client files mapped into the service can be cut short by their client at
// any moment, even in the middle of a job; touching a page past the new end
// then raises SIGBUS. Mappings registered here are guarded: such a fault is
// answered by mapping anonymous memory over the whole mapping, so that the
// access goes on harmlessly, and by marking the mapping faulted, so that its
// owner fails the work that used it. A SIGBUS anywhere else is left to the
// handler that was there before (by default it ends the process).
#pragma once

#include <cstddef>

namespace kalun::mappingguard
{

// How many mappings can be guarded at once.
inline constexpr size_t kSlots = 4096;

// Guards [address, address + size); the address is page aligned. Returns
// the slot to name it by. Raises std::runtime_error when every slot is
// taken.
size_t add(void *address, size_t size);
// Before the region is unmapped.
void remove(size_t slot);
// Whether a fault has replaced the region since it was added.
bool faulted(size_t slot);
// Mappings guarded now.
size_t count();

} // namespace kalun::mappingguard
