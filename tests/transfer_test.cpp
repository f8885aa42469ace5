// The transfer engine on the real filesystem: what arrives where, with which bytes, and what stays;
// its pool of copying threads: all tasks run, the first failure stays, a waiting feeder gets ticks.
#include "engine/transfer.h"

#include <fcntl.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "engine/workpool.h"
#include "platform/resultcodes.h"
#include "tests/testsupport.h"

using namespace mivex;
using namespace mivex::test;

// Relative destinations are made from the working folder; a copy keeps holes and fails onto another
// name of the same file; a move on one filesystem renames.
TEST(TransferCopy, IntoRelativeFoldersKeepingHolesAndMovingByRename) {
    TempDir src, dst;
    plantTree(src.path(), {"f.txt=f", "tree/a/b=b", "sparse=head", "x/"});
    const int fd = ::open((src / "sparse").c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, "tail", 4, (64 << 20) - 4), 4);
    ::close(fd);
    const ino_t treeInode = lstatOf(src / "tree").st_ino;
    const ino_t fileInode = lstatOf(src / "f.txt").st_ino;
    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(dst.path());
    for (const std::string dest : {"d", "d", "ab/c", "abc/d", "./e/f"}) {
        EXPECT_EQ(transferItem({src / "f.txt", dest, kCopy, kN}).code, 0) << dest;
    }
    std::filesystem::remove("d/f - Copy.txt");  // with its copies gone, the numbering starts again
    EXPECT_EQ(transferItem({src / "f.txt", "d", kCopy, kN}).code, 0);
    EXPECT_EQ(transferItem({src / "sparse", "d", kCopy, kN}).code, 0);
    ASSERT_EQ(::link("d/f.txt", (src / "x/f.txt").c_str()), 0);
    EXPECT_EQ(transferItem({src / "x/f.txt", "d", kCopy, kO}).code, kSameFile);
    EXPECT_EQ(transferItem({src / "tree", "m", kMove, kN}).code, 0);
    EXPECT_EQ(transferItem({src / "f.txt", "m", kMove, kN}).code, 0);
    std::filesystem::current_path(home);
    EXPECT_EQ(listTree(dst.path()),
              (Names{"ab/", "ab/c/", "ab/c/f.txt", "abc/", "abc/d/", "abc/d/f.txt", "d/",
                     "d/f - Copy.txt", "d/f.txt", "d/sparse", "e/", "e/f/", "e/f/f.txt", "m/",
                     "m/f.txt", "m/tree/", "m/tree/a/", "m/tree/a/b"}));
    EXPECT_EQ(lstatOf(dst / "m/tree").st_ino, treeInode);
    EXPECT_EQ(lstatOf(dst / "m/f.txt").st_ino, fileInode);
    EXPECT_EQ(listTree(src.path()), (Names{"sparse", "x/", "x/f.txt"}));
    EXPECT_EQ(readFile(dst / "d/f.txt"), "f");
    EXPECT_EQ(readFile(dst / "d/sparse"), readFile(src / "sparse"));
    if (lstatOf(src / "sparse").st_blocks * 512 < (1 << 20)) {  // where this filesystem keeps holes
        EXPECT_LT(lstatOf(dst / "d/sparse").st_blocks * 512, 1 << 20) << "holes were filled";
    }
}

