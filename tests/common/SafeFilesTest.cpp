#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/Fingerprint.h"
#include "common/Paths.h"
#include "common/SafeWrite.h"
#include "common/SignalCleanup.h"

using namespace scarlex;
namespace fs = std::filesystem;

namespace {

class Folder : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("scarlex-common-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string At(const std::string& name) const { return (dir / name).string(); }

    static void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static unsigned Mode(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
    }
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

std::span<const uint8_t> Bytes(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

}  // namespace

TEST_F(Folder, SameFileComparesFilesNotTexts) {
    Write(At("a.jpg"), "a");
    fs::create_directory(dir / "sub");
    const std::string abs = At("a.jpg");
    EXPECT_TRUE(SameFile(abs, At("./a.jpg")));
    EXPECT_TRUE(SameFile(abs, At("sub/../a.jpg")));
    EXPECT_TRUE(SameFile(abs, At("sub/../sub/../a.jpg")));
    EXPECT_FALSE(SameFile(abs, At("sub/a.jpg")));
    // Not there yet: the same place once written.
    EXPECT_TRUE(SameFile(At("sub/b.jpg"), At("./sub//b.jpg")));
    EXPECT_FALSE(SameFile(At("sub/b.jpg"), At("b.jpg")));
    // Another name of the same file, through a link to the folder or a hard link.
    fs::create_directory_symlink(dir, dir / "link");
    EXPECT_TRUE(SameFile(At("sub/new.jpg"), At("link/sub/new.jpg")));
    fs::create_hard_link(abs, dir / "hard.jpg");
    EXPECT_TRUE(SameFile(abs, At("hard.jpg")));
    EXPECT_FALSE(SameFile("", ""));
}

TEST_F(Folder, WritingBesideReplacesWholeAndKeepsThePermissionBits) {
    const std::string target = At("photo.jpg");
    Write(target, "old");
    ::chmod(target.c_str(), 0600);
    ASSERT_EQ(WriteFileBeside(target, Bytes("new content")), "");
    EXPECT_EQ(Read(target), "new content");
    EXPECT_EQ(Mode(target), 0600u);
    EXPECT_EQ(Listing(), std::vector<std::string>{"photo.jpg"});

    // A given file's bits win.
    PlaceOptions like;
    like.permissionsFrom = target;
    ASSERT_EQ(WriteFileBeside(At("fresh.jpg"), Bytes("y"), like), "");
    EXPECT_EQ(Mode(At("fresh.jpg")), 0600u);

    // No replace: the file already there stays.
    PlaceOptions keep;
    keep.noReplace = true;
    EXPECT_NE(WriteFileBeside(target, Bytes("clobber"), keep).find("already exists"), std::string::npos);
    EXPECT_EQ(Read(target), "new content");

    // Through a link: the file it names changes, the link stays a link.
    fs::create_symlink(target, dir / "alias.jpg");
    ASSERT_EQ(WriteFileBeside(At("alias.jpg"), Bytes("via link")), "");
    EXPECT_TRUE(fs::is_symlink(dir / "alias.jpg"));
    EXPECT_EQ(Read(target), "via link");

    // A folder that does not exist: a reason, and nothing anywhere.
    EXPECT_NE(WriteFileBeside(At("none/x.jpg"), Bytes("x")), "");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"alias.jpg", "fresh.jpg", "photo.jpg"}));
}

TEST_F(Folder, AnAbandonedOrFailedWriteLeavesTheTargetAndNoTemporary) {
    const std::string target = At("settings.ini");
    Write(target, "kept");
    {
        FileBeside file(target);
        ASSERT_TRUE(file.ok());
        ASSERT_TRUE(file.Write(Bytes("half")));
        EXPECT_EQ(Listing().size(), 2u) << "the temporary sits beside the target";
    }  // no commit
    EXPECT_EQ(Read(target), "kept");
    EXPECT_EQ(Listing(), std::vector<std::string>{"settings.ini"});

    // A pipe is written into, never replaced by a plain file.
    const std::string pipe = At("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(WriteFileBeside(pipe, Bytes("streamed")), "");
    char got[16] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 8);
    EXPECT_STREQ(got, "streamed");
    ::close(reader);
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_NE(PlaceFile(target, pipe), "") << "a finished file is never renamed over a pipe";
    EXPECT_EQ(Read(target), "kept");

}

TEST_F(Folder, TemporariesGoWhenTheProcessIsTerminated) {
    const std::string target = At("out.jpg");
    const std::string folder = At(".work");
    Write(target, "original");
    // The child dies of SIGTERM in the middle of writing, with a
    // registered folder of files as well.
    EXPECT_EXIT(
        {
            fs::create_directory(folder);
            Write(folder + "/one", "1");
            Write(folder + "/two", "2");
            RegisterTemporaryFolder(folder.c_str());
            FileBeside file(target);
            file.Write(Bytes("partial"));
            ::kill(::getpid(), SIGTERM);
            ::pause();
        },
        ::testing::KilledBySignal(SIGTERM), "");
    EXPECT_EQ(Listing(), std::vector<std::string>{"out.jpg"});
    EXPECT_EQ(Read(target), "original");
}

TEST_F(Folder, FingerprintsSeeEveryChange) {
    const std::string text = "The quick brown fox jumps over the lazy dog, twice over.";
    ByteHasher whole, pieces;
    whole.Add(Bytes(text));
    for (std::size_t at = 0; at < text.size(); at += 3) pieces.Add(Bytes(text.substr(at, 3)));
    EXPECT_EQ(whole.Value(), pieces.Value()) << "the split must not matter";

    const std::string path = At("p.jpg");
    Write(path, text);
    FileFingerprint a, c;
    ASSERT_EQ(FingerprintFile(path, a, At("copy.jpg")), "");
    EXPECT_EQ(Read(At("copy.jpg")), text);
    EXPECT_EQ(a.hash, whole.Value());
    // One byte changed, size kept and the old time put back: the hash sees it.
    struct stat st {};
    ::stat(path.c_str(), &st);
    std::string changed = text;
    changed[20] ^= 1;
    Write(path, changed);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    ASSERT_EQ(FingerprintFile(path, c), "");
    EXPECT_EQ(c.mtimeNs, a.mtimeNs);
    EXPECT_FALSE(a.Matches(c));
}
