// Appending whole records to the platform's log files.
#pragma once

#include <cstddef>

namespace host {

// Appends n bytes to the file at path (created 0640 if missing) with one
// write on an O_APPEND descriptor, so records of concurrent writers never
// interleave. 0, or -1 with errno.
int append_record(const char* path, const void* data, std::size_t n);

}  // namespace host
