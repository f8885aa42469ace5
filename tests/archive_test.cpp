// The archive run and the cabinet writer, on real cabinets read back with cabextract, an
// independent reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <sstream>

#include "archive/archivebuilder.h"
#include "archive/cabinetwriter.h"
#include "tests/testsupport.h"

using namespace mivex;
using mivex::test::TempDir;
using Names = std::vector<std::string>;

namespace {

std::string row(const std::string& source) {
    return "C-N --> " + source + " --> /backup";
}

// The path as the cabinet names it: the full path without its leading "/".
std::string inCab(const std::string& path) {
    return path.substr(1);
}

// The names cabextract lists, in cabinet order, once `cabextract -t` found every file sound;
// empty when it cannot read the cabinet.
Names listCabinet(const std::string& cab, bool sorted = false) {
    Names names;
    if (test::runProcess({"cabextract", "-t", cab}).exitCode != 0) {
        return names;
    }
    std::istringstream lines(test::runProcess({"cabextract", "-l", cab}).output);
    bool inTable = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("-----------+")) {
            inTable = true;
        } else if (inTable && line.find(" | ") != std::string::npos) {
            names.push_back(line.substr(line.rfind(" | ") + 3));
        } else {
            inTable = false;
        }
    }
    if (sorted) {
        std::sort(names.begin(), names.end());
    }
    return names;
}

struct Outcome {
    Names met;  // the files the walks showed
    std::optional<std::string> failure;
};

Outcome build(const std::string& cab, const Names& rows) {
    Outcome outcome;
    ArchiveBuilder builder([&outcome](const std::string& path) {
        outcome.met.push_back(path);
        return true;
    });
    builder.open(cab);
    for (const std::string& r : rows) {
        builder.addRow(r);
    }
    builder.close();
    outcome.failure = builder.failure();
    return outcome;
}

void makeSparse(const std::string& path, off_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

std::unique_ptr<CabinetWriter> openWriter(const std::string& cab) {
    std::string failure;
    auto writer = CabinetWriter::create(failure);
    EXPECT_EQ(writer->open(cab, false, 0, false), "");
    return writer;
}

}  // namespace

TEST(ArchiveRun, ExampleQueueGivesItsFilesInOrderAndExtractsByteForByte) {
    TempDir src, out, extracted;
    const std::string a = src / "a.txt", x = src / "d/x.txt", y = src / "d/e/y.txt";
    test::makeTree(src.path(), {{"a.txt", test::randomBytes(100000, 1)},
                                {"d/x.txt", "x"},
                                {"d/e/y.txt", test::randomBytes(70000, 2)}});
    const Outcome run = build(out / "archive.cab", {row(a), row(src / "d")});
    EXPECT_FALSE(run.failure) << *run.failure;
    EXPECT_EQ(run.met, (Names{x, y}));  // a file source is not shown
    EXPECT_EQ(listCabinet(out / "archive.cab"), (Names{inCab(a), inCab(x), inCab(y)}));
    ASSERT_EQ(test::runProcess({"cabextract", "-q", "-d", extracted.path(), out / "archive.cab"})
                  .exitCode,
              0);
    for (const std::string& p : {a, x, y}) {
        EXPECT_EQ(test::readFile(extracted.path() + p), test::readFile(p)) << p;
    }
    EXPECT_EQ(test::listTree(out.path()), Names{"archive.cab"});  // no partial file left
}

