#include "update/UpdateTrust.h"

#include <openssl/evp.h>

#include <sys/stat.h>

#include <cstdio>
#include <memory>

namespace qarvia::update {

namespace {

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
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
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
    std::string out(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0 || static_cast<std::size_t>(n) != out.size())
        return std::nullopt;
    out.resize(out.size() - padding);
    return out;
}

std::string EncodeBase64(std::string_view bytes) {
    std::string out((bytes.size() + 2) / 3 * 4 + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
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
    if (signature.size() != 64)
        return false;
    const std::unique_ptr<EVP_PKEY, KeyFree> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
    const std::unique_ptr<EVP_MD_CTX, MdContextFree> context(EVP_MD_CTX_new());
    if (!pkey || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                            reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

std::string Sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        return {};
    return hex(digest, size);
}

std::optional<std::string> Sha256FileHex(const std::string& path) {
    const std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "rbe"));
    const std::unique_ptr<EVP_MD_CTX, MdContextFree> context(EVP_MD_CTX_new());
    if (!file || !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return std::nullopt;
    std::string buffer(1 << 16, '\0');
    for (;;) {
        const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file.get());
        if (n > 0 && EVP_DigestUpdate(context.get(), buffer.data(), n) != 1)
            return std::nullopt;
        if (n < buffer.size())
            break;
    }
    if (std::ferror(file.get()))
        return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &size) != 1)
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
