#include "output/sph_output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr std::size_t large_buffer_size = std::size_t{1} << 20;

// Whether `path` may be replaced: missing, or a regular file this process may
// write. Anything else (a FIFO, a device, a directory) is refused from its
// status alone, so it is never opened: a FIFO cannot block the run and a
// device never takes text. A symlink counts as what it points to; the rename
// then replaces the link itself, not the file it pointed to.
bool replaceable_target(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISREG(st.st_mode)) return false;
    // A read-only file stays refused, as writing it in place would be.
    // O_NONBLOCK: the path may have become a FIFO since the stat.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

}  // namespace

SphOutputFile::~SphOutputFile() {
    if (file_ == nullptr) return;
    std::fclose(file_);
    ::unlink(side_path_.c_str());
}

bool SphOutputFile::open_replacing(std::string_view path) {
    if (file_ != nullptr || path.empty()) return false;
    final_path_.assign(path);
    if (!replaceable_target(final_path_)) return false;
    side_path_ = final_path_ + ".part";
    // A side file left by an interrupted run (or one that is a FIFO or a
    // symlink) is removed and the new one created exclusively, so nothing
    // already at the side path is ever opened or followed.
    ::unlink(side_path_.c_str());
    const int fd = ::open(side_path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        if (std::FILE* file = ::fdopen(fd, "wb")) {
            start(file);
            return true;
        }
        ::close(fd);
        ::unlink(side_path_.c_str());
    }
    side_path_.clear();
    return false;
}

void SphOutputFile::start(std::FILE* file) {
    file_ = file;
    // The buffer below is the only one: big writes go straight to the system.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    if (!heap_) heap_.reset(new (std::nothrow) char[large_buffer_size]);
    if (heap_) {
        buffer_ = heap_.get();
        capacity_ = large_buffer_size;
    } else {
        buffer_ = fallback_;
        capacity_ = sizeof(fallback_);
    }
    used_ = 0;
    failed_ = false;
}

void SphOutputFile::flush() {
    if (used_ == 0) return;
    if (file_ == nullptr || std::fwrite(buffer_, 1, used_, file_) != used_) failed_ = true;
    used_ = 0;
}

void SphOutputFile::write(std::string_view text) {
    while (!text.empty()) {
        if (used_ == capacity_) flush();
        const std::size_t n = std::min(text.size(), capacity_ - used_);
        std::memcpy(buffer_ + used_, text.data(), n);
        used_ += n;
        text.remove_prefix(n);
    }
}

void SphOutputFile::write_bytes(const void* data, std::size_t n) {
    if (n < capacity_ / 2) {
        write(std::string_view(static_cast<const char*>(data), n));
        return;
    }
    flush();
    if (file_ == nullptr || std::fwrite(data, 1, n, file_) != n) failed_ = true;
}

bool SphOutputFile::close() {
    if (file_ == nullptr) return false;
    flush();
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    if (!failed_ && std::rename(side_path_.c_str(), final_path_.c_str()) != 0) failed_ = true;
    if (failed_) ::unlink(side_path_.c_str());
    side_path_.clear();
    return !failed_;
}
