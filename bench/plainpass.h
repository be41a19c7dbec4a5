#pragma once
// The job the kit's archive path does, written plainly with none of the
// kit's libraries: the ZIP read by hand, zlib for inflate, OpenSSL for the
// two encryptions (traditional PKWARE and WinZip AES with its
// authentication code checked), expat over the whole document. The yardstick
// for what the work costs when nothing else is in the way.

#include <expat.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace orvix::bench::plain {

inline uint16_t le16(const unsigned char *p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t le32(const unsigned char *p) { return uint32_t(le16(p)) | uint32_t(le16(p + 2)) << 16; }

inline bool readFile(const char *path, std::string *out)
{
    FILE *f = std::fopen(path, "rb");
    if (!f)
        return false;
    std::fseek(f, 0, SEEK_END);
    out->resize(size_t(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    const bool ok = std::fread(out->data(), 1, out->size(), f) == out->size();
    std::fclose(f);
    return ok;
}

// The traditional PKWARE cipher, from the ZIP application note's key schedule.
class TraditionalCipher {
public:
    explicit TraditionalCipher(std::string_view password)
    {
        for (char c : password)
            update(uint8_t(c));
    }
    void decrypt(unsigned char *data, size_t size)
    {
        for (size_t i = 0; i < size; ++i) {
            const uint32_t t = (k2 | 2) & 0xFFFF;
            data[i] ^= uint8_t((t * (t ^ 1)) >> 8);
            update(data[i]);
        }
    }

private:
    static uint32_t crc(uint32_t c, uint8_t b) { return uint32_t(table[(c ^ b) & 0xFF]) ^ (c >> 8); }
    void update(uint8_t b)
    {
        k0 = crc(k0, b);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = crc(k2, uint8_t(k1 >> 24));
    }
    static inline const z_crc_t *table = get_crc_table();
    uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
};

// WinZip AES: PBKDF2-HMAC-SHA1 (1,000 rounds) gives the AES key, the HMAC
// key and a two-byte check; the data is AES in counter mode with a
// little-endian counter from 1; the code is HMAC-SHA1 of the ciphertext,
// its first 10 bytes. Decrypts in place; false on a wrong password or code.
inline bool aesDecrypt(std::string_view password, int strength, unsigned char *data, size_t size, std::string *why)
{
    const size_t keyLength = strength == 1 ? 16 : strength == 2 ? 24 : 32;
    const size_t saltLength = keyLength / 2;
    if (strength < 1 || strength > 3 || size < saltLength + 2 + 10) {
        *why = "bad AES entry";
        return false;
    }
    unsigned char keys[2 * 32 + 2];
    if (!PKCS5_PBKDF2_HMAC_SHA1(password.data(), int(password.size()), data, int(saltLength), 1000,
                                int(2 * keyLength + 2), keys)) {
        *why = "key derivation failed";
        return false;
    }
    if (std::memcmp(keys + 2 * keyLength, data + saltLength, 2) != 0) {
        *why = "wrong password";
        return false;
    }
    unsigned char *cipher = data + saltLength + 2;
    const size_t cipherSize = size - saltLength - 2 - 10;

    EVP_MAC *mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    EVP_MAC_CTX *macContext = mac ? EVP_MAC_CTX_new(mac) : nullptr;
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("digest", digest, 0), OSSL_PARAM_construct_end()};
    unsigned char code[20];
    size_t codeLength = 0;
    const bool authentic = macContext && EVP_MAC_init(macContext, keys + keyLength, keyLength, params)
        && EVP_MAC_update(macContext, cipher, cipherSize) && EVP_MAC_final(macContext, code, &codeLength, sizeof code)
        && CRYPTO_memcmp(code, cipher + cipherSize, 10) == 0;
    EVP_MAC_CTX_free(macContext);
    EVP_MAC_free(mac);
    if (!authentic) {
        *why = "authentication code mismatch";
        return false;
    }

    // Counter blocks a batch at a time, encrypted in ECB, XORed in.
    EVP_CIPHER_CTX *aes = EVP_CIPHER_CTX_new();
    const EVP_CIPHER *kind = keyLength == 16 ? EVP_aes_128_ecb() : keyLength == 24 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
    bool ok = aes && EVP_EncryptInit_ex(aes, kind, nullptr, keys, nullptr) && EVP_CIPHER_CTX_set_padding(aes, 0);
    constexpr size_t batch = 4096;
    static thread_local unsigned char counters[batch * 16], stream[batch * 16];
    uint64_t counter = 1;
    for (size_t at = 0; ok && at < cipherSize;) {
        const size_t blocks = std::min(batch, (cipherSize - at + 15) / 16);
        std::memset(counters, 0, blocks * 16);
        for (size_t b = 0; b < blocks; ++b, ++counter)
            for (int i = 0; i < 8; ++i)
                counters[b * 16 + i] = uint8_t(counter >> (8 * i));
        int written = 0;
        ok = EVP_EncryptUpdate(aes, stream, &written, counters, int(blocks * 16)) && written == int(blocks * 16);
        const size_t n = std::min(blocks * 16, cipherSize - at);
        for (size_t i = 0; i < n; ++i)
            cipher[at + i] ^= stream[i];
        at += n;
    }
    EVP_CIPHER_CTX_free(aes);
    if (!ok)
        *why = "AES failed";
    return ok;
}

// The first entry named "*.xml" of the ZIP in `zip`, decrypted, inflated
// and its CRC checked (where the writer kept it). At most `maxSize` bytes.
inline bool extractXml(const std::string &zip, std::string_view password, std::string *out, std::string *why,
                       size_t maxSize = 64u << 20)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(zip.data());
    const size_t size = zip.size();
    size_t end = std::string::npos;
    if (size >= 22) {
        const size_t lowest = size - 22 > 0xFFFF ? size - 22 - 0xFFFF : 0;
        for (size_t at = size - 22 + 1; at-- > lowest;) {
            if (std::memcmp(bytes + at, "PK\5\6", 4) == 0) {
                end = at;
                break;
            }
        }
    }
    if (end == std::string::npos) {
        *why = "no end record";
        return false;
    }
    const unsigned count = le16(bytes + end + 10);
    size_t at = le32(bytes + end + 16);
    for (unsigned i = 0; i < count; ++i) {
        if (at + 46 > size || std::memcmp(bytes + at, "PK\1\2", 4) != 0) {
            *why = "bad central directory";
            return false;
        }
        const unsigned flags = le16(bytes + at + 8), nameLength = le16(bytes + at + 28),
                       extraLength = le16(bytes + at + 30), commentLength = le16(bytes + at + 32);
        unsigned method = le16(bytes + at + 10);
        const unsigned time = le16(bytes + at + 12);
        const uint32_t crc = le32(bytes + at + 16), packed = le32(bytes + at + 20), unpacked = le32(bytes + at + 24),
                       local = le32(bytes + at + 42);
        if (at + 46 + nameLength + extraLength > size) {
            *why = "bad central directory";
            return false;
        }
        const std::string_view name(zip.data() + at + 46, nameLength);
        const unsigned char *extra = bytes + at + 46 + nameLength;
        at += 46 + nameLength + extraLength + commentLength;
        if (name.size() < 4 || name.substr(name.size() - 4) != ".xml")
            continue;

        if (local + 30 > size || std::memcmp(bytes + local, "PK\3\4", 4) != 0) {
            *why = "bad local header";
            return false;
        }
        const size_t dataAt = local + 30 + le16(bytes + local + 26) + le16(bytes + local + 28);
        if (dataAt + packed > size || unpacked > maxSize) {
            *why = "entry out of bounds";
            return false;
        }
        std::string data(zip.data() + dataAt, packed);
        auto *d = reinterpret_cast<unsigned char *>(data.data());
        size_t dataSize = data.size();
        size_t skip = 0;
        bool checkCrc = true;
        if (method == 99) {
            int strength = 0;
            for (size_t e = 0; e + 4 <= extraLength;) {
                const unsigned id = le16(extra + e), length = le16(extra + e + 2);
                if (id == 0x9901 && length >= 7) {
                    checkCrc = le16(extra + e + 4) == 1; // AE-2 leaves the CRC out
                    strength = extra[e + 8];
                    method = le16(extra + e + 9);
                }
                e += 4 + length;
            }
            if (!aesDecrypt(password, strength, d, dataSize, why))
                return false;
            skip = size_t(strength == 1 ? 8 : strength == 2 ? 12 : 16) + 2;
            dataSize -= skip + 10;
        } else if (flags & 1) {
            if (dataSize < 12) {
                *why = "bad encryption header";
                return false;
            }
            TraditionalCipher(password).decrypt(d, dataSize);
            const unsigned check = (flags & 8) ? time >> 8 : crc >> 24;
            if (d[11] != (check & 0xFF)) {
                *why = "wrong password";
                return false;
            }
            skip = 12;
            dataSize -= 12;
        }
        out->resize(unpacked);
        if (method == 0) {
            if (dataSize != unpacked) {
                *why = "size mismatch";
                return false;
            }
            std::memcpy(out->data(), d + skip, dataSize);
        } else if (method == 8) {
            z_stream z{};
            if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
                *why = "inflate failed";
                return false;
            }
            z.next_in = d + skip;
            z.avail_in = uInt(dataSize);
            z.next_out = reinterpret_cast<Bytef *>(out->data());
            z.avail_out = uInt(out->size());
            const int r = inflate(&z, Z_FINISH);
            const bool whole = r == Z_STREAM_END && z.total_out == unpacked;
            inflateEnd(&z);
            if (!whole) {
                *why = "inflate failed";
                return false;
            }
        } else {
            *why = "unknown method";
            return false;
        }
        if (checkCrc && crc32(0, reinterpret_cast<const Bytef *>(out->data()), uInt(out->size())) != crc) {
            *why = "CRC mismatch";
            return false;
        }
        return true;
    }
    *why = "no XML entry";
    return false;
}

// The whole document through expat; the elements and attributes seen.
inline bool parseXml(const std::string &xml, long *elements, long *attributes)
{
    struct Counts {
        long elements = 0, attributes = 0;
    } counts;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &counts);
    XML_SetStartElementHandler(parser, [](void *user, const XML_Char *, const XML_Char **attrs) {
        auto *c = static_cast<Counts *>(user);
        ++c->elements;
        for (; *attrs; attrs += 2)
            ++c->attributes;
    });
    const bool ok = XML_Parse(parser, xml.data(), int(xml.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    *elements = counts.elements;
    *attributes = counts.attributes;
    return ok;
}

} // namespace orvix::bench::plain