namespace {

// Each source to each destination by each of `ops` ("CN" copy keeping both, "MO" move overwriting),
// each giving `code`; the tree changes only by "-gone" or new entries (a moved source goes too).
struct Placing {
    const char *what, *before, *sources, *ops;
    int code;
    const char* changes;
    const char* dests = "d";
    friend void PrintTo(const Placing& c, std::ostream* out) { *out << c.what; }
};

Names split(const char* text, char by) {
    Names out;
    std::istringstream in(text);
    for (std::string piece; std::getline(in >> std::ws, piece, by);) {
        out.push_back(piece);
    }
    return out;
}

std::string nameOf(const std::string& entry) {
    const std::string name = entry.substr(0, std::min(entry.find("->"), entry.find('=')));
    return name.ends_with("/") ? name.substr(0, name.size() - 1) : name;
}

const Placing kPlacings[] = {
    {"AsGiven", "s/docs/x=x, s/short->docs, d/", "s/docs/, s/short", "CN", 0,
     "d/docs/, d/docs/x=x, d/short->docs"},
    {"MissingSource", "s/, d/", "s/ghost", "CN MO", kFileNotFound, ""},
    {"DestinationThroughAFile", "s/f=f, d/plain=p", "s/f", "CN", kPathNotFound, "",
     "d/plain, d/plain/sub"},
    {"MergesFolders", "s/p/same=new, s/p/sub/added=a, d/p/same=old, d/p/extra=keep, d/p/sub/mine=m",
     "s/p", "CO MO", 0, "d/p/same=new, d/p/sub/added=a", "d, @d"},
    // A link at the name is replaced, never written through, even when it dangles.
    {"FileReplacesLinks", "s/f=new, s/g=new, e/victim=v, d/f->../e/victim, d/g->../e/made",
     "s/f, s/g", "CO MO", 0, "d/f=new, d/g=new"},
    {"LinkReplacesFile", "d/f=old, s/other=kept, s/f->other", "s/f", "CO MO", 0, "d/f->other"},
    // A file never replaces a folder nor a folder a file, also inside a merge or behind a link.
    {"KindsNeverMix",
     "s/x=file, d/x/inner=i, s/y/inner=i, d/y=file, s/p/clash=f, d/p/clash/keep=k, s/n/a=a, "
     "s/n/sub/b=b, e/v=v, d/n->../e",
     "s/x, s/y, s/p, s/n", "CO MO", kAlreadyExists, ""},
    // A relative link is read from its own folder: onto the file it leads to, it fails.
    {"LinkOntoItsTargetCopied", "s/f->../d/f, s/t/f->../../d/t/f, s/t/o=o, d/f=p, d/t/f=p",
     "s/f, s/t", "CO", kSameFile, "d/t/o=o"},
    {"LinkOntoItsTargetMoved", "s/f->../d/f, s/t/f->../../d/t/f, s/t/o=o, d/f=p, d/t/f=p",
     "s/f, s/t", "MO", kSameFile, "d/t/o=o, -s/t/o", "d, @d"},
    // The copy number goes before the last extension of a file; folders never split at a dot.
    {"KeepBothNumbers",
     "s/a.tar.gz=a, s/README=r, s/.rc=c, s/p.2024/i=i, d/a.tar.gz=, d/README=, d/.rc=, d/p.2024/",
     "s/a.tar.gz, s/README, s/.rc, s/p.2024, s/a.tar.gz, s/README, s/.rc, s/p.2024", "CN", 0,
     "d/a.tar - Copy.gz=a, d/a.tar - Copy (2).gz=a, d/README - Copy=r, d/README - Copy (2)=r, "
     "d/.rc - Copy=c, d/.rc - Copy (2)=c, d/p.2024 - Copy/, d/p.2024 - Copy/i=i, "
     "d/p.2024 - Copy (2)/, d/p.2024 - Copy (2)/i=i"},
    // Keep both never writes through a link at the name or at a copy name.
    {"KeepBothPassesLinks",
     "s/f.txt=new, s/t/a=a, e/victim=v, d/f.txt->../e/victim, d/f - Copy.txt->../e/made, d/t->../e",
     "s/f.txt, s/t", "CN MN", 0, "d/f - Copy (2).txt=new, d/t - Copy/, d/t - Copy/a=a"},
    {"OwnFolderCopyKeepsBoth", "w/f.txt=me, w/box/in=in", "w/f.txt, w/box", "CN", 0,
     "w/f - Copy.txt=me, w/box - Copy/, w/box - Copy/in=in", "w"},
    {"OwnFolderOtherwiseTouchesNothing", "w/f=bytes, w/box/in=in, alias->w", "w/f, w/box",
     "CO MO MN", kSameFile, "", "w, w/, alias"},
    {"FolderIntoItselfOrBelow", "w/src/sub/x=x, w/src/y=y, door->w/src/sub", "w/src", "CO CN MO MN",
     kIntoItself, "", "w/src, w/src/, w/src/sub, w/src/sub/new/deeper, door"},
    {"SiblingWithCommonPrefixIsNotInside", "w/data/x=x", "w/data", "CN", 0,
     "w/data2/, w/data2/data/, w/data2/data/x=x", "w/data2"},
};

class TransferPlacing : public ::testing::TestWithParam<Placing> {};

}  // namespace

