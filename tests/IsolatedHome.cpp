// Linked into every test and benchmark: before main() runs, HOME and the
// XDG folders point into a fresh temporary folder, so that no suite, however
// it is started (by CTest or by hand), reads or writes the settings,
// pictures or cache of the person running it. The folder is removed at exit.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

struct IsolatedHome
{
    std::string root;
    bool owner = false;

    IsolatedHome()
    {
        // A child process of a suite (started with the suite's environment)
        // uses the suite's folder and leaves its removal to the suite.
        if (const char *inherited = std::getenv("LUMORA_ISOLATED_HOME"); inherited && *inherited)
            return;
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumora-test-home-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("lumora tests: cannot make a temporary home folder");
            std::abort();
        }
        root = pattern;
        owner = true;
        ::setenv("LUMORA_ISOLATED_HOME", root.c_str(), 1);
        const struct
        {
            const char *variable;
            const char *folder;
        } folders[] = {
            {"HOME", ""},
            {"XDG_CONFIG_HOME", "/config"},
            {"XDG_CACHE_HOME", "/cache"},
            {"XDG_DATA_HOME", "/data"},
            {"XDG_STATE_HOME", "/state"},
        };
        for (const auto &f : folders) {
            const std::string path = root + f.folder;
            std::filesystem::create_directories(path);
            ::setenv(f.variable, path.c_str(), 1);
        }
        ::setenv("XDG_RUNTIME_DIR", root.c_str(), 0);
    }

    ~IsolatedHome()
    {
        if (!owner)
            return;
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
};

const IsolatedHome isolatedHome;

} // namespace
