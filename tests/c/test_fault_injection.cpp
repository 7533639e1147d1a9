// Fault injection for every container: one representative capture (several
// blocks, keywords, a gain change, flushes) is run once cleanly and then
// again with its k-th stream operation failing, for every k, and with the
// stream taking only the first L bytes.  Whatever fails, close must report
// it, the bytes that reached the stream must be those of the clean run, and
// a metadata file must exist only beside a data file that closed cleanly.
//
// Captures made by wfm_writer_create get their streams from the fopen
// defined below, which hands out fault streams over real files while a test
// arms it.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "test_support.h"
#include "wfm_writer.h"

using wfm_test::Bytes;
using wfm_test::FaultStream;
using wfm_test::TempDir;

namespace {

// One slot per fopen call while armed, in call order: a fault stream over
// the real file, a refused open, or (null stream) the real fopen.
struct OpenSlot {
    FaultStream *stream = nullptr;
    bool refuse = false;
};

struct FopenPlan {
    bool armed = false;
    std::vector<OpenSlot> slots;
    size_t calls = 0;
};

FopenPlan g_fopen;

}  // namespace

extern "C" FILE *fopen(const char *__restrict path, const char *__restrict mode) {
    using RealFopen = FILE *(*)(const char *, const char *);
    static const RealFopen real = reinterpret_cast<RealFopen>(dlsym(RTLD_NEXT, "fopen"));
    if (g_fopen.armed && g_fopen.calls < g_fopen.slots.size()) {
        OpenSlot &slot = g_fopen.slots[g_fopen.calls++];
        if (slot.refuse) {
            errno = EACCES;
            return nullptr;
        }
        if (slot.stream) {
            int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (fd < 0) return nullptr;
            slot.stream->fd = fd;
            FILE *f = slot.stream->open();
            if (!f) {
                ::close(fd);
                slot.stream->fd = -1;
            }
            return f;
        }
    }
    return real(path, mode);
}

