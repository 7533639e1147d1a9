// Captures on files that fail for real: a full device, a file-size limit, a
// directory or a read-only directory in the way, and pipes.  Whatever the
// failure, close reports it and no metadata file appears beside the data.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "wfm_writer.h"

using wfm_test::Bytes;
using wfm_test::TempDir;

namespace fs = std::filesystem;

namespace {

struct Container {
    const char *name;
    int file_type;
    const char *file;
    const char *meta;  // metadata file name, or null
};

const Container kContainers[] = {
    {"raw", WFM_RAW, "cap.raw", "cap.raw.sigmf-meta"},
    {"csv", WFM_CSV, "cap.csv", "cap.csv.sigmf-meta"},
    {"blue", WFM_BLUE, "cap.blue", nullptr},
    {"sigmf", WFM_SIGMF, "cap.sigmf-data", "cap.sigmf-meta"},
};

std::vector<float> samples(size_t n) {
    std::vector<float> v(2 * n);
    for (size_t k = 0; k < v.size(); k++) v[k] = static_cast<float>(k % 200) / 100.0f - 1.0f;
    return v;
}

WfmWriter *create(const std::string &path, int file_type) {
    return wfm_writer_create(path.c_str(), file_type, WFM_CI16, 0, 0, true, 1e6, 1e8, 0.0, 0.0);
}

// A capture of n samples in 1000-sample blocks with one keyword; returns
// close's result, or 1 when create failed.
int capture(const std::string &path, int file_type, size_t n) {
    WfmWriter *w = create(path, file_type);
    if (!w) return 1;
    const std::vector<float> x = samples(n);
    for (size_t at = 0; at < n; at += 1000)
        (void)wfm_writer_write(w, x.data() + 2 * at, std::min<size_t>(1000, n - at));
    (void)wfm_writer_add_keyword(w, "COMMENT", 'A', "real faults", 11);
    return wfm_writer_close(w);
}

// Runs f in a forked child and returns its exit status (-1: it did not exit).
template <typename F>
int in_child(F f) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) _exit(f());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(RealFaults, full_device_fails_close_and_writes_no_metadata) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    for (const Container &c : kContainers) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.file(c.file);
        fs::create_symlink("/dev/full", path);
        EXPECT_EQ(capture(path, c.file_type, 3000), -1);
        if (c.meta) {
            EXPECT_FALSE(wfm_test::file_exists(dir.file(c.meta)));
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
    }
}

// The file system takes only the first limit bytes (SIGXFSZ ignored, so the
// writes fail with EFBIG): what reached the file is the clean capture's
// prefix, close fails and there is no metadata file.
TEST(RealFaults, file_size_limit_keeps_the_prefix_and_fails_close) {
    for (const Container &c : kContainers) {
        for (rlim_t limit : {rlim_t{0}, rlim_t{300}, rlim_t{4096}, rlim_t{4096 * 3 + 5}}) {
            SCOPED_TRACE(std::string(c.name) + " limit " + std::to_string(limit));
            TempDir dir;
            const std::string clean_path = dir.file("clean-" + std::string(c.file));
            ASSERT_EQ(capture(clean_path, c.file_type, 5000), 0);
            const Bytes clean = wfm_test::read_file(clean_path);
            ASSERT_GT(clean.size(), limit);

            const std::string path = dir.file(c.file);
            int rc = in_child([&] {
                signal(SIGXFSZ, SIG_IGN);
                struct rlimit lim {limit, limit};
                if (setrlimit(RLIMIT_FSIZE, &lim) != 0) return 3;
                return capture(path, c.file_type, 5000) + 10;  // 9: -1, 10: 0, 11: no writer
            });
            // Even a BLUE header that does not fit is first taken by the
            // stream buffer: close is where the failure shows.
            EXPECT_EQ(rc, 9) << "close must fail";
            const Bytes got = wfm_test::read_file(path);
            ASSERT_EQ(got.size(), limit);
            const size_t from = c.file_type == WFM_BLUE ? 512 : 0;
            for (size_t i = from; i < got.size(); i++) ASSERT_EQ(got[i], clean[i]) << "byte " << i;
            if (c.meta) {
                EXPECT_FALSE(wfm_test::file_exists(dir.file(c.meta)));
            }
        }
    }
}

TEST(RealFaults, directory_in_the_way) {
    for (const Container &c : kContainers) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        // Where the data file should be: create fails and changes nothing.
        fs::create_directory(dir.file(c.file));
        EXPECT_EQ(capture(dir.file(c.file), c.file_type, 10), 1);
        EXPECT_TRUE(fs::is_directory(dir.file(c.file)));
        if (!c.meta) continue;
        // Where the metadata file should be: close fails, the data stays.
        TempDir dir2;
        fs::create_directory(dir2.file(c.meta));
        EXPECT_EQ(capture(dir2.file(c.file), c.file_type, 10), -1);
        TempDir ref;
        ASSERT_EQ(capture(ref.file(c.file), c.file_type, 10), 0);
        EXPECT_EQ(wfm_test::read_file(dir2.file(c.file)), wfm_test::read_file(ref.file(c.file)))
            << "the data that was written is kept";
        EXPECT_TRUE(fs::is_directory(dir2.file(c.meta)));
    }
}

