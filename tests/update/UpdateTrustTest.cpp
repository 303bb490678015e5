// The signature over the information file, the files' sizes and digests, and the publisher's tool that
// writes them.

#include "update/UpdateTrust.h"

#include "SignUpdate.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace qarvia::update {
namespace {

namespace fs = std::filesystem;
using signupdate::AppendSignature;
using signupdate::FileFacts;
using signupdate::FillInFacts;

TEST(Base64Test, StrictFormOnly) {
    struct Case {
        const char* text;
        std::optional<std::string> bytes;
    };
    const Case cases[] = {
        {"", std::string()},      {"YQ==", std::string("a")}, {"YWI=", std::string("ab")}, {"YWJj", std::string("abc")},
        {"YQ", std::nullopt},     {"YQ=", std::nullopt},      {"Y===", std::nullopt},      {"Y Q=", std::nullopt},
        {"YQ==\n", std::nullopt}, {"Y-Q=", std::nullopt},     {"=YQ=", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeBase64(c.text), c.bytes) << c.text;
    EXPECT_EQ(EncodeBase64("abc"), "YWJj");
    EXPECT_EQ(DecodePublicKey(EncodeBase64(std::string(31, 'k'))), std::nullopt);
    EXPECT_TRUE(DecodePublicKey(EncodeBase64(std::string(32, 'k'))));
}

class SignedInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto pair = signupdate::GenerateKey();
        auto other = signupdate::GenerateKey();
        ASSERT_TRUE(pair && other);
        key = *pair;
        otherKey = *other;
    }
    signupdate::KeyPair key, otherKey;
    const std::string hash = Sha256Hex("x");
    const std::string body = "#version=v1.2\r\n#url=http://h/a.rar\r\n#size=1\r\n#hash=sha256:" + hash + "\r\n";
};

TEST_F(SignedInfoTest, VerdictsUnderAKey) {
    const std::string good = AppendSignature(body, key.privatePem);
    ASSERT_FALSE(good.empty());
    std::string flipped = good;
    flipped[3] ^= 1;
    std::string badSignature = good;
    badSignature[good.size() - 8] = badSignature[good.size() - 8] == 'A' ? 'B' : 'A';
    const std::string noFacts = AppendSignature("#version=v1.2\r\n#url=http://h/a.rar\r\n", key.privatePem);
    struct Case {
        const char* name;
        std::string text;
        std::string publicKey;
        InfoVerdict verdict;
    };
    const Case cases[] = {
        {"signed", good, key.publicBase64, InfoVerdict::Accepted},
        {"signed, blank lines after", good + "\r\n \r\n", key.publicBase64, InfoVerdict::Accepted},
        {"no key: read as it comes", body, "", InfoVerdict::Accepted},
        {"no key: a bad signature is not looked at", flipped, "", InfoVerdict::Accepted},
        {"one changed byte", flipped, key.publicBase64, InfoVerdict::BadSignature},
        {"changed signature", badSignature, key.publicBase64, InfoVerdict::BadSignature},
        {"another key", AppendSignature(body, otherKey.privatePem), key.publicBase64, InfoVerdict::BadSignature},
        {"unusable key", good, "not base64", InfoVerdict::BadSignature},
        {"other scheme", body + "#signature=rsa:" + good.substr(good.find("ed25519:") + 8), key.publicBase64,
         InfoVerdict::BadSignature},
        {"missing", body, key.publicBase64, InfoVerdict::NoSignature},
        {"not the last entry", good + "#url0=http://evil/x\r\n", key.publicBase64, InfoVerdict::NoSignature},
        {"signed without size and hash", noFacts, key.publicBase64, InfoVerdict::MissingFacts},
    };
    for (const Case& c : cases) {
        const InfoCheck check = CheckInfoFile(c.text, c.publicKey);
        EXPECT_EQ(check.verdict, c.verdict) << c.name;
        EXPECT_EQ(check.files.size(), c.verdict == InfoVerdict::Accepted ? 1u : 0u) << c.name;
    }
    // Under a key only the signed bytes are read.
    EXPECT_EQ(CheckInfoFile(good, key.publicBase64).entries, body);
}

