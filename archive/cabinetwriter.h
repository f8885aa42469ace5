// The cabinet writer: builds one MSZIP-compressed cabinet (.cab) file through libgcab with three
// calls, open, add and close. Every failure comes back as a description text; a cabinet that
// close reports as written is complete and readable, otherwise nothing is left at its path.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace mivex {

class CabinetWriter {
public:
    // libgcab puts everything into one cabinet folder and does not check the format's limits:
    // the file count and the folder's count of 32 KiB data blocks are 16-bit fields, and a reader
    // takes names of at most 255 bytes. Past them it would write a corrupt cabinet.
    static constexpr std::uint64_t kMaxFiles = 65535;
    static constexpr std::uint64_t kMaxBytes = 65535ULL * 32768;  // 2,147,450,880
    static constexpr std::size_t kMaxNameBytes = 255;

    // A new writer, or nullptr with `failure` describing why none could be made.
    static std::unique_ptr<CabinetWriter> create(std::string& failure);
    // Lets tests stand in for the making of writers; nullptr restores the real one.
    using Factory = std::unique_ptr<CabinetWriter> (*)(std::string& failure);
    static void installFactory(Factory factory);

    // A cabinet opened and never closed is discarded with its partial file.
    ~CabinetWriter();
    CabinetWriter(const CabinetWriter&) = delete;
    CabinetWriter& operator=(const CabinetWriter&) = delete;

    // Each call returns the failure's description, or an empty text on success.
    //
    // Starts a cabinet that close() will put at `path`, replacing what is there. The three
    // constant arguments are part of the writer's calling convention and change nothing.
    [[nodiscard]] std::string open(const std::string& path, bool, std::int16_t, bool);
    // Adds the regular file at the full path `path`, named in the cabinet `name` without its
    // leading "/". Nothing is read yet; past a limit of the format the cabinet is refused as a
    // whole and every later call fails with the same description.
    [[nodiscard]] std::string add(const std::string& path, const std::string& name);
    // Compresses the files added into the cabinet and puts it at the path given to open.
    [[nodiscard]] std::string close();
    // Makes a close() running on another thread fail soon, leaving nothing behind. Safe from any
    // thread while the writer exists.
    void cancel();

    // How far a close() under way is: the file being read and compressed (counted from 1; 0
    // before the first), and the bytes of the files before it. Safe from any thread.
    struct Progress {
        std::string file;
        std::size_t fileNumber = 0;
        std::size_t fileCount = 0;
        std::uint64_t bytesDone = 0;
        std::uint64_t bytesTotal = 0;
    };
    Progress progress() const;

    struct Impl;

private:
    CabinetWriter();
    std::unique_ptr<Impl> m;
};

}  // namespace mivex
