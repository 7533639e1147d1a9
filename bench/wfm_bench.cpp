// Throughput of wfm_writer_write against its floors, measured side by side:
// for every wire type, byte order and block size, the writer into a
// page-cache file, the floor (fwrite of the already converted bytes through
// a stream set up as the writer sets up its own), the scalar reference
// converters in the same writer, and the writer into /dev/null; then CSV
// against a plain fprintf loop.  Rounds alternate the contestants; the table
// gives min and median.
//
//   wfm_bench [--rounds N] [--quick] [--tsv FILE]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "sample_convert.h"
#include "wfm_writer.h"

namespace {

constexpr size_t kStreamBuffer = 1024 * 1024;  // as create sets up its streams

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Series {
    std::vector<double> t;
    double min() const { return *std::min_element(t.begin(), t.end()); }
    double median() const {
        std::vector<double> s = t;
        std::sort(s.begin(), s.end());
        return s.size() % 2 ? s[s.size() / 2] : 0.5 * (s[s.size() / 2 - 1] + s[s.size() / 2]);
    }
};

// a against b: the ratio of the best times, and the median of the ratios
// taken round by round (the rounds alternate a and b).
struct Ratio {
    double best, median;
};

Ratio ratio(const Series &a, const Series &b) {
    Series r;
    for (size_t i = 0; i < a.t.size(); i++) r.t.push_back(a.t[i] / b.t[i]);
    return {a.min() / b.min(), r.median()};
}

FILE *open_stream(const std::string &path, char **buf) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    *buf = static_cast<char *>(std::malloc(kStreamBuffer));
    std::setvbuf(f, *buf, _IOFBF, kStreamBuffer);
    return f;
}

// fwrite of converted bytes, block after block, open to close.
// Every timed run starts on a fresh file, so no run pays for truncating the
// pages of the last one.
void fresh(const std::string &path) {
    if (path != "/dev/null") std::remove(path.c_str());
}

double time_floor(const std::string &path, const std::vector<uint8_t> &bytes, uint64_t blocks) {
    fresh(path);
    double t0 = now();
    char *buf;
    FILE *f = open_stream(path, &buf);
    for (uint64_t b = 0; b < blocks; b++) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    double t = now() - t0;
    std::free(buf);
    return t;
}

// The writer, open to close, with the converters of the named variant.
double time_writer(const std::string &path, int file_type, int sample_type, int be,
                   const std::vector<float> &block, uint64_t blocks, const char *variant) {
    if (!wfm::convert_force_variant(variant)) std::abort();
    const uint64_t n = block.size() / 2;
    fresh(path);
    double t0 = now();
    WfmWriter *w = wfm_writer_create(path.c_str(), file_type, sample_type, be, 0, false, 0, 0, 0, 0);
    if (!w) {
        std::perror(path.c_str());
        std::exit(1);
    }
    for (uint64_t b = 0; b < blocks; b++)
        if (wfm_writer_write(w, block.data(), n) != n) std::abort();
    if (wfm_writer_close(w) != 0) std::abort();
    double t = now() - t0;
    wfm::convert_force_variant(nullptr);
    return t;
}

// The converters alone, into a buffer in cache.
double time_compute(const wfm::ConvertBlockFn *table, int sample_type, int be,
                    const std::vector<float> &block, std::vector<uint8_t> &out, uint64_t blocks) {
    float peak = 0;
    uint64_t clip = 0;
    double t0 = now();
    for (uint64_t b = 0; b < blocks; b++)
        table[sample_type](block.data(), block.size() / 2, out.data(), be, 1.0f, false, &peak, &clip);
    return now() - t0;
}

