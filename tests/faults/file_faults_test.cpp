// The palette file (and every file read through flint::read_file) against
// faults from outside: replaced while it is read, rewritten in place,
// truncated, huge, or not a file at all. Loading never fails: the outcome
// is a whole palette from one version of the file, or the defaults.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "fault_support.hpp"
#include "flint/palette.hpp"
#include "flint/text.hpp"
#include "scoped_env.hpp"

namespace {

namespace fs = std::filesystem;
using flintsearch::fault_test::run_in_child;
using flintsearch::fault_test::TempDir;
using flintsearch::test::ScopedEnv;

std::string palette_text(const char* red, const char* accent) {
    return std::string(R"({"wallpaper":"/w.png","colors":{"color1":")") + red + R"(","color4":")" +
           accent + R"("}})";
}

flint::Palette palette_of(const char* red, const char* accent) {
    flint::Palette p;
    p.red = red;
    p.accent = accent;
    return p;
}

void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A cache directory holding wal/colors.json, set as XDG_CACHE_HOME.
class PaletteFile : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directories(wal_); }

    TempDir dir_;
    ScopedEnv cache_{"XDG_CACHE_HOME", dir_.str().c_str()};
    fs::path wal_ = dir_.path() / "wal";
    fs::path file_ = wal_ / "colors.json";
};

TEST_F(PaletteFile, ReplacedByRenameWhileLoadingGivesOneWholeVersion) {
    // Two versions written aside once; a thread renames copies of them over
    // the palette file as fast as it can while the loads run.
    const flint::Palette a = palette_of("#aa0000", "#00aa00");
    const flint::Palette b = palette_of("#bb1111", "#11bb11");
    write_file(file_, palette_text("#aa0000", "#00aa00"));
    std::atomic<bool> stop{false};
    std::atomic<int> renames{0};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) {
            const fs::path next = wal_ / ("next-" + std::to_string(i % 2));
            write_file(next, i % 2 == 0 ? palette_text("#bb1111", "#11bb11")
                                        : palette_text("#aa0000", "#00aa00"));
            std::error_code ignored;
            fs::rename(next, file_, ignored);
            ++renames;
        }
    });
    int seen_a = 0;
    int seen_b = 0;
    int other = 0;
    for (int i = 0; i < 3000 || renames < 100; ++i) {
        const flint::Palette got = flint::load_palette();
        seen_a += got == a;
        seen_b += got == b;
        other += !(got == a) && !(got == b);
    }
    stop = true;
    writer.join();
    EXPECT_EQ(other, 0) << "a load saw neither whole version (defaults or a mixture)";
    EXPECT_GT(seen_a + seen_b, 0);
}

TEST_F(PaletteFile, RewrittenInPlaceWhileLoadingGivesOnlyValuesOfSomeVersion) {
    // A writer that truncates and rewrites the file itself: a load may catch
    // it empty or half written (then the defaults), never anything else.
    const flint::Palette defaults;
    write_file(file_, palette_text("#aa0000", "#00aa00"));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) {
            write_file(file_, i % 2 == 0 ? palette_text("#bb1111", "#11bb11")
                                         : palette_text("#aa0000", "#00aa00"));
        }
    });
    int strange = 0;
    for (int i = 0; i < 3000; ++i) {
        const flint::Palette got = flint::load_palette();
        const bool red_ok = got.red == "#aa0000" || got.red == "#bb1111" || got.red == defaults.red;
        const bool accent_ok =
            got.accent == "#00aa00" || got.accent == "#11bb11" || got.accent == defaults.accent;
        strange += !red_ok || !accent_ok || got.bg != defaults.bg;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(strange, 0);
}

TEST_F(PaletteFile, EveryTruncationGivesTheDefaults) {
    const std::string whole = palette_text("#aa0000", "#00aa00");
    for (std::size_t length = 0; length < whole.size(); ++length) {
        SCOPED_TRACE(length);
        write_file(file_, whole.substr(0, length));
        EXPECT_EQ(flint::load_palette(), flint::Palette{});
    }
    write_file(file_, whole);
    EXPECT_EQ(flint::load_palette(), palette_of("#aa0000", "#00aa00"));
}

