#include "common/gzip.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "common/crc32.h"

namespace Core_Common {
namespace {

constexpr unsigned char kHeader[10] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 11};
constexpr std::size_t kHeaderSize = sizeof kHeader;
constexpr std::size_t kTrailerSize = 8;
constexpr std::size_t kStep = 4096;
// zlib counts in 32-bit units; longer buffers are fed in pieces.
constexpr std::size_t kMaxPiece = UINT_MAX;
// Inflation hands over its output in pieces of this size, so the CRC reads
// each piece while it is still in the cache.
constexpr std::size_t kCrcPiece = 1024 * 1024;
// Deflate cannot expand data by more than this factor.
constexpr std::size_t kMaxDeflateRatio = 1032;

enum : unsigned { FLAG_HCRC = 2, FLAG_EXTRA = 4, FLAG_NAME = 8, FLAG_COMMENT = 16 };

void put_le32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

std::uint32_t get_le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

template <class Bytes>
unsigned char* bytes_of(Bytes& b) {
    return reinterpret_cast<unsigned char*>(b.data());
}

// The member of `n` bytes at `in`, into `out` (replaced).
template <class Bytes>
bool compress_into(const unsigned char* in, std::size_t n, Bytes& out) {
    gzip_writer_t writer;
    writer.expect(n);
    std::string member;
    if (!writer.add(std::string_view(reinterpret_cast<const char*>(in), n)) ||
        !writer.finish(member)) {
        return false;
    }
    out.assign(member.begin(), member.end());
    return true;
}

template <class Bytes>
bool compress(Bytes& data) {
    Bytes out;
    if (!compress_into(reinterpret_cast<const unsigned char*>(data.data()), data.size(), out))
        return false;
    data.swap(out);
    return true;
}

// The offset of the deflate stream, or 0 when the header is invalid.
std::size_t header_length(const unsigned char* p, std::size_t n) {
    if (n < kHeaderSize || p[0] != 0x1F || p[1] != 0x8B || p[2] != 8 || p[3] >= 32) return 0;
    const unsigned flags = p[3];
    std::size_t pos = kHeaderSize;
    if (flags & FLAG_EXTRA) {
        if (n - pos < 2) return 0;
        const std::size_t extra =
            static_cast<std::size_t>(p[pos]) | static_cast<std::size_t>(p[pos + 1]) << 8;
        pos += 2;
        if (n - pos < extra) return 0;
        pos += extra;
    }
    for (unsigned flag : {FLAG_NAME, FLAG_COMMENT}) {
        if (!(flags & flag)) continue;
        const void* end = std::memchr(p + pos, 0, n - pos);
        if (end == nullptr) return 0;
        pos = static_cast<std::size_t>(static_cast<const unsigned char*>(end) - p) + 1;
    }
    if (flags & FLAG_HCRC) {
        if (n - pos < 2) return 0;
        pos += 2;
    }
    return pos;
}

template <class Bytes>
bool decompress(Bytes& data, const std::size_t limit, bool* too_large = nullptr) {
    if (too_large != nullptr) *too_large = false;
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    const std::size_t n = data.size();
    const std::size_t start = header_length(p, n);
    if (start == 0 || n - start < kTrailerSize) {
        data.clear();
        return false;
    }
    const std::size_t stream_length = n - start - kTrailerSize;
    const std::uint32_t stated_crc = get_le32(p + n - kTrailerSize);
    const std::uint32_t stated_length = get_le32(p + n - 4);
    // A member that says it is larger than the limit is refused unread.
    if (limit < gzip_inflate_limit && stated_length > limit) {
        if (too_large != nullptr) *too_large = true;
        data.clear();
        return false;
    }

    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK) {
        data.clear();
        return false;
    }
    // Start at the stated length when it is plausible for this input, so a
    // well-formed member inflates without regrowing; a lying trailer costs at
    // most what the input could expand to anyway.
    const std::size_t plausible = std::min<std::size_t>(
        {static_cast<std::size_t>(stated_length), stream_length * kMaxDeflateRatio + kStep, limit});
    std::size_t capacity = std::max<std::size_t>(kStep, (plausible + kStep - 1) / kStep * kStep);
    capacity = std::min(capacity, limit);
    Bytes out;
    std::size_t produced = 0;
    std::size_t consumed = 0;
    std::uint32_t crc = 0;
    int result = Z_OK;
    try {
        out.resize(capacity);
        for (;;) {
            if (produced == capacity && capacity >= limit) {
                // At the cap the stream may still end without more output;
                // a single further byte means it would exceed the cap.
                unsigned char probe;
                zs.next_in = const_cast<Bytef*>(p + start + consumed);
                zs.avail_in = static_cast<uInt>(std::min(stream_length - consumed, kMaxPiece));
                zs.next_out = &probe;
                zs.avail_out = 1;
                result = inflate(&zs, Z_NO_FLUSH);
                if (zs.avail_out == 0) {
                    result = Z_DATA_ERROR;
                    if (too_large != nullptr) *too_large = true;
                }
                break;
            }
            if (produced == capacity) {
                capacity =
                    std::min(limit, std::max(capacity + kStep, capacity / 2 * 3 / kStep * kStep));
                out.resize(capacity);
            }
            const std::size_t in_piece = std::min(stream_length - consumed, kMaxPiece);
            const std::size_t out_room = std::min(capacity - produced, kCrcPiece);
            zs.next_in = const_cast<Bytef*>(p + start + consumed);
            zs.avail_in = static_cast<uInt>(in_piece);
            zs.next_out = bytes_of(out) + produced;
            zs.avail_out = static_cast<uInt>(out_room);
            result = inflate(&zs, Z_NO_FLUSH);
            consumed += in_piece - zs.avail_in;
            const std::size_t fresh = out_room - zs.avail_out;
            crc = crc32_update(crc, bytes_of(out) + produced, fresh);
            produced += fresh;
            if (result == Z_STREAM_END) break;
            if (result != Z_OK && result != Z_BUF_ERROR) break;
            // No progress with room left means the input ran out mid-stream.
            if (result == Z_BUF_ERROR && zs.avail_out != 0) break;
        }
    } catch (...) {
        inflateEnd(&zs);
        throw;
    }
    inflateEnd(&zs);
    out.resize(produced);
    const bool ok = result == Z_STREAM_END &&
                    static_cast<std::uint32_t>(produced) == stated_length && crc == stated_crc;
    data.swap(out);
    return ok;
}

