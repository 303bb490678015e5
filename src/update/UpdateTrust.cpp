#include "update/UpdateTrust.h"

#include "update/SharedLibrary.h"

#include <openssl/evp.h>

#include <sys/stat.h>

#include <cstdio>
#include <memory>

namespace qarvia::update {

namespace {

// OpenSSL's cryptography library, opened when an update is first checked (see SharedLibrary.h). Null when it
// cannot be: then no signature verifies and no digest is made, so nothing is trusted.
struct CryptoFunctions {
    decltype(&EVP_MD_CTX_new) MD_CTX_new = nullptr;
    decltype(&EVP_MD_CTX_free) MD_CTX_free = nullptr;
    decltype(&EVP_PKEY_new_raw_public_key) PKEY_new_raw_public_key = nullptr;
    decltype(&EVP_PKEY_free) PKEY_free = nullptr;
    decltype(&EVP_DigestVerifyInit) DigestVerifyInit = nullptr;
    decltype(&EVP_DigestVerify) DigestVerify = nullptr;
    decltype(&EVP_Digest) Digest = nullptr;
    decltype(&EVP_DigestInit_ex) DigestInit_ex = nullptr;
    decltype(&EVP_DigestUpdate) DigestUpdate = nullptr;
    decltype(&EVP_DigestFinal_ex) DigestFinal_ex = nullptr;
    decltype(&EVP_sha256) sha256 = nullptr;
    decltype(&EVP_DecodeBlock) DecodeBlock = nullptr;
    decltype(&EVP_EncodeBlock) EncodeBlock = nullptr;
};

const CryptoFunctions* crypto() {
    static const CryptoFunctions* const functions = []() -> const CryptoFunctions* {
        static CryptoFunctions f;
        SharedLibrary library(QARVIA_CRYPTO_LIBRARY);
        const bool bound =
            library.bind(f.MD_CTX_new, "EVP_MD_CTX_new") && library.bind(f.MD_CTX_free, "EVP_MD_CTX_free") &&
            library.bind(f.PKEY_new_raw_public_key, "EVP_PKEY_new_raw_public_key") &&
            library.bind(f.PKEY_free, "EVP_PKEY_free") && library.bind(f.DigestVerifyInit, "EVP_DigestVerifyInit") &&
            library.bind(f.DigestVerify, "EVP_DigestVerify") && library.bind(f.Digest, "EVP_Digest") &&
            library.bind(f.DigestInit_ex, "EVP_DigestInit_ex") && library.bind(f.DigestUpdate, "EVP_DigestUpdate") &&
            library.bind(f.DigestFinal_ex, "EVP_DigestFinal_ex") && library.bind(f.sha256, "EVP_sha256") &&
            library.bind(f.DecodeBlock, "EVP_DecodeBlock") && library.bind(f.EncodeBlock, "EVP_EncodeBlock");
        return bound ? &f : nullptr;
    }();
    return functions;
}

bool isBase64Letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

std::string hex(const unsigned char* bytes, unsigned int size) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (unsigned int i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

struct MdContextFree {
    void operator()(EVP_MD_CTX* c) const { crypto()->MD_CTX_free(c); }
};
struct KeyFree {
    void operator()(EVP_PKEY* k) const { crypto()->PKEY_free(k); }
};
struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        if (!isBase64Letter(text[i]))
            return std::nullopt;
    }
    if (text.empty())
        return std::string();
    const CryptoFunctions* c = crypto();
    if (c == nullptr)
        return std::nullopt;
    std::string out(text.size() / 4 * 3, '\0');
    const int n = c->DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                 reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0 || static_cast<std::size_t>(n) != out.size())
        return std::nullopt;
    out.resize(out.size() - padding);
    return out;
}

std::string EncodeBase64(std::string_view bytes) {
    const CryptoFunctions* c = crypto();
    if (c == nullptr)
        return {};
    std::string out((bytes.size() + 2) / 3 * 4 + 1, '\0');
    const int n = c->EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                 reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return out;
}