// A plain CSV writer: the per-sample step, then one fprintf per line.
double time_fprintf_csv(const std::string &path, int sample_type, const std::vector<float> &block,
                        uint64_t blocks) {
    static const char *const kFormat[] = {"%0.9f,%0.9f\n", "%0.17g,%0.17g\n"};
    const uint64_t n = block.size() / 2;
    fresh(path);
    double t0 = now();
    char *buf;
    FILE *f = open_stream(path, &buf);
    float peak = 0;
    uint64_t clip = 0;
    for (uint64_t b = 0; b < blocks; b++) {
        for (uint64_t k = 0; k < n; k++) {
            wfm::GainedPair g = wfm::gain_and_meter(block.data() + 2 * k, 1.0f, false, peak, clip);
            int r;
            if (sample_type <= WFM_CF64) {
                r = std::fprintf(f, kFormat[sample_type], static_cast<double>(g.i),
                                 static_cast<double>(g.q));
            } else {
                const double s = wfm::SCALE[sample_type];
                r = std::fprintf(f, "%ld,%ld\n", static_cast<long>(wfm::quantise(g.i, s)),
                                 static_cast<long>(wfm::quantise(g.q, s)));
            }
            if (r < 1) std::abort();
        }
    }
    std::fclose(f);
    double t = now() - t0;
    std::free(buf);
    return t;
}

std::vector<float> signal(uint64_t samples, uint32_t seed) {
    // A unit-scale noise-like signal: mostly within full scale, a few
    // components beyond it, no NaN.
    std::mt19937 rng(seed);
    std::normal_distribution<float> d(0.0f, 0.3f);
    std::vector<float> v(2 * samples);
    for (float &x : v) x = d(rng);
    return v;
}

const char *active_variant() {
    const wfm::ConvertBlockFn *t = wfm::convert_table();
    for (int i = 0; i < wfm::convert_variant_count(); i++)
        if (wfm::convert_variant(i).table == t) return wfm::convert_variant(i).name;
    return "?";
}

}  // namespace

