// Shared pieces of the fuzz targets: a reader that turns the input into
// typed values (zeros once it runs out), a check that aborts, and an
// in-memory stream whose operations fail on demand.
#pragma once

#include <stdio.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define FUZZ_CHECK(cond)                                                          \
    do {                                                                          \
        if (!(cond)) {                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                         \
        }                                                                         \
    } while (0)

namespace fuzz {

class Input {
  public:
    Input(const uint8_t *data, size_t size) : p_(data), n_(size) {}

    size_t left() const { return n_; }

    template <typename T>
    T take() {
        T v{};
        size_t k = n_ < sizeof v ? n_ : sizeof v;
        std::memcpy(&v, p_, k);
        p_ += k;
        n_ -= k;
        return v;
    }

    uint8_t byte() { return take<uint8_t>(); }

    // n bytes, zero-filled past the end of the input.
    std::vector<uint8_t> bytes(size_t n) {
        std::vector<uint8_t> v(n, 0);
        size_t k = n_ < n ? n_ : n;
        if (k) std::memcpy(v.data(), p_, k);
        p_ += k;
        n_ -= k;
        return v;
    }

  private:
    const uint8_t *p_;
    size_t n_;
};

// A stdio stream over memory.  Failed writes return 0 (a negative result
// would be added to stdio's count of bytes written).
struct MemStream {
    std::vector<uint8_t> data;
    uint64_t pos = 0;
    uint64_t fail_op_at = 0;         // this hook call (write or seek) fails
    uint64_t accept_limit = UINT64_MAX;
    bool seekable = true;
    uint64_t ops = 0;
    bool write_failed = false;       // a write was refused or cut short

    FILE *open() {
        cookie_io_functions_t io{};
        io.write = &MemStream::on_write;
        io.seek = &MemStream::on_seek;
        return fopencookie(this, "w", io);
    }

    static ssize_t on_write(void *c, const char *buf, size_t n) {
        auto *s = static_cast<MemStream *>(c);
        if (++s->ops == s->fail_op_at) {
            s->write_failed = true;
            return 0;
        }
        uint64_t room = s->pos >= s->accept_limit ? 0 : s->accept_limit - s->pos;
        size_t take = n < room ? n : static_cast<size_t>(room);
        if (take < n) s->write_failed = true;
        if (s->pos + take > s->data.size()) s->data.resize(s->pos + take);
        if (take) std::memcpy(s->data.data() + s->pos, buf, take);
        s->pos += take;
        return static_cast<ssize_t>(take);
    }

    static int on_seek(void *c, off64_t *off, int whence) {
        auto *s = static_cast<MemStream *>(c);
        if (!s->seekable || ++s->ops == s->fail_op_at) return -1;
        int64_t base = whence == SEEK_SET ? 0
                       : whence == SEEK_CUR ? static_cast<int64_t>(s->pos)
                                            : static_cast<int64_t>(s->data.size());
        int64_t to = base + *off;
        if (to < 0) return -1;
        s->pos = static_cast<uint64_t>(to);
        *off = to;
        return 0;
    }
};

}  // namespace fuzz
