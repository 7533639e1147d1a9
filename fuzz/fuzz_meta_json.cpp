// wfm_sigmf_meta_json over arbitrary doubles (NaN, infinities, subnormals),
// any sample type and byte order flag, and small segment plans: the text is
// valid JSON of the documented shape, with one annotation per planned
// signal occurrence.
#include <cjson/cJSON.h>

#include <cmath>
#include <cstring>

#include "fuzz_input.h"
#include "wfm_writer.h"

namespace fuzz_meta_json_impl {

void run(fuzz::Input &in) {
    const int32_t sample_type = in.byte() & 0x80 ? in.take<int32_t>() : in.byte() % 5;
    const int32_t big_endian = in.take<int32_t>();
    const double fs = in.take<double>(), fc = in.take<double>(), t0 = in.take<double>();

    const size_t num_segments = in.byte() % 5;
    std::vector<wfm_segment> segs(num_segments);
    std::vector<std::vector<wfm_signal>> sigs(num_segments);
    uint64_t want_annotations = 0;
    for (size_t i = 0; i < num_segments; i++) {
        wfm_segment &s = segs[i];
        std::memset(&s, 0, sizeof s);
        s.fs = in.byte() & 1 ? in.take<double>() : 2.4e6;
        s.num_samples = in.take<uint16_t>();
        s.num_samples_max = in.take<uint16_t>();
        s.gap = in.take<uint16_t>();
        s.gap_max = in.take<uint16_t>();
        s.lead = in.take<uint8_t>();
        s.lead_max = in.take<uint8_t>();
        s.flags = in.byte() & 0x70u;
        s.repeat = in.byte() % 6;
        sigs[i].resize(in.byte() % 4);
        for (wfm_signal &g : sigs[i]) {
            std::memset(&g, 0, sizeof g);
            g.kind = in.byte() & 0x80 ? in.take<int32_t>() : in.byte() % 9;
            g.freq_offset = in.take<double>();
            g.snr = in.take<double>();
            g.snr_mode = in.byte() & 0x80 ? in.take<int32_t>() : in.byte() % 4;
            g.seed = in.take<uint32_t>();
            g.sps = in.take<int32_t>();
            g.pn_length = in.take<int32_t>();
            g.pn_poly = in.take<uint64_t>();
            g.chirp_end = in.take<double>();
            g.symbol_rate = in.take<double>();
            g.no_data = in.take<int32_t>();
        }
        s.signals = sigs[i].empty() ? nullptr : sigs[i].data();
        s.num_signals = sigs[i].size();
        want_annotations += (s.repeat == 0 ? 1 : s.repeat) * s.num_signals;
    }

    char *text = wfm_sigmf_meta_json(sample_type, big_endian, segs.empty() ? nullptr : segs.data(),
                                     segs.size(), fs, fc, t0);
    if (sample_type < 0 || sample_type > 4) {
        FUZZ_CHECK(text == nullptr);
        return;
    }
    FUZZ_CHECK(text != nullptr);
    cJSON *doc = cJSON_Parse(text);
    FUZZ_CHECK(doc != nullptr);
    const cJSON *global = cJSON_GetObjectItemCaseSensitive(doc, "global");
    const cJSON *captures = cJSON_GetObjectItemCaseSensitive(doc, "captures");
    const cJSON *annotations = cJSON_GetObjectItemCaseSensitive(doc, "annotations");
    FUZZ_CHECK(cJSON_IsObject(global) && cJSON_IsArray(captures) && cJSON_IsArray(annotations));
    FUZZ_CHECK(cJSON_IsString(cJSON_GetObjectItemCaseSensitive(global, "core:datatype")));
    FUZZ_CHECK(cJSON_GetArraySize(captures) == 1);
    FUZZ_CHECK(static_cast<uint64_t>(cJSON_GetArraySize(annotations)) == want_annotations);

    double rate = fs;
    if (rate == 0.0 && !segs.empty()) {
        rate = segs[0].fs;
        for (size_t i = 1; i < segs.size(); i++)
            if (!(segs[i].fs == rate)) {
                rate = 0.0;
                break;
            }
    }
    FUZZ_CHECK((cJSON_GetObjectItemCaseSensitive(global, "core:sample_rate") != nullptr) == (rate != 0.0));
    const cJSON *capture = cJSON_GetArrayItem(captures, 0);
    FUZZ_CHECK((cJSON_GetObjectItemCaseSensitive(capture, "core:frequency") != nullptr) == (fc != 0.0));
    const cJSON *dt = cJSON_GetObjectItemCaseSensitive(capture, "core:datetime");
    if (dt) {
        FUZZ_CHECK(t0 != 0.0 && std::isfinite(t0) && cJSON_IsString(dt));
        const char *s = dt->valuestring;
        const size_t n = std::strlen(s);
        // "%Y" is not padded: years before 1000 give a shorter text.
        FUZZ_CHECK(n >= 24 && n <= 31 && s[n - 1] == 'Z' && s[n - 8] == '.' && s[n - 17] == 'T');
    }
    cJSON_Delete(doc);
    std::free(text);
}

}  // namespace fuzz_meta_json_impl

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Input in(data, size);
    fuzz_meta_json_impl::run(in);
    return 0;
}
