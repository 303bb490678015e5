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
