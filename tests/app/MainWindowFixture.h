#pragma once

#include "app/TForm1.h"

#include "DialogRecorder.h"
#include "QtPrinters.h"
#include "ShellOpenRecorder.h"
#include "WebViewRecorder.h"

#include <gtest/gtest.h>

#include <memory>

namespace qarvia {

// A main window whose web views, message boxes and links are all recorded.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings.bannerUrl = QStringLiteral("http://127.0.0.1:9/toolbox/in.htm");
        settings.updateInfoUrl = QStringLiteral("http://127.0.0.1:9/zidad/qarvia/upt.inf");
        settings.siteUrl = QStringLiteral("http://127.0.0.1:9/");
        settings.simulatorUrl = QStringLiteral("http://127.0.0.1:9/qarvia_simulator/xxmoniqi.htm#7");
        settings.feedbackMail = QStringLiteral("feedback@example.org");
        form = std::make_unique<TForm1>(settings);
        form->show();
        form->buildPages(); // the controls of the pages not shown yet, too
    }

    template <class T> T* find(const char* name) const {
        T* w = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    WebViewRecorder web;
    DialogRecorder dialogs;
    ShellOpenRecorder opener;
    ProgramSettings settings;
    std::unique_ptr<TForm1> form;
};

} // namespace qarvia
