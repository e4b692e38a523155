// The process-wide instances, created when the library is loaded and destroyed when it is unloaded: the
// shared diagnostic file handler (no file), the trace-log settings (no file, mask 7) and the localised-text
// collection (English, no file).
#pragma once

namespace korva {

// Called by the library's entry point on load; stores the module handle. Never throws.
void StartProcessInstances(void* module);
// Called on unload: pending diagnostic records that were never flushed are discarded.
void StopProcessInstances();

}  // namespace korva
