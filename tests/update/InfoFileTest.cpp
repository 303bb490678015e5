#include "update/InfoFile.h"

#include <gtest/gtest.h>

namespace qarvia::update {
namespace {

struct ValueCase {
    const char* name;
    std::string text;
    const char* key;
    bool braced;
    std::string expected;
};

void PrintTo(const ValueCase& c, std::ostream* os) {
    *os << c.name;
}

class ReadInfoValueTest : public testing::TestWithParam<ValueCase> {};

TEST_P(ReadInfoValueTest, FindsTheValue) {
    const ValueCase& c = GetParam();
    EXPECT_EQ(ReadInfoValue(c.text, c.key, c.braced), c.expected);
}

const std::string typicalFile = "#version=v1.2\r\n#date=11/06/2012\r\n#url=http://example.test/a.rar\r\n"
                                "#method=0\r\n#message={1. New ranking page\r\n2. Faster}\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadInfoValueTest,
    testing::Values(
        ValueCase{"typicalVersion", typicalFile, "version", false, "v1.2"},
        ValueCase{"typicalUrl", typicalFile, "url", false, "http://example.test/a.rar"},
        ValueCase{"messageKeepsLineBreaks", typicalFile, "message", true, "1. New ranking page\r\n2. Faster"},
        ValueCase{"upperCaseKey", "#URL=http://x/y\n", "url", false, "http://x/y"},
        ValueCase{"mixedCaseKeyValueCaseKept", "#Version=V1.3b\n", "version", false, "V1.3b"},
        ValueCase{"trailingBlankKept", "#url=http://x/y \r\n", "url", false, "http://x/y "},
        ValueCase{"leadingBlankKept", "#url= http://x/y\n", "url", false, " http://x/y"},
        ValueCase{"cutAtTab", "#url=abc\tdef", "url", false, "abc"},
        ValueCase{"cutAtAnyControlByte", std::string("#url=ab\x01z", 9), "url", false, "ab"},
        ValueCase{"highBytesKept", "#message={\xC9\xFD\xBC\xB6}", "message", true, "\xC9\xFD\xBC\xB6"},
        ValueCase{"valueToEndOfFile", "#url=http://x/y", "url", false, "http://x/y"},
        ValueCase{"messageWithoutCloseTakesRest", "#message={line one\r\nline two", "message", true,
                  "line one\r\nline two"},
        ValueCase{"messageWithoutBracesIsNotFound", "#message=plain text\n", "message", true, ""},
        ValueCase{"firstOccurrenceWins", "#url=first\n#url=second\n", "url", false, "first"},
        ValueCase{"notTiedToLineStart", "junk#url=inline\n", "url", false, "inline"},
        ValueCase{"foundInsideAnotherValue", "#message={see #url=inside}\n#url=real\n", "url", false, "inside}"},
        ValueCase{"absentKey", typicalFile, "url0", false, ""}, ValueCase{"emptyValue", "#url=\r\n", "url", false, ""},
        ValueCase{"keyPrefixNeedsEquals", "#url1=a\n", "url", false, ""},
        ValueCase{"emptyFile", "", "version", false, ""}),
    [](const testing::TestParamInfo<ValueCase>& info) { return std::string(info.param.name); });

TEST(UpdateFilesTest, FollowsTheNumberingRule) {
    struct Case {
        std::string text;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"#url1=a\n#url2=b\n#url3=c\n", {"a", "b", "c"}},
        {"#url=a\n#url2=b\n", {"a", "b"}},
        {"#url=a\n#url1=b\n", {"a"}}, // numbering continues at 2 once "url" was found
        {"#url=a\n#url0=b\n#url3=c\n#url4=d\n", {"a", "b", "c", "d"}},
        {"#url0=b\n#url2=c\n", {"b", "c"}},
        {"#url1=a\n#url3=c\n", {"a"}}, // stops at the first empty number
        {"#url1=a\n#url2=\n#url3=c\n", {"a"}},
        {"#URL2=b\n#Url1=a\n", {"a", "b"}},
        {"#url1=first\n#url1=second\n#url2=b\n", {"first", "b"}},
        {"#url01=x\n#url1=a\n", {"a"}},
        {"<html>Not found</html>", {}},
        {"", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadUpdateFiles(c.text), c.expected) << c.text;
}

TEST(UpdateFilesTest, ManyEntriesAreReadInOnePass) {
    std::string text;
    const int count = 20000;
    for (int i = 1; i <= count; ++i)
        text += "#url" + std::to_string(i) + "=u" + std::to_string(i) + "\n";
    const std::vector<std::string> files = ReadUpdateFiles(text);
    ASSERT_EQ(files.size(), std::size_t(count));
    EXPECT_EQ(files.back(), "u20000");
}

TEST(ListedFilesTest, SizeAndHashFollowTheUrlNumbering) {
    const std::string hash(64, 'a');
    const std::string text = "#url=a\n#size=10\n#hash=sha256:" + hash +
                             "\n#url0=b\n#SIZE0=0\n#url3=c\n#hash3=sha256:" + hash +
                             "\n#size3=12x\n#size1=99\n#size=77\n";
    const std::vector<ListedFile> files = ReadListedFiles(text);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].number, "");
    EXPECT_EQ(files[0].size, 10);
    EXPECT_EQ(files[0].sha256, hash);
    EXPECT_EQ(files[1].number, "0");
    EXPECT_EQ(files[1].size, 0); // "#size0=" in any letter case; "#size1=" belongs to no URL here
    EXPECT_EQ(files[1].sha256, std::nullopt);
    EXPECT_FALSE(files[1].unreadableFacts);
    EXPECT_EQ(files[2].number, "3");
    EXPECT_EQ(files[2].size, std::nullopt);
    EXPECT_TRUE(files[2].unreadableFacts);
    EXPECT_EQ(text.substr(files[2].entryAt, 6), "#url3=");
}

