#include "common/gzip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace Core_Common {
namespace {

std::string sample_text(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out;
    while (out.size() < size) {
        out += "<node><title>Bookmark " + std::to_string(rng() % 1000) +
               "</title><url>https://example.org/" + std::to_string(rng()) + "</url></node>\n";
    }
    out.resize(size);
    return out;
}

std::string random_bytes_of(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(size, '\0');
    for (auto& c : out) c = static_cast<char>(rng());
    return out;
}

std::uint32_t le32(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}

void set_le32(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// A raw deflate stream of `data` made directly with zlib.
std::string raw_deflate(const std::string& data, int level) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&zs, data.size()), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

std::string trailer_of(std::uint32_t crc, std::uint32_t length) {
    std::string t(8, '\0');
    set_le32(t, 0, crc);
    set_le32(t, 4, length);
    return t;
}

TEST(GzipCompress, EmptyInputGivesTwentyBytes) {
    std::string data;
    ASSERT_TRUE(gzip_compress(data));
    ASSERT_EQ(data.size(), 20u);
    EXPECT_EQ(data.substr(0, 10), std::string("\x1F\x8B\x08\0\0\0\0\0\0\x0B", 10));
    EXPECT_EQ(le32(data, 12), 0u);
    EXPECT_EQ(le32(data, 16), 0u);
    EXPECT_TRUE(gzip_decompress(data));
    EXPECT_TRUE(data.empty());
}

TEST(GzipCompress, MemberLayoutHeaderStreamCrcAndLength) {
    // Text deflates into the first output buffer; random bytes outgrow it
    // several times over, and the stream must not show it.
    for (const std::string& input : {sample_text(100000, 1), random_bytes_of(300000, 2)}) {
        std::string data = input;
        ASSERT_TRUE(gzip_compress(data));
        EXPECT_EQ(data.substr(0, 10), std::string("\x1F\x8B\x08\0\0\0\0\0\0\x0B", 10));
        EXPECT_EQ(le32(data, data.size() - 8),
                  crc32(0, reinterpret_cast<const Bytef*>(input.data()), input.size()));
        EXPECT_EQ(le32(data, data.size() - 4), input.size());
        // The stream between is plain raw deflate at the writer's level.
        EXPECT_EQ(data.substr(10, data.size() - 18), raw_deflate(input, gzip_level));
        // Fed in pieces of any sizes, the writer gives the same member.
        std::mt19937 rng(7);
        gzip_writer_t writer;
        for (std::size_t at = 0; at < input.size();) {
            const std::size_t n = std::min<std::size_t>(input.size() - at, rng() % 70000);
            ASSERT_TRUE(writer.add(std::string_view(input).substr(at, n)));
            at += n;
        }
        std::string member;
        ASSERT_TRUE(writer.finish(member));
        EXPECT_TRUE(member == data);
    }
}

// zlib's own gzip reader over `member`: the bytes, or "(refused)".
std::string zlib_gunzip(std::string member, std::size_t expected) {
    z_stream zs{};
    if (inflateInit2(&zs, 16 + 15) != Z_OK) return "(refused)";
    std::string out(expected + 16, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(member.data());
    zs.avail_in = static_cast<uInt>(member.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return result == Z_STREAM_END ? out : "(refused)";
}

// Inputs past the writer's one-megabyte block are packed a block at a time
// on several threads. Whatever the sizes around the block edges and however
// the input is cut, the member is one stream that both readers give back
// whole, the same bytes every time, and about as small as one stream.
TEST(GzipWriter, InputsOfManyBlocksPackTheSameHoweverCut) {
    constexpr std::size_t kBlock = 1024 * 1024;
    const std::string text = sample_text(5 * kBlock + 12345, 11);
    std::mt19937 rng(13);
    for (const std::size_t size :
         {kBlock - 1, kBlock, kBlock + 1, 2 * kBlock, 3 * kBlock + 7, text.size()}) {
        // Random bytes in the middle: blocks that deflate badly next to
        // blocks that deflate well.
        std::string input = text.substr(0, size);
        if (size > 3 * kBlock) input.replace(kBlock + 100, kBlock, random_bytes_of(kBlock, 17));
        std::string whole = input;
        ASSERT_TRUE(gzip_compress(whole));
        std::string back = whole;
        ASSERT_TRUE(gzip_decompress(back)) << size;
        EXPECT_TRUE(back == input) << size;
        EXPECT_TRUE(zlib_gunzip(whole, input.size()) == input) << size;
        const std::size_t single = raw_deflate(input, gzip_level).size() + 18;
        EXPECT_LE(whole.size(), single + single / 50 + 64) << size;
        for (int round = 0; round < 3; ++round) {
            gzip_writer_t writer;
            if (round == 1) writer.expect(input.size());
            for (std::size_t at = 0; at < input.size();) {
                const std::size_t n =
                    std::min<std::size_t>(input.size() - at, rng() % (round == 2 ? 5000 : 900000));
                ASSERT_TRUE(writer.add(std::string_view(input).substr(at, n)));
                at += n;
            }
            std::string member;
            ASSERT_TRUE(writer.finish(member));
            EXPECT_TRUE(member == whole) << size << " round " << round;
        }
    }
}

// A head packed after the rest (a length known only then) comes out in
// front, for this codec and for zlib's own gzip reader alike.
TEST(GzipWriter, AHeadPackedLastComesFirst) {
    const std::string rest = sample_text(2000000, 5) + random_bytes_of(70000, 6);
    for (const std::string& head :
         {std::string(), std::string("12345678<Zorvane/>"), sample_text(300000, 7)}) {
        gzip_writer_t writer;
        for (std::size_t at = 0; at < rest.size(); at += 65536) {
            ASSERT_TRUE(writer.add(std::string_view(rest).substr(at, 65536)));
        }
        std::string member;
        ASSERT_TRUE(writer.finish_after(head, member));
        EXPECT_EQ(member.substr(0, 10), std::string("\x1F\x8B\x08\0\0\0\0\0\0\x0B", 10));
        std::string mine = member;
        ASSERT_TRUE(gzip_decompress(mine));
        EXPECT_TRUE(mine == head + rest) << head.size();
        // zlib reading the member as a gzip stream.
        z_stream zs{};
        ASSERT_EQ(inflateInit2(&zs, 16 + 15), Z_OK);
        std::string theirs(head.size() + rest.size() + 16, '\0');
        zs.next_in = reinterpret_cast<Bytef*>(member.data());
        zs.avail_in = static_cast<uInt>(member.size());
        zs.next_out = reinterpret_cast<Bytef*>(theirs.data());
        zs.avail_out = static_cast<uInt>(theirs.size());
        EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
        theirs.resize(zs.total_out);
        inflateEnd(&zs);
        EXPECT_TRUE(theirs == head + rest);
    }
}

// Inflated in pieces to a sink, a member gives its bytes in order and the
// verdict of gzip_decompress, damaged, capped or whole.
TEST(GzipDecompress, InPiecesGivesTheBytesAndTheVerdictOfTheWholeForm) {
    const std::string input = sample_text(3000000, 3) + random_bytes_of(500000, 4);
    std::string member = input;
    ASSERT_TRUE(gzip_compress(member));
    std::string seen;
    std::size_t pieces = 0;
    auto sink = [&](std::string_view bytes) {
        ++pieces;
        EXPECT_LE(bytes.size(), 1u << 20);
        seen.append(bytes);
        return true;
    };
    ASSERT_TRUE(gzip_decompress(member, sink));
    EXPECT_TRUE(seen == input);
    EXPECT_GT(pieces, 3u);

    std::string damaged = member;
    damaged[damaged.size() - 6] ^= 1;  // the CRC
    seen.clear();
    EXPECT_FALSE(gzip_decompress(damaged, sink));
    std::string whole = damaged;
    EXPECT_FALSE(gzip_decompress(whole));
    EXPECT_TRUE(seen == whole);

    seen.clear();
    EXPECT_FALSE(gzip_decompress(member, sink, input.size() - 1));  // one byte over the cap
    EXPECT_TRUE(gzip_decompress(member, sink, input.size()));
    EXPECT_FALSE(gzip_decompress(member.substr(0, member.size() / 2), sink));
    EXPECT_FALSE(gzip_decompress(std::string_view("\x1F\x8B\x09", 3), sink));
    // The sink can stop it.
    EXPECT_FALSE(gzip_decompress(member, [](std::string_view) { return false; }));
}

TEST(GzipRoundTrip, StringsAndVectorsOfManySizes) {
    for (std::size_t size : {1u, 2u, 4095u, 4096u, 4097u, 65536u, 1u << 20}) {
        for (const std::string& input : {sample_text(size, 7), random_bytes_of(size, 8)}) {
            std::string s = input;
            ASSERT_TRUE(gzip_compress(s));
            ASSERT_TRUE(gzip_decompress(s)) << size;
            EXPECT_EQ(s, input);

            std::vector<std::uint8_t> v(input.begin(), input.end());
            ASSERT_TRUE(gzip_compress(v));
            ASSERT_TRUE(gzip_decompress(v)) << size;
            EXPECT_EQ(std::string(v.begin(), v.end()), input);
        }
    }
}

TEST(GzipDecompress, AcceptsMembersOfTheSystemGzipProgram) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(testing::TempDir()) / "gzip_system";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string input = sample_text(50000, 3);
    std::ofstream(dir / "bookmarks.xml", std::ios::binary) << input;
    const std::string command = "gzip -9 -k '" + (dir / "bookmarks.xml").string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "no gzip program";
    std::ifstream in(dir / "bookmarks.xml.gz", std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), {});
    fs::remove_all(dir);
    ASSERT_GT(data.size(), 10u);
    EXPECT_EQ(data[3] & 8, 8) << "the member carries the file name";
    ASSERT_TRUE(gzip_decompress(data));
    EXPECT_EQ(data, input);
}

TEST(GzipDecompress, SkipsEveryOptionalHeaderField) {
    const std::string input = "optional fields";
    const std::string member =
        std::string("\x1F\x8B\x08\x1E\0\0\0\0\0\x03", 10) +
        std::string("\x03\0abc", 5) +     // extra field
        std::string("name.txt\0", 9) +    // name
        std::string("a comment\0", 10) +  // comment
        std::string("\x12\x34", 2) +      // header CRC
        raw_deflate(input, 9) +
        trailer_of(crc32(0, reinterpret_cast<const Bytef*>(input.data()), input.size()),
                   input.size());
    std::string data = member;
    ASSERT_TRUE(gzip_decompress(data));
    EXPECT_EQ(data, input);
}

TEST(GzipDecompress, InvalidHeadersGiveFalseAndEmptyData) {
    std::string good = "x";
    ASSERT_TRUE(gzip_compress(good));
    const std::string cases[] = {
        "",
        "not gzip at all, not gzip at all",
        std::string("\x1F\x8B\x09") + good.substr(3),                    // not deflate
        std::string("\x1F\x8B\x08\x20", 4) + good.substr(4),             // flags of 32
        std::string("\x1F\x8B\x08\x08\0\0\0\0\0\x03no-terminator", 23),  // name runs off
        std::string("\x1F\x8B\x08\x04\0\0\0\0\0\x03\xFF\x00", 12),       // extra runs off
        std::string("\x1F\x8B\x08\x02\0\0\0\0\0\x03\x00", 11),           // header CRC runs off
        good.substr(0, 17),                                              // fewer than 8 after
    };
    for (const std::string& c : cases) {
        std::string data = c;
        EXPECT_FALSE(gzip_decompress(data)) << testing::PrintToString(c);
        EXPECT_TRUE(data.empty());
    }
}

TEST(GzipDecompress, LengthAndCrcMismatchesKeepTheBytesButFail) {
    const std::string input = sample_text(20000, 5);
    std::string member = input;
    ASSERT_TRUE(gzip_compress(member));

    std::string wrong_length = member;
    set_le32(wrong_length, member.size() - 4, static_cast<std::uint32_t>(input.size() + 1));
    EXPECT_FALSE(gzip_decompress(wrong_length));
    EXPECT_EQ(wrong_length, input);

    std::string wrong_crc = member;
    wrong_crc[member.size() - 8] ^= 1;
    EXPECT_FALSE(gzip_decompress(wrong_crc));
    EXPECT_EQ(wrong_crc, input);
}

TEST(GzipDecompress, DamagedOrTruncatedStreamsFail) {
    const std::string input = random_bytes_of(10000, 9);
    std::string member = input;
    ASSERT_TRUE(gzip_compress(member));

    std::string truncated = member.substr(0, member.size() / 2) + member.substr(member.size() - 8);
    EXPECT_FALSE(gzip_decompress(truncated));
    EXPECT_LT(truncated.size(), input.size());

    std::string damaged = member;
    for (std::size_t i = 10; i < damaged.size() - 8; i += 97) damaged[i] ^= 0x5A;
    EXPECT_FALSE(gzip_decompress(damaged));
}

TEST(GzipDecompress, WrongTrailerLengthDoesNotDriveAllocation) {
    std::string member = "small";
    ASSERT_TRUE(gzip_compress(member));
    set_le32(member, member.size() - 4, 0xFFFFFFFFu);
    EXPECT_FALSE(gzip_decompress(member));
    EXPECT_EQ(member, "small");
}

TEST(GzipDecompress, InflationIsCappedAt128MiB) {
    const std::string at_cap(gzip_inflate_limit, '\0');
    const std::uint32_t crc_at_cap =
        crc32(0, reinterpret_cast<const Bytef*>(at_cap.data()), at_cap.size());
    const std::string header("\x1F\x8B\x08\0\0\0\0\0\0\x03", 10);

    std::string exact =
        header + raw_deflate(at_cap, 1) + trailer_of(crc_at_cap, gzip_inflate_limit);
    ASSERT_TRUE(gzip_decompress(exact));
    EXPECT_EQ(exact.size(), gzip_inflate_limit);
    exact.clear();
    exact.shrink_to_fit();

    std::string beyond = at_cap + std::string(1, '\0');
    beyond = header + raw_deflate(beyond, 1) + trailer_of(0, 0);
    EXPECT_FALSE(gzip_decompress(beyond));
    EXPECT_LE(beyond.size(), gzip_inflate_limit);
}

}  // namespace
}  // namespace Core_Common