// Inputs of more than one block are packed a block at a time, the blocks
// spread over worker threads and the adding thread: each block is a raw
// deflate stream of its own, primed with the 32 KiB of input before it (so it
// packs almost as well as one stream would) and ended on a byte boundary
// without a final block (a sync flush); the last block ends the stream. Put
// one after another the blocks are one deflate stream, which any reader
// inflates. The member is the same however the input is cut into pieces and
// whichever thread packs which block. An input of one block or less is
// packed as one stream on the adding thread, with no thread started.
constexpr std::size_t kBlock = 1024 * 1024;
constexpr std::size_t kWindow = 32 * 1024;
// Blocks handed out and not yet put into the member: the most input held
// besides the block being filled.
constexpr std::size_t kSlots = 4;

struct block_job_t {
    enum stage_t { FREE, QUEUED, PACKING, DONE };
    std::string input;
    std::string window;  // the 32 KiB of input before this block
    bool last = false;
    std::string output;
    bool ok = false;
    stage_t stage = FREE;
};

// One raw deflate stream, reset for each block it packs.
struct block_packer_t {
    z_stream zs{};
    bool ready = false;
    block_packer_t() {
        ready = deflateInit2(&zs, gzip_level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~block_packer_t() {
        if (ready) deflateEnd(&zs);
    }
    block_packer_t(const block_packer_t&) = delete;
    block_packer_t& operator=(const block_packer_t&) = delete;

    // Packs `job.input` into `job.output` in one deflate call (the output
    // has room for the worst case); false on failure.
    bool pack(block_job_t& job) {
        if (!ready || deflateReset(&zs) != Z_OK) return false;
        if (!job.window.empty() &&
            deflateSetDictionary(&zs, reinterpret_cast<const Bytef*>(job.window.data()),
                                 static_cast<uInt>(job.window.size())) != Z_OK) {
            return false;
        }
        // A sync flush adds at most a few bytes to the bound of one call.
        job.output.resize(deflateBound(&zs, static_cast<uLong>(job.input.size())) + 16);
        zs.next_in = reinterpret_cast<Bytef*>(job.input.data());
        zs.avail_in = static_cast<uInt>(job.input.size());
        zs.next_out = reinterpret_cast<Bytef*>(job.output.data());
        zs.avail_out = static_cast<uInt>(job.output.size());
        const int result = deflate(&zs, job.last ? Z_FINISH : Z_SYNC_FLUSH);
        const bool ok = job.last ? result == Z_STREAM_END
                                 : result == Z_OK && zs.avail_in == 0 && zs.avail_out != 0;
        job.output.resize(job.output.size() - zs.avail_out);
        return ok;
    }
};

// The worker threads of one writer and the blocks handed to them, in order.
class block_pool_t {
public:
    block_pool_t() {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const unsigned workers = std::clamp(cores - 1, 1u, 3u);
        try {
            for (unsigned i = 0; i < workers; ++i) m_threads.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // No thread to be had: the adding thread packs every block.
        }
    }
    ~block_pool_t() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_work.notify_all();
        for (std::thread& t : m_threads) t.join();
    }
    block_pool_t(const block_pool_t&) = delete;
    block_pool_t& operator=(const block_pool_t&) = delete;

    bool full() const { return m_submitted - m_collected == kSlots; }
    bool empty() const { return m_submitted == m_collected; }

    // The slot the next block goes into (call only when not full).
    block_job_t& next_slot() { return m_slots[m_submitted % kSlots]; }

    // Hands the block filled into next_slot() to the workers.
    void submit() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            next_slot().stage = block_job_t::QUEUED;
            ++m_submitted;
        }
        m_work.notify_one();
    }

    // Waits for the oldest block handed out, packing blocks no worker has
    // taken yet meanwhile, and gives it to `take` unless it failed to pack
    // (then false); its slot is free again.
    template <class Take>
    bool collect(Take take) {
        block_job_t& oldest = m_slots[m_collected % kSlots];
        std::unique_lock<std::mutex> lock(m_mutex);
        while (oldest.stage != block_job_t::DONE) {
            if (m_taken < m_submitted) {
                pack_next(lock, m_own);
            } else {
                m_done.wait(lock);
            }
        }
        lock.unlock();
        const bool ok = oldest.ok;
        if (ok) take(std::string_view(oldest.output));
        oldest.stage = block_job_t::FREE;
        ++m_collected;
        return ok;
    }