// Runs f in a child that permission bits apply to: as root, the child drops
// to an unprivileged user.  Returns 77 when that is not possible.
template <typename F>
int unprivileged(F f) {
    return in_child([&] {
        if (geteuid() == 0) {
            const passwd *nobody = getpwnam("nobody");
            if (!nobody || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) return 77;
        }
        return f();
    });
}

TEST(RealFaults, read_only_directory) {
    for (const Container &c : kContainers) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string sub = dir.file("ro");
        fs::create_directory(sub);
        // A data file that may be rewritten, in a directory that takes no new files.
        const std::string data = sub + "/" + c.file;
        std::FILE *f = std::fopen(data.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
        chmod(data.c_str(), 0666);
        chmod(sub.c_str(), 0555);
        chmod(dir.path.c_str(), 0755);
        int rc = unprivileged([&] {
            // The probe: this process must not be able to add a file.
            std::FILE *probe = std::fopen((sub + "/probe").c_str(), "w");
            if (probe) return 78;
            int fresh = capture(sub + "/new-" + c.file, c.file_type, 10) == 1 ? 0 : 1;
            return fresh * 100 + capture(data, c.file_type, 10) + 10;
        });
        chmod(sub.c_str(), 0755);
        if (rc == 77 || rc == 78) GTEST_SKIP() << "permission bits do not stop this process";
        ASSERT_LT(rc, 100) << "create in a read-only directory must fail";
        if (c.meta) {
            EXPECT_EQ(rc, 9) << "the metadata file cannot be made: close must fail";
            EXPECT_FALSE(wfm_test::file_exists(sub + "/" + c.meta));
        } else {
            EXPECT_EQ(rc, 10);
        }
        EXPECT_GT(wfm_test::read_file(data).size(), 0u) << "the data that was written is kept";
        EXPECT_FALSE(wfm_test::file_exists(sub + "/new-" + c.file));
    }
}

// A FIFO read by a thread that stops after max bytes (all when max is 0).
struct Fifo {
    TempDir dir;
    std::string path = dir.file("cap.pipe");
    Bytes got;
    std::thread reader;
    explicit Fifo(size_t max) {
        if (mkfifo(path.c_str(), 0600) != 0) std::abort();
        reader = std::thread([this, max] {
            int fd = ::open(path.c_str(), O_RDONLY);
            if (fd < 0) return;
            char buf[4096];
            for (;;) {
                size_t want = max ? std::min(sizeof buf, max - got.size()) : sizeof buf;
                if (want == 0) break;
                ssize_t n = ::read(fd, buf, want);
                if (n <= 0) break;
                got.insert(got.end(), buf, buf + n);
            }
            ::close(fd);
        });
    }
    ~Fifo() {
        if (reader.joinable()) reader.join();
    }
};

TEST(RealFaults, pipe_takes_every_container_and_a_closed_reader_fails_close) {
    void (*saved)(int) = signal(SIGPIPE, SIG_IGN);
    for (const Container &c : kContainers) {
        if (c.file_type == WFM_SIGMF) continue;  // its path must end in .sigmf-data
        SCOPED_TRACE(c.name);
        TempDir ref_dir;
        ASSERT_EQ(capture(ref_dir.file(c.file), c.file_type, 3000), 0);
        const Bytes ref = wfm_test::read_file(ref_dir.file(c.file));
        {
            // A pipe cannot seek: BLUE keeps the header written at open.
            Fifo p(0);
            EXPECT_EQ(capture(p.path, c.file_type, 3000), 0);
            p.reader.join();
            if (c.file_type == WFM_BLUE) {
                ASSERT_EQ(p.got.size(), 512u + 3000u * 4u);
                EXPECT_TRUE(std::equal(p.got.begin() + 512, p.got.end(), ref.begin() + 512));
            } else {
                EXPECT_EQ(p.got, ref);
            }
            EXPECT_EQ(wfm_test::file_exists(p.path + ".sigmf-meta"), c.meta != nullptr);
        }
        {
            Fifo p(1000);
            EXPECT_EQ(capture(p.path, c.file_type, 300000), -1);
            p.reader.join();
            EXPECT_FALSE(wfm_test::file_exists(p.path + ".sigmf-meta"));
        }
    }
    signal(SIGPIPE, saved);
}

}  // namespace
