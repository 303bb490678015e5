#include "ui/WindowFrame.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace qarvia {
namespace {

// The figures are those seen under openbox on a 1280 x 1024 screen: a frame of 1, 20, 1, 1 (5 at the
// bottom where the window can be maximised).
TEST(WindowFrame, ClientRectCentresTheOuterRectangle) {
    struct Case {
        const char* name;
        QSize client;
        QMargins frame;
        QRect area;
        QRect expected;
    };
    const QRect screen(0, 0, 1280, 1024);
    const Case cases[] = {
        {"main window, no frame known", {630, 493}, {}, screen, {325, 265, 630, 493}},
        {"main window, its real frame", {630, 493}, {1, 20, 1, 1}, screen, {325, 275, 630, 493}},
        {"About over the main window's frame", {339, 105}, {1, 20, 1, 1}, {324, 255, 632, 514}, {470, 469, 339, 105}},
        {"web-page window", {1027, 520}, {1, 20, 1, 5}, screen, {126, 259, 1027, 520}},
        {"larger than the area", {1027, 520}, {1, 20, 1, 5}, {0, 0, 800, 400}, {-114, -53, 1027, 520}},
    };
    for (const Case& c : cases) {
        const QRect r = centredClientRect(c.client, c.frame, c.area);
        EXPECT_EQ(r, c.expected) << c.name;
        EXPECT_EQ(r.marginsAdded(c.frame).center(), c.area.center()) << c.name;
    }
}

} // namespace
} // namespace qarvia
