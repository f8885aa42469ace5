// The archive run and the cabinet writer, on real cabinets read back by cabextract.
#include <sstream>

#include "archive/archivebuilder.h"
#include "archive/cabinetwriter.h"
#include "tests/testsupport.h"

using namespace mivex;
using namespace mivex::test;

namespace {

struct Outcome {
    std::optional<std::string> failure;
    Names met;     // the files the walks showed
    Names packed;  // the files `cabextract -t` finds sound, in cabinet order, relative to the root
};

// Packs into `cab` each source, a path below `root`.
Outcome pack(const std::string& cab, const std::string& root, const Names& sources) {
    Outcome outcome;
    ArchiveBuilder builder([&outcome](const std::string& path) {
        outcome.met.push_back(path);
        return true;
    });
    builder.open(cab);
    for (const std::string& s : sources) {
        builder.addSource(root + "/" + s);
    }
    builder.close();
    outcome.failure = builder.failure();
    // A cabinet names a file by its full path without the leading "/".
    const ProcessResult test = runProcess({"cabextract", "-t", cab});
    std::istringstream lines(test.out);
    for (std::string line; test.exitCode == 0 && std::getline(lines, line);) {
        if (const std::size_t ok = line.rfind("  OK  "); line.starts_with("  ") && ok > 2) {
            outcome.packed.push_back(line.substr(2, ok - 2).substr(root.size()));
        }
    }
    return outcome;
}

}  // namespace

TEST(ArchiveRun, QueueIsPackedInOrderOnceEachAndExtractsByteForByte) {
    TempDir src, out, extracted;
    plantTree(src.path(), {"a.txt=" + randomBytes(100000, 1), "d/x.txt=x",
                           "d/e/y.txt=" + randomBytes(70000, 2)});
    const Outcome run = pack(out / "archive.cab", src.path(), {"a.txt", "d"});
    EXPECT_EQ(run.failure, std::nullopt);
    EXPECT_EQ(run.met, (Names{src / "d/x.txt", src / "d/e/y.txt"}));  // a file source is not shown
    EXPECT_EQ(run.packed, (Names{"a.txt", "d/x.txt", "d/e/y.txt"}));
    ASSERT_EQ(
        runProcess({"cabextract", "-q", "-d", extracted.path(), out / "archive.cab"}).exitCode, 0);
    EXPECT_EQ(describeTree(extracted.path() + src.path()), describeTree(src.path()));
    // A cabinet is replaced; a queued link followed; none without files (no reader takes it) made.
    plantTree(src.path(), {"via->d"});
    EXPECT_EQ(pack(out / "archive.cab", src.path(), {"via"}).packed,
              (Names{"via/x.txt", "via/e/y.txt"}));
    EXPECT_TRUE(pack(out / "none.cab", src.path(), {"missing"}).failure);
    EXPECT_EQ(listTree(out.path()), Names{"archive.cab"});

    // Only a malformed row fails; a prefix is not the same path; the cabinet, inside "d", does not
    // pack itself, but it and the files met again are shown, in both walks of "d".
    plantTree(src.path(), {"d/x.txt.bak=2", "empty/"});
    const Outcome again =
        pack(src / "d/x.cab", src.path(),
             {"d/x.txt.bak", "d/x.txt", "d", "d", "gone", "empty", "a.txt", "a.txt"});
    EXPECT_EQ(again.failure, std::nullopt);
    EXPECT_EQ(again.packed, (Names{"d/x.txt.bak", "d/x.txt", "d/e/y.txt", "a.txt"}));
    EXPECT_EQ(again.met.size(), 8u);
}