TEST_F(SignedInfoTest, DownloadedFileAgainstItsListing) {
    const fs::path file = fs::temp_directory_path() / ("qarvia-trust-" + std::to_string(getpid()));
    std::ofstream(file) << "x";
    struct Case {
        const char* name;
        std::string listing;
        FileVerdict verdict;
    };
    const Case cases[] = {
        {"both match", "#url=u\n#size=1\n#hash=sha256:" + hash + "\n", FileVerdict::Matches},
        {"nothing listed", "#url=u\n", FileVerdict::Matches},
        {"size only", "#url=u\n#size=1\n", FileVerdict::Matches},
        {"size differs", "#url=u\n#size=2\n#hash=sha256:" + hash + "\n", FileVerdict::SizeDiffers},
        {"hash differs", "#url=u\n#size=1\n#hash=sha256:" + Sha256Hex("y") + "\n", FileVerdict::HashDiffers},
        {"unreadable size", "#url=u\n#size=one\n", FileVerdict::FactsUnreadable},
    };
    for (const Case& c : cases) {
        const auto files = ReadListedFiles(c.listing);
        ASSERT_EQ(files.size(), 1u) << c.name;
        EXPECT_EQ(CheckDownloadedFile(file.string(), files[0]), c.verdict) << c.name;
    }
    fs::remove(file);
    EXPECT_EQ(CheckDownloadedFile(file.string(), ReadListedFiles("#url=u\n#size=1\n")[0]), FileVerdict::Unreadable);
}

TEST_F(SignedInfoTest, ToolFillsInFactsAndSigns) {
    const auto lookup = [](const ListedFile& file, std::string& error) -> std::optional<FileFacts> {
        if (file.url.ends_with("missing")) {
            error = "no " + file.url;
            return std::nullopt;
        }
        return FileFacts{static_cast<std::int64_t>(file.url.size()), Sha256Hex(file.url)};
    };
    struct Case {
        const char* name;
        std::string text;
        std::string expected; // "" = refused
    };
    const std::string h1 = Sha256Hex("http://h/a"), h3 = Sha256Hex("http://h/bb");
    const Case cases[] = {
        {"crlf, older facts replaced",
         "#version=v2\r\n#size0=1\r\n#url=http://h/a\r\n#hash=sha256:" + std::string(64, '0') +
             "\r\n#url0=http://h/bb\r\n#message={notes}\r\n",
         "#version=v2\r\n#url=http://h/a\r\n#size=10\r\n#hash=sha256:" + h1 +
             "\r\n#url0=http://h/bb\r\n#size0=11\r\n#hash0=sha256:" + h3 + "\r\n#message={notes}\r\n"},
        {"old signature dropped, last line ended", "#url=http://h/a\n#signature=ed25519:AAAA\n",
         "#url=http://h/a\n#size=10\n#hash=sha256:" + h1 + "\n"},
        {"no line break at the end", "#url=http://h/a", "#url=http://h/a\n#size=10\n#hash=sha256:" + h1 + "\n"},
        {"signature not last", "#signature=x\n#url=http://h/a\n", ""},
        {"nothing listed", "#version=v2\n", ""},
        {"file not found", "#url=http://h/missing\n", ""},
        {"a size key inside the message wins", "#message={#size=5}\n#url=http://h/a\n", ""},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(FillInFacts(c.text, lookup, error), c.expected) << c.name;
        EXPECT_EQ(error.empty(), !c.expected.empty()) << c.name;
    }
    // Signing what the tool filled in gives a file the program accepts under the key.
    std::string error;
    const std::string filled = FillInFacts(cases[0].text, lookup, error);
    const std::string signedText = AppendSignature(filled, key.privatePem);
    EXPECT_TRUE(signedText.ends_with("\r\n"));
    EXPECT_TRUE(CheckInfoFile(signedText, key.publicBase64).accepted());
    EXPECT_EQ(signupdate::PublicKeyOfPem(key.privatePem), key.publicBase64);
    EXPECT_EQ(AppendSignature(filled, "not a key"), "");
}

} // namespace
} // namespace qarvia::update
