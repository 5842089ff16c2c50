// Throughput of the data codecs against their natural baselines, measured in
// the same run: gzip against raw zlib deflate/inflate at level 6, the cipher
// envelope against one raw EVP AES-256-CFB pass, and the XML node wrapper
// against a bare libxml2 read. Every run measures the same work: the data
// comes from a fixed-seed generator of bookmark-tree XML.
//
// After the usual table a summary prints each ratio (baseline time divided by
// codec time: 1.0 means as fast as the baseline). Ratios use CPU time, which
// a busy shared machine disturbs less than wall time; with repetitions
// (three by default) each figure is the median.

#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/crypto.h"
#include "common/gzip.h"
#include "common/xml_node.h"

namespace {

using namespace Core_Common;

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * KiB;

// A bookmark tree document of about `size` bytes: folders of bookmarks, with
// every element of the tree form, from a generator with a fixed seed.
std::string bookmark_xml(std::size_t size) {
    static const char* const words[] = {"news", "Recipes", "travel",  "Zorvane",
                                        "docs", "music",   "daily",   "archive",
                                        "café", "wiki",    "Reading", "tools"};
    std::mt19937 rng(20240611);
    auto word = [&] { return std::string(words[rng() % std::size(words)]); };
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<nodeset>\n  <node>\n"
        "    <guid>root________</guid>\n    <type>folder</type>\n    <children>\n";
    const std::string tail = "    </children>\n  </node>\n</nodeset>\n";
    int id = 0;
    while (xml.size() + tail.size() < size) {
        const bool folder = rng() % 8 == 0;
        char guid[16];
        std::snprintf(guid, sizeof guid, "g%011d", ++id);
        std::string node = "      <node>\n        <guid>" + std::string(guid) + "</guid>\n";
        node += folder ? "        <type>folder</type>\n" : "        <type>bookmark</type>\n";
        node += "        <name>" + word() + " " + word() + " &amp; " + word() + "</name>\n";
        node += "        <description>" + (rng() % 3 == 0 ? word() + " " + word() : "") +
                "</description>\n        <keyword/>\n        <tag>" + word() + "</tag>\n";
        if (folder) {
            node += "        <url/>\n";
        } else {
            node += "        <url>https://www." + word() + ".example/" + word() + "/" +
                    std::to_string(rng() % 100000) + "?q=" + word() + "</url>\n";
        }
        node += "        <feedurl/>\n        <created>" + std::to_string(1600000000000LL + rng()) +
                "</created>\n        <modified>" + std::to_string(1700000000000LL + rng()) +
                "</modified>\n      </node>\n";
        xml += node;
    }
    return xml + tail;
}

const std::string& input_of(std::size_t size) {
    static std::map<std::size_t, std::string> cache;
    auto it = cache.find(size);
    if (it == cache.end()) it = cache.emplace(size, bookmark_xml(size)).first;
    return it->second;
}

const char kPassphrase[] = "benchmark passphrase";

void set_bytes(benchmark::State& state, std::size_t size) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// ---- gzip against raw zlib ----

std::string raw_deflate6(const std::string& in) {
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, in.size()), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

void BM_ZlibDeflate6(benchmark::State& state) {
    const std::string& in = input_of(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(raw_deflate6(in));
    set_bytes(state, in.size());
}

void BM_GzipCompress(benchmark::State& state) {
    const std::string& in = input_of(static_cast<std::size_t>(state.range(0)));
    std::string data;
    for (auto _ : state) {
        data = in;
        if (!gzip_compress(data)) state.SkipWithError("gzip_compress failed");
        benchmark::DoNotOptimize(data.data());
    }
    set_bytes(state, in.size());
}

void BM_ZlibInflate(benchmark::State& state) {
    const std::string& in = input_of(static_cast<std::size_t>(state.range(0)));
    const std::string stream = raw_deflate6(in);
    for (auto _ : state) {
        std::string out(in.size(), '\0');
        z_stream zs{};
        inflateInit2(&zs, -15);
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
        zs.avail_in = static_cast<uInt>(stream.size());
        zs.next_out = reinterpret_cast<Bytef*>(out.data());
        zs.avail_out = static_cast<uInt>(out.size());
        if (inflate(&zs, Z_FINISH) != Z_STREAM_END) state.SkipWithError("inflate failed");
        inflateEnd(&zs);
        benchmark::DoNotOptimize(out.data());
    }
    set_bytes(state, in.size());
}

void BM_GzipDecompress(benchmark::State& state) {
    const std::string& in = input_of(static_cast<std::size_t>(state.range(0)));
    std::string member = in;
    gzip_compress(member);
    std::string data;
    for (auto _ : state) {
        data = member;
        if (!gzip_decompress(data)) state.SkipWithError("gzip_decompress failed");
        benchmark::DoNotOptimize(data.data());
    }
    set_bytes(state, in.size());
}

// ---- envelope against one raw EVP pass ----

void evp_pass(bool encrypting, std::string& buffer) {
    unsigned char key[32], iv[16] = {};
    unsigned int len = 0;
    EVP_Digest(kPassphrase, sizeof kPassphrase - 1, key, &len, EVP_sha256(), nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    auto* p = reinterpret_cast<unsigned char*>(buffer.data());
    int out = 0;
    if (encrypting) {
        EVP_EncryptInit_ex(ctx, EVP_aes_256_cfb128(), nullptr, key, iv);
        EVP_EncryptUpdate(ctx, p, &out, p, static_cast<int>(buffer.size()));
        EVP_EncryptFinal_ex(ctx, p + out, &out);
    } else {
        EVP_DecryptInit_ex(ctx, EVP_aes_256_cfb128(), nullptr, key, iv);
        EVP_DecryptUpdate(ctx, p, &out, p, static_cast<int>(buffer.size()));
        EVP_DecryptFinal_ex(ctx, p + out, &out);
    }
    EVP_CIPHER_CTX_free(ctx);
}

// Both sides copy their input into a reused buffer first, so each iteration
// starts from the same bytes; the copy is part of both measurements.
void BM_EvpEncrypt(benchmark::State& state) {
    const std::string& in = input_of(static_cast<std::size_t>(state.range(0)));
    std::string buffer;
    buffer.reserve(in.size() + 64);
    for (auto _ : state) {
        buffer.assign(in);
        evp_pass(true, buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    set_bytes(state, in.size());
}

void BM_Encrypt(benchmark::State& state) {
    const std::string& in = input_of(static_cast<std::size_t>(state.range(0)));
    std::string buffer;
    buffer.reserve(in.size() + 64);
    for (auto _ : state) {
        buffer.assign(in);
        if (!encrypt(kPassphrase, buffer)) state.SkipWithError("encrypt failed");
        benchmark::DoNotOptimize(buffer.data());
    }
    set_bytes(state, in.size());
}

void BM_EvpDecrypt(benchmark::State& state) {
    const std::string& in = input_of(static_cast<std::size_t>(state.range(0)));
    std::string sealed = in;
    encrypt(kPassphrase, sealed);
    std::string buffer;
    buffer.reserve(sealed.size());
    for (auto _ : state) {
        buffer.assign(sealed);
        evp_pass(false, buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    set_bytes(state, in.size());
}

void BM_Decrypt(benchmark::State& state) {
    const std::string& in = input_of(static_cast<std::size_t>(state.range(0)));
    std::string sealed = in;
    encrypt(kPassphrase, sealed);
    std::string buffer;
    buffer.reserve(sealed.size());
    for (auto _ : state) {
        buffer.assign(sealed);
        if (!decrypt(kPassphrase, buffer)) state.SkipWithError("decrypt failed");
        benchmark::DoNotOptimize(buffer.data());
    }
    set_bytes(state, in.size());
}

// ---- XML node wrapper against a bare libxml2 read ----

void BM_LibxmlRead(benchmark::State& state) {
    const std::string& in = input_of(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        xmlDoc* doc = xmlReadMemory(in.data(), static_cast<int>(in.size()), nullptr, nullptr, 0);
        if (doc == nullptr) state.SkipWithError("xmlReadMemory failed");
        xmlFreeDoc(doc);
    }
    set_bytes(state, in.size());
}

void BM_XmlParse(benchmark::State& state) {
    const std::string& in = input_of(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        xml_node_t root;
        if (!root.parse(in)) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(root.children.data());
    }
    set_bytes(state, in.size());
}

void BM_XmlSerialize(benchmark::State& state) {
    const std::string& in = input_of(static_cast<std::size_t>(state.range(0)));
    xml_node_t root;
    root.parse(in);
    std::string out;
    for (auto _ : state) {
        root.serialize(out, true);
        benchmark::DoNotOptimize(out.data());
    }
    set_bytes(state, in.size());
}

void BM_XmlParseSerialize(benchmark::State& state) {
    const std::string& in = input_of(static_cast<std::size_t>(state.range(0)));
    std::string out;
    for (auto _ : state) {
        xml_node_t root;
        if (!root.parse(in)) state.SkipWithError("parse failed");
        root.serialize(out, true);
        benchmark::DoNotOptimize(out.data());
    }
    set_bytes(state, in.size());
}

void codec_sizes(benchmark::internal::Benchmark* b) {
    b->Arg(64 * KiB)->Arg(1 * MiB)->Arg(16 * MiB)->Unit(benchmark::kMicrosecond);
}
void xml_sizes(benchmark::internal::Benchmark* b) {
    b->Arg(64 * KiB)->Arg(1 * MiB)->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_ZlibDeflate6)->Apply(codec_sizes);
BENCHMARK(BM_GzipCompress)->Apply(codec_sizes);
BENCHMARK(BM_ZlibInflate)->Apply(codec_sizes);
BENCHMARK(BM_GzipDecompress)->Apply(codec_sizes);
BENCHMARK(BM_EvpEncrypt)->Apply(codec_sizes);
BENCHMARK(BM_Encrypt)->Apply(codec_sizes);
BENCHMARK(BM_EvpDecrypt)->Apply(codec_sizes);
BENCHMARK(BM_Decrypt)->Apply(codec_sizes);
BENCHMARK(BM_LibxmlRead)->Apply(xml_sizes);
BENCHMARK(BM_XmlParse)->Apply(xml_sizes);
BENCHMARK(BM_XmlSerialize)->Apply(xml_sizes);
BENCHMARK(BM_XmlParseSerialize)->Apply(xml_sizes);

// Keeps the console table and remembers each run's time per iteration and
// throughput for the summary.
class summary_reporter : public benchmark::ConsoleReporter {
public:
    struct figure_t {
        double seconds = 0;
        double bytes_per_second = 0;
    };

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            // With repetitions, the median stands for the benchmark; a single
            // run stands for itself.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median) continue;
            const std::string name = run.run_name.str();
            if (!median && m_from_median.count(name) != 0) continue;
            figure_t f;
            f.seconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) f.bytes_per_second = it->second.value;
            m_figures[name] = f;
            if (median) m_from_median.insert(name);
        }
    }

    void print_summary() const {
        std::printf(
            "\n== Ratios (baseline time / codec time; target >= 0.90 for gzip and cipher)\n");
        const char* sizes[] = {"65536", "1048576", "16777216"};
        const char* labels[] = {"64 KiB", "1 MiB", "16 MiB"};
        struct pair_t {
            const char* codec;
            const char* baseline;
            const char* what;
        };
        const pair_t pairs[] = {
            {"BM_GzipCompress", "BM_ZlibDeflate6", "gzip_compress   vs raw deflate level 6"},
            {"BM_GzipDecompress", "BM_ZlibInflate", "gzip_decompress vs raw inflate"},
            {"BM_Encrypt", "BM_EvpEncrypt", "encrypt         vs raw EVP AES-256-CFB"},
            {"BM_Decrypt", "BM_EvpDecrypt", "decrypt         vs raw EVP AES-256-CFB"}};
        for (const pair_t& p : pairs) {
            for (int i = 0; i < 3; ++i)
                print_ratio(p.codec, p.baseline, p.what, sizes[i], labels[i]);
        }
        std::printf("\n== XML node wrapper (bookmark tree documents)\n");
        for (int i = 0; i < 2; ++i) {
            const std::string size = sizes[i];
            const figure_t* bare = find("BM_LibxmlRead/" + size);
            for (const char* name : {"BM_XmlParse", "BM_XmlSerialize", "BM_XmlParseSerialize"}) {
                const figure_t* f = find(std::string(name) + "/" + size);
                if (f == nullptr || bare == nullptr) continue;
                std::printf("%-22s %-7s %8.1f MB/s   ratio to bare xmlReadMemory+xmlFreeDoc %.2f\n",
                            name + 3, labels[i], f->bytes_per_second / 1e6,
                            bare->seconds / f->seconds);
            }
            if (bare != nullptr) {
                std::printf("%-22s %-7s %8.1f MB/s\n", "LibxmlRead (bare)", labels[i],
                            bare->bytes_per_second / 1e6);
            }
        }
    }

private:
    const figure_t* find(const std::string& name) const {
        auto it = m_figures.find(name);
        return it == m_figures.end() ? nullptr : &it->second;
    }

    void print_ratio(const char* codec, const char* baseline, const char* what, const char* size,
                     const char* label) const {
        const figure_t* c = find(std::string(codec) + "/" + size);
        const figure_t* b = find(std::string(baseline) + "/" + size);
        if (c == nullptr || b == nullptr) return;
        const double ratio = b->seconds / c->seconds;
        std::printf("%s  %-7s %8.1f MB/s vs %8.1f MB/s  ratio %.2f%s\n", what, label,
                    c->bytes_per_second / 1e6, b->bytes_per_second / 1e6, ratio,
                    ratio >= 0.9 ? "" : "  (below 0.90)");
    }

    std::map<std::string, figure_t> m_figures;
    std::set<std::string> m_from_median;
};

}  // namespace

int main(int argc, char** argv) {
    xmlInitParser();
    // Three repetitions unless the command line asks otherwise.
    std::vector<char*> args(argv, argv + argc);
    bool repetitions_given = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0) repetitions_given = true;
    }
    static char default_repetitions[] = "--benchmark_repetitions=3";
    static char aggregates_only[] = "--benchmark_report_aggregates_only=true";
    if (!repetitions_given) {
        args.push_back(default_repetitions);
        args.push_back(aggregates_only);
    }
    argc = static_cast<int>(args.size());
    args.push_back(nullptr);
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    summary_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_summary();
    benchmark::Shutdown();
    return 0;
}