TEST_F(PaletteFile, AHugeFileGivesTheDefaultsWithoutBeingRead) {
    struct Row {
        const char* name;
        std::uintmax_t size;  // the file: the palette, then spaces up to this size
        bool sparse;          // a hole instead of spaces (an 8 GiB file of zeros)
        bool applies;
    };
    const std::string text = palette_text("#aa0000", "#00aa00");
    const Row rows[] = {
        {"just within the bound", flint::MAX_READ_BYTES, false, true},
        {"one byte over the bound", flint::MAX_READ_BYTES + 1, false, false},
        {"8 GiB, sparse", std::uintmax_t{8} << 30, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(file_);
        if (row.sparse) {
            write_file(file_, text);
            fs::resize_file(file_, row.size);
        } else {
            write_file(file_, text + std::string(row.size - text.size(), ' '));
        }
        ASSERT_EQ(fs::file_size(file_), row.size);
        EXPECT_EQ(flint::load_palette(),
                  row.applies ? palette_of("#aa0000", "#00aa00") : flint::Palette{});
    }
    fs::remove(file_);
}

TEST(ReadFileFaults, TheBoundHoldsForFilesThatReportNoSize) {
    // /proc files report a size of 0 whatever they hold, like a file that
    // grows after its size was taken: the bound is also kept while reading.
    const std::string status = "/proc/self/status";
    ASSERT_EQ(fs::file_size(status), 0u);
    const auto whole = flint::read_file(status);
    ASSERT_TRUE(whole.has_value());
    ASSERT_GT(whole->size(), 100u);
    EXPECT_EQ(flint::read_file(status, 100), std::nullopt);
}

TEST_F(PaletteFile, APaletteThatIsNoFileOrNotTheUsersGivesTheDefaultsAtOnce) {
    struct Row {
        const char* name;
        std::function<void()> plant;
    };
    const Row rows[] = {
        {"a directory", [&] { fs::create_directory(file_); }},
        {"a FIFO with no writer", [&] { ::mkfifo(file_.c_str(), 0600); }},
        {"a dangling symbolic link", [&] { fs::create_symlink(dir_.path() / "gone", file_); }},
        {"a symbolic link to /dev/zero", [&] { fs::create_symlink("/dev/zero", file_); }},
        // Another user could have written these.
        {"a palette every user can write",
         [&] {
             write_file(file_, palette_text("#aa0000", "#00aa00"));
             ::chmod(file_.c_str(), 0666);
         }},
        {"a palette in a folder every user can write",
         [&] {
             write_file(file_, palette_text("#aa0000", "#00aa00"));
             ::chmod(wal_.c_str(), 0777);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(file_);
        ::chmod(wal_.c_str(), 0700);
        row.plant();
        const auto result = run_in_child(
            [] { return std::string(flint::load_palette() == flint::Palette{} ? "defaults" : ""); },
            false, std::chrono::seconds(10));
        ASSERT_TRUE(result.finished) << "loading blocked";
        EXPECT_EQ(result.output, "defaults");
    }
}

TEST_F(PaletteFile, AnUnreadablePaletteGivesTheDefaults) {
    // The child drops to "nobody" (under root) and owns what it cannot read.
    TempDir shared(true);
    ::chmod(shared.path().c_str(), 01777);  // as /tmp: only a sticky shared folder is trusted
    struct Row {
        const char* name;
        mode_t file_mode;
        mode_t dir_mode;
    };
    const Row rows[] = {
        {"file mode 0000", 0000, 0700},
        {"directory not searchable", 0600, 0600},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path cache = shared.path() / ("cache-" + std::to_string(row.dir_mode));
        const auto result = run_in_child(
            [&] {
                const fs::path wal = cache / "wal";
                fs::create_directories(wal);
                write_file(wal / "colors.json", palette_text("#aa0000", "#00aa00"));
                ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
                if (flint::load_palette() != palette_of("#aa0000", "#00aa00")) {
                    return std::string("setup: the readable file did not apply");
                }
                ::chmod((wal / "colors.json").c_str(), row.file_mode);
                ::chmod(wal.c_str(), row.dir_mode);
                const bool defaults = flint::load_palette() == flint::Palette{};
                ::chmod(wal.c_str(), 0700);
                return std::string(defaults ? "defaults" : "file read anyway");
            },
            true);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.output, "defaults");
    }
}

}  // namespace
