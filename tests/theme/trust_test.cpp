// Which files the launcher trusts: its user's own (or root's), writable by
// no one else, in directories no one else can write. The rows that give a
// file or directory to another user need root (chown); they are skipped
// otherwise.
#include "flint/trust.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "theme_test_support.hpp"

namespace {

namespace fs = std::filesystem;

constexpr uid_t OTHER_USER = 65534;  // "nobody"

TEST(Trust, OwnerAndWritersOfTheFileAndEveryDirectoryAboveIt) {
    struct Row {
        const char* name;
        std::function<void(const fs::path& dir, const fs::path& file)> make;
        std::string refusal;  // "" when trusted
        bool needs_root = false;
    };
    const Row rows[] = {
        {"own file in own directory", [](auto&, auto&) {}, ""},
        {"writable by every user", [](auto&, auto& f) { ::chmod(f.c_str(), 0666); },
         "it is writable by every user"},
        {"group-writable, own group", [](auto&, auto& f) { ::chmod(f.c_str(), 0664); }, ""},
        {"group-writable, another group",
         [](auto&, auto& f) {
             ::chmod(f.c_str(), 0664);
             (void)::chown(f.c_str(), -1, OTHER_USER);
         },
         "it is writable by its group", true},
        {"owned by another user", [](auto&, auto& f) { (void)::chown(f.c_str(), OTHER_USER, -1); },
         "it is owned by another user (uid 65534)", true},
        {"directory writable by every user", [](auto& d, auto&) { ::chmod(d.c_str(), 0777); },
         "DIR is writable by every user"},
        {"sticky directory writable by every user (/tmp)",
         [](auto& d, auto&) { ::chmod(d.c_str(), 01777); }, ""},
        {"directory of another user",
         [](auto& d, auto&) { (void)::chown(d.c_str(), OTHER_USER, -1); },
         "DIR is owned by another user (uid 65534)", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needs_root && ::getuid() != 0) {
            continue;
        }
        theme_test::TempDir root;
        const fs::path dir = root.path() / "flintsearch";
        fs::create_directory(dir);
        ::chmod(dir.c_str(), 0755);
        const fs::path file = root.write("flintsearch/style.css", ".a { color: red; }");
        ::chmod(file.c_str(), 0644);
        row.make(dir, file);

        std::string expected = row.refusal;
        if (const auto at = expected.find("DIR"); at != std::string::npos) {
            expected.replace(at, 3, fs::canonical(dir).string());
        }
        const flint::TrustedRead read = flint::read_trusted_text_file(file.string());
        EXPECT_EQ(read.refusal, expected);
        EXPECT_EQ(read.text.has_value(), expected.empty());
        EXPECT_EQ(flint::path_untrusted_because(file.string()).value_or(""), expected);
    }
}

TEST(Trust, LinksAreJudgedByWhatTheyLeadTo) {
    theme_test::TempDir root;
    const fs::path good = root.write("good.css", ".a {}");
    const fs::path open_dir = root.path() / "open";
    fs::create_directory(open_dir);
    ::chmod(open_dir.c_str(), 0777);
    const fs::path bad = root.write("open/bad.css", ".b {}");

    // A dotfile manager's link to a trusted file is fine, wherever the link
    // itself lies; a link into a directory anyone can write is not.
    fs::create_symlink(good, root.path() / "link-to-good.css");
    fs::create_symlink(bad, root.path() / "link-to-bad.css");
    EXPECT_EQ(flint::read_trusted_text_file((root.path() / "link-to-good.css").string()).text,
              ".a {}");
    const auto refused = flint::read_trusted_text_file((root.path() / "link-to-bad.css").string());
    EXPECT_FALSE(refused.text);
    EXPECT_NE(refused.refusal.find("is writable by every user"), std::string::npos)
        << refused.refusal;

    // Missing: nothing to read and nothing to refuse.
    const auto missing = flint::read_trusted_text_file((root.path() / "none.css").string());
    EXPECT_FALSE(missing.text);
    EXPECT_EQ(missing.refusal, "");
}

}  // namespace