TEST(ArchiveRun, EachFileIsPackedOnceAndOnlyMalformedRowsFail) {
    TempDir src, out;
    test::makeTree(src.path(), {{"d/a.txt", "1"}, {"d/a.txt.bak", "2"}, {"other", "3"}});
    ::mkdir((src / "empty").c_str(), 0755);
    // The longer name first: a prefix must not count as the same path either way round.
    const Outcome run =
        build(out / "x.cab", {row(src / "d/a.txt.bak"), row(src / "d/a.txt"), row(src / "d"),
                              row(src / "d"), row(src / "gone"), row(src / "empty"),
                              row(src / "other"), "not an entry", row(src / "other")});
    EXPECT_EQ(run.failure, "The queue row \"not an entry\" names no source.");
    EXPECT_EQ(listCabinet(out / "x.cab", true),
              (Names{inCab(src / "d/a.txt"), inCab(src / "d/a.txt.bak"), inCab(src / "other")}));
    EXPECT_EQ(run.met.size(), 4u);  // files met again are still shown, in both walks of "d"
}

// A link inside a queued folder is packed as the file it leads to, as a queued link is; one that
// leads nowhere, loops, or leads to a folder or a FIFO is a failure, and the walk goes on.
TEST(ArchiveRun, LinksInATreePackTheirFileOrFailWithoutEndingTheWalk) {
    const struct {
        const char* what;
        std::function<int(const TempDir&)> make;  // makes t/x
        const char* failure;                      // nullptr: t/x is packed
    } cases[] = {
        {"link to a file outside",
         [](const TempDir& src) {
             return ::symlink((src / "outside").c_str(), (src / "t/x").c_str());
         },
         nullptr},
        {"dangling link",
         [](const TempDir& src) { return ::symlink("gone", (src / "t/x").c_str()); },
         ": the link leads nowhere (No such file or directory)."},
        {"looping link", [](const TempDir& src) { return ::symlink("x", (src / "t/x").c_str()); },
         ": the link leads nowhere (Too many levels of symbolic links)."},
        {"link to a folder",
         [](const TempDir& src) { return ::symlink("..", (src / "t/x").c_str()); },
         ": it is a link to something that is not a regular file."},
        {"link to a FIFO",
         [](const TempDir& src) {
             return ::mkfifo((src / "fifo").c_str(), 0644) |
                    ::symlink((src / "fifo").c_str(), (src / "t/x").c_str());
         },
         ": it is a link to something that is not a regular file."},
        {"FIFO", [](const TempDir& src) { return ::mkfifo((src / "t/x").c_str(), 0644); },
         ": it is not a regular file."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir src, out;
        test::makeTree(src.path(), {{"t/1", "1"}, {"t/sub/2", "2"}, {"outside", "o"}});
        ASSERT_EQ(c.make(src), 0);
        const Outcome run = build(out / "x.cab", {row(src / "t")});
        Names packed{inCab(src / "t/1"), inCab(src / "t/sub/2")};
        if (c.failure) {
            EXPECT_EQ(run.failure, "Cannot add " + (src / "t/x") + c.failure);
        } else {
            EXPECT_FALSE(run.failure) << *run.failure;
            packed.push_back(inCab(src / "t/x"));
        }
        EXPECT_EQ(listCabinet(out / "x.cab", true), packed);
    }
}

TEST(ArchiveRun, AQueuedLinkIsFollowedAndTheArchiveDoesNotPackItself) {
    TempDir src;
    test::makeTree(src.path(), {{"real/f", "f"}});
    ASSERT_EQ(::symlink((src / "real").c_str(), (src / "via").c_str()), 0);
    const Outcome run = build(src / "real/self.cab", {row(src / "via")});
    EXPECT_FALSE(run.failure) << *run.failure;
    EXPECT_EQ(listCabinet(src / "real/self.cab"), Names{inCab(src / "via/f")});
}

TEST(ArchiveRun, NamesACabinetCannotHoldAreFailures) {
    TempDir src, out;
    test::writeFile(src / "ok-é.txt", "u");
    test::writeFile(src / "back\\slash", "b");
    test::writeFile(src / "bad\xff", "n");
    const std::string deep = src.path() + "/" + std::string(253 - src.path().size(), 'd');
    test::makeTree(deep, {{"f", "just fits"}, {"ff", "one byte too long"}});
    ASSERT_EQ(inCab(deep + "/f").size(), CabinetWriter::kMaxNameBytes);

    for (const std::string& bad : {src / "back\\slash", src / "bad\xff", deep + "/ff"}) {
        const Outcome run = build(out / "x.cab", {row(bad), row(src / "ok-é.txt")});
        EXPECT_TRUE(run.failure && run.failure->starts_with("Cannot add " + bad)) << bad;
        EXPECT_EQ(listCabinet(out / "x.cab"), Names{inCab(src / "ok-é.txt")});
    }
    EXPECT_FALSE(build(out / "y.cab", {row(deep + "/f"), row(src / "ok-é.txt")}).failure);
    EXPECT_EQ(listCabinet(out / "y.cab"), (Names{inCab(deep + "/f"), inCab(src / "ok-é.txt")}));
}

// The writer's own guarantees: past a limit, after a failed open, or when a file changes before
// the cabinet is written, every later call fails and nothing is left behind.
TEST(CabinetWriter, CountsDataBytesUpToTheLimitExactly) {
    TempDir src, out;
    makeSparse(src / "limit", static_cast<off_t>(CabinetWriter::kMaxBytes));
    makeSparse(src / "byte", 1);
    auto writer = openWriter(out / "x.cab");
    EXPECT_EQ(writer->add(src / "limit", src / "limit"), "");
    const std::string refused = writer->add(src / "byte", src / "byte");
    EXPECT_NE(refused.find("2,147,450,880 bytes"), std::string::npos) << refused;
    EXPECT_EQ(writer->add(src / "byte", src / "other"), refused);
    EXPECT_EQ(writer->close(), refused);
    EXPECT_EQ(test::listTree(out.path()), Names{});
}

TEST(CabinetWriter, AFailedOpenIsRepeatedByEveryLaterCall) {
    TempDir src;
    test::writeFile(src / "file", "f");
    ::mkdir((src / "folder").c_str(), 0755);
    for (const std::string& bad : {src / "file/x.cab", src / "folder"}) {
        std::string failure;
        auto writer = CabinetWriter::create(failure);
        const std::string opened = writer->open(bad, false, 0, false);
        EXPECT_TRUE(opened.starts_with("Cannot create the archive file " + bad + ": ")) << opened;
        EXPECT_EQ(writer->add(src / "file", src / "file"), opened);
        EXPECT_EQ(writer->close(), opened);
    }
    EXPECT_EQ(test::listTree(src.path()), (Names{"file", "folder/"}));
}

TEST(CabinetWriter, AFileGoneOrChangedBeforeCloseFailsTheCabinet) {
    TempDir src, out;
    for (bool remove : {true, false}) {
        test::writeFile(src / "a", "a");
        test::writeFile(src / "b", test::randomBytes(40000, 3));
        auto writer = openWriter(out / "x.cab");
        ASSERT_EQ(writer->add(src / "a", src / "a"), "");
        ASSERT_EQ(writer->add(src / "b", src / "b"), "");
        if (remove) {
            ::unlink((src / "a").c_str());
        } else {
            test::writeFile(src / "a", "grown");  // would shift every later file's data
        }
        const std::string closed = writer->close();
        EXPECT_NE(closed.find(src / "a"), std::string::npos) << closed;
        EXPECT_EQ(test::listTree(out.path()), Names{});
    }
}

TEST(CabinetWriter, ReplacesAnExistingFileAndRefusesAnEmptyCabinet) {
    TempDir src, out;
    test::writeFile(src / "f", "new");
    test::writeFile(out / "x.cab", "old contents");
    EXPECT_FALSE(build(out / "x.cab", {row(src / "f")}).failure);
    EXPECT_EQ(listCabinet(out / "x.cab"), Names{inCab(src / "f")});
    // No reader accepts a cabinet without files, so none is written.
    EXPECT_TRUE(build(out / "none.cab", {row(src / "missing")}).failure);
    EXPECT_EQ(test::listTree(out.path()), Names{"x.cab"});
}
