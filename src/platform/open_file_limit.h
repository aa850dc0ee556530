#pragma once

namespace platform {

// Raises the process's soft limit on open files to its hard limit, so that the service can
// hold more connections than the usual default of 1,024. Failure changes nothing.
void raise_open_file_limit();

} // namespace platform
