// One run of "Make Archive of Source Files" without its windows: the cabinet is opened, the source
// of every queue row is packed into it (a file as it is, a folder with its whole tree, each file
// once however many rows lead to it), and it is closed. Failures do not stop the run; the most
// recent one is kept for the closing message.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "archive/cabinetwriter.h"

namespace mivex {

class ArchiveBuilder {
public:
    // Called before each file a folder walk meets, with its full path: the window shows it.
    // Returning false abandons the run (the user cancelled, or the program is closing).
    using FileMet = std::function<bool(const std::string& path)>;

    explicit ArchiveBuilder(FileMet fileMet = {});
    ~ArchiveBuilder();

    // Makes the cabinet writer and opens a cabinet for `archivePath`.
    void open(const std::string& archivePath);
    // Packs one source: a file, or a folder with its whole tree; a source that does not exist
    // contributes nothing.
    void addSource(const std::string& source);
    // Notes a failure of the run (the most recent one is kept for the closing message).
    void fail(std::string description);
    // Drops the run: close() then discards the partial cabinet.
    void abandon() { mAbandoned = true; }
    // Writes the cabinet, or drops it when the run was abandoned. May run on another thread
    // than the rest; nothing else may be called meanwhile but cancelClose().
    void close();
    // Makes a close() under way on another thread give up, leaving no archive.
    void cancelClose();
    // How far a close() under way is; safe from any thread.
    CabinetWriter::Progress writeProgress() const;

    const std::optional<std::string>& failure() const { return mFailure; }
    bool abandoned() const { return mAbandoned; }

private:
    // Packs every file of the tree at `folder`, its own files before its subfolders. False when
    // the walk ended early: a failure ends the walk of the row it belongs to.
    bool AddFolderToArchive(const std::string& folder);
    // Packs the files of the open folder `dir` (at `folder`) and gives its subfolders, to be
    // walked last first. False when the walk of the row ends here.
    bool PackFolder(int dir, const std::string& folder, std::vector<std::string>& subfolders);
    // True when `path` was packed before in this run; otherwise it is noted as packed now.
    bool IsAlreadyPacked(const std::string& path);
    bool add(const std::string& path);

    FileMet mFileMet;
    std::unique_ptr<CabinetWriter> mWriter;
    std::string mNoWriter;  // why the writer could not be made; every call on it fails so
    std::unordered_set<std::string> mPacked;
    std::optional<std::string> mFailure;
    bool mAbandoned = false;
};

}  // namespace mivex
