// Names for the program's threads, so that a debugger, `top -H` and
// /proc/<pid>/task/<tid>/comm show which thread is which.
#pragma once

namespace quindelo::platform {

// Names the calling thread. Names longer than 15 bytes (the kernel's limit)
// are cut to their first 15 bytes.
void NameThisThread(const char* name);

}  // namespace quindelo::platform
