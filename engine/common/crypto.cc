#include "common/crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "platform/random.h"

namespace Core_Common {
namespace {

constexpr std::size_t kSeedSize = 8;
constexpr std::size_t kMaxPrefix = 1 + 15 + 2;
// Work piece of the in-place passes below: small enough for the L1/L2 cache.
constexpr std::size_t kPiece = 16 * 1024;

struct ctx_deleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using cipher_ctx = std::unique_ptr<EVP_CIPHER_CTX, ctx_deleter>;

void digest(const EVP_MD* md, const void* data, std::size_t length, unsigned char* out) {
    if (EVP_Digest(data, length, out, nullptr, md, nullptr) != 1) {
        throw std::runtime_error("digest: the cryptographic library failed");
    }
}

// Key and IV of one envelope; wiped when done.
struct key_material_t {
    unsigned char key[32];
    unsigned char iv[16];

    key_material_t(std::string_view passphrase, const unsigned char* seed) {
        digest(EVP_sha256(), passphrase.data(), passphrase.size(), key);
        unsigned char d[32];
        digest(EVP_sha256(), seed, kSeedSize, d);
        for (int i = 0; i < 16; ++i) iv[i] = d[i] ^ d[i + 16];
        OPENSSL_cleanse(d, sizeof d);
    }
    ~key_material_t() {
        OPENSSL_cleanse(key, sizeof key);
        OPENSSL_cleanse(iv, sizeof iv);
    }
    key_material_t(const key_material_t&) = delete;
    key_material_t& operator=(const key_material_t&) = delete;
};

// One AES-256-CFB128 pass, in either direction.
class cfb_pass {
public:
    cfb_pass(bool encrypting, const key_material_t& km)
        : m_ctx(EVP_CIPHER_CTX_new()), m_encrypting(encrypting) {
        m_ok = m_ctx != nullptr &&
               (encrypting
                    ? EVP_EncryptInit_ex(m_ctx.get(), EVP_aes_256_cfb128(), nullptr, km.key, km.iv)
                    : EVP_DecryptInit_ex(m_ctx.get(), EVP_aes_256_cfb128(), nullptr, km.key,
                                         km.iv)) == 1;
    }

    // `out` may equal `in`, or not overlap it at all.
    bool update(const unsigned char* in, unsigned char* out, std::size_t n) {
        while (m_ok && n > 0) {
            const int piece = static_cast<int>(std::min<std::size_t>(n, INT_MAX / 2));
            int written = 0;
            m_ok = (m_encrypting ? EVP_EncryptUpdate(m_ctx.get(), out, &written, in, piece)
                                 : EVP_DecryptUpdate(m_ctx.get(), out, &written, in, piece)) == 1 &&
                   written == piece;
            in += piece;
            out += piece;
            n -= static_cast<std::size_t>(piece);
        }
        return m_ok;
    }