namespace {

struct Arm {
    explicit Arm(std::vector<OpenSlot> slots) {
        g_fopen.slots = std::move(slots);
        g_fopen.calls = 0;
        g_fopen.armed = true;
    }
    ~Arm() { g_fopen.armed = false; }
};

struct Container {
    const char *name;
    int file_type;
    int sample_type;
    int big_endian;
    const char *file;  // data file name for create
};

const Container kContainers[] = {
    {"raw", WFM_RAW, WFM_CF32, 0, "cap.raw"},
    {"csv", WFM_CSV, WFM_CI16, 0, "cap.csv"},
    {"blue", WFM_BLUE, WFM_CI16, 1, "cap.blue"},
    {"sigmf", WFM_SIGMF, WFM_CF64, 0, "cap.sigmf-data"},
};

std::vector<float> block(size_t n, float scale) {
    std::vector<float> v(2 * n);
    for (size_t k = 0; k < v.size(); k++) v[k] = scale * std::sin(0.37f * static_cast<float>(k));
    return v;
}

// What the calls of the capture reported, and whether the stream had already
// failed when each call began (before) or by its end (after).
struct Step {
    uint64_t asked = 0, got = 0;  // writes
    int flush = 0;                // flushes
    bool is_flush = false;
    bool before = false, after = false;
};

struct Outcome {
    bool opened = false;
    std::vector<Step> steps;
    int close = 0;
    bool fired_in_close = false;
};

// The representative capture: three blocks (the last beyond full scale, with
// NaN and infinities), keywords for both BLUE stores, a gain change, the
// clip counter, two flushes.  fs is observed during the run; may be null.
void drive(WfmWriter *w, const FaultStream *fs, Outcome &run) {
    const float odd[] = {1.5f, -2.0f, NAN, INFINITY, -INFINITY, 0.25f};
    const std::vector<float> a = block(100, 0.9f), b = block(37, 0.5f);
    auto fired = [&] { return fs && fs->fired; };
    auto write = [&](const float *d, uint64_t n) {
        Step s;
        s.before = fired();
        s.asked = n;
        s.got = wfm_writer_write(w, d, n);
        s.after = fired();
        run.steps.push_back(s);
    };
    auto flush = [&] {
        Step s;
        s.is_flush = true;
        s.before = fired();
        s.flush = wfm_writer_flush(w);
        s.after = fired();
        run.steps.push_back(s);
    };
    write(a.data(), 100);
    const double gains[] = {1.5, -2.0};
    const int32_t prec[] = {1, -2};
    (void)wfm_writer_add_keyword(w, "VER", 'A', "1.0", 3);
    (void)wfm_writer_add_keyword(w, "COMMENT", 'A', "fault injection", 15);
    (void)wfm_writer_add_keyword(w, "GAIN", 'D', gains, 2);
    (void)wfm_writer_add_keyword(w, "TC_PREC", 'L', prec, 2);
    flush();
    wfm_writer_set_gain(w, 0.5);
    write(b.data(), 37);
    wfm_writer_track_clipping(w, 1);
    write(odd, 3);
    flush();
    const bool before_close = fired();
    run.close = wfm_writer_close(w);
    run.fired_in_close = !before_close && fired();
}

// The 512-byte header fields that close patches: ext_start/ext_size,
// data_size, keylength and keywords.
bool patched_field(size_t i) { return (i >= 24 && i < 32) || (i >= 40 && i < 48) || (i >= 160 && i < 256); }

// The result of one faulty run, checked against the clean run (clean) and
// against the same capture on a stream that cannot seek (declared: the
// header as written at open).
void check_run(const Container &c, bool buffered, bool owned, const Outcome &run,
               const FaultStream &s, const Bytes &clean, const Bytes &declared) {
    if (!run.opened) {
        // Only the BLUE header write at open can fail open.
        EXPECT_EQ(c.file_type, WFM_BLUE);
        EXPECT_TRUE(s.fired);
        return;
    }
    // The kind of operation that failed: 'w' for a refused or short write.
    char kind = 0;
    if (s.fail_op_at && s.fail_op_at <= s.trace.size()) kind = s.trace[s.fail_op_at - 1];
    if (s.accept_limit != UINT64_MAX && s.fired) kind = 'w';
    for (const Step &st : run.steps) {
        if (st.is_flush) {
            if (st.before && kind == 'w') { EXPECT_EQ(st.flush, -1) << "flush after a failed write"; }
            if (!st.after) { EXPECT_EQ(st.flush, 0) << "flush failed with nothing failing"; }
        } else {
            if (!st.after) { EXPECT_EQ(st.got, st.asked) << "short count with nothing failing"; }
            if (!buffered && kind == 'w' && st.after && !st.before) {
                EXPECT_LT(st.got, st.asked) << "failed write counted whole";
            }
        }
    }
    // A failure of any write, or of the close of a stream the writer owns, is
    // never a success.  (A caller's stream is closed by the test, after.)
    if (kind == 'w' || (kind == 'c' && owned)) { EXPECT_EQ(run.close, -1) << "failed '" << kind << "' reported as success"; }
    if (s.accept_limit < clean.size()) { EXPECT_EQ(run.close, -1) << "lost bytes reported as success"; }
    if (run.close == 0) {
        EXPECT_TRUE(s.data == clean || (c.file_type == WFM_BLUE && s.data == declared))
            << "a successful close left other bytes than the clean run";
    }
    // Bytes that reached the stream are the clean run's: a prefix of it when
    // the stream stopped taking bytes, and the header's patched fields are
    // either as declared at open or as finalised.
    if (s.accept_limit < clean.size()) {
        ASSERT_LE(s.data.size(), clean.size());
        size_t from = c.file_type == WFM_BLUE ? 512 : 0;
        for (size_t i = from; i < s.data.size(); i++)
            ASSERT_EQ(s.data[i], clean[i]) << "byte " << i << " of " << s.data.size();
    }
    // When the header itself was lost (a failed write of a stdio buffer that
    // held it), later bytes land at its place and nothing is left to check.
    if (c.file_type == WFM_BLUE && s.data.size() >= 512 && std::memcmp(s.data.data(), "BLUE", 4) == 0) {
        for (size_t i = 0; i < 512; i++) {
            // The data size and the extended header's place depend on what
            // landed; they are checked against the file below.
            if ((i >= 24 && i < 32) || (i >= 40 && i < 48)) continue;
            if (patched_field(i)) {
                ASSERT_TRUE(s.data[i] == clean[i] || s.data[i] == declared[i]) << "header byte " << i;
            } else {
                ASSERT_EQ(s.data[i], clean[i]) << "header byte " << i;
            }
        }
    }
}

uint64_t bytes_per_sample(const Container &c) {
    static const uint64_t kBps[] = {8, 16, 8, 4, 2};
    return kBps[c.sample_type];
}

uint32_t get_be32(const Bytes &b, size_t at, bool be) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; i++) v |= uint32_t{b[at + i]} << (be ? 8 * (3 - i) : 8 * i);
    return v;
}

