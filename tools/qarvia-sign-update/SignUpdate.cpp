#include "SignUpdate.h"

#include "text/Ascii.h"
#include "text/Blanks.h"
#include "update/UpdateTrust.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>
#include <vector>

namespace qarvia::signupdate {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
struct MdContextFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

Key readPem(std::string_view pem) {
    const std::unique_ptr<BIO, BioFree> in(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!in)
        return nullptr;
    Key key(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr));
    if (key && EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)
        return nullptr;
    return key;
}

std::optional<std::string> publicOf(EVP_PKEY* key) {
    std::string raw(32, '\0');
    std::size_t size = raw.size();
    if (EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(raw.data()), &size) != 1 || size != 32)
        return std::nullopt;
    return update::EncodeBase64(raw);
}

bool startsWithEntry(std::string_view line, std::string_view lowerKey) {
    while (!line.empty() && text::isBlank(line.front()))
        line.remove_prefix(1);
    return text::findIgnoringAsciiCase(line.substr(0, lowerKey.size()), lowerKey) == 0;
}

} // namespace

std::optional<KeyPair> GenerateKey() {
    EVP_PKEY* raw = nullptr;
    const std::unique_ptr<EVP_PKEY_CTX, void (*)(EVP_PKEY_CTX*)> context(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr),
                                                                         EVP_PKEY_CTX_free);
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 || EVP_PKEY_keygen(context.get(), &raw) != 1)
        return std::nullopt;
    const Key key(raw);
    const std::unique_ptr<BIO, BioFree> out(BIO_new(BIO_s_mem()));
    if (!out || PEM_write_bio_PrivateKey(out.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return std::nullopt;
    char* data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    auto publicKey = publicOf(key.get());
    if (!publicKey || size <= 0)
        return std::nullopt;
    return KeyPair{std::string(data, static_cast<std::size_t>(size)), std::move(*publicKey)};
}

std::optional<std::string> PublicKeyOfPem(std::string_view pem) {
    const Key key = readPem(pem);
    return key ? publicOf(key.get()) : std::nullopt;
}

std::string FillInFacts(std::string_view infoText, const FactsLookup& factsOf, std::string& error) {
    std::string_view text = infoText;
    if (const update::SignatureEntry signature = update::FindSignatureEntry(text); signature.found) {
        if (!signature.last) {
            error = "the #signature entry is not the file's last entry";
            return {};
        }
        text = text.substr(0, signature.at);
    }
    const std::vector<update::ListedFile> files = update::ReadListedFiles(text);
    if (files.empty()) {
        error = "the information file lists no file (#url=, #url0=, #url1=, ...)";
        return {};
    }
    std::vector<FileFacts> facts;
    for (const update::ListedFile& file : files) {
        auto found = factsOf(file, error);
        if (!found)
            return {};
        facts.push_back(std::move(*found));
    }
    const std::string eol = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";

    std::string out;
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\n', lineStart);
        lineEnd = lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
        const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        bool stale = false;
        for (const update::ListedFile& file : files) {
            stale = stale || startsWithEntry(line, "#size" + file.number + "=") ||
                    startsWithEntry(line, "#hash" + file.number + "=");
        }
        if (!stale) {
            out += line;
            for (std::size_t i = 0; i < files.size(); ++i) {
                if (files[i].entryAt < lineStart || files[i].entryAt >= lineEnd)
                    continue;
                if (!out.empty() && out.back() != '\n')
                    out += eol;
                out += "#size" + files[i].number + "=" + std::to_string(facts[i].size) + eol;
                out += "#hash" + files[i].number + "=sha256:" + facts[i].sha256 + eol;
            }
        }
        lineStart = lineEnd;
    }
    if (!out.empty() && out.back() != '\n')
        out += eol;

    // The reader must find exactly what was written: a key inside another entry would win over the new line.
    const std::vector<update::ListedFile> reread = update::ReadListedFiles(out);
    bool same = reread.size() == files.size();
    for (std::size_t i = 0; same && i < files.size(); ++i) {
        same = reread[i].url == files[i].url && reread[i].size == facts[i].size && reread[i].sha256 == facts[i].sha256;
    }
    if (!same) {
        error = "the entries do not read back as written; put each #url, #size and #hash entry on a line of its own";
        return {};
    }
    return out;
}

std::string AppendSignature(std::string_view text, std::string_view privatePem) {
    const Key key = readPem(privatePem);
    const std::unique_ptr<EVP_MD_CTX, MdContextFree> context(EVP_MD_CTX_new());
    if (!key || !context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return {};
    std::string signature(64, '\0');
    std::size_t size = signature.size();
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                       reinterpret_cast<const unsigned char*>(text.data()), text.size()) != 1 ||
        size != 64)
        return {};
    const std::string eol = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    return std::string(text) + "#signature=ed25519:" + update::EncodeBase64(signature) + eol;
}

} // namespace qarvia::signupdate
