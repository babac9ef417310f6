// A zip container read from memory through libzip, under the archive-bomb
// guards: a bound on the member count, on what all members inflate to
// together, and on each member's inflated / compressed ratio. Sizes in the
// archive's headers are never trusted: every member is counted as it
// inflates and cut off at its bound.
//
// A ZipArchive owns its libzip handle; it reads the caller's bytes, which
// must outlive it. Single-threaded.
#pragma once

#include <zip.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flintmill/extract/readers.hpp"

namespace flintmill::extract {

class ZipArchive {
  public:
    static flintsearch::Result<ZipArchive, Failure> open(std::string_view bytes,
                                                         const Limits& limits);

    // The member's inflated bytes; nothing when there is no such member.
    flintsearch::Result<std::optional<std::string>, Failure> read(const std::string& name);
    // The names of all members, in the archive's order.
    std::vector<std::string> names() const;

  private:
    struct Close {
        void operator()(zip_t* zip) const { zip_discard(zip); }
    };
    ZipArchive(std::unique_ptr<zip_t, Close> zip, const Limits& limits);

    std::unique_ptr<zip_t, Close> zip_;
    std::uint64_t budget_;  // what members may still inflate to, together
    std::uint64_t max_ratio_;
};

}  // namespace flintmill::extract
