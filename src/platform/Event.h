// Win32-style events. A handle is shared: every copy refers to the same
// event, so a thread may keep waiting on its copy while another thread
// closes the event. Once closed (CloseEvent on any copy), waits on it fail
// (WAIT_FAILED_CODE) and wake any waiter, as a wait on a closed Win32
// handle does; the stop-event tests rely on that.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/Win32Types.h"

namespace plat {

class EventObject;
using EventHandle = std::shared_ptr<EventObject>;

// Creates an event; manual-reset events stay signalled until reset.
EventHandle CreateEvent(bool manualReset, bool initiallySignalled);
// False when the handle is empty or closed.
bool SetEvent(const EventHandle& ev);
bool ResetEvent(const EventHandle& ev);
// WAIT_OBJECT_0_CODE when signalled, WAIT_TIMEOUT_CODE after timeoutMs
// (0 = test only, INFINITE_WAIT = no limit), WAIT_FAILED_CODE for an empty
// or closed handle (last error 6).
uint32_t WaitForSingleObject(const EventHandle& ev, uint32_t timeoutMs);
// Marks the event closed for every copy and empties this copy.
void CloseEvent(EventHandle& ev);

}  // namespace plat
