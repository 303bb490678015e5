// libFuzzer target for the update information file: the key reader, the listed sizes and hashes, and the
// signature entry checked under a key.
//
// The first byte picks the mode: odd, the rest is signed here with a fixed key and the signature entry is
// appended, so the signed path is reached; even, the rest is the whole file as served. Each file is read
// with and without the key. A verdict that contradicts how the file was made, a value holding a byte it
// cannot hold, a crash, a leak or undefined behaviour is a finding.

#include "update/UpdateTrust.h"

#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace qarvia::update;

namespace {

struct FixedKey {
    EVP_PKEY* key = nullptr;
    std::string publicBase64;
    FixedKey() {
        unsigned char seed[32];
        for (int i = 0; i < 32; ++i)
            seed[i] = static_cast<unsigned char>(i * 7 + 1);
        key = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, sizeof seed);
        std::string raw(32, '\0');
        std::size_t size = raw.size();
        if (!key || EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(raw.data()), &size) != 1)
            std::abort();
        publicBase64 = EncodeBase64(raw);
    }
    std::string sign(const std::string& text) const {
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        std::string signature(64, '\0');
        std::size_t size = signature.size();
        if (!context || EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key) != 1 ||
            EVP_DigestSign(context, reinterpret_cast<unsigned char*>(signature.data()), &size,
                           reinterpret_cast<const unsigned char*>(text.data()), text.size()) != 1)
            std::abort();
        EVP_MD_CTX_free(context);
        return signature;
    }
};

const FixedKey& fixedKey() {
    static const FixedKey k;
    return k;
}

bool hasControlByte(const std::string& value) {
    for (char c : value) {
        if (static_cast<unsigned char>(c) < 0x20)
            return true;
    }
    return false;
}

void checkListing(std::string_view text, const std::vector<ListedFile>& files) {
    for (const ListedFile& file : files) {
        if (file.url.empty() || hasControlByte(file.url) || file.entryAt >= text.size() || text[file.entryAt] != '#')
            std::abort();
        if (file.sha256 && file.sha256->size() != 64)
            std::abort();
        if (file.size && *file.size < 0)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > static_cast<std::size_t>(MaxInfoFileSize))
        return 0;
    const bool signHere = data[0] & 1;
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string body = text;
    if (signHere)
        text += "#signature=ed25519:" + EncodeBase64(fixedKey().sign(body));

    for (const char* key : {"version", "url", "url0", "url2", "size", "hash0", "method", "signature"}) {
        if (hasControlByte(ReadInfoValue(text, key)))
            std::abort();
    }
    if (ReadInfoValue(text, "message", true).find('}') != std::string::npos)
        std::abort();
    const SignatureEntry entry = FindSignatureEntry(text);
    if (entry.found && (entry.at >= text.size() || hasControlByte(entry.value)))
        std::abort();

    const InfoCheck unsignedCheck = CheckInfoFile(text, "");
    if (!unsignedCheck.accepted() || unsignedCheck.entries.size() != text.size())
        std::abort();
    checkListing(text, unsignedCheck.files);

    const InfoCheck signedCheck = CheckInfoFile(text, fixedKey().publicBase64);
    if (signHere &&
        (signedCheck.verdict == InfoVerdict::NoSignature || signedCheck.verdict == InfoVerdict::BadSignature))
        std::abort(); // signed here, so it must verify
    if (signedCheck.accepted()) {
        if (signedCheck.entries.size() >= text.size() ||
            text.compare(0, signedCheck.entries.size(), signedCheck.entries) != 0)
            std::abort();
        for (const ListedFile& file : signedCheck.files) {
            if (!file.size || !file.sha256)
                std::abort();
        }
        checkListing(signedCheck.entries, signedCheck.files);
    }
    return 0;
}