private:
    // Packs the next block not taken yet; called and returns with `lock`
    // held.
    void pack_next(std::unique_lock<std::mutex>& lock, block_packer_t& packer) {
        block_job_t& job = m_slots[m_taken++ % kSlots];
        job.stage = block_job_t::PACKING;
        lock.unlock();
        const bool ok = packer.pack(job);
        lock.lock();
        job.ok = ok;
        job.stage = block_job_t::DONE;
        m_done.notify_all();
    }

    void work() {
        block_packer_t packer;
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_work.wait(lock, [this] { return m_stop || m_taken < m_submitted; });
            if (m_taken == m_submitted) return;
            pack_next(lock, packer);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_done;
    std::array<block_job_t, kSlots> m_slots;
    std::uint64_t m_submitted = 0;  // blocks handed out
    std::uint64_t m_taken = 0;      // blocks a thread began to pack
    std::uint64_t m_collected = 0;  // blocks put into the member
    bool m_stop = false;
    block_packer_t m_own;  // the adding thread's, while it waits
    std::vector<std::thread> m_threads;
};

}  // namespace

struct gzip_writer_t::state_t {
    z_stream zs{};
    bool ready = false;
    bool failed = false;
    std::string out;
    std::size_t produced = kHeaderSize;  // bytes of `out` in use
    std::uint32_t crc = 0;
    std::uint64_t length = 0;
    // The input not packed yet: at most one block.
    std::string block;
    // The last 32 KiB of the block handed out last.
    std::string window;
    // Started when the input outgrows one block.
    std::unique_ptr<block_pool_t> pool;

