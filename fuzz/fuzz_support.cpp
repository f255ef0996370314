#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzz {

namespace {

void remove_scratch() {
    const std::string& dir = scratch_dir();
    if (DIR* listing = ::opendir(dir.c_str())) {
        while (dirent* entry = ::readdir(listing)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") ::unlink((dir + "/" + name).c_str());
        }
        ::closedir(listing);
    }
    ::rmdir(dir.c_str());
}

}  // namespace

void quiet_stdio() {
    static bool done = false;
    if (done) return;
    done = true;
    std::fflush(stdout);
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0) std::abort();
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::close(in);
    ::close(out);
    std::clearerr(stdin);
}

const std::string& scratch_dir() {
    static const std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/programma-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        return pattern;
    }();
    static const bool registered = (std::atexit(remove_scratch), true);
    (void)registered;
    return dir;
}

std::string scratch_path(std::string_view name) { return scratch_dir() + "/" + std::string(name); }

void write_file(const std::string& path, const uint8_t* data, std::size_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::perror(path.c_str());
        std::abort();
    }
    std::size_t done = 0;
    while (done < size) {
        ssize_t wrote = ::write(fd, data + done, size - done);
        if (wrote <= 0) {
            std::perror(path.c_str());
            std::abort();
        }
        done += static_cast<std::size_t>(wrote);
    }
    ::close(fd);
}

void write_file(const std::string& path, std::string_view text) {
    write_file(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

StderrCapture::StderrCapture() : saved_(stderr), memory_(::open_memstream(&buffer_, &size_)) {
    if (memory_ == nullptr) std::abort();
    stderr = memory_;
}

StderrCapture::~StderrCapture() {
    stderr = saved_;
    std::fclose(memory_);
    std::free(buffer_);
}

std::string StderrCapture::text() {
    std::fflush(memory_);
    return std::string(buffer_, size_);
}

void fail(const char* condition, const char* file, int line) {
    // Straight to descriptor 2: stderr may be a StderrCapture's.
    ::dprintf(2, "fuzz check failed: %s at %s:%d\n", condition, file, line);
    std::abort();
}

}  // namespace fuzz