// Unbuffered packed captures whose k-th write failed lose exactly the block
// of that call: the data is the clean blocks that were counted whole, in
// order, and a BLUE header points at records that decode and match.
void check_packed_layout(const Container &c, const Outcome &run, const Outcome &clean_run,
                         const FaultStream &s, const Bytes &clean) {
    if (c.file_type == WFM_CSV || !run.opened) return;
    const size_t head = c.file_type == WFM_BLUE ? 512 : 0;
    const uint64_t bps = bytes_per_sample(c);
    Bytes want;
    size_t at = head;
    uint64_t landed = 0;
    for (size_t i = 0; i < run.steps.size(); i++) {
        const Step &st = run.steps[i], &cl = clean_run.steps[i];
        if (st.is_flush) continue;
        if (st.got == st.asked) want.insert(want.end(), clean.begin() + at, clean.begin() + at + cl.got * bps);
        else ASSERT_EQ(st.got, 0u) << "a refused write call landed in part";
        at += cl.got * bps;
        landed += st.got;
    }
    ASSERT_GE(s.data.size(), head + want.size());
    EXPECT_TRUE(std::equal(want.begin(), want.end(), s.data.begin() + head)) << "data blocks differ";
    if (c.file_type != WFM_BLUE || run.close != -1) return;
    const bool be = c.big_endian != 0;
    const uint32_t ext_start = get_be32(s.data, 24, be), ext_size = get_be32(s.data, 28, be);
    if (ext_size == 0) return;
    const uint64_t from = uint64_t{ext_start} * 512;
    ASSERT_LE(from + ext_size, s.data.size()) << "extended header points past the end";
    EXPECT_GE(from, head + landed * bps) << "extended header overlaps the samples";
    const Bytes &ref = clean;
    const uint64_t ref_from = uint64_t{get_be32(ref, 24, be)} * 512;
    ASSERT_EQ(ext_size, get_be32(ref, 28, be));
    EXPECT_TRUE(std::equal(s.data.begin() + from, s.data.begin() + from + ext_size, ref.begin() + ref_from))
        << "extended header records differ";
}

// One capture on a caller's stream configured by arm.
Outcome run_on_stream(const Container &c, bool buffered, FaultStream &s) {
    Outcome run;
    FILE *f = s.open();
    if (!buffered) std::setvbuf(f, nullptr, _IONBF, 0);
    WfmWriter *w = wfm_writer_open(f, c.file_type, c.sample_type, c.big_endian, 50, 2.4e6, 1.2e9,
                                   1700000000.25);
    run.opened = w != nullptr;
    if (w) drive(w, &s, run);
    EXPECT_FALSE(s.closed) << "close closed the caller's stream";
    std::fclose(f);
    return run;
}

