#pragma once
// Buffered output file of the output writers: callers format straight into a
// large buffer that is handed to the C runtime in few big writes; large binary
// blocks bypass the buffer.

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

class SphOutputFile {
  public:
    // Largest single reservation; every line the writers produce is shorter.
    static constexpr std::size_t max_reserve = 4096;

    SphOutputFile() = default;
    SphOutputFile(const SphOutputFile&) = delete;
    SphOutputFile& operator=(const SphOutputFile&) = delete;
    ~SphOutputFile();  // drops an unfinished file, leaving `path` as it was

    // Starts the text of `path` (binary: line ends are ours) in the side file
    // `path`.part, which close() renames onto `path` once every byte is
    // written: a failed or interrupted write leaves no partial file behind and
    // keeps an earlier file at `path` whole. Fails where `path` is not a
    // regular file (a FIFO, a device, a directory), is a read-only file, or
    // its folder is missing or read-only.
    [[nodiscard]] bool open_replacing(std::string_view path);
    // Room for `n` <= max_reserve bytes; write them, then commit the end.
    char* reserve(std::size_t n) {
        if (capacity_ - used_ < n) flush();
        return buffer_ + used_;
    }
    void commit(char* end) { used_ = static_cast<std::size_t>(end - buffer_); }
    void write(std::string_view text);
    // Raw bytes; a block of at least half the buffer goes to the system in
    // one write of its own, without a copy.
    void write_bytes(const void* data, std::size_t n);
    // `text` followed by carriage return and line feed.
    void write_line(std::string_view text) {
        write(text);
        write("\r\n");
    }
    // Flushes, closes and renames the side file onto the path; false if any
    // write, the close or the rename failed (the side file is then removed).
    [[nodiscard]] bool close();

  private:
    void flush();
    void start(std::FILE* file);

    std::FILE* file_ = nullptr;
    std::string final_path_;
    std::string side_path_;  // set only while the side file exists
    std::unique_ptr<char[]> heap_;
    char* buffer_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    bool failed_ = false;
    char fallback_[2 * max_reserve];  // used when the large buffer cannot be had
};

// Line end of every text file the library writes.
inline constexpr std::string_view sph_output_crlf = "\r\n";