// A link is packed as the file it leads to; anything else, and a name a cabinet cannot hold, fails
// without ending the walk.
TEST(ArchiveRun, WhatCannotBePackedFailsWithoutEndingTheWalk) {
    TempDir src, out;
    const std::pair<std::string, std::string> cases[] = {
        // what t/x is (a link, or a FIFO: ""), and the failure ("": it is packed)
        {"->../outside", ""},
        {"->gone", ": the link leads nowhere (No such file or directory)."},
        {"->x", ": the link leads nowhere (Too many levels of symbolic links)."},
        {"->..", ": it is a link to something that is not a regular file."},
        {"", ": it is not a regular file."},
    };
    const std::string x = src / "t/x";
    for (const auto& [what, failure] : cases) {
        removeTree(src / "t");
        plantTree(src.path(), {"outside=o", "t/sub/2=2", "t/x" + (what.empty() ? "/" : what)});
        ASSERT_TRUE(!what.empty() || (::rmdir(x.c_str()) == 0 && ::mkfifo(x.c_str(), 0644) == 0));
        const Outcome run = pack(out / "x.cab", src.path(), {"t"});
        EXPECT_EQ(run.failure.value_or(""), failure.empty() ? "" : "Cannot add " + x + failure);
        EXPECT_EQ(run.packed, (failure.empty() ? Names{"t/x", "t/sub/2"} : Names{"t/sub/2"}))
            << what;
    }
    // The longest name a cabinet holds, and one byte more.
    const std::string deep(253 - src.path().size(), 'd');
    plantTree(src.path(), {"ok-é.txt=u", "back\\slash=b", "bad\xff=n", deep + "/f=just fits",
                           deep + "/ff=one byte too long"});
    for (const std::string& bad : Names{"back\\slash", "bad\xff", deep + "/ff"}) {
        const Outcome run = pack(out / "x.cab", src.path(), {bad, deep + "/f", "ok-é.txt"});
        EXPECT_TRUE(run.failure && run.failure->starts_with("Cannot add " + src / bad)) << bad;
        EXPECT_EQ(run.packed, (Names{deep + "/f", "ok-é.txt"}));
    }
}

// Past a limit, after a failed open, or when a file changes before close: every later call fails
// the same way, and nothing is left behind.
TEST(CabinetWriter, RefusalsAreRepeatedAndLeaveNothingBehind) {
    TempDir src, out;
    plantTree(src.path(), {"byte=b", "limit=", "folder/"});
    ASSERT_EQ(::truncate((src / "limit").c_str(), off_t(CabinetWriter::kMaxBytes) - 1), 0);
    std::string failure;
    const auto refusesAgain = [&](CabinetWriter& writer, const std::string& refusal) {
        EXPECT_EQ(writer.add(src / "byte", "again"), refusal);
        EXPECT_EQ(writer.close(), refusal);
    };
    // Up to a limit (`count` files of `fill`, then a byte), and one past it.
    const auto limit = [&](const char* fill, std::uint64_t count, const std::string& refused) {
        auto writer = CabinetWriter::create(failure);
        ASSERT_EQ(writer->open(out / "x.cab", false, 0, false), "");
        for (std::uint64_t i = 0; i < count; ++i) {
            ASSERT_EQ(writer->add(src / fill, std::to_string(i)), "");
        }
        EXPECT_EQ(writer->add(src / "byte", "byte"), "");
        const std::string refusal = writer->add(src / "byte", "over");
        EXPECT_NE(refusal.find(refused), std::string::npos) << refusal;
        refusesAgain(*writer, refusal);
    };
    limit("limit", 1, "2,147,450,880 bytes");
    limit("byte", CabinetWriter::kMaxFiles - 1, "65,535 files");
    for (const std::string& bad : {src / "byte/x.cab", src / "folder"}) {
        auto writer = CabinetWriter::create(failure);
        const std::string refusal = writer->open(bad, false, 0, false);
        EXPECT_TRUE(refusal.starts_with("Cannot create the archive file " + bad + ": ")) << refusal;
        refusesAgain(*writer, refusal);
    }
    // A file removed, or grown (which would shift every later file's data), before close.
    for (bool remove : {true, false}) {
        writeFile(src / "a", "a");
        auto writer = CabinetWriter::create(failure);
        ASSERT_EQ(writer->open(out / "z.cab", false, 0, false), "");
        ASSERT_EQ(writer->add(src / "a", "a"), "");
        remove ? (void)::unlink((src / "a").c_str()) : writeFile(src / "a", "grown");
        const std::string closed = writer->close();
        EXPECT_NE(closed.find(src / "a"), std::string::npos) << closed;
    }
    EXPECT_EQ(listTree(out.path()), Names{});
    EXPECT_EQ(listTree(src.path()), (Names{"a", "byte", "folder/", "limit"}));
}

TEST(CabinetWriter, WhatAKilledWriteLeftIsRemovedByTheNextWrite) {
    TempDir src, out;
    plantTree(src.path(), {"big=" + randomBytes(300000, 3)});
    expectKilledWriteCleanedUp(out.path(), [&](const std::string& cab) {
        return !pack(cab, src.path(), {"big"}).failure;
    });
}
