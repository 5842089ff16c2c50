// Runs a fuzz target once over each input it is given, without libFuzzer, so
// the seed corpora (and any crash input added to them) are regression tests
// of the ordinary and sanitizer builds.
//
//   NAME_replay FILE_OR_DIRECTORY...
//
// A directory stands for the files directly in it, in name order. Exits 0
// after every input ran (a target that finds a fault aborts); 2 when an
// argument cannot be read or names no input at all.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool read_file(const std::filesystem::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(arg, ec)) {
                if (entry.is_regular_file()) files.push_back(entry.path());
            }
            std::sort(files.begin(), files.end());
            inputs.insert(inputs.end(), files.begin(), files.end());
        } else {
            inputs.push_back(arg);
        }
        if (ec) {
            std::fprintf(stderr, "%s: cannot read %s: %s\n", argv[0], argv[i],
                         ec.message().c_str());
            return 2;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s FILE_OR_DIRECTORY... (no input given)\n", argv[0]);
        return 2;
    }
    std::string bytes;
    for (const auto& path : inputs) {
        if (!read_file(path, bytes)) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], path.c_str());
            return 2;
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%zu input(s) ran\n", inputs.size());
    return 0;
}
