// Helpers shared by the C test suites: temporary directories, whole-file
// reads, byte comparisons and a stream whose operations can be made to fail.
#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>
#include <unistd.h>

#include <clocale>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace wfm_test {

using Bytes = std::vector<uint8_t>;

// A fresh directory removed with everything in it at scope exit.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "wfm-test-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) std::abort();
        path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string file(const std::string &name) const { return (path / name).string(); }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
};

inline bool file_exists(const std::string &p) { return std::filesystem::exists(p); }

inline Bytes read_file(const std::string &p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// n bytes of a file from offset (fewer at its end), for files too large to
// read whole.
inline Bytes read_range(const std::string &p, uint64_t offset, size_t n) {
    Bytes b(n);
    FILE *f = std::fopen(p.c_str(), "rb");
    if (!f) return {};
    size_t got = fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0 ? std::fread(b.data(), 1, n, f) : 0;
    std::fclose(f);
    b.resize(got);
    return b;
}

inline std::string read_text(const std::string &p) {
    Bytes b = read_file(p);
    return std::string(b.begin(), b.end());
}

inline std::string hex(const uint8_t *p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        if (i) s += ' ';
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

// expect_bytes(file, 40, {0x00, 0x00, ...}): the bytes at offset match.
inline ::testing::AssertionResult expect_bytes(const Bytes &data, size_t offset,
                                               std::initializer_list<uint8_t> want) {
    Bytes w(want);
    if (offset > data.size() || data.size() - offset < w.size())
        return ::testing::AssertionFailure()
               << "only " << data.size() << " bytes, wanted " << w.size() << " at " << offset;
    if (std::memcmp(data.data() + offset, w.data(), w.size()) == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "at offset " << offset << ": got "
                                         << hex(data.data() + offset, w.size()) << ", want "
                                         << hex(w.data(), w.size());
}

inline Bytes bytes_of(const std::string &s) { return Bytes(s.begin(), s.end()); }

// A stdio stream over memory (fopencookie) whose operations fail on demand.
// Operation counters start at 1: fail_write_at = 3 makes the third call of
// the write hook fail.  stdio buffers, so the hooks run when the stream
// flushes; use setvbuf(stream, nullptr, _IONBF, 0) to map each fwrite to
// one hook call.
struct FaultStream {
    Bytes data;
    uint64_t pos = 0;

    // Configuration.
    uint64_t fail_write_at = 0;      // this write call fails (returns -1)
    uint64_t accept_limit = UINT64_MAX;  // total bytes the device takes
    uint64_t fail_seek_at = 0;       // this seek call fails
    bool seekable = true;            // false: every seek fails, like a pipe
    bool fail_tell = false;          // seeks relative to the current position fail
    bool fail_close = false;         // the close hook reports failure
    uint64_t fail_op_at = 0;         // this hook call of any kind fails (see ops)
    int fd = -1;                     // >= 0: bytes taken also go to this file, closed by close

    // Observations.
    uint64_t writes = 0, seeks = 0;
    bool closed = false;
    // Every hook call in order: 'w' write, 's' absolute or end seek, 't' seek
    // relative to the position (a position read), 'c' close.  ops counts them.
    std::string trace;
    uint64_t ops = 0;
    // Set once any hook reported failure or took fewer bytes than asked.
    bool fired = false;

    FILE *open() {
        cookie_io_functions_t io{};
        io.write = &FaultStream::on_write;
        io.seek = &FaultStream::on_seek;
        io.close = &FaultStream::on_close;
        return fopencookie(this, "w", io);
    }

    static ssize_t on_write(void *c, const char *buf, size_t n) {
        auto *s = static_cast<FaultStream *>(c);
        s->writes++;
        // A failed write returns 0, never -1: stdio adds a negative result
        // of a cookie write to its count of bytes written, so fwrite would
        // report bytes that never reached the device.
        if (s->next_op('w') || (s->fail_write_at && s->writes == s->fail_write_at)) {
            s->fired = true;
            return 0;
        }
        uint64_t room = s->pos >= s->accept_limit ? 0 : s->accept_limit - s->pos;
        size_t take = n < room ? n : static_cast<size_t>(room);
        if (take < n) s->fired = true;
        if (take == 0) return 0;
        if (s->fd >= 0 && pwrite(s->fd, buf, take, static_cast<off_t>(s->pos)) != static_cast<ssize_t>(take)) {
            s->fired = true;
            return 0;
        }
        if (s->pos + take > s->data.size()) s->data.resize(s->pos + take);
        std::memcpy(s->data.data() + s->pos, buf, take);
        s->pos += take;
        return static_cast<ssize_t>(take);
    }

    static int on_seek(void *c, off64_t *off, int whence) {
        auto *s = static_cast<FaultStream *>(c);
        s->seeks++;
        const bool op_fails = s->next_op(whence == SEEK_CUR ? 't' : 's');
        if (!s->seekable) return -1;
        if (op_fails || (s->fail_seek_at && s->seeks == s->fail_seek_at) ||
            (s->fail_tell && whence == SEEK_CUR)) {
            s->fired = true;
            return -1;
        }
        int64_t base = whence == SEEK_SET ? 0
                       : whence == SEEK_CUR ? static_cast<int64_t>(s->pos)
                                            : static_cast<int64_t>(s->data.size());
        int64_t to = base + *off;
        if (to < 0) return -1;
        s->pos = static_cast<uint64_t>(to);
        *off = to;
        return 0;
    }

    static int on_close(void *c) {
        auto *s = static_cast<FaultStream *>(c);
        s->closed = true;
        const bool op_fails = s->next_op('c');
        if (s->fd >= 0) {
            ::close(s->fd);
            s->fd = -1;
        }
        if (op_fails || s->fail_close) {
            s->fired = true;
            return -1;
        }
        return 0;
    }

    // Counts one hook call of the given kind; true when it is the one to fail.
    bool next_op(char kind) {
        trace += kind;
        return ++ops == fail_op_at;
    }
};

// Switches LC_NUMERIC to a locale whose decimal separator is a comma for the
// guard's lifetime.  An installed locale is preferred; otherwise one is
// generated with localedef into a directory named by LOCPATH.  active() is
// false when neither works (the caller skips).
struct DecimalCommaLocale {
    std::string saved;
    bool on = false;

    DecimalCommaLocale() {
        if (const char *cur = std::setlocale(LC_NUMERIC, nullptr)) saved = cur;
        on = try_names() || (generate() && try_names());
    }
    ~DecimalCommaLocale() { std::setlocale(LC_NUMERIC, saved.empty() ? "C" : saved.c_str()); }
    bool active() const { return on; }
    DecimalCommaLocale(const DecimalCommaLocale &) = delete;
    DecimalCommaLocale &operator=(const DecimalCommaLocale &) = delete;

  private:
    static constexpr const char *kNames[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8",
                                             "fr_FR.utf8", "de_DE", "fr_FR"};

    static bool try_names() {
        for (const char *name : kNames) {
            if (std::setlocale(LC_NUMERIC, name) &&
                std::localeconv()->decimal_point[0] == ',')
                return true;
        }
        return false;
    }

    // One generated locale per test process, kept until the process ends.
    static bool generate() {
        static const bool made = [] {
            static TempDir dir;
            std::string cmd = "localedef -i de_DE -f UTF-8 '" + dir.file("de_DE.UTF-8") +
                              "' >/dev/null 2>&1";
            (void)std::system(cmd.c_str());
            if (!std::filesystem::exists(dir.path / "de_DE.UTF-8" / "LC_NUMERIC")) return false;
            setenv("LOCPATH", dir.path.c_str(), 1);
            return true;
        }();
        return made;
    }
};

}  // namespace wfm_test
