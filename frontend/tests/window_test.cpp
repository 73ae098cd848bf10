// The engine's window services over Qt, the Help button's choice of viewer and the About
// box reached from the dialog's context menu.
#include "dialogtestutil.h"
#include "helpabout.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>

using namespace zebwintest;

class WindowTest : public QObject {
    Q_OBJECT
  private slots:
    void childWindowsById() {
        DialogBench bench;
        QtWindow window(&bench.dialog);
        ZebWindow* dialog = &window;
        ZebWindow* board = dialog->ChildWindow(ZEB_BOARD_ID);
        QVERIFY(board != nullptr);
        QCOMPARE(dialog->ChildWindow(ZEB_BOARD_ID), board);
        QCOMPARE(dialog->ChildWindow(4711), static_cast<ZebWindow*>(nullptr));
        board->SetText("engine text");
        QCOMPARE(bench.Board(), QStringLiteral("engine text"));
        // A child of a control that is gone answers nothing and takes writes harmlessly.
        auto* label = new QLabel(&bench.dialog);
        SetControlId(label, 4711);
        ZebWindow* child = dialog->ChildWindow(4711);
        QVERIFY(child != nullptr);
        delete label;
        child->SetText("ignored");
        child->EnableInput(false);
        child->EnableInput(true);
        QCOMPARE(dialog->ChildWindow(4711), static_cast<ZebWindow*>(nullptr));
    }

    void boardTextsAreBytes() {
        QCOMPARE(DecodeText("plain"), QStringLiteral("plain"));
        QCOMPARE(DecodeText("caf\xc3\xa9"), QStringLiteral("caf\u00e9"));
        // Not UTF-8 (raw pattern bytes of a pair report): Latin-1.
        QCOMPARE(DecodeText("pair \xe9\x16"), QString::fromLatin1("pair \xe9\x16"));
        QCOMPARE(DecodeText("cut \xc3"), QString::fromLatin1("cut \xc3"));
    }

    void disabledInputIsDiscardedNotQueued() {
        DialogBench bench;
        QtWindow window(&bench.dialog);
        window.EnableInput(false);
        QVERIFY(!window.InputEnabled());
        bench.Click(kIdSaveResults);
        QTest::keyClick(bench.Button(kIdShowData), Qt::Key_Space);
        window.DispatchPendingEvents();
        window.EnableInput(true);
        QCoreApplication::processEvents();
        QVERIFY(!bench.Button(kIdSaveResults)->isChecked());
        QVERIFY(bench.Button(kIdShowData)->isChecked());
        QCOMPARE(bench.engine.calls, std::vector<std::string>{"PassDynaResult(1)"});
        // Nothing is greyed meanwhile, and input works again afterwards.
        bench.Click(kIdSaveResults);
        QVERIFY(bench.Button(kIdSaveResults)->isChecked());
    }

    void engineMessageBoxIsOwnerless() {
        DialogBench bench;
        QtWindow window(&bench.dialog);
        // Shown while the dialog takes no input: the box still answers the operator.
        window.EnableInput(false);
        const char* text = "FILEIO: _open() fails, check file path. Program is terminated";
        window.ShowMessageBox("Error", text);
        window.EnableInput(true);
        QCOMPARE(bench.driver.boxes.size(), std::size_t{1});
        const SeenBox& box = bench.driver.boxes[0];
        QCOMPARE(box.title, QStringLiteral("Error"));
        QCOMPARE(box.text, QString::fromLatin1(text));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        QVERIFY(box.ownerless && box.applicationModal);
    }

    void helpChoice() {
        const auto winhelp = ChooseHelp(QStringLiteral("/usr/bin/winhelp.exe"),
                                        QStringLiteral("/opt/zeb/share/zebwin/zebwin-help.html"));
        QVERIFY(winhelp);
        QCOMPARE(winhelp->program, QStringLiteral("/usr/bin/winhelp.exe"));
        QCOMPARE(winhelp->arguments, QStringList{"zebwin.hlp"});

        const auto page = ChooseHelp({}, QStringLiteral("/opt/zeb/share/zebwin/zebwin-help.html"));
        QVERIFY(page);
        QCOMPARE(page->program, QStringLiteral("xdg-open"));
        QCOMPARE(page->arguments, QStringList{"/opt/zeb/share/zebwin/zebwin-help.html"});

        QVERIFY(!ChooseHelp({}, {}));
    }

    void helpPageLocations() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QDir dir(root.path());
        const QString bin = dir.filePath(QStringLiteral("bin"));
        QVERIFY(dir.mkpath(QStringLiteral("bin")));
        QCOMPARE(FindHelpPage(bin), QString());

        // Installed: share/zebwin beside bin.
        QVERIFY(dir.mkpath(QStringLiteral("share/zebwin")));
        QFile installed(dir.filePath(QStringLiteral("share/zebwin/zebwin-help.html")));
        QVERIFY(installed.open(QIODevice::WriteOnly));
        QCOMPARE(FindHelpPage(bin), QFileInfo(installed).canonicalFilePath());

        // Build tree: beside the program, found first.
        QFile beside(dir.filePath(QStringLiteral("bin/zebwin-help.html")));
        QVERIFY(beside.open(QIODevice::WriteOnly));
        QCOMPARE(FindHelpPage(bin), QFileInfo(beside).canonicalFilePath());
    }

    void aboutFromContextMenu() {
        DialogBench bench;
        QStringList menuItems;
        QString aboutTitle;
        QStringList aboutTexts;
        bool aboutIcon = false;
        QWidget* aboutParent = nullptr;
        bench.driver.onOther = [&](QWidget* widget) {
            if (auto* menu = qobject_cast<QMenu*>(widget)) {
                for (QAction* action : menu->actions()) {
                    menuItems << action->text();
                }
                menu->setActiveAction(menu->actions().value(0));
                QTest::keyClick(menu, Qt::Key_Return);
            } else if (auto* about = qobject_cast<AboutDialog*>(widget)) {
                aboutTitle = about->windowTitle();
                aboutParent = about->parentWidget();
                for (QLabel* label : about->findChildren<QLabel*>()) {
                    if (!label->pixmap().isNull()) {
                        aboutIcon = true;
                    } else {
                        aboutTexts << label->text();
                    }
                }
                for (QPushButton* button : about->findChildren<QPushButton*>()) {
                    aboutTexts << button->text().remove(QLatin1Char('&'));
                }
                QTest::keyClick(about, Qt::Key_Escape);
            } else {
                widget->close();
            }
        };
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                                bench.dialog.mapToGlobal(QPoint(10, 10)));
        QCoreApplication::sendEvent(&bench.dialog, &event);

        QCOMPARE(menuItems, QStringList{"&About ZEB Lan Stress Tool..."});
        QCOMPARE(aboutTitle, QStringLiteral("About ZEB Lan Stress Tool"));
        QCOMPARE(aboutParent, &bench.dialog);
        QVERIFY(aboutIcon);
        aboutTexts.sort();
        QCOMPARE(aboutTexts, (QStringList{"OK", "ZEB Lan Stress Tool Version 1.0"}));
        QVERIFY(bench.dialog.isVisible());
        QVERIFY(bench.engine.CallsOf("GetHWND").empty());
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
