// Replays the fuzz targets' seed corpus and kept regression inputs (fuzz/)
// in the normal suite, so an input that once broke a target is run by every
// build, sanitizer builds included.  A target aborts on a failed check.
#include <filesystem>
#include <string>

#include "test_support.h"

#define LLVMFuzzerTestOneInput fuzz_kw_decode_one
#include "../../fuzz/fuzz_kw_decode.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput fuzz_kw_roundtrip_one
#include "../../fuzz/fuzz_kw_roundtrip.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput fuzz_meta_json_one
#include "../../fuzz/fuzz_meta_json.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput fuzz_writer_ops_one
#include "../../fuzz/fuzz_writer_ops.cpp"
#undef LLVMFuzzerTestOneInput

namespace {

namespace fs = std::filesystem;

const fs::path kFuzzDir = fs::path(__FILE__).parent_path() / ".." / ".." / "fuzz";

int replay(const std::string &target, int (*one)(const uint8_t *, size_t)) {
    int n = 0;
    for (const char *kind : {"corpus", "regressions"}) {
        const fs::path dir = kFuzzDir / kind / target;
        if (!fs::is_directory(dir)) continue;
        for (const auto &e : fs::directory_iterator(dir)) {
            if (!e.is_regular_file()) continue;
            SCOPED_TRACE(e.path().filename().string());
            const wfm_test::Bytes b = wfm_test::read_file(e.path().string());
            one(b.data(), b.size());
            n++;
        }
    }
    return n;
}

TEST(FuzzRegressions, every_kept_input_passes_its_target) {
    EXPECT_GT(replay("fuzz_kw_decode", fuzz_kw_decode_one), 0);
    EXPECT_GT(replay("fuzz_kw_roundtrip", fuzz_kw_roundtrip_one), 0);
    EXPECT_GT(replay("fuzz_meta_json", fuzz_meta_json_one), 0);
    EXPECT_GT(replay("fuzz_writer_ops", fuzz_writer_ops_one), 0);
}

}  // namespace