    ~state_t() {
        pool.reset();
        if (ready) deflateEnd(&zs);
    }

    // Room in `out` for `n` more bytes and the trailer.
    void make_room(std::size_t n) {
        if (out.size() >= produced + n + kTrailerSize + 1) return;
        // Grows by half (at least a step): the output is a fraction of the
        // input, not known in advance.
        out.resize(std::max(produced + n + kTrailerSize + 1,
                            out.size() + std::max(kStep, out.size() / 2 / kStep * kStep)));
    }

    // Runs deflate over `in` (all of it) with `flush`; false on failure.
    bool run(const unsigned char* in, std::size_t n, int flush) {
        std::size_t consumed = 0;
        for (;;) {
            make_room(0);
            const std::size_t in_piece = std::min(n - consumed, kMaxPiece);
            const std::size_t out_room = std::min(out.size() - kTrailerSize - produced, kMaxPiece);
            zs.next_in = const_cast<Bytef*>(
                in == nullptr ? reinterpret_cast<const unsigned char*>("") : in + consumed);
            zs.avail_in = static_cast<uInt>(in_piece);
            zs.next_out = reinterpret_cast<Bytef*>(out.data()) + produced;
            zs.avail_out = static_cast<uInt>(out_room);
            const bool last_piece = consumed + in_piece == n;
            const int result = deflate(&zs, last_piece ? flush : Z_NO_FLUSH);
            consumed += in_piece - zs.avail_in;
            produced += out_room - zs.avail_out;
            if (result == Z_STREAM_END) return true;
            if (result != Z_OK && result != Z_BUF_ERROR) return false;
            // Everything taken and, short of the end, nothing left to write
            // (a flush is complete once deflate leaves output room).
            if (consumed == n && flush != Z_FINISH && zs.avail_out != 0) return true;
        }
    }

    // Puts the oldest block handed out at the end of the member; false when
    // it failed to pack.
    bool collect_block() {
        return pool->collect([this](std::string_view packed) {
            make_room(packed.size());
            std::memcpy(out.data() + produced, packed.data(), packed.size());
            produced += packed.size();
        });
    }

    // Hands `block` out as the next block, the stream's last one with
    // `last`; false when a block packed earlier failed.
    bool hand_out(bool last) {
        if (!pool) pool = std::make_unique<block_pool_t>();
        if (pool->full() && !collect_block()) return false;
        block_job_t& job = pool->next_slot();
        job.input.swap(block);
        job.window.swap(window);
        job.last = last;
        const std::size_t keep = std::min(kWindow, job.input.size());
        window.assign(job.input, job.input.size() - keep, keep);
        pool->submit();
        block.clear();
        return true;
    }

    // Takes the next piece of input.
    bool take(const char* in, std::size_t n) {
        while (n != 0) {
            if (block.size() == kBlock && !hand_out(false)) return false;
            const std::size_t piece = std::min(n, kBlock - block.size());
            block.append(in, piece);
            in += piece;
            n -= piece;
        }
        return true;
    }

    // Packs what is left and ends the deflate stream; false on failure.
    bool end_stream() {
        if (!pool) {
            const bool ok =
                run(reinterpret_cast<const unsigned char*>(block.data()), block.size(), Z_FINISH);
            std::string().swap(block);
            return ok;
        }
        bool ok = hand_out(true);
        while (!pool->empty()) ok = collect_block() && ok;
        pool.reset();
        std::string().swap(block);
        std::string().swap(window);
        return ok;
    }
};

