#include "output/sph_output_file.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace {
constexpr std::size_t large_buffer_size = std::size_t{1} << 20;
}

SphOutputFile::~SphOutputFile() {
    if (file_ == nullptr) return;
    std::fclose(file_);
    if (!side_path_.empty()) std::remove(side_path_.c_str());
}

bool SphOutputFile::open(std::string_view path) {
    if (file_ != nullptr) return false;
    return open_stream(std::string(path));
}

bool SphOutputFile::open_replacing(std::string_view path) {
    if (file_ != nullptr) return false;
    final_path_.assign(path);
    // Appending nothing probes the target as open() would (a directory, a
    // read-only file or a missing folder fail here) without touching its text.
    std::FILE* probe = std::fopen(final_path_.c_str(), "ab");
    if (probe == nullptr) return false;
    std::fclose(probe);
    side_path_ = final_path_ + ".part";
    if (open_stream(side_path_)) return true;
    side_path_.clear();
    return false;
}

bool SphOutputFile::open_stream(const std::string& name) {
    file_ = std::fopen(name.c_str(), "wb");
    if (file_ == nullptr) return false;
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
    return true;
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

bool SphOutputFile::close() {
    if (file_ == nullptr) return false;
    flush();
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    if (side_path_.empty()) return !failed_;
    if (!failed_ && std::rename(side_path_.c_str(), final_path_.c_str()) != 0) failed_ = true;
    if (failed_) std::remove(side_path_.c_str());
    side_path_.clear();
    return !failed_;
}
