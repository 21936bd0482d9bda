#pragma once
// Buffered text output file of the output writers: callers format straight
// into a large buffer that is handed to the C runtime in few big writes.

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
    ~SphOutputFile();  // closes an open file, dropping its status

    // Creates the file or replaces its contents (binary: line ends are ours).
    [[nodiscard]] bool open(std::string_view path);
    // Like open, but the text goes to a side file that close() renames onto
    // `path`: a failed or interrupted rewrite keeps the previous file whole.
    // Fails, like open, where `path` itself could not be opened for writing.
    [[nodiscard]] bool open_replacing(std::string_view path);
    // Room for `n` <= max_reserve bytes; write them, then commit the end.
    char* reserve(std::size_t n) {
        if (capacity_ - used_ < n) flush();
        return buffer_ + used_;
    }
    void commit(char* end) { used_ = static_cast<std::size_t>(end - buffer_); }
    void write(std::string_view text);
    // `text` followed by carriage return and line feed.
    void write_line(std::string_view text) {
        write(text);
        write("\r\n");
    }
    // Flushes and closes; false if any write or the close failed.
    [[nodiscard]] bool close();

  private:
    void flush();
    bool open_stream(const std::string& name);

    std::FILE* file_ = nullptr;
    // Set only while a side file of open_replacing is open.
    std::string final_path_;
    std::string side_path_;
    std::unique_ptr<char[]> heap_;
    char* buffer_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    bool failed_ = false;
    char fallback_[2 * max_reserve];  // used when the large buffer cannot be had
};

// Line end of every text file the library writes.
inline constexpr std::string_view sph_output_crlf = "\r\n";