TEST_P(TransferPlacing, LandsWhereTheRuleSays) {
    const Placing& c = GetParam();
    for (const std::string& dest : split(c.dests, ',')) {
        for (const std::string& ops : split(c.ops, ' ')) {
            SCOPED_TRACE(dest + " " + ops);
            TempDir root;
            plantTree(root.path(), split(c.before, ','));
            // "@d": d reached through a bind mount, where a move copies as across filesystems.
            std::optional<BindMount> bind;
            if (dest.starts_with("@") && !bind.emplace(root / dest.substr(1), false).ok()) {
                GTEST_SKIP() << bind->reason();
            }
            const std::string to = bind ? bind->path() : root / dest;
            Names expected = describeTree(root.path());
            Names changes = split(c.changes, ',');
            const TransferKind kind = ops[0] == 'C' ? kCopy : kMove;
            const CollisionRule rule = ops[1] == 'N' ? kN : kO;
            for (const std::string& source : split(c.sources, ',')) {
                EXPECT_EQ(transferItem({root / source, to, kind, rule}).code, c.code);
                if (kind == kMove && c.code == 0) {
                    changes.push_back("-" + source);
                }
            }
            for (const std::string& change : changes) {
                const bool gone = change.starts_with("-");
                const std::string name = nameOf(gone ? change.substr(1) : change);
                std::erase_if(expected, [&](const std::string& e) {
                    return nameOf(e) == name || e.starts_with(name + "/");
                });
                if (!gone) {
                    expected.push_back(change);
                }
            }
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(describeTree(root.path()), expected);
        }
    }
}

// A move with "U" from a tmpfs to another filesystem removes a source file only when the file at
// the destination holds its bytes: one of equal size and time but other bytes (a restore,
// touch -r) is replaced, also past the first block; a copy with "U" leaves it, by size and time.
TEST(TransferUpdate, MoveAcrossComparesTheBytesOfEqualLookingFiles) {
    const std::string big = randomBytes(600 << 10, 7);
    for (const TransferKind kind : {kMove, kCopy}) {
        SCOPED_TRACE(kind == kMove ? "move" : "copy");
        MIVEX_MOUNT_OR_SKIP(from, TmpfsMount, 4 << 20);
        TempDir to;
        plantTree(from.path(), {"f.txt=new bytes", "p/same=same", "p/other=new!"});
        plantTree(to.path(), {"f.txt=old bytes", "p/same=same", "p/other=old!"});
        writeFile(from / "p/big", big);
        writeFile(to / "p/big", big.substr(0, big.size() - 1) + "?");
        for (const char* f : {"f.txt", "p/same", "p/other", "p/big"}) {
            setTimes(from / f, {1000000000, 123456789});
            setTimes(to / f, {1000000000, 123456789});
        }
        const TransferOutcome file = transferItem({from / "f.txt", to.path(), kind, kU});
        const TransferOutcome folder = transferItem({from / "p", to.path(), kind, kU});
        EXPECT_EQ(file.code + folder.code, 0);
        const bool moved = kind == kMove;
        EXPECT_EQ(file.filesLeft + folder.filesLeft, moved ? 1u : 4u);
        EXPECT_EQ(readFile(to / "f.txt"), moved ? "new bytes" : "old bytes");
        EXPECT_EQ(readFile(to / "p/other"), moved ? "new!" : "old!");
        EXPECT_EQ(readFile(to / "p/big") == big, moved);
        EXPECT_EQ(listTree(from.path()),
                  moved ? Names{} : (Names{"f.txt", "p/", "p/big", "p/other", "p/same"}));
    }
}