std::optional<PublicKey> DecodePublicKey(std::string_view base64) {
    const auto raw = DecodeBase64(base64);
    if (!raw || raw->size() != PublicKey().size())
        return std::nullopt;
    PublicKey key;
    std::copy(raw->begin(), raw->end(), key.begin());
    return key;
}

bool VerifyEd25519(const PublicKey& key, std::string_view message, std::string_view signature) {
    const CryptoFunctions* c = crypto();
    if (signature.size() != 64 || c == nullptr)
        return false;
    const std::unique_ptr<EVP_PKEY, KeyFree> pkey(
        c->PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
    const std::unique_ptr<EVP_MD_CTX, MdContextFree> context(c->MD_CTX_new());
    if (!pkey || !context || c->DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
        return false;
    return c->DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                           reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

std::string Sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    const CryptoFunctions* c = crypto();
    if (c == nullptr || c->Digest(bytes.data(), bytes.size(), digest, &size, c->sha256(), nullptr) != 1)
        return {};
    return hex(digest, size);
}

std::optional<std::string> Sha256FileHex(const std::string& path) {
    const std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "rbe"));
    const CryptoFunctions* c = crypto();
    if (c == nullptr)
        return std::nullopt;
    const std::unique_ptr<EVP_MD_CTX, MdContextFree> context(c->MD_CTX_new());
    if (!file || !context || c->DigestInit_ex(context.get(), c->sha256(), nullptr) != 1)
        return std::nullopt;
    std::string buffer(1 << 16, '\0');
    for (;;) {
        const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file.get());
        if (n > 0 && c->DigestUpdate(context.get(), buffer.data(), n) != 1)
            return std::nullopt;
        if (n < buffer.size())
            break;
    }
    if (std::ferror(file.get()))
        return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (c->DigestFinal_ex(context.get(), digest, &size) != 1)
        return std::nullopt;
    return hex(digest, size);
}

InfoCheck CheckInfoFile(std::string_view fileText, std::string_view publicKeyBase64) {
    InfoCheck check;
    if (publicKeyBase64.empty()) {
        check.entries = fileText;
        check.files = ReadListedFiles(fileText);
        return check;
    }
    const SignatureEntry signature = FindSignatureEntry(fileText);
    if (!signature.found || !signature.last) {
        check.verdict = InfoVerdict::NoSignature;
        return check;
    }
    constexpr std::string_view scheme = "ed25519:";
    const std::optional<PublicKey> key = DecodePublicKey(publicKeyBase64);
    const std::string_view value = signature.value;
    const std::optional<std::string> raw =
        value.substr(0, scheme.size()) == scheme ? DecodeBase64(value.substr(scheme.size())) : std::nullopt;
    const std::string_view signedPart = fileText.substr(0, signature.at);
    if (!key || !raw || !VerifyEd25519(*key, signedPart, *raw)) {
        check.verdict = InfoVerdict::BadSignature;
        return check;
    }
    check.entries = signedPart;
    check.files = ReadListedFiles(signedPart);
    for (const ListedFile& file : check.files) {
        if (!file.size || !file.sha256) {
            check.verdict = InfoVerdict::MissingFacts;
            check.files.clear();
            break;
        }
    }
    return check;
}

FileVerdict CheckDownloadedFile(const std::string& path, const ListedFile& listed) {
    if (listed.unreadableFacts)
        return FileVerdict::FactsUnreadable;
    if (!listed.size && !listed.sha256)
        return FileVerdict::Matches;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return FileVerdict::Unreadable;
    if (listed.size && static_cast<std::int64_t>(info.st_size) != *listed.size)
        return FileVerdict::SizeDiffers;
    if (!listed.sha256)
        return FileVerdict::Matches;
    const std::optional<std::string> digest = Sha256FileHex(path);
    if (!digest)
        return FileVerdict::Unreadable;
    return *digest == *listed.sha256 ? FileVerdict::Matches : FileVerdict::HashDiffers;
}

} // namespace qarvia::update