TEST(ListedFilesTest, OnlyTheWrittenFormsAreRead) {
    const std::string hex(64, 'f');
    struct Case {
        std::string value;
        bool size;
        bool hash;
    };
    const Case cases[] = {
        {"0", true, false},
        {"123456789012345678", true, false},
        {"1234567890123456789", false, false}, // would not fit
        {"+1", false, false},
        {" 1", false, false},
        {"sha256:" + hex, false, true},
        {"SHA256:" + hex, false, false},
        {"sha256:" + std::string(64, 'F'), false, false},
        {"sha256:" + hex + "0", false, false},
        {"sha512:" + hex, false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseListedSize(c.value).has_value(), c.size) << c.value;
        EXPECT_EQ(ParseListedHash(c.value).has_value(), c.hash) << c.value;
    }
}

TEST(SignatureEntryTest, TheLastEntrySignsWhatPrecedesIt) {
    struct Case {
        std::string text;
        bool found;
        bool last;
        std::size_t at;
        std::string value;
    };
    const Case cases[] = {
        {"#url=a\n#signature=ed25519:AAAA\n", true, true, 7, "ed25519:AAAA"},
        {"#url=a\r\n#SIGNATURE=x \r\n\t \n", true, true, 8, "x "},
        {"#signature=one\n#signature=two", true, true, 15, "two"},
        {"#signature=x\n#url=a\n", true, false, 0, "x"},
        {"#message={#signature=x}\n", true, true, 10, "x}"}, // found by place alone: it signs "#message={"
        {"#url=a\n", false, false, 0, ""},
    };
    for (const Case& c : cases) {
        const SignatureEntry entry = FindSignatureEntry(c.text);
        EXPECT_EQ(entry.found, c.found) << c.text;
        EXPECT_EQ(entry.last, c.last) << c.text;
        EXPECT_EQ(entry.at, c.at) << c.text;
        EXPECT_EQ(entry.value, c.value) << c.text;
    }
}

TEST(UpgradeMethodTest, DigitFromFirstCharacter) {
    struct Case {
        const char* text;
        int digit;
        TsuUpgradeMethod method;
    };
    const Case cases[] = {
        {"#method=1\n", 1, TsuUpgradeMethod::umUseExternalSetup},
        {"#method=2\n", 2, TsuUpgradeMethod::umRedirectToURL},
        {"#method=2x\n", 2, TsuUpgradeMethod::umRedirectToURL},
        {"#METHOD=12\n", 1, TsuUpgradeMethod::umUseExternalSetup},
        {"#method=0\n", 0, TsuUpgradeMethod::umSelfUpgrade},
        {"#method=3\n", 0, TsuUpgradeMethod::umSelfUpgrade},
        {"#method= 2\n", 0, TsuUpgradeMethod::umSelfUpgrade},
        {"#method=\n", 0, TsuUpgradeMethod::umSelfUpgrade},
        {"", 0, TsuUpgradeMethod::umSelfUpgrade},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadUpgradeMethodDigit(c.text), c.digit) << c.text;
        EXPECT_EQ(UpgradeMethodFromDigit(ReadUpgradeMethodDigit(c.text)), c.method) << c.text;
    }
}

} // namespace
} // namespace qarvia::update
