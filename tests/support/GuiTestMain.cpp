// main() for GUI test programs: a QApplication on the offscreen platform unless the caller chose another.

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (geteuid() == 0)
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
