#include "mapped_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace simulated_windows {
namespace {

[[noreturn]] void CannotRead(const std::string& path, int error)
{
    throw RefusedInput(path, 0, std::string("cannot be read: ") + std::strerror(error));
}

} // namespace

MappedFile::MappedFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        CannotRead(path, errno);
    }
    struct stat status {};
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
        size_ = static_cast<std::size_t>(status.st_size);
        void* mapped = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        const int error = errno;
        close(fd);
        if (mapped == MAP_FAILED) {
            CannotRead(path, error);
        }
        mapped_ = static_cast<char*>(mapped);
        madvise(mapped_, size_, MADV_SEQUENTIAL);
        return;
    }
    char chunk[65536];
    ssize_t count = 0;
    while ((count = read(fd, chunk, sizeof chunk)) != 0) {
        if (count < 0 && errno != EINTR) {
            const int error = errno;
            close(fd);
            CannotRead(path, error);
        }
        if (count > 0) {
            read_.append(chunk, static_cast<std::size_t>(count));
        }
    }
    close(fd);
}

MappedFile::~MappedFile()
{
    if (mapped_ != nullptr) {
        munmap(mapped_, size_);
    }
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : mapped_(other.mapped_), size_(other.size_), read_(std::move(other.read_))
{
    other.mapped_ = nullptr;
}

void MappedFile::Release(std::size_t size) const
{
    if (mapped_ == nullptr) {
        return;
    }
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t whole = std::min(size, size_) / page * page;
    if (whole > 0) {
        // Untouched pages of a private file mapping: dropped now, read from the file if needed.
        madvise(mapped_, whole, MADV_DONTNEED);
    }
}

} // namespace simulated_windows
