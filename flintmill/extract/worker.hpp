// The worker's side of one request: open the file the way an untrusted
// file must be opened, read it under the size bound and hand it to its
// reader. Runs only inside flintmill-extract.
#pragma once

#include <string>

#include "flintmill/extract/readers.hpp"

namespace flintmill::extract {

// The whole of a regular file of at most max_bytes. Opened without
// following a final symbolic link and without blocking (a FIFO or device
// is refused after the open, before any read), and counted while read, since
// the size the file system reports can be wrong or change under us.
flintsearch::Result<std::string, Failure> read_document(const std::string& path,
                                                        std::uint64_t max_bytes);

// Reads and extracts one file. Exceptions the libraries throw are caught
// and reported as Malformed; running out of the address space is reported
// as Crashed (the worker should then be replaced).
Outcome extract_file(const std::string& path, const Limits& limits);

}  // namespace flintmill::extract