gzip_writer_t::gzip_writer_t() : m_state(std::make_unique<state_t>()) {
    state_t& s = *m_state;
    s.ready = deflateInit2(&s.zs, gzip_level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    s.failed = !s.ready;
}

gzip_writer_t::~gzip_writer_t() = default;

void gzip_writer_t::expect(std::size_t input_bytes) {
    state_t& s = *m_state;
    if (!s.ready) return;
    // Room for a quarter of the input first (text and documents deflate far
    // better than that), never more than the stream can need. Sizing it by
    // the worst case would fill as many bytes as the input has, for nothing.
    const std::size_t bound =
        kHeaderSize + deflateBound(&s.zs, static_cast<uLong>(std::min(input_bytes, kMaxPiece))) +
        (input_bytes > kMaxPiece ? input_bytes / 1000 + kStep : 0) +
        (input_bytes / kBlock + 1) * 16 + kTrailerSize;
    std::size_t capacity =
        std::min(bound, kHeaderSize + input_bytes / 4 + 16 * kStep + kTrailerSize);
    capacity = (capacity + kStep - 1) / kStep * kStep;
    if (capacity > s.out.size()) s.out.resize(capacity);
}

bool gzip_writer_t::add(std::string_view bytes) {
    state_t& s = *m_state;
    if (s.failed) return false;
    if (bytes.empty()) return true;
    s.crc = crc32_update(s.crc, bytes.data(), bytes.size());
    s.length += bytes.size();
    if (!s.take(bytes.data(), bytes.size())) s.failed = true;
    return !s.failed;
}

bool gzip_writer_t::finish(std::string& member) {
    state_t& s = *m_state;
    if (s.failed || !s.end_stream()) {
        s.failed = true;
        return false;
    }
    s.failed = true;  // used once
    auto* out = reinterpret_cast<unsigned char*>(s.out.data());
    std::memcpy(out, kHeader, kHeaderSize);
    put_le32(out + s.produced, s.crc);
    put_le32(out + s.produced + 4, static_cast<std::uint32_t>(s.length));
    s.out.resize(s.produced + kTrailerSize);
    member.swap(s.out);
    std::string().swap(s.out);
    return true;
}

bool gzip_writer_t::finish_after(std::string_view head, std::string& member) {
    state_t& s = *m_state;
    if (s.failed || !s.end_stream()) {
        s.failed = true;
        return false;
    }
    s.failed = true;  // used once
    // The head's blocks: deflated on their own and ended on a byte boundary
    // without a final block (a sync flush), so the rest's blocks follow them
    // as one stream. The rest refers to no byte before its own.
    std::string head_blocks;
    if (!head.empty()) {
        state_t h;
        h.ready = deflateInit2(&h.zs, gzip_level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        if (!h.ready) return false;
        h.produced = 0;
        h.out.resize(deflateBound(&h.zs, static_cast<uLong>(head.size())) + kStep);
        if (!h.run(reinterpret_cast<const unsigned char*>(head.data()), head.size(),
                   Z_SYNC_FLUSH)) {
            return false;
        }
        // A sync flush with everything taken leaves room in the output: done.
        h.out.resize(h.produced);
        head_blocks.swap(h.out);
    }
    const std::uint32_t crc = static_cast<std::uint32_t>(crc32_combine(
        crc32_update(0, reinterpret_cast<const unsigned char*>(head.data()), head.size()), s.crc,
        static_cast<z_off_t>(s.length)));
    const std::uint64_t length = s.length + head.size();
    s.out.resize(s.produced + kTrailerSize);
    s.out.insert(kHeaderSize, head_blocks);
    auto* out = reinterpret_cast<unsigned char*>(s.out.data());
    std::memcpy(out, kHeader, kHeaderSize);
    const std::size_t end = s.out.size() - kTrailerSize;
    put_le32(out + end, crc);
    put_le32(out + end + 4, static_cast<std::uint32_t>(length));
    member.swap(s.out);
    std::string().swap(s.out);
    return true;
}

namespace {

// gzip_decompress to a sink; with `too_large`, a member beyond `limit` says so.
bool inflate_to_sink(std::string_view member, const std::function<bool(std::string_view)>& sink,
                     std::size_t limit, bool* too_large) {
    if (too_large != nullptr) *too_large = false;
    const auto* p = reinterpret_cast<const unsigned char*>(member.data());
    const std::size_t n = member.size();
    const std::size_t start = header_length(p, n);
    if (start == 0 || n - start < kTrailerSize) return false;
    const std::size_t stream_length = n - start - kTrailerSize;
    const std::uint32_t stated_crc = get_le32(p + n - kTrailerSize);
    const std::uint32_t stated_length = get_le32(p + n - 4);
    // A member that says it is larger than the limit is refused unread.
    if (too_large != nullptr && stated_length > limit) {
        *too_large = true;
        return false;
    }

    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK) return false;
    struct ender {
        z_stream& zs;
        ~ender() { inflateEnd(&zs); }
    } end_inflate{zs};
    // One buffer, used again for every piece: the inflated bytes go to the
    // sink while they are in the cache and are never all in memory.
    std::string piece(std::min<std::size_t>(kCrcPiece, std::max<std::size_t>(limit, 1)), '\0');
    std::uint64_t produced = 0;
    std::size_t consumed = 0;
    std::uint32_t crc = 0;
    int result = Z_OK;
    for (;;) {
        const std::size_t in_piece = std::min(stream_length - consumed, kMaxPiece);
        zs.next_in = const_cast<Bytef*>(p + start + consumed);
        zs.avail_in = static_cast<uInt>(in_piece);
        zs.next_out = reinterpret_cast<Bytef*>(piece.data());
        zs.avail_out = static_cast<uInt>(piece.size());
        result = inflate(&zs, Z_NO_FLUSH);
        consumed += in_piece - zs.avail_in;
        const std::size_t fresh = piece.size() - zs.avail_out;
        if (produced + fresh > limit) {
            if (too_large != nullptr) *too_large = true;
            return false;
        }
        produced += fresh;
        if (fresh > 0) {
            crc = crc32_update(crc, reinterpret_cast<const unsigned char*>(piece.data()), fresh);
            if (!sink(std::string_view(piece.data(), fresh))) return false;
        }
        if (result == Z_STREAM_END) break;
        if (result != Z_OK && result != Z_BUF_ERROR) return false;
        // No progress with room left means the input ran out mid-stream.
        if (result == Z_BUF_ERROR && zs.avail_out != 0) return false;
    }
    return static_cast<std::uint32_t>(produced) == stated_length && crc == stated_crc;
}

}  // namespace

bool gzip_decompress(std::string_view member, const std::function<bool(std::string_view)>& sink,
                     std::size_t limit) {
    return inflate_to_sink(member, sink, limit, nullptr);
}

bool gzip_decompress(std::string_view member, const std::function<bool(std::string_view)>& sink,
                     std::size_t limit, bool& too_large) {
    return inflate_to_sink(member, sink, std::min(limit, gzip_inflate_limit), &too_large);
}

bool gzip_compress(std::string& data) {
    gzip_writer_t writer;
    writer.expect(data.size());
    std::string member;
    if (!writer.add(data) || !writer.finish(member)) return false;
    data.swap(member);
    return true;
}
bool gzip_compress(std::vector<std::uint8_t>& data) { return compress(data); }
bool gzip_decompress(std::string& data, std::size_t limit) { return decompress(data, limit); }
bool gzip_decompress(std::vector<std::uint8_t>& data, std::size_t limit) {
    return decompress(data, limit);
}
bool gzip_decompress(std::string& data, std::size_t limit, bool& too_large) {
    return decompress(data, std::min(limit, gzip_inflate_limit), &too_large);
}

}  // namespace Core_Common
