// Naming and writing the metadata file of a capture.
#include "metadata_file.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kDataSuffix[] = ".sigmf-data";
constexpr char kMetaSuffix[] = ".sigmf-meta";
constexpr size_t kSuffixLen = sizeof(kDataSuffix) - 1;

}  // namespace

char *wfm_meta_file_name(const char *data_path) {
    size_t len = std::strlen(data_path);
    // A ".sigmf-data" path keeps everything before its last "."; that "." is
    // the suffix's own, so the kept part is the path without the suffix.
    size_t keep = len;
    if (len >= kSuffixLen && std::memcmp(data_path + len - kSuffixLen, kDataSuffix, kSuffixLen) == 0)
        keep = len - kSuffixLen;
    if (keep > SIZE_MAX - sizeof(kMetaSuffix)) return nullptr;
    char *name = static_cast<char *>(std::malloc(keep + sizeof(kMetaSuffix)));
    if (!name) return nullptr;
    std::memcpy(name, data_path, keep);
    std::memcpy(name + keep, kMetaSuffix, sizeof(kMetaSuffix));
    return name;
}

int wfm_write_meta_file(const WfmWriter *w) {
    char *name = wfm_meta_file_name(w->meta_path);
    if (!name) return -1;
    char *text = wfm_sigmf_meta_json(w->sample_type, w->big_endian, nullptr, 0, w->fs, w->fc, w->t0);
    int result = -1;
    if (text) {
        if (FILE *f = std::fopen(name, "w")) {
            bool put_ok = std::fputs(text, f) != EOF;
            bool close_ok = std::fclose(f) == 0;
            result = put_ok && close_ok ? 0 : -1;
        }
        std::free(text);
    }
    std::free(name);
    return result;
}
