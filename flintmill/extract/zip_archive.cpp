#include "flintmill/extract/zip_archive.hpp"

#include <algorithm>
#include <limits>

namespace flintmill::extract {
namespace {

// Small members inflate to this much whatever their ratio: a page of
// repeated markup compresses far better than 200:1, and a few kilobytes
// cannot make a bomb.
constexpr std::uint64_t RATIO_FREE_BYTES = 64 << 10;

std::uint64_t saturating_multiply(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return a * b;
}

}  // namespace

ZipArchive::ZipArchive(std::unique_ptr<zip_t, Close> zip, const Limits& limits)
    : zip_(std::move(zip)), budget_(limits.max_unpacked_bytes), max_ratio_(limits.max_ratio) {}

flintsearch::Result<ZipArchive, Failure> ZipArchive::open(std::string_view bytes,
                                                          const Limits& limits) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    if (source == nullptr) {
        zip_error_fini(&error);
        return fail(FailureKind::Malformed, "not a readable zip archive");
    }
    std::unique_ptr<zip_t, Close> zip(zip_open_from_source(source, ZIP_RDONLY, &error));
    zip_error_fini(&error);
    if (!zip) {
        zip_source_free(source);
        return fail(FailureKind::Malformed, "not a readable zip archive");
    }
    const zip_int64_t members = zip_get_num_entries(zip.get(), 0);
    if (members < 0 || static_cast<std::uint64_t>(members) > limits.max_members) {
        return fail(FailureKind::TooLarge, "zip archive with more than " +
                                               std::to_string(limits.max_members) + " members");
    }
    return ZipArchive(std::move(zip), limits);
}

std::vector<std::string> ZipArchive::names() const {
    std::vector<std::string> out;
    const zip_int64_t members = zip_get_num_entries(zip_.get(), 0);
    for (zip_int64_t i = 0; i < members; ++i) {
        if (const char* name = zip_get_name(zip_.get(), static_cast<zip_uint64_t>(i), 0)) {
            out.emplace_back(name);
        }
    }
    return out;
}

flintsearch::Result<std::optional<std::string>, Failure> ZipArchive::read(const std::string& name) {
    const zip_int64_t index = zip_name_locate(zip_.get(), name.c_str(), 0);
    if (index < 0) {
        return std::optional<std::string>();
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(zip_.get(), static_cast<zip_uint64_t>(index), 0, &st) != 0 ||
        (st.valid & ZIP_STAT_COMP_SIZE) == 0) {
        return fail(FailureKind::Malformed, "damaged zip member " + name);
    }
    // The compressed size bounds what libzip feeds the inflater, so the
    // ratio holds whatever the header claims the member inflates to.
    const std::uint64_t bound = std::min(
        budget_, std::max(RATIO_FREE_BYTES, saturating_multiply(st.comp_size, max_ratio_)));
    const auto too_large = [&] {
        return fail(FailureKind::TooLarge,
                    "zip member " + name + " inflates past " + std::to_string(bound) + " bytes");
    };
    if ((st.valid & ZIP_STAT_SIZE) != 0 && st.size > bound) {
        return too_large();
    }
    std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file(
        zip_fopen_index(zip_.get(), static_cast<zip_uint64_t>(index), 0), &zip_fclose);
    if (!file) {
        return fail(FailureKind::Malformed, "cannot read zip member " + name);
    }
    std::string out;
    char chunk[64 << 10];
    for (;;) {
        const zip_int64_t n = zip_fread(file.get(), chunk, sizeof chunk);
        if (n < 0) {
            return fail(FailureKind::Malformed, "damaged zip member " + name);
        }
        if (n == 0) {
            break;
        }
        if (out.size() + static_cast<std::uint64_t>(n) > bound) {
            return too_large();
        }
        out.append(chunk, static_cast<std::size_t>(n));
    }
    budget_ -= out.size();
    return std::optional<std::string>(std::move(out));
}

}  // namespace flintmill::extract