// `to`, a filesystem that keeps whole seconds or less, as the destination of "U" reruns: a
// rerun, and a move after it, leave every file as it is; a time moved past FAT's 2 s is a change.
void expectRerunsLeaveEveryFile(const std::string& to) {
    TempDir src;
    const Names files{"t/a", "t/b", "t/c", "t/d"};
    plantTree(src.path(), {"t/a=a", "t/b=bb", "t/c=ccc", "t/d=dddd"});
    // Odd and even seconds, nanoseconds near either end.
    const timespec times[] = {
        {1000000001, 999999999}, {1000000002, 1}, {1000000003, 500000000}, {1000000000, 0}};
    for (std::size_t i = 0; i < files.size(); ++i) {
        setTimes(src / files[i], times[i]);
    }
    ASSERT_EQ(transferItem({src / "t", to, kCopy, kU}).code, 0);
    ASSERT_EQ(lstatOf(to + "/t/a").st_mtim.tv_nsec, 0) << "the premise: times kept coarser";
    std::vector<ino_t> inodes;
    for (const std::string& f : files) {
        inodes.push_back(lstatOf(to + "/" + f).st_ino);
    }
    TransferOutcome out = transferItem({src / "t", to, kCopy, kU});
    EXPECT_EQ(out.code, 0);
    EXPECT_EQ(out.filesLeft, files.size());
    setTimes(src / "t/d", {1000000006, 0});
    out = transferItem({src / "t", to, kMove, kU});
    EXPECT_EQ(out.code, 0);
    EXPECT_EQ(out.filesLeft, files.size() - 1);
    EXPECT_EQ(lstatOf(to + "/t/d").st_mtim.tv_sec, 1000000006);
    for (std::size_t i = 0; i + 1 < files.size(); ++i) {
        EXPECT_EQ(lstatOf(to + "/" + files[i]).st_ino, inodes[i]) << files[i];
    }
    EXPECT_FALSE(exists(src / "t"));
}

TEST(TransferUpdate, RerunsOntoFatLeaveEveryFile) {
    MIVEX_MOUNT_OR_SKIP(stick, FusefatMount, 8);
    expectRerunsLeaveEveryFile(stick.path());
}

TEST(TransferUpdate, RerunsOntoWholeSecondExt4LeaveEveryFile) {
    MIVEX_MOUNT_OR_SKIP(disk, Ext4Mount, 128);
    expectRerunsLeaveEveryFile(disk.path());
}

INSTANTIATE_TEST_SUITE_P(Cases, TransferPlacing, ::testing::ValuesIn(kPlacings),
                         [](const auto& param) { return std::string(param.param.what); });

// Totals from the first call on and a count growing up to them; a stop leaves only whole files.
TEST(TransferProgress, CountsTheTreeAndAStopLeavesOnlyWholeFiles) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 128 << 20);
    TempDir src;
    Names files{"big.bin=" + randomBytes(64 << 20, 5), "tree/empty="};
    for (int i = 0; i < 40; ++i) {
        files.push_back("tree/d" + std::to_string(i % 4) + "/f" + std::to_string(i) + "=" +
                        randomBytes((2 << 20) + i, static_cast<unsigned>(i)));
    }
    plantTree(src.path(), files);
    const Names before = describeTree(src.path());
    const struct {
        const char* item;
        CollisionRule rule;
        bool across, stop;  // across filesystems: a move
    } cases[] = {{"tree", kN, false, false},
                 {"big.bin", kN, false, true},
                 {"tree", kO, false, true},
                 {"big.bin", kO, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        TempDir disk;
        const std::string dst = c.across ? mount.path() : disk / "out";
        std::vector<TransferProgress> calls;
        Monitor rec;  // stopping, where asked, once it has a report
        rec.onReport = [&](const TransferProgress& p) {
            calls.push_back(p);
            rec.stop = c.stop;
        };
        const TransferOutcome out =
            transferItem({src / c.item, dst, c.across ? kMove : kCopy, c.rule}, &rec);
        EXPECT_EQ(out.aborted, c.stop);
        EXPECT_EQ(out.code, 0);
        ASSERT_FALSE(calls.empty());
        for (const auto& p : c.stop ? std::vector<TransferProgress>{} : calls) {
            EXPECT_EQ(p.bytesTotal, 40u * (2u << 20) + 780u);
            EXPECT_EQ(p.filesTotal, 41u);
            EXPECT_TRUE(p.currentFile.starts_with(src / "tree/") && exists(p.currentFile));
        }
        EXPECT_TRUE(std::ranges::is_sorted(calls, {}, &TransferProgress::bytesDone));
        std::size_t arrived = 0;  // whole files only, no temporary ones
        for (const std::string& e : exists(dst) ? describeTree(dst) : Names{}) {
            arrived += e.find('=') != std::string::npos;  // a file, not a folder
            EXPECT_TRUE(std::ranges::binary_search(before, e)) << e.substr(0, e.find('='));
        }
        EXPECT_EQ(arrived < (c.item == std::string("tree") ? 41u : 1u), c.stop) << arrived;
        EXPECT_TRUE(c.stop || calls.back().bytesDone == calls.back().bytesTotal);
    }
    EXPECT_TRUE(describeTree(src.path()) == before);
}

