// The archive run and the cabinet writer, on real cabinets read back with cabextract, an
// independent reader.
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
using namespace mivex::test;
using Names = std::vector<std::string>;

namespace {

std::string row(const std::string& source) {
    return "C-N --> " + source + " --> /backup";
}

// The path as the cabinet names it: the full path without its leading "/".
std::string inCab(const std::string& path) {
    return path.substr(1);
}

// The names cabextract lists, sorted or in cabinet order, once `cabextract -t` found every file
// sound; empty when it cannot read the cabinet.
Names listCabinet(const std::string& cab, bool sorted = true) {
    Names names;
    if (runProcess({"cabextract", "-t", cab}).exitCode != 0) {
        return names;
    }
    std::istringstream lines(runProcess({"cabextract", "-l", cab}).output);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(" | ") != std::string::npos && !line.starts_with(" File size")) {
            names.push_back(line.substr(line.rfind(" | ") + 3));
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
    makeTree(src.path(), {{"a.txt", randomBytes(100000, 1)},
                          {"d/x.txt", "x"},
                          {"d/e/y.txt", randomBytes(70000, 2)}});
    const Outcome run = build(out / "archive.cab", {row(a), row(src / "d")});
    EXPECT_FALSE(run.failure) << *run.failure;
    EXPECT_EQ(run.met, (Names{x, y}));  // a file source is not shown
    EXPECT_EQ(listCabinet(out / "archive.cab", false), (Names{inCab(a), inCab(x), inCab(y)}));
    ASSERT_EQ(
        runProcess({"cabextract", "-q", "-d", extracted.path(), out / "archive.cab"}).exitCode, 0);
    for (const std::string& p : {a, x, y}) {
        EXPECT_EQ(readFile(extracted.path() + p), readFile(p)) << p;
    }
    EXPECT_EQ(listTree(out.path()), Names{"archive.cab"});  // no partial file left
    // An existing file is replaced; a queued link is followed; a cabinet without files (which
    // no reader accepts) is not written.
    ASSERT_EQ(::symlink((src / "d").c_str(), (src / "via").c_str()), 0);
    EXPECT_FALSE(build(out / "archive.cab", {row(src / "via")}).failure);
    EXPECT_EQ(listCabinet(out / "archive.cab"),
              (Names{inCab(src / "via/e/y.txt"), inCab(src / "via/x.txt")}));
    EXPECT_TRUE(build(out / "none.cab", {row(src / "missing")}).failure);
    EXPECT_EQ(listTree(out.path()), Names{"archive.cab"});
}

TEST(ArchiveRun, EachFileIsPackedOnceAndOnlyMalformedRowsFail) {
    TempDir src;
    makeTree(src.path(), {{"d/a.txt", "1"}, {"d/a.txt.bak", "2"}, {"other", "3"}, {"empty/", ""}});
    // The longer name first: a prefix must not count as the same path either way round. The
    // cabinet is written inside a packed folder, and does not pack itself.
    const Outcome run =
        build(src / "d/x.cab", {row(src / "d/a.txt.bak"), row(src / "d/a.txt"), row(src / "d"),
                                row(src / "d"), row(src / "gone"), row(src / "empty"),
                                row(src / "other"), "not an entry", row(src / "other")});
    EXPECT_EQ(run.failure, "The queue row \"not an entry\" names no source.");
    EXPECT_EQ(listCabinet(src / "d/x.cab"),
              (Names{inCab(src / "d/a.txt"), inCab(src / "d/a.txt.bak"), inCab(src / "other")}));
    // Files met again, and the cabinet itself, are still shown, in both walks of "d".
    EXPECT_EQ(run.met.size(), 6u);
}

// A link inside a queued folder is packed as the file it leads to; one that leads nowhere, loops,
// or leads to a folder or a FIFO is a failure, and the walk goes on. So are names a cabinet cannot
// hold.
TEST(ArchiveRun, WhatCannotBePackedFailsWithoutEndingTheWalk) {
    const std::string notFile = ": it is a link to something that is not a regular file.";
    const struct {
        const char* x;        // "->target": t/x is a link; "fifo": t/x is a FIFO
        const char* failure;  // nullptr: packed
    } cases[] = {
        {"->../outside", nullptr},
        {"->gone", ": the link leads nowhere (No such file or directory)."},
        {"->x", ": the link leads nowhere (Too many levels of symbolic links)."},
        {"->..", notFile.c_str()},
        {"->../fifo", notFile.c_str()},
        {"fifo", ": it is not a regular file."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.x);
        TempDir src, out;
        makeTree(src.path(), {{"t/1", "1"}, {"t/sub/2", "2"}, {"outside", "o"}});
        ASSERT_EQ(::mkfifo((src / "fifo").c_str(), 0644), 0);
        const std::string kind = c.x;
        const bool link = kind.starts_with("->"), fifo = kind == "fifo";
        const std::string x = src / "t/x";
        if (link) {
            ASSERT_EQ(::symlink(kind.substr(2).c_str(), x.c_str()), 0);
        } else if (fifo) {
            ASSERT_EQ(::mkfifo(x.c_str(), 0644), 0);
        }
        const Outcome run = build(out / "x.cab", {row(src / "t")});
        Names packed{inCab(src / "t/1"), inCab(src / "t/sub/2")};
        if (c.failure) {
            EXPECT_TRUE(run.failure && run.failure->starts_with("Cannot add " + x + c.failure))
                << run.failure.value_or("no failure");
        } else {
            EXPECT_FALSE(run.failure) << *run.failure;
            packed.push_back(inCab(x));
            std::sort(packed.begin(), packed.end());
        }
        EXPECT_EQ(listCabinet(out / "x.cab"), packed);
    }
    // Names a cabinet cannot hold; the longest it holds, and one byte more.
    TempDir src, out;
    writeFile(src / "ok-é.txt", "u");
    writeFile(src / "back\\slash", "b");
    writeFile(src / "bad\xff", "n");
    const std::string deep = src.path() + "/" + std::string(253 - src.path().size(), 'd');
    makeTree(deep, {{"f", "just fits"}, {"ff", "one byte too long"}});
    ASSERT_EQ(inCab(deep + "/f").size(), CabinetWriter::kMaxNameBytes);
    for (const std::string& bad : {src / "back\\slash", src / "bad\xff", deep + "/ff"}) {
        const Outcome run =
            build(out / "x.cab", {row(bad), row(deep + "/f"), row(src / "ok-é.txt")});
        EXPECT_TRUE(run.failure && run.failure->starts_with("Cannot add " + bad)) << bad;
        EXPECT_EQ(listCabinet(out / "x.cab"), (Names{inCab(deep + "/f"), inCab(src / "ok-é.txt")}));
    }
}

// Past a limit, after a failed open, or when a file changes before the cabinet is written, every
// later call fails and nothing is left behind.
TEST(CabinetWriter, CountsFilesAndDataBytesUpToTheLimitsExactly) {
    TempDir src, out;
    writeFile(src / "byte", "b");
    writeFile(src / "limit", "");
    ASSERT_EQ(::truncate((src / "limit").c_str(), off_t(CabinetWriter::kMaxBytes) - 1), 0);
    auto writer = openWriter(out / "x.cab");
    EXPECT_EQ(writer->add(src / "limit", inCab(src / "limit")), "");
    EXPECT_EQ(writer->add(src / "byte", "byte"), "");
    const std::string refused = writer->add(src / "byte", "other");
    EXPECT_NE(refused.find("2,147,450,880 bytes"), std::string::npos) << refused;
    EXPECT_EQ(writer->add(src / "byte", "more"), refused);
    EXPECT_EQ(writer->close(), refused);

    writeFile(src / "empty", "");
    auto many = openWriter(out / "y.cab");
    for (std::uint64_t i = 0; i < CabinetWriter::kMaxFiles; ++i) {
        ASSERT_EQ(many->add(src / "empty", std::to_string(i)), "");
    }
    EXPECT_NE(many->add(src / "empty", "last").find("65,535 files"), std::string::npos);
    many.reset();
    EXPECT_EQ(listTree(out.path()), Names{});
}

TEST(CabinetWriter, AFailedOpenIsRepeatedByEveryLaterCall) {
    TempDir src;
    makeTree(src.path(), {{"file", "f"}, {"folder/", ""}});
    for (const std::string& bad : {src / "file/x.cab", src / "folder"}) {
        std::string failure;
        auto writer = CabinetWriter::create(failure);
        const std::string opened = writer->open(bad, false, 0, false);
        EXPECT_TRUE(opened.starts_with("Cannot create the archive file " + bad + ": ")) << opened;
        EXPECT_EQ(writer->add(src / "file", "file"), opened);
        EXPECT_EQ(writer->close(), opened);
    }
    EXPECT_EQ(listTree(src.path()), (Names{"file", "folder/"}));
}

TEST(CabinetWriter, AFileGoneOrChangedBeforeCloseFailsTheCabinet) {
    TempDir src, out;
    for (bool remove : {true, false}) {
        writeFile(src / "a", "a");
        writeFile(src / "b", randomBytes(40000, 3));
        auto writer = openWriter(out / "x.cab");
        ASSERT_EQ(writer->add(src / "a", "a"), "");
        ASSERT_EQ(writer->add(src / "b", "b"), "");
        if (remove) {
            ::unlink((src / "a").c_str());
        } else {
            writeFile(src / "a", "grown");  // would shift every later file's data
        }
        const std::string closed = writer->close();
        EXPECT_NE(closed.find(src / "a"), std::string::npos) << closed;
        EXPECT_EQ(listTree(out.path()), Names{});
    }
}
