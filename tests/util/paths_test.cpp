#include "util/paths.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "scoped_env.hpp"
#include "temp_dir.hpp"

namespace flintsearch::util {
namespace {

using flintsearch::test::ScopedEnv;

TEST(Paths, RuntimeFilesFollowXdgRuntimeDir) {
    struct Row {
        const char* value;  // nullptr: unset
        std::string dir;
        std::string pid_file;
        std::string socket;
    };
    const Row rows[] = {
        {nullptr, "/tmp", "/tmp/flintsearch-UID.pid", "/tmp/flintmill.sock"},
        {"\xFF/run", "/tmp", "/tmp/flintsearch-UID.pid", "/tmp/flintmill.sock"},
        {"/run/user/1000", "/run/user/1000", "/run/user/1000/flintsearch.pid",
         "/run/user/1000/flintmill.sock"},
        {"/run/user/1000/", "/run/user/1000/", "/run/user/1000/flintsearch.pid",
         "/run/user/1000/flintmill.sock"},
        {"", "", "flintsearch.pid", "flintmill.sock"},
        {"rel/dir", "rel/dir", "rel/dir/flintsearch.pid", "rel/dir/flintmill.sock"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value == nullptr ? "(unset)" : row.value);
        ScopedEnv env("XDG_RUNTIME_DIR", row.value);
        EXPECT_EQ(runtime_dir(), row.dir);
        const Paths paths = resolve_paths();
        // In /tmp, which every user can write, the pid file is the user's
        // own by name and private.
        std::string pid_file = row.pid_file;
        if (const auto uid = pid_file.find("UID"); uid != std::string::npos) {
            pid_file.replace(uid, 3, std::to_string(::getuid()));
        }
        EXPECT_EQ(paths.pid_file, pid_file);
        EXPECT_EQ(paths.pid_file_private, row.dir == "/tmp");
        EXPECT_EQ(paths.daemon_socket, row.socket);
    }
}

TEST(Paths, ARuntimeDirectoryItsGroupCanWriteIsSharedLikeOneEveryUserCanWrite) {
    struct Row {
        const char* name;
        mode_t mode;
        bool other_group;  // the group is not the user's own (chown: needs root)
        bool shared;
    };
    const Row rows[] = {
        {"private", 0700, false, false},
        {"group-writable, the user's own group", 0770, false, false},
        {"group-writable, another group", 0770, true, true},
        {"sticky group-writable, another group", 01770, true, true},
        {"writable by every user", 0777, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.other_group && ::getuid() != 0) {
            continue;
        }
        flintsearch::test::TempDir dir;
        ::chmod(dir.str().c_str(), row.mode);
        if (row.other_group) {
            ASSERT_EQ(::chown(dir.str().c_str(), static_cast<uid_t>(-1), 65534), 0);
        }
        ScopedEnv env("XDG_RUNTIME_DIR", dir.str().c_str());
        const Paths paths = resolve_paths();
        EXPECT_EQ(is_shared_directory(dir.str()), row.shared);
        EXPECT_EQ(paths.pid_file_private, row.shared);
        // No resident listens where another user could replace its socket.
        EXPECT_EQ(paths.resident_socket.empty(), row.shared);
    }
}

TEST(Paths, UserCssFollowsXdgConfigHomeThenHome) {
    struct Case {
        const char* name;
        const char* config_home;
        const char* home;
        const char* path;
    };
    const Case cases[] = {
        {"home only", nullptr, "/home/u", "/home/u/.config/flintsearch/style.css"},
        {"config home wins", "/cfg", "/home/u", "/cfg/flintsearch/style.css"},
        {"config home with slash", "/cfg/", "/home/u", "/cfg/flintsearch/style.css"},
        {"empty config home is relative", "", "/home/u", "flintsearch/style.css"},
        {"neither", nullptr, nullptr, "/tmp/.config/flintsearch/style.css"},
        {"invalid config home falls back", "/c\xff", "/home/u",
         "/home/u/.config/flintsearch/style.css"},
        {"invalid home is /tmp", nullptr, "/h\xff", "/tmp/.config/flintsearch/style.css"},
        {"empty home", nullptr, "", ".config/flintsearch/style.css"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv config("XDG_CONFIG_HOME", c.config_home);
        ScopedEnv home("HOME", c.home);
        EXPECT_EQ(resolve_paths().user_css, c.path);
    }
}

}  // namespace
}  // namespace flintsearch::util
