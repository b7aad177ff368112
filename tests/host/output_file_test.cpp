// Output files: a failed run removes only its temporary file, a finished
// one replaces the target whole, and targets that must not be written are
// refused before anything is created.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "output_file.h"

namespace {

namespace fs = std::filesystem;

class OutputFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "talverox-out-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Make(const std::string& name, const std::string& text)
    {
        const std::string path = (dir_ / name).string();
        std::ofstream(path) << text;
        return path;
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    size_t Entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {})); }

    fs::path dir_;
};

TEST_F(OutputFileTest, UncommittedRunLeavesTheTargetAndNothingElse)
{
    const std::string target = Make("out.avi", "old");
    {
        OutputFile a(target);
        OutputFile b(target);
        EXPECT_NE(a.Path(), b.Path()) << "two runs share a temporary name";
        std::ofstream(a.Path()) << "half";
    }
    EXPECT_EQ(Read(target), "old");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(OutputFileTest, CommitReplacesTheTargetWithUsualPermissions)
{
    const std::string target = Make("out.avi", "old");
    const mode_t mask = umask(022);
    {
        OutputFile file(target);
        std::ofstream(file.Path()) << "new";
        file.Commit();
    }
    umask(mask);
    EXPECT_EQ(Read(target), "new");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(OutputFileTest, RefusesWhatMustNotBeWritten)
{
    const std::string input = Make("in.avi", "input");
    const std::string kept = Make("kept.avi", "kept");
    const std::string readOnly = Make("ro.avi", "ro");
    fs::permissions(readOnly, fs::perms::owner_read);
    fs::create_hard_link(input, dir_ / "hard.avi");
    fs::create_symlink(input, dir_ / "soft.avi");
    const struct {
        std::string path;
        Overwrite policy;
        const char* words;
    } cases[] = {
        {input, Overwrite::Always, "is the input file"},
        {(dir_ / "hard.avi").string(), Overwrite::Always, "is the input file"},
        {(dir_ / "soft.avi").string(), Overwrite::Always, "is the input file"},
        {dir_.string(), Overwrite::Always, "is a folder"},
        {"/dev/null", Overwrite::Always, "is a device"},
        {readOnly, Overwrite::Always, "read-only"},
        {kept, Overwrite::Never, "left as it is"},
    };
    for (const auto& c : cases) {
        try {
            CheckOutput(c.path, {input}, c.policy);
            ADD_FAILURE() << c.path << " was accepted";
        } catch (const OutputError& error) {
            EXPECT_NE(std::string(error.what()).find(c.words), std::string::npos) << error.what();
        }
    }
    EXPECT_NO_THROW(CheckOutput(kept, {input}, Overwrite::Always));
    EXPECT_NO_THROW(CheckOutput((dir_ / "new.avi").string(), {input}, Overwrite::Never));
    EXPECT_NO_THROW(CheckOutput("-", {"-"}, Overwrite::Never));
    EXPECT_EQ(Read(input), "input");
    EXPECT_EQ(Read(kept), "kept");
}

} // namespace