TEST(FaultInjection, every_failing_stream_operation_is_reported_and_keeps_the_bytes) {
    for (const Container &c : kContainers) {
        for (bool buffered : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (buffered ? " buffered" : " unbuffered"));
            FaultStream clean_s;
            Outcome clean = run_on_stream(c, buffered, clean_s);
            ASSERT_TRUE(clean.opened);
            ASSERT_EQ(clean.close, 0);
            ASSERT_FALSE(clean_s.fired);
            FaultStream pipe_s;
            pipe_s.seekable = false;
            ASSERT_EQ(run_on_stream(c, buffered, pipe_s).close, 0);

            for (uint64_t k = 1; k <= clean_s.ops; k++) {
                SCOPED_TRACE("operation " + std::to_string(k) + " '" + clean_s.trace[k - 1] + "' fails");
                FaultStream s;
                s.fail_op_at = k;
                Outcome run = run_on_stream(c, buffered, s);
                ASSERT_EQ(s.trace.substr(0, k), clean_s.trace.substr(0, k)) << "runs diverge before the fault";
                check_run(c, buffered, false, run, s, clean_s.data, pipe_s.data);
                if (!buffered && clean_s.trace[k - 1] == 'w') check_packed_layout(c, run, clean, s, clean_s.data);
                if (HasFatalFailure()) return;
            }
            // The stream takes only the first L bytes: every limit up to 600,
            // then a coarser walk to the end of the clean run.
            for (uint64_t limit = 0; limit < clean_s.data.size(); limit += limit < 600 ? 1 : 13) {
                SCOPED_TRACE("stream takes " + std::to_string(limit) + " bytes");
                FaultStream s;
                s.accept_limit = limit;
                Outcome run = run_on_stream(c, buffered, s);
                check_run(c, buffered, false, run, s, clean_s.data, pipe_s.data);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// Created captures: the data stream and the metadata file's stream fail in
// turn; the metadata file must exist only after a clean close of the data.
struct CreatedRun {
    Outcome run;
    bool created = false;
    Bytes data;
    bool meta_exists = false;
    std::string meta;
};

std::string meta_name(const Container &c, const std::string &data_path) {
    return c.file_type == WFM_SIGMF ? data_path.substr(0, data_path.size() - 11) + ".sigmf-meta"
                                    : data_path + ".sigmf-meta";
}

CreatedRun run_created(const Container &c, const TempDir &dir, std::vector<OpenSlot> slots,
                       const FaultStream *observed) {
    const std::string path = dir.file(c.file);
    const std::string meta = meta_name(c, path);
    std::remove(path.c_str());
    std::remove(meta.c_str());
    CreatedRun out;
    {
        Arm arm(std::move(slots));
        WfmWriter *w = wfm_writer_create(path.c_str(), c.file_type, c.sample_type, c.big_endian, 50,
                                         true, 2.4e6, 1.2e9, 0.0, 1700000000.25);
        out.created = w != nullptr;
        out.run.opened = out.created;
        if (w) drive(w, observed, out.run);
    }
    out.data = wfm_test::read_file(path);
    out.meta_exists = wfm_test::file_exists(meta);
    if (out.meta_exists) out.meta = wfm_test::read_text(meta);
    return out;
}

TEST(FaultInjection, created_capture_gets_a_metadata_file_only_after_a_clean_close) {
    for (const Container &c : kContainers) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        FaultStream clean_data, clean_meta;
        CreatedRun clean = run_created(c, dir, {{&clean_data}, {&clean_meta}}, &clean_data);
        ASSERT_TRUE(clean.created);
        ASSERT_EQ(clean.run.close, 0);
        const bool has_meta = c.file_type != WFM_BLUE;
        ASSERT_EQ(clean.meta_exists, has_meta);
        ASSERT_EQ(clean.data, clean_data.data);
        ASSERT_EQ(clean_meta.ops > 0, has_meta) << "the metadata file did not go through the plan";
        FaultStream pipe_data;
        pipe_data.seekable = false;
        CreatedRun declared = run_created(c, dir, {{&pipe_data}}, &pipe_data);
        ASSERT_EQ(declared.run.close, 0);

        // The data stream's k-th operation fails.
        for (uint64_t k = 1; k <= clean_data.ops; k++) {
            SCOPED_TRACE("data operation " + std::to_string(k) + " '" + clean_data.trace[k - 1] + "' fails");
            FaultStream s;
            s.fail_op_at = k;
            CreatedRun r = run_created(c, dir, {{&s}}, &s);
            if (!r.created) {
                EXPECT_EQ(c.file_type, WFM_BLUE);
                EXPECT_FALSE(r.meta_exists);
                continue;
            }
            check_run(c, true, true, r.run, s, clean.data, declared.data);
            EXPECT_EQ(r.data, s.data) << "file and stream disagree";
            EXPECT_EQ(r.meta_exists, has_meta && r.run.close == 0)
                << "metadata file beside a data file that failed (or missing after a success)";
            if (r.meta_exists) { EXPECT_EQ(r.meta, clean.meta); }
        }

        if (!has_meta) continue;
        // The metadata file cannot be opened, or its k-th operation fails:
        // the data stays as in the clean run, close reports the failure.
        {
            CreatedRun r = run_created(c, dir, {{nullptr}, {nullptr, true}}, nullptr);
            EXPECT_EQ(r.run.close, -1);
            EXPECT_EQ(r.data, clean.data);
            EXPECT_FALSE(r.meta_exists);
        }
        for (uint64_t k = 1; k <= clean_meta.ops; k++) {
            SCOPED_TRACE("metadata operation " + std::to_string(k) + " '" + clean_meta.trace[k - 1] + "' fails");
            FaultStream m;
            m.fail_op_at = k;
            CreatedRun r = run_created(c, dir, {{nullptr}, {&m}}, nullptr);
            EXPECT_EQ(r.run.close, -1);
            EXPECT_EQ(r.data, clean.data);
        }
        for (uint64_t limit = 0; limit < clean_meta.data.size(); limit += 17) {
            FaultStream m;
            m.accept_limit = limit;
            CreatedRun r = run_created(c, dir, {{nullptr}, {&m}}, nullptr);
            EXPECT_EQ(r.run.close, -1) << "metadata cut at " << limit << " bytes reported as success";
            EXPECT_EQ(r.data, clean.data);
        }
    }
}

}  // namespace