int main(int argc, char **argv) {
    int rounds = 5;
    bool quick = false;
    const char *tsv_path = nullptr;
    for (int i = 1; i < argc; i++) {
        if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) rounds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--quick")) quick = true;
        else if (!std::strcmp(argv[i], "--tsv") && i + 1 < argc) tsv_path = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--rounds N] [--quick] [--tsv FILE]\n", argv[0]);
            return 2;
        }
    }
    if (rounds < 1) rounds = 1;
    std::string tmpl = (std::filesystem::temp_directory_path() / "wfm-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string file = tmpl + "/bench.out";
    FILE *tsv = tsv_path ? std::fopen(tsv_path, "w") : nullptr;
    if (tsv)
        std::fprintf(tsv, "kind\ttype\torder\tblock\twriter_s_per_sample_min\twriter_s_per_sample_med\t"
                          "floor_ratio_best\tfloor_ratio_med\tscalar_ratio_best\tscalar_ratio_med\t"
                          "devnull_speedup_med\tcompute_gsps\tper_call_s_min\n");

    const uint64_t total = quick ? (uint64_t{1} << 21) : (uint64_t{1} << 23);  // samples a run
    const uint64_t block_sizes[] = {1024, 65536, 1048576};

    std::printf("Packed writes, %d rounds of %llu samples each; converters: %s\n", rounds,
                static_cast<unsigned long long>(total), active_variant());
    std::printf("%-5s %-2s %7s | %9s %7s | %-11s | %-11s | %-9s | %8s\n", "type", "bo", "block",
                "Msample/s", "in GB/s", "x floor", "scalar x fl", "devnull", "compute");
    std::printf("%-5s %-2s %7s | %9s %7s | %-11s | %-11s | %-9s | %8s\n", "", "", "", "(best)",
                "(best)", "best / med", "min / med", "x scalar", "Gsample/s");
    for (int st = 0; st < wfm::kNumSampleTypes; st++) {
        for (int be = 0; be < 2; be++) {
            for (uint64_t bs : block_sizes) {
                const std::vector<float> block = signal(bs, 11);
                const uint64_t blocks = total / bs;
                std::vector<uint8_t> bytes(bs * 2 * wfm::ELEM[st]);
                float peak = 0;
                uint64_t clip = 0;
                wfm::CONVERT_BLOCK_SCALAR[st](block.data(), bs, bytes.data(), be, 1.0f, false,
                                              &peak, &clip);
                Series fl, wr, sc, dn, dns, cp;
                for (int r = 0; r < rounds; r++) {
                    fl.t.push_back(time_floor(file, bytes, blocks));
                    wr.t.push_back(time_writer(file, WFM_RAW, st, be, block, blocks, nullptr));
                    sc.t.push_back(time_writer(file, WFM_RAW, st, be, block, blocks, "scalar"));
                    dn.t.push_back(time_writer("/dev/null", WFM_RAW, st, be, block, blocks, nullptr));
                    dns.t.push_back(time_writer("/dev/null", WFM_RAW, st, be, block, blocks, "scalar"));
                    cp.t.push_back(time_compute(wfm::convert_table(), st, be, block, bytes, blocks));
                }
                std::filesystem::remove(file);
                const Ratio rf = ratio(wr, fl), rs = ratio(sc, fl), rd = ratio(dns, dn);
                const double samples = static_cast<double>(blocks * bs);
                std::printf("%-5s %-2s %7llu | %9.0f %7.2f | %4.2f / %4.2f | %4.2f / %4.2f | %9.1f | %8.2f\n",
                            wfm::STYPE_NAMES[st], be ? "be" : "le",
                            static_cast<unsigned long long>(bs), samples / wr.min() / 1e6,
                            samples * 8 / wr.min() / 1e9, rf.best, rf.median, rs.best,
                            rs.median, rd.median, samples / cp.min() / 1e9);
                std::fflush(stdout);
                if (tsv)
                    std::fprintf(tsv, "packed\t%s\t%s\t%llu\t%.6e\t%.6e\t%.4f\t%.4f\t%.4f\t%.4f\t%.3f\t%.4f\t%.6e\n",
                                 wfm::STYPE_NAMES[st], be ? "be" : "le",
                                 static_cast<unsigned long long>(bs), wr.min() / samples,
                                 wr.median() / samples, rf.best, rf.median, rs.best,
                                 rs.median, rd.median, samples / cp.min() / 1e9,
                                 wr.min() / static_cast<double>(blocks));
            }
        }
    }

    const uint64_t csv_total = quick ? (uint64_t{1} << 16) : (uint64_t{1} << 18);
    std::printf("\nCSV, %d rounds of %llu samples each\n", rounds,
                static_cast<unsigned long long>(csv_total));
    std::printf("%-5s %7s | %9s | %-15s\n", "type", "block", "Mline/s", "fprintf x writer");
    std::printf("%-5s %7s | %9s | %-15s\n", "", "", "(min)", "min / med");
    for (int st = 0; st < wfm::kNumSampleTypes; st++) {
        for (uint64_t bs : {uint64_t{1024}, uint64_t{65536}}) {
            const std::vector<float> block = signal(bs, 12);
            const uint64_t blocks = csv_total / bs;
            Series wr, pf;
            for (int r = 0; r < rounds; r++) {
                wr.t.push_back(time_writer(file, WFM_CSV, st, 0, block, blocks, nullptr));
                pf.t.push_back(time_fprintf_csv(file, st, block, blocks));
            }
            std::filesystem::remove(file);
            const Ratio sp = ratio(pf, wr);
            const double lines = static_cast<double>(blocks * bs);
            std::printf("%-5s %7llu | %9.1f | %5.2f / %5.2f\n", wfm::STYPE_NAMES[st],
                        static_cast<unsigned long long>(bs), lines / wr.min() / 1e6, sp.best,
                        sp.median);
            std::fflush(stdout);
            if (tsv)
                std::fprintf(tsv, "csv\t%s\tle\t%llu\t%.6e\t%.6e\t%.4f\t%.4f\t\t\t\t\t\n",
                             wfm::STYPE_NAMES[st], static_cast<unsigned long long>(bs),
                             wr.min() / lines, wr.median() / lines, sp.best, sp.median);
        }
    }
    std::printf("\nx floor: writer time / floor time (fwrite of converted bytes, 1 MiB stream "
                "buffer); devnull: scalar / writer time into /dev/null (median);\ncompute: "
                "converters alone, in cache.  fprintf x writer: fprintf loop time / writer time.\n");
    if (tsv) std::fclose(tsv);
    std::filesystem::remove_all(tmpl);
    return 0;
}