TEST(WorkPool, RunsAllKeepsFirstFailureAndDrainWaits) {
    for (const auto& [threads, line] : {std::pair{1, 1u}, {2, 1u}, {4, 8u}}) {
        std::atomic<int> ran{0};
        int ticks = 0;
        WorkPool pool(threads, line, [&ticks] { ++ticks; });
        for (int i = 0; i < 400; ++i) {
            if (i == 200) {
                pool.drain();  // task 100 has noted its failure: later ones come after it
            }
            pool.submit([&, i] {
                // The first tasks hold every thread, so the line fills and the feeder waits.
                if (i < threads) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(60));
                }
                if (i == 100 || i > 200) {
                    pool.noteFailure(i == 100 ? 7 : 9);
                }
                ++ran;
            });
        }
        pool.drain();
        EXPECT_EQ(ran.load(), 400);
        EXPECT_EQ(pool.failure(), 7);
        EXPECT_GT(ticks, 0);
    }
}

// "U" leaves a file of equal size and modification time as the very file it was (same inode and
// ctime) and replaces one that differs in either, by nanoseconds alone on a filesystem that keeps
// them; a move removes the source of both, and a renaming move simply replaces.
TEST(TransferUpdate, LeavesEqualFilesAndReplacesTheRest) {
    for (const bool move : {false, true}) {
        for (const bool across : {false, true}) {
            SCOPED_TRACE(std::string(move ? "move" : "copy") + (across ? " across" : ""));
            TempDir root;
            plantTree(root.path(),
                      {"s/p/same=x", "s/p/size=longer", "s/p/time=y", "s/p/new=n", "s/p/nanos=z",
                       "d/p/same=x", "d/p/size=short", "d/p/time=y", "d/p/extra=e", "d/p/nanos=z"});
            const timespec then[2] = {{1000000000, 123456789}, {1000000000, 123456789}};
            for (const char* f :
                 {"s/p/same", "s/p/size", "s/p/time", "d/p/same", "d/p/size", "s/p/nanos"}) {
                ASSERT_EQ(::utimensat(AT_FDCWD, (root / f).c_str(), then, 0), 0);
            }
            setTimes(root / "d/p/nanos", {1000000000, 123456788});
            std::optional<BindMount> bind;  // one filesystem seen as two: a move copies
            if (across && !bind.emplace(root / "d", false).ok()) {
                GTEST_SKIP() << bind->reason();
            }
            const std::string to = bind ? bind->path() : root / "d";
            const struct stat before = lstatOf(root / "d/p/same");
            const TransferOutcome out =
                transferItem({root / "s/p", to, move ? kMove : kCopy, CollisionRule::Update});
            EXPECT_EQ(out.code, 0);
            const bool renamed = move && !across;
            const struct stat after = lstatOf(root / "d/p/same");
            EXPECT_EQ(
                after.st_ino == before.st_ino && after.st_ctim.tv_nsec == before.st_ctim.tv_nsec,
                !renamed);
            EXPECT_EQ(out.filesLeft, renamed ? 0u : 1u);
            for (const char* replaced : {"d/p/time", "d/p/nanos"}) {
                EXPECT_EQ(lstatOf(root / replaced).st_mtim.tv_nsec, 123456789) << replaced;
            }
            Names expected{"d/",        "d/p/",       "d/p/extra=e",     "d/p/nanos=z",
                           "d/p/new=n", "d/p/same=x", "d/p/size=longer", "d/p/time=y",
                           "s/"};
            if (!move) {
                expected.insert(expected.end(), {"s/p/", "s/p/nanos=z", "s/p/new=n", "s/p/same=x",
                                                 "s/p/size=longer", "s/p/time=y"});
            }
            EXPECT_EQ(describeTree(root.path()), expected);
        }
    }
}
