#include "update/SharedLibrary.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qarvia::update {
namespace {

TEST(SharedLibraryTest, OpensByNameBindsFunctionsAndSaysWhatIsMissing) {
    SharedLibrary libc("libc.so.6");
    ASSERT_TRUE(libc.isOpen()) << libc.error();
    decltype(&std::strlen) length = nullptr;
    ASSERT_TRUE(libc.bind(length, "strlen"));
    EXPECT_EQ(length("qarvia"), 6u);
    int (*missing)() = nullptr;
    EXPECT_FALSE(libc.bind(missing, "qarvia_no_such_function"));
    EXPECT_EQ(missing, nullptr);
    EXPECT_NE(libc.error().find("qarvia_no_such_function"), std::string::npos) << libc.error();

    SharedLibrary absent("libqarvia-no-such-library.so.1");
    EXPECT_FALSE(absent.isOpen());
    EXPECT_NE(absent.error().find("libqarvia-no-such-library.so.1"), std::string::npos) << absent.error();
    EXPECT_FALSE(absent.bind(length, "strlen"));
    EXPECT_EQ(length, nullptr);
}

} // namespace
} // namespace qarvia::update
