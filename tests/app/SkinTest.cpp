// The skin: every window drawn by it, its colours readable, the main window's own title bar, and the
// platform's look when it is switched off.

#include "MainWindowFixture.h"

#include "ModalWindowCloser.h"
#include "app/Skin.h"
#include "ui/TitleBar.h"
#include "update/wizard/TsuUpdaterMessageForm.h"
#include "update/wizard/TsuUpdaterPasswordForm.h"
#include "update/wizard/TsuUpdaterWizardForm.h"
#include "update/wizard/UpdaterWindows.h"
#include "ui/TXuanxiuForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QRawFont>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <QWindow>

#include <cmath>
#include <functional>
#include <map>
#include <set>

namespace qarvia {
namespace {

// ---- Reading colours out of a style sheet ------------------------------------------------------------

struct Rule {
    QString selector; // one selector of a comma-separated list
    std::map<QString, QString> declarations;

    QString value(const char* name) const {
        const auto it = declarations.find(QLatin1String(name));
        return it == declarations.end() ? QString() : it->second;
    }
};

QList<Rule> parseSheet(QString sheet) {
    sheet.remove(QRegularExpression(QStringLiteral("/\\*.*?\\*/"), QRegularExpression::DotMatchesEverythingOption));
    QList<Rule> rules;
    qsizetype at = 0;
    while (true) {
        const qsizetype open = sheet.indexOf(QLatin1Char('{'), at);
        if (open < 0)
            break;
        const qsizetype close = sheet.indexOf(QLatin1Char('}'), open);
        if (close < 0)
            break;
        std::map<QString, QString> declarations;
        for (const QString& d : sheet.mid(open + 1, close - open - 1).split(QLatin1Char(';'))) {
            const qsizetype colon = d.indexOf(QLatin1Char(':'));
            if (colon > 0)
                declarations[d.left(colon).trimmed()] = d.mid(colon + 1).trimmed();
        }
        for (const QString& selector : sheet.mid(at, open - at).split(QLatin1Char(',')))
            rules.append({selector.simplified(), declarations});
        at = close + 1;
    }
    return rules;
}

// The colours of a colour value: one for a plain colour, every stop of a gradient, none for "transparent".
// Anything else (names, rgb()) cannot be checked and fails the test.
QList<QColor> coloursOf(const QString& value, const QString& where) {
    QList<QColor> colours;
    static const QRegularExpression hex(QStringLiteral("#[0-9a-fA-F]{6}\\b|#[0-9a-fA-F]{3}\\b"));
    for (auto it = hex.globalMatch(value); it.hasNext();)
        colours << QColor(it.next().captured());
    QString rest = value;
    rest.remove(hex);
    rest.remove(QRegularExpression(QStringLiteral("qlineargradient|x1|y1|x2|y2|stop|transparent|none|[0-9.:,() -]")));
    EXPECT_TRUE(rest.isEmpty()) << "colour the contrast check cannot read in " << where.toStdString() << ": "
                                << value.toStdString();
    return colours;
}

double luminance(const QColor& c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QString stripStates(QString selector) {
    // "QMenuBar::item:selected" -> "QMenuBar::item"; "QPushButton:hover" -> "QPushButton".
    selector.remove(QRegularExpression(QStringLiteral("(?<!:):(?!:)[a-z-]+")));
    return selector;
}

// Text drawn without a background of its own lies on a window or a panel.
bool isSurface(const Rule& r) {
    if (stripStates(r.selector) != r.selector)
        return false; // a state (hover, pressed) of a control, not a panel
    const QString last = stripStates(r.selector).split(QRegularExpression(QStringLiteral("[ >]+"))).last();
    if (last.endsWith(QLatin1String("::pane")))
        return true;
    if (last.contains(QLatin1String("::")))
        return false;
    // QMainWindow is left out: its own background shows only in the edge round its client area.
    static const std::set<QString> containers{QStringLiteral("QDialog"), QStringLiteral("QMessageBox"),
                                              QStringLiteral("QWidget"), QStringLiteral("QFrame"),
                                              QStringLiteral("QGroupBox"), QString()};
    return containers.count(last.section(QLatin1Char('#'), 0, 0).section(QLatin1Char('['), 0, 0)) > 0;
}

// Every text colour of the sheet against every background it can be drawn on; returns the failures.
QStringList contrastFailures(const QString& sheet) {
    const QList<Rule> rules = parseSheet(sheet);
    auto backgrounds = [](const Rule& r) {
        QList<QColor> all = coloursOf(r.value("background"), r.selector);
        all += coloursOf(r.value("background-color"), r.selector);
        return all;
    };
    QList<QColor> surfaces;
    for (const Rule& r : rules) {
        if (isSurface(r))
            surfaces += backgrounds(r);
    }
    QStringList failures;
    auto check = [&failures](const QColor& text, const QColor& back, double needed, const QString& where) {
        const double ratio = contrast(text, back);
        if (ratio < needed)
            failures << QStringLiteral("%1: %2 on %3 is %4:1, needs %5:1")
                            .arg(where, text.name(), back.name())
                            .arg(ratio, 0, 'f', 2)
                            .arg(needed);
    };
    for (const Rule& r : rules) {
        const QRegularExpressionMatch size =
            QRegularExpression(QStringLiteral("(\\d+)px")).match(r.value("font-size") + r.value("font"));
        const double needed = size.hasMatch() && size.captured(1).toInt() >= 18 ? 3.0 : 4.5;
        const QList<QColor> text = coloursOf(r.value("color"), r.selector);
        const QList<QColor> own = backgrounds(r);
        const QString base = stripStates(r.selector).section(QStringLiteral("::"), 0, 0);
        QList<QColor> under = own;
        QList<QColor> textOver = text;
        for (const Rule& b : rules) {
            if (base == r.selector || stripStates(b.selector) != base || !r.selector.contains(QLatin1String("::")))
                continue;
            if (own.isEmpty())
                under += backgrounds(b); // a part drawn transparent shows its control's background
            if (text.isEmpty())
                textOver += coloursOf(b.value("color"), b.selector); // the control's text runs over its parts
        }
        if (own.isEmpty())
            under += surfaces;
        if (!text.isEmpty() || !own.isEmpty()) {
            for (const QColor& t : textOver)
                for (const QColor& b : (text.isEmpty() ? own : under))
                    check(t, b, needed, r.selector);
        }
        const QList<QColor> selText = coloursOf(r.value("selection-color"), r.selector);
        const QList<QColor> selBack = coloursOf(r.value("selection-background-color"), r.selector);
        if (selText.isEmpty() != selBack.isEmpty())
            failures << r.selector + QStringLiteral(": selection colour without its partner");
        for (const QColor& t : selText)
            for (const QColor& b : selBack)
                check(t, b, needed, r.selector + QStringLiteral(" (selection)"));
        for (const QColor& b : coloursOf(r.value("alternate-background-color"), r.selector)) {
            if (text.isEmpty())
                failures << r.selector + QStringLiteral(": alternate background without a text colour");
            for (const QColor& t : text)
                check(t, b, needed, r.selector + QStringLiteral(" (alternate rows)"));
        }
    }
    return failures;
}

TEST(SkinContrast, CheckerCatchesBadPairs) {
    struct Case {
        const char* sheet;
        bool passes;
    };
    const Case cases[] = {
        {"QLabel { color: #777777; background: #888888; }", false},
        {"QDialog { background: #101010; } QLabel { color: #202020; background: transparent; }", false},
        {"QDialog { background: #101010; } QLabel { color: #f0f0f0; }", true},
        {"QLabel#big { color: #949494; background: #ffffff; font-size: 18px; }", true},
        {"QLabel#small { color: #949494; background: #ffffff; font-size: 17px; }", false},
        {"QLineEdit { color: #000000; background: #ffffff; selection-background-color: #101010; }", false},
        {"QProgressBar { color: #ffffff; background: #000000; } QProgressBar::chunk { background: #eeeeee; }",
         false},
        {"QPushButton { color: #ffffff; background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #000000, "
         "stop:1 #d0d0d0); }",
         false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(contrastFailures(QString::fromLatin1(c.sheet)).isEmpty(), c.passes) << c.sheet;
}

// ---- The skin on a real main window ------------------------------------------------------------------

class SkinTest : public MainWindowTest {
protected:
    void SetUp() override {
        applySkin(true);
        sheet = skinStyleSheet();
        MainWindowTest::SetUp();
        form->hide();
        dressMainWindow(*form);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void TearDown() override { applySkin(false); }

    TitleBar* titleBar() const { return form->findChild<TitleBar*>(); }

    QString sheet;
};

TEST_F(SkinTest, EveryColourPairOfTheSkinIsReadable) {
    ASSERT_FALSE(sheet.isEmpty());
    EXPECT_EQ(qApp->styleSheet(), sheet);
    const QStringList failures = contrastFailures(sheet);
    EXPECT_TRUE(failures.isEmpty()) << failures.join(QLatin1Char('\n')).toStdString();
    // The experience page writes its amounts in red into the rich-text box.
    for (const Rule& r : parseSheet(sheet)) {
        if (r.selector != QLatin1String("QTextEdit"))
            continue;
        for (const QColor& b : coloursOf(r.value("background"), r.selector))
            EXPECT_GE(contrast(QColor(255, 0, 0), b), 4.5) << b.name().toStdString();
    }
}

TEST_F(SkinTest, PicturesAreVectorsInTheResource) {
    const QRegularExpression url(QStringLiteral("url\\((:/[^)]+)\\)"));
    int count = 0;
    for (auto it = url.globalMatch(sheet); it.hasNext(); ++count) {
        const QString path = it.next().captured(1);
        EXPECT_TRUE(path.endsWith(QLatin1String(".svg"))) << path.toStdString();
        const QPixmap sharp = QIcon(path).pixmap(QSize(16, 16), 2.0);
        EXPECT_EQ(sharp.size(), QSize(32, 32)) << path.toStdString(); // drawn at the screen's scale
    }
    EXPECT_GT(count, 8);
    EXPECT_EQ(applicationIcon().pixmap(QSize(256, 256), 1.0).size(), QSize(256, 256));
}

// The window's own fonts hold every character of the window's texts, so showing them never reads a full CJK
// font; text they lack (a hero's name) falls back to the full face.
TEST_F(SkinTest, WindowTextsAreInTheWindowsOwnFonts) {
    ASSERT_TRUE(loadWindowFonts());
    EXPECT_EQ(QApplication::font().families().value(0), QStringLiteral("Qarvia Sans"));
    EXPECT_TRUE(QApplication::font().families().contains(QStringLiteral("Noto Sans CJK SC")));
    QString texts = form->windowTitle();
    for (QAction* menu : form->menuBar()->actions())
        texts += menu->text() + menu->menu()->title();
    for (QMenu* menu : form->findChildren<QMenu*>())
        for (QAction* item : menu->actions())
            texts += item->text();
    auto* pages = find<QTabWidget>("PageControl1");
    for (int i = 0; i < pages->count(); ++i)
        texts += pages->tabText(i);
    for (QLabel* label : form->findChildren<QLabel*>())
        texts += label->text();
    for (QAbstractButton* button : form->findChildren<QAbstractButton*>())
        texts += button->text();
    for (QComboBox* box : form->findChildren<QComboBox*>())
        for (int i = 0; i < box->count(); ++i)
            texts += box->itemText(i);
    for (QTableWidget* grid : form->findChildren<QTableWidget*>())
        for (int c = 0; c < grid->columnCount(); ++c)
            if (grid->horizontalHeaderItem(c))
                texts += grid->horizontalHeaderItem(c)->text();
    auto cut = [](const char* name) {
        QFile file(QString::fromLatin1(name));
        return file.open(QIODevice::ReadOnly) ? QRawFont(file.readAll(), 12) : QRawFont();
    };
    const QRawFont sans = cut(":/fonts/qarvia-sans.otf");
    ASSERT_TRUE(sans.isValid());
    EXPECT_EQ(sans.familyName(), QStringLiteral("Qarvia Sans"));
    QString missing;
    for (const QChar c : texts)
        if (c.isPrint() && !c.isSpace() && !sans.supportsCharacter(c) && !missing.contains(c))
            missing += c;
    EXPECT_TRUE(missing.isEmpty()) << missing.toStdString();
    EXPECT_GT(texts.size(), 300);
    // The experience results' serif: its own cut first where the desktop has no SimSun.
    const QFont result = find<QTextEdit>("calResult")->font();
    EXPECT_EQ(result.families().value(1), QStringLiteral("Qarvia Serif"));
    const QRawFont serif = cut(":/fonts/qarvia-serif.otf");
    for (const QChar c : QString::fromUtf8("0123456789,. 等级从升到所需经验为：化雪丹总"))
        EXPECT_TRUE(serif.supportsCharacter(c)) << QString(c).toStdString();
    EXPECT_FALSE(sans.supportsCharacter(QChar(0x9F98))); // a rare character no text of the program uses
}

// The visible widgets of `top`, itself included, but not the pages inside web views.
QList<QWidget*> drawnWidgets(QWidget* top) {
    QList<QWidget*> out;
    std::function<void(QWidget*)> walk = [&](QWidget* w) {
        if (!w->isVisible() || qobject_cast<WebView*>(w))
            return;
        out << w;
        for (QObject* child : w->children()) {
            auto* c = qobject_cast<QWidget*>(child);
            if (c && !c->isWindow())
                walk(c);
        }
    };
    walk(top);
    return out;
}

QString describe(const QWidget* w) {
    QString path;
    for (; w; w = w->parentWidget()) {
        path.prepend(QStringLiteral("/%1#%2").arg(QLatin1String(w->metaObject()->className()), w->objectName()));
        if (w->isWindow())
            break;
    }
    return path;
}

// Collects the widgets that look the same with and without the skin.
class StyleProbe {
public:
    explicit StyleProbe(QString sheet) : sheet_(std::move(sheet)) {}

    void probe(QWidget* top) {
        QCoreApplication::processEvents();
        const QList<QWidget*> widgets = drawnWidgets(top);
        ASSERT_FALSE(widgets.isEmpty()) << describe(top).toStdString();
        // QARVIA_SKIN_SHOTS=folder keeps a picture of every window looked at, for a person to check.
        const QString shots = qEnvironmentVariable("QARVIA_SKIN_SHOTS");
        if (!shots.isEmpty())
            top->grab().save(QStringLiteral("%1/%2-%3.png").arg(shots).arg(windows_).arg(top->objectName()));
        QList<QPointer<QWidget>> alive;
        QList<QImage> skinned;
        for (QWidget* w : widgets) {
            alive << w;
            skinned << w->grab().toImage();
        }
        qApp->setStyleSheet(QString());
        QCoreApplication::processEvents();
        for (qsizetype i = 0; i < alive.size(); ++i) {
            if (alive[i] && alive[i]->grab().toImage() == skinned[i])
                unstyled_.insert(describe(alive[i]));
        }
        compared_ += int(alive.size());
        qApp->setStyleSheet(sheet_);
        QCoreApplication::processEvents();
        ++windows_;
    }

    std::set<QString>& unstyled() { return unstyled_; }
    int windows() const { return windows_; }
    int compared() const { return compared_; }

private:
    QString sheet_;
    std::set<QString> unstyled_;
    int windows_ = 0;
    int compared_ = 0;
};

TEST_F(SkinTest, NoVisibleControlKeepsThePlatformLook) {
    StyleProbe probe(sheet);

    // The main window, page by page, with the grids' scroll bars, a cell editor and a filled result box.
    auto* pages = find<QTabWidget>("PageControl1");
    auto* heroes = find<QTableWidget>("herolist");
    heroes->setRowCount(30);
    for (int row = 1; row < 30; ++row)
        heroes->setItem(row, 0, new QTableWidgetItem(QStringLiteral("Hero %1").arg(row)));
    auto* result = find<QTextEdit>("calResult");
    for (int i = 0; i < 30; ++i)
        result->append(QStringLiteral("line %1").arg(i));
    result->selectAll();
    // A control the skin knows nothing of is found: the probe can fail.
    auto* stray = new QCheckBox(QStringLiteral("stray"), find<QWidget>("TabSheet1"));
    stray->setObjectName(QStringLiteral("stray"));
    stray->show();
    probe.probe(form.get());
    EXPECT_EQ(probe.unstyled().erase(describe(stray)), 1u);
    delete stray;
    for (int page : {0, 1, 2, 4}) {
        const QSignalBlocker quiet(pages);
        pages->setCurrentIndex(page);
        if (page == 2) {
            auto* grid = find<QTableWidget>("HuaXueStringGrid");
            grid->setCurrentCell(0, 2);
            grid->editItem(grid->currentItem() ? grid->currentItem() : new QTableWidgetItem);
        }
        probe.probe(form.get());
    }
    // The menu's drop-down and the drop-down lists.
    QMenu* menu = form->menuBar()->actions().first()->menu();
    menu->popup(form->mapToGlobal(QPoint(10, 10)));
    probe.probe(menu);
    menu->hide();
    {
        const QSignalBlocker quiet(pages);
        pages->setCurrentIndex(0);
    }
    for (const char* name : {"star", "level"}) {
        auto* combo = find<QComboBox>(name);
        combo->showPopup();
        probe.probe(combo->view()->window());
        combo->hidePopup();
    }

    // Every modal window, looked at while it is open.
    setDialogs(nullptr); // real message boxes
    {
        ModalWindowCloser closer([&probe](QWidget* w) { probe.probe(w); });
        form->N3Click();                                                    // About
        TXuanxiuForm::showPage(QStringLiteral("http://127.0.0.1:9/page")); // the web-page window
        showMessage(QString::fromUtf8("只能输入数字"));                     // the digit filter's message
        showApplicationError(QStringLiteral("Connection refused"));         // the error display
        update::showUpdateMessage(QStringLiteral("info"), MessageIcon::Information);
        update::askSkipLostFile("a.rar", 404);
        update::askAbortUpgrade();
        update::TsuUpdaterMessageForm::AskUpgrade(QStringLiteral("1. new"));
        std::string user, password;
        update::TsuUpdaterPasswordForm::AskLogin("a.rar", user, password);
        EXPECT_EQ(closer.closedCount(), 9);
    }
    setDialogs(&dialogs);

    // The wizard while it downloads and on its finish page (a disabled and a default button).
    QPointer<update::TsuUpdaterWizardForm> wizard = new update::TsuUpdaterWizardForm;
    wizard->ShowWizard({false, false, {}});
    wizard->setFileURL(QStringLiteral("http://127.0.0.1:9/a.rar"));
    wizard->setProgress(40, 20, 100, 60);
    wizard->flushProgress();
    probe.probe(wizard);
    wizard->ShowWizardFinish();
    probe.probe(wizard);
    wizard->release();

    EXPECT_EQ(probe.windows(), 19); // 5 looks at the main window, 2 drop-down lists, the menu, 9 modal, 2 wizard
    EXPECT_GT(probe.compared(), 200);
    QStringList unstyled;
    for (const QString& path : probe.unstyled())
        unstyled << path;
    EXPECT_TRUE(unstyled.isEmpty()) << "drawn the same without the skin:\n"
                                    << unstyled.join(QLatin1Char('\n')).toStdString();
}

// ---- The drawn title bar -----------------------------------------------------------------------------

TEST_F(SkinTest, MainWindowDrawsItsOwnTitleBar) {
    TitleBar* bar = titleBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);
    const QString caption = QString::fromUtf8("Qarvia游戏工具箱  v1.1  - 本工具箱由Lumora游戏网制作");
    EXPECT_EQ(bar->caption(), caption);
    EXPECT_EQ(form->windowTitle(), caption); // still there for task bars and window lists
    EXPECT_EQ(form->windowHandle()->title(), caption);
    EXPECT_EQ(form->centralWidget()->size(), QSize(630, 470));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_GE(form->centralWidget()->y(), bar->geometry().bottom()); // the bar is outside the client area
    QStringList buttons;
    for (auto* b : bar->findChildren<QToolButton*>())
        buttons << b->objectName();
    EXPECT_EQ(buttons, (QStringList{QStringLiteral("TitleMinimize"), QStringLiteral("TitleClose")}));

    form->setWindowTitle(QStringLiteral("new"));
    EXPECT_EQ(bar->caption(), QStringLiteral("new"));
}

TEST_F(SkinTest, TitleBarMinimisesAndCloses) {
    TitleBar* bar = titleBar();
    ASSERT_NE(bar, nullptr);
    QTest::mouseClick(bar->findChild<QToolButton*>(QStringLiteral("TitleMinimize")), Qt::LeftButton);
    EXPECT_TRUE(form->isMinimized());
    form->showNormal();
    QTest::mouseClick(bar->findChild<QToolButton*>(QStringLiteral("TitleClose")), Qt::LeftButton);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(SkinTest, DraggingTheTitleBarAsksTheWindowSystemToMove) {
    TitleBar* bar = titleBar();
    ASSERT_NE(bar, nullptr);
    QList<QWindow*> asked;
    bar->setSystemMove([&asked](QWindow* w) {
        asked << w;
        return true;
    });
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(200, 12));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(200, 12));
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0], form->windowHandle());

    // Where the window system cannot, the bar moves the window itself.
    bar->setSystemMove([](QWindow*) { return false; });
    const QPoint before = form->pos();
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(200, 12));
    QMouseEvent move(QEvent::MouseMove, QPointF(240, 42), bar->mapToGlobal(QPointF(240, 42)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(240, 42));
    EXPECT_EQ(form->pos(), before + QPoint(40, 30));
}

TEST_F(SkinTest, OfflineBannerShowsTheSkinsArtworkUntilAPageLoads) {
    EXPECT_EQ(web.navigations(), QStringList{settings.bannerUrl}); // still navigated at start-up
    auto* banner = find<WebView>("TopBrowser");
    EXPECT_EQ(banner->failureCover(), nullptr); // nothing made while the page may still load
    web.last()->fail();
    QWidget* art = banner->failureCover();
    ASSERT_NE(art, nullptr);
    EXPECT_TRUE(art->isVisible());
    EXPECT_EQ(art->geometry(), banner->rect());
    auto* name = art->findChild<QLabel*>(QStringLiteral("BannerName"));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), QString::fromUtf8("Qarvia游戏工具箱"));
    web.last()->complete(QStringLiteral("banner"));
    EXPECT_FALSE(art->isVisible());
}

// ---- Switched off ------------------------------------------------------------------------------------

TEST(SkinSwitch, OffKeepsThePlatformLookAndFrame) {
    applySkin(true);
    applySkin(false); // as the program starts with --no-skin: nothing of the skin is set
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
    EXPECT_FALSE(QApplication::font().families().contains(QStringLiteral("Qarvia Sans")));
    WebViewRecorder web;
    TForm1 form;
    form.show();
    EXPECT_FALSE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form.findChild<TitleBar*>(), nullptr);
    EXPECT_TRUE(form.styleSheet().isEmpty()); // the form is built without the sheet it holds
    EXPECT_EQ(form.centralWidget()->size(), QSize(630, 470));
    EXPECT_EQ(form.size(), QSize(630, 470 + form.menuBar()->sizeHint().height()));
    web.last()->fail();
    EXPECT_EQ(form.findChild<WebView*>(QStringLiteral("TopBrowser"))->failureCover(), nullptr); // the engine's
}

} // namespace
} // namespace qarvia