    // CFB adds no bytes; the final call only confirms the stream.
    bool finish() {
        unsigned char tail[32];
        int written = 0;
        if (m_ok) {
            m_ok = (m_encrypting ? EVP_EncryptFinal_ex(m_ctx.get(), tail, &written)
                                 : EVP_DecryptFinal_ex(m_ctx.get(), tail, &written)) == 1 &&
                   written == 0;
        }
        return m_ok;
    }

private:
    cipher_ctx m_ctx;
    bool m_encrypting;
    bool m_ok = false;
};

template <class Bytes>
unsigned char* bytes_of(Bytes& b) {
    return reinterpret_cast<unsigned char*>(b.data());
}

template <class Bytes>
bool encrypt_bytes(std::string_view passphrase, Bytes& data) {
    const std::size_t n = data.size();
    const std::size_t pad_length = 15 - n % 15 + 2;
    const unsigned L = static_cast<unsigned>(15 - n % 15);

    unsigned char prefix[kMaxPrefix];
    unsigned char r;
    random_bytes(&r, 1);
    prefix[0] = static_cast<unsigned char>(((L ^ r) & 0x0F) ^ ((r << 4) & 0xFF) ^ r);
    random_bytes(prefix + 1, pad_length);
    const std::size_t P = 1 + pad_length;
    unsigned char seed[kSeedSize];
    random_bytes(seed, kSeedSize);

    const key_material_t km(passphrase, seed);
    cfb_pass pass(true, km);

    // The cipher text is prefix ‖ data, written over `data` itself: the
    // stream runs P bytes behind the plain bytes it reads, so the P plain
    // bytes about to be overwritten are held back in `pending` each round.
    const std::size_t total = n + P;
    data.resize(total + kSeedSize);
    unsigned char* buf = bytes_of(data);
    unsigned char pending[kMaxPrefix];
    std::memcpy(pending, prefix, P);
    unsigned char piece[kPiece];
    bool ok = true;
    for (std::size_t j = 0; ok && j < total; j += kPiece) {
        const std::size_t c = std::min(kPiece, total - j);
        if (c > P) {
            std::memcpy(piece, pending, P);
            std::memcpy(piece + P, buf + j, c - P);
            std::memcpy(pending, buf + j + c - P, P);
        } else {
            std::memcpy(piece, pending, c);
        }
        ok = pass.update(piece, buf + j, c);
    }
    ok = ok && pass.finish();
    OPENSSL_cleanse(piece, sizeof piece);
    OPENSSL_cleanse(pending, sizeof pending);
    if (!ok) {
        data.clear();
        return false;
    }
    std::memcpy(buf + total, seed, kSeedSize);
    return true;
}

template <class Bytes>
bool decrypt_bytes(std::string_view passphrase, Bytes& data) {
    if (data.size() < envelope_min_size) return false;
    const std::size_t m = data.size() - kSeedSize;
    unsigned char* buf = bytes_of(data);
    unsigned char seed[kSeedSize];
    std::memcpy(seed, buf + m, kSeedSize);

    const key_material_t km(passphrase, seed);
    cfb_pass pass(false, km);

    // Decipher piece by piece into a scratch buffer and copy each piece back
    // k bytes further forward, dropping the prefix in the same pass.
    unsigned char piece[kPiece];
    std::size_t k = 0;
    bool ok = true;
    bool stripped = true;
    for (std::size_t j = 0; ok && j < m; j += kPiece) {
        const std::size_t c = std::min(kPiece, m - j);
        ok = pass.update(buf + j, piece, c);
        if (!ok) break;
        if (j == 0) {
            k = (piece[0] & 0x0F) + 3u;
            if (k >= m) {  // nothing would remain: keep the bytes as deciphered
                std::memcpy(buf, piece, c);
                stripped = false;
                break;
            }
        }
        const std::size_t skip = j < k ? k - j : 0;
        if (c > skip) std::memcpy(buf + j + skip - k, piece + skip, c - skip);
    }
    ok = ok && pass.finish();
    OPENSSL_cleanse(piece, sizeof piece);
    if (!ok) {
        data.clear();
        return false;
    }
    data.resize(stripped ? m - k : m);
    return stripped;
}

}  // namespace

void random_bytes(void* buffer, std::size_t count) { Core_Platform::system_random(buffer, count); }

hash20 sha1(const void* data, std::size_t length) {
    hash20 out;
    if (length > 0) digest(EVP_sha1(), data, length, out.data());
    return out;
}

bool encrypt(std::string_view passphrase, std::string& data) {
    return encrypt_bytes(passphrase, data);
}
bool encrypt(std::string_view passphrase, std::vector<std::uint8_t>& data) {
    return encrypt_bytes(passphrase, data);
}
bool decrypt(std::string_view passphrase, std::string& data) {
    return decrypt_bytes(passphrase, data);
}
bool decrypt(std::string_view passphrase, std::vector<std::uint8_t>& data) {
    return decrypt_bytes(passphrase, data);
}

}  // namespace Core_Common
