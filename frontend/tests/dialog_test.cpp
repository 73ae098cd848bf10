// The control dialog against a recording engine: start-up states, click actions, storing and
// showing the fields, and the file I/O sweep that Start runs.
#include "dialogtestutil.h"

#include <QGroupBox>
#include <QLabel>

using namespace zebwintest;
using fields::Keyword;

namespace {

constexpr const char* kNetbiosText = "Netbios stress test: select Sender or Receiver";
constexpr const char* kFileIoText =
    "File I/O Stress: Test Name -> Server File Name, Mode -> I/O mode";

const int kFileIoFields[] = {kIdTestFileName,  kIdFromSize,  kIdToSize,
                             kIdSizeIncrement, kIdIteration, kIdIoMode};

// The numbered controls in tab order, with the labels of the buttons among them.
const int kTabOrder[] = {
    kIdNetbiosStress, kIdFileIoStress, kIdShowData,     kIdSaveResults, kIdSender, kIdReceiver,
    kIdBufferSize,    kIdBlocks,       kIdTestFileName, kIdFromSize,    kIdToSize, kIdSizeIncrement,
    kIdIteration,     kIdIoMode,       kIdStart,        kIdHelp,        kIdExit};
const char* const kButtonLabels[] = {
    "NetBios Stress", "File I/O Stress", "Show Data?", "Save Results?", "Sender", "Receiver",
    nullptr,          nullptr,           nullptr,      nullptr,         nullptr,  nullptr,
    nullptr,          nullptr,           "Start",      "Help",          "Exit"};

std::vector<std::string> SweepCalls(unsigned from, unsigned to, unsigned inc, int mode) {
    std::vector<std::string> calls;
    for (unsigned size = from; size <= to; size += inc) {
        calls.push_back("SQL_Test(M:\\ANYNAME.TST," + std::to_string(size) + "," +
                        std::to_string(to) + "," + std::to_string(inc) + "," +
                        std::to_string(mode) + ",10)");
    }
    return calls;
}

} // namespace

class DialogTest : public QObject {
    Q_OBJECT
  private slots:
    void startupStates_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<bool>("fileIo");
        QTest::addColumn<bool>("netbiosButtonOn");
        QTest::addColumn<bool>("fileIoButtonOn");

        QTest::newRow("no keyword") << "" << false << true << true;
        QTest::newRow("NETBIOS") << "NETBIOS" << false << true << false;
        QTest::newRow("FILEIO") << "FILEIO" << true << false << true;
        QTest::newRow("fileio, case counts") << "fileio" << false << true << true;
        QTest::newRow("FILEIO with a blank behind") << "FILEIO " << false << true << true;
    }

    void startupStates() {
        QFETCH(QString, arguments);
        QFETCH(bool, fileIo);
        QFETCH(bool, netbiosButtonOn);
        QFETCH(bool, fileIoButtonOn);

        const std::vector<std::string> argv = {arguments.toStdString()};
        DialogBench bench(fields::KeywordFromArguments(argv));

        QCOMPARE(bench.engine.calls, std::vector<std::string>{"PassDynaResult(1)"});
        QVERIFY(bench.Button(kIdShowData)->isChecked());
        QVERIFY(!bench.Button(kIdSaveResults)->isChecked());
        QCOMPARE(bench.Button(kIdNetbiosStress)->isChecked(), !fileIo);
        QCOMPARE(bench.Button(kIdFileIoStress)->isChecked(), fileIo);
        QCOMPARE(bench.Enabled(kIdNetbiosStress), netbiosButtonOn);
        QCOMPARE(bench.Enabled(kIdFileIoStress), fileIoButtonOn);
        QVERIFY(!bench.Button(kIdSender)->isChecked());
        QVERIFY(!bench.Button(kIdReceiver)->isChecked());
        QCOMPARE(bench.Enabled(kIdSender), !fileIo);
        QCOMPARE(bench.Enabled(kIdReceiver), !fileIo);
        QVERIFY(!bench.Enabled(kIdBufferSize));
        QVERIFY(!bench.Enabled(kIdBlocks));
        for (int id : kFileIoFields) {
            QCOMPARE(bench.Enabled(id), fileIo);
        }
        QCOMPARE(bench.Enabled(kIdStart), fileIo);
        for (int id : {kIdShowData, kIdSaveResults, kIdHelp, kIdExit, kIdBoard}) {
            QVERIFY(bench.Enabled(id));
        }
        QCOMPARE(bench.Board(), QString::fromLatin1(fileIo ? kFileIoText : kNetbiosText));

        // The defaults, as ShowFields writes them.
        const int ids[] = {kIdBufferSize, kIdBlocks,        kIdTestFileName, kIdFromSize,
                           kIdToSize,     kIdSizeIncrement, kIdIteration};
        const char* texts[] = {"65535", "1000", "M:\\ANYNAME.TST", "1024", "2048", "8", "10"};
        for (std::size_t i = 0; i < std::size(ids); ++i) {
            QCOMPARE(bench.Edit(ids[i])->text(), QString::fromLatin1(texts[i]));
        }
        QCOMPARE(bench.Mode()->currentText(), QStringLiteral("Overlay Write"));

        // Closing without Start: exit status 0, and the engine is not asked.
        QVERIFY(!bench.dialog.TestStarted());
        QCOMPARE(bench.dialog.ExitStatus(), 0);
        QVERIFY(bench.engine.CallsOf("GetRetCode").empty());
    }

    void controlsInTabOrder() {
        DialogBench bench;
        std::vector<QWidget*> expected;
        for (std::size_t i = 0; i < std::size(kTabOrder); ++i) {
            QWidget* widget = FindControl(&bench.dialog, kTabOrder[i]);
            QVERIFY2(widget, qPrintable(QString::number(kTabOrder[i])));
            if (kButtonLabels[i] != nullptr) {
                QCOMPARE(qobject_cast<QAbstractButton*>(widget)->text(),
                         QString::fromLatin1(kButtonLabels[i]));
            }
            expected.push_back(widget);
        }

        // The focus chain, restricted to the numbered controls, follows the table; the board
        // takes no focus.
        std::vector<QWidget*> chain;
        QWidget* at = expected.front();
        do {
            if (std::find(expected.begin(), expected.end(), at) != expected.end() &&
                std::find(chain.begin(), chain.end(), at) == chain.end()) {
                chain.push_back(at);
            }
            at = at->nextInFocusChain();
        } while (at != expected.front());
        QCOMPARE(chain, expected);

        QLineEdit* board = bench.Edit(kIdBoard);
        QVERIFY(board->isReadOnly());
        QCOMPARE(board->focusPolicy(), Qt::NoFocus);
        QVERIFY(qobject_cast<QPushButton*>(bench.Button(kIdStart))->isDefault());

        // The labels the operator reads beside the fields and above the board.
        QStringList labels;
        for (const QLabel* label : bench.dialog.findChildren<QLabel*>()) {
            labels << label->text();
        }
        for (const char* text : {"Buffer Size", "Blocks", "Test File Name", "to",
                                 "Buffer Size Inc.", "Iteration", "I/O Mode", "Message Board"}) {
            QVERIFY2(labels.contains(QString::fromLatin1(text)), text);
        }
        QStringList groups;
        for (const QGroupBox* group : bench.dialog.findChildren<QGroupBox*>()) {
            groups << group->title();
        }
        groups.sort();
        QCOMPARE(groups, (QStringList{"File I/O Stress", "NetBios Stress", "Works as..."}));
    }

    void appearance() {
        DialogBench bench;
        ControlDialog& dialog = bench.dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Lan NetBios and File I/O Stress Tools"));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QVERIFY(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(dialog.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(dialog.palette().color(QPalette::Window), QColor(192, 192, 192));
        QCOMPARE(dialog.palette().color(QPalette::WindowText), QColor(Qt::black));
        QCOMPARE(dialog.font().pointSize(), 8);

        // About 76 by 24 character cells of its font.
        const QFontMetrics metrics(dialog.font());
        const double columns = double(dialog.width()) / metrics.averageCharWidth();
        const double rows = double(dialog.height()) / metrics.height();
        QVERIFY2(columns > 70 && columns < 82, qPrintable(QString::number(columns)));
        QVERIFY2(rows > 20 && rows < 28, qPrintable(QString::number(rows)));

        // Every label and button text fits its widget whole.
        for (QWidget* widget : dialog.findChildren<QWidget*>()) {
            if (qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget)) {
                QVERIFY2(widget->width() >= widget->sizeHint().width(),
                         qPrintable(widget->property("text").toString()));
            }
        }
    }

    void checkBoxesSwitchTheEngine() {
        DialogBench bench;
        bench.ClearCalls();
        bench.Click(kIdShowData);
        QCOMPARE(bench.Board(),
                 QStringLiteral(
                     "It doesn't dynamically display data.  Net utilization will be higher."));
        bench.Click(kIdShowData);
        QVERIFY(bench.Button(kIdShowData)->isChecked());
        QCOMPARE(bench.Board(),
                 QStringLiteral("Dynamically display data.  Net utilization will be lower."));

        bench.Click(kIdSaveResults);
        QCOMPARE(bench.Board(), QStringLiteral("REPORT.TXT will be created"));
        bench.Click(kIdSaveResults);
        QCOMPARE(bench.Board(), QStringLiteral("REPORT.TXT will not be created"));
        QVERIFY(!bench.Button(kIdSaveResults)->isChecked());

        QCOMPARE(bench.engine.calls,
                 (std::vector<std::string>{"PassDynaResult(0)", "PassDynaResult(1)",
                                           "PassSaveResult(1)", "PassSaveResult(0)"}));
    }

    void typedBlocksLostOnRadioClick_data() {
        QTest::addColumn<int>("clicked");
        QTest::addColumn<QString>("blocksAfter");
        QTest::newRow("NetBios Stress") << int(kIdNetbiosStress) << "1000";
        QTest::newRow("File I/O Stress") << int(kIdFileIoStress) << "1000";
        QTest::newRow("Sender") << int(kIdSender) << "1000";
        QTest::newRow("Receiver") << int(kIdReceiver) << "1000";
        // A check box stores the fields before it shows them.
        QTest::newRow("Save Results? keeps it") << int(kIdSaveResults) << "77";
        QTest::newRow("Show Data? keeps it") << int(kIdShowData) << "77";
    }

    void typedBlocksLostOnRadioClick() {
        QFETCH(int, clicked);
        QFETCH(QString, blocksAfter);
        DialogBench bench;
        bench.Click(kIdSender);
        bench.Type(kIdBlocks, QStringLiteral("77"));
        bench.Click(clicked);
        QCOMPARE(bench.Edit(kIdBlocks)->text(), blocksAfter);
        QVERIFY(bench.driver.boxes.empty());
    }

    void enabledStatesFollowClicks() {
        DialogBench bench;
        bench.Click(kIdSender);
        QVERIFY(bench.Enabled(kIdBufferSize) && bench.Enabled(kIdBlocks) &&
                bench.Enabled(kIdStart));
        QCOMPARE(bench.Board(),
                 QStringLiteral("Buffer Size: 2 to 64K.  Number of Transfered Blocks: 1 to 32K"));

        bench.Click(kIdReceiver);
        QVERIFY(!bench.Button(kIdSender)->isChecked());
        QVERIFY(!bench.Enabled(kIdBufferSize) && !bench.Enabled(kIdBlocks) &&
                bench.Enabled(kIdStart));
        QCOMPARE(bench.Board(), QStringLiteral("Buffer and Blocks fields are now disabled."));

        bench.Click(kIdSender);
        bench.Click(kIdFileIoStress);
        QVERIFY(!bench.Button(kIdNetbiosStress)->isChecked());
        QVERIFY(!bench.Enabled(kIdSender) && !bench.Enabled(kIdReceiver));
        QVERIFY(!bench.Enabled(kIdBufferSize) && !bench.Enabled(kIdBlocks));
        for (int id : kFileIoFields) {
            QVERIFY(bench.Enabled(id));
        }

        // Back to NetBIOS: Start stays available, Buffer Size and Blocks stay off although
        // Sender is still selected.
        bench.Click(kIdNetbiosStress);
        QVERIFY(bench.Button(kIdSender)->isChecked());
        QVERIFY(bench.Enabled(kIdSender) && bench.Enabled(kIdReceiver) && bench.Enabled(kIdStart));
        QVERIFY(!bench.Enabled(kIdBufferSize) && !bench.Enabled(kIdBlocks));
        for (int id : kFileIoFields) {
            QVERIFY(!bench.Enabled(id));
        }
        QCOMPARE(bench.Board(), QString::fromLatin1(kNetbiosText));
    }

    void defaultSweep() {
        DialogBench bench(Keyword::FileIo);
        bench.engine.retCode = ZEB_RESULT_FAILED;
        bench.ClearCalls();
        bench.Start();

        std::vector<std::string> expected = {"GetHWND"};
        const std::vector<std::string> sweep = SweepCalls(1024, 2048, 8, 7);
        QCOMPARE(sweep.size(), std::size_t{129});
        expected.insert(expected.end(), sweep.begin(), sweep.end());
        QCOMPARE(bench.engine.calls, expected);
        QVERIFY(bench.engine.window != nullptr);
        QVERIFY(bench.engine.window->ChildWindow(ZEB_BOARD_ID) != nullptr);
        QCOMPARE(bench.Board(), QString::fromLatin1(kFileIoText));
        QVERIFY(bench.driver.boxes.empty());

        QVERIFY(bench.dialog.TestStarted());
        QCOMPARE(bench.dialog.ExitStatus(), ZEB_RESULT_FAILED);
    }

    void sweepStopsWhenPassReturns100() {
        DialogBench bench(Keyword::FileIo);
        bench.engine.onSqlTest = [](unsigned size) { return size == 1040 ? 100 : 0; };
        bench.Start();
        std::vector<std::string> expected = SweepCalls(1024, 2048, 8, 7);
        expected.resize(3);
        QCOMPARE(bench.engine.CallsOf("SQL_Test"), expected);
    }

    void sweepBounds_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("increment");
        QTest::addColumn<QList<unsigned>>("sizes");
        QTest::addColumn<QString>("box");

        const auto row = [](const char* name, const char* from, const char* to,
                            const char* increment, const QList<unsigned>& sizes,
                            const char* box = "") {
            QTest::newRow(name) << QString(from) << QString(to) << QString(increment) << sizes
                                << QString(box);
        };
        const char* fromRange = "Please enter an integer between 1 and 65535.";
        const char* toRange = "Please enter an integer between 2 and 32000.";
        row("From above To", "4000", "3000", "8", {});
        row("From 40000 is stored, runs nothing", "40000", "2048", "8", {});
        row("From 65536", "65536", "2048", "8", {}, fromRange);
        row("increment 0", "1024", "2048", "0", {}, toRange);
        row("To 32001", "1024", "32001", "8", {}, toRange);
        row("To beyond 32 bits", "1024", "99999999999", "8", {}, toRange);
        row("From negative", "-5", "2048", "8", {}, fromRange);
        row("last step past To", "1024", "1030", "4", {1024, 1028});
        row("From equals To", "2048", "2048", "8", {2048});
        row("sign and blanks", " \t+1024 ", "1025\t", "2", {1024});
        row("largest sweep end", "31990", "32000", "32000", {31990});
    }

    void sweepBounds() {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, increment);
        QFETCH(QList<unsigned>, sizes);
        QFETCH(QString, box);

        DialogBench bench(Keyword::FileIo);
        bench.Type(kIdFromSize, from);
        bench.Type(kIdToSize, to);
        bench.Type(kIdSizeIncrement, increment);
        const QString boardBefore = bench.Board();
        bench.Start();

        std::vector<unsigned> called;
        for (const std::string& call : bench.engine.CallsOf("SQL_Test"))
            called.push_back(static_cast<unsigned>(std::stoul(call.substr(call.find(',') + 1))));
        QCOMPARE(called, std::vector<unsigned>(sizes.begin(), sizes.end()));
        QCOMPARE(bench.Board(), boardBefore);
        if (box.isEmpty()) {
            QVERIFY(bench.driver.boxes.empty());
        } else {
            QCOMPARE(bench.driver.boxes.size(), std::size_t{1});
            QCOMPARE(bench.driver.boxes[0].text, box);
            QCOMPARE(bench.driver.boxes[0].icon, QMessageBox::Warning);
        }
    }

    void failedFieldTakesFocusAndLaterFieldsKeepOldValues() {
        DialogBench bench(Keyword::FileIo);
        // Read in order: ..., From, Iteration, I/O Mode, Increment, To.
        bench.Type(kIdFromSize, QStringLiteral("2040"));
        bench.Type(kIdIteration, QStringLiteral("1x"));
        bench.Mode()->setEditText(QStringLiteral("Sequential Read"));
        bench.Type(kIdToSize, QStringLiteral("2000"));
        bench.Start();

        QCOMPARE(bench.driver.boxes.size(), std::size_t{1});
        const SeenBox& box = bench.driver.boxes[0];
        QCOMPARE(box.text, QStringLiteral("Please enter an integer."));
        // Titled with the program file's name, without its directory.
        QCOMPARE(box.title, QStringLiteral("frontend_dialog_test"));
        QVERIFY(box.ownerless && box.applicationModal);
        QCOMPARE(bench.dialog.focusWidget(), bench.Edit(kIdIteration));
        QCOMPARE(bench.Edit(kIdIteration)->selectedText(), QStringLiteral("1x"));

        // The sweep still runs, with the new From and the old Iteration, mode and To.
        QCOMPARE(bench.engine.CallsOf("SQL_Test"), SweepCalls(2040, 2048, 8, 7));
    }

    void ioModeMapping_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<int>("mode");
        const auto row = [](const char* name, const char* typed, const char* chosen, int mode) {
            QTest::newRow(name) << QString(typed) << QString(chosen) << mode;
        };
        row("chosen Overlay Write", "", "Overlay Write", 7);
        row("chosen Sequential Read", "", "Sequential Read", 0);
        row("chosen Overlay R & W", "", "Overlay R & W", 8);
        row("typed lower case", "overlay write", "", 5);
        row("typed with trailing blank", "Overlay Write ", "", 5);
        row("typed exactly", "Random Write", "", 4);
        row("typed empty", "", "", 5);
    }

    void ioModeMapping() {
        QFETCH(QString, typed);
        QFETCH(QString, chosen);
        QFETCH(int, mode);
        DialogBench bench(Keyword::FileIo);
        bench.Type(kIdToSize, QStringLiteral("1024"));
        if (chosen.isEmpty()) {
            bench.Mode()->setEditText(typed);
        } else {
            bench.Mode()->setCurrentIndex(bench.Mode()->findText(chosen));
        }
        bench.Start();
        QCOMPARE(bench.engine.CallsOf("SQL_Test"), SweepCalls(1024, 1024, 8, mode));
    }

    void ioModeListAndShowFields() {
        DialogBench bench(Keyword::FileIo);
        QComboBox* mode = bench.Mode();
        QStringList items;
        for (int i = 0; i < mode->count(); ++i) {
            items << mode->itemText(i);
        }
        QCOMPARE(items, (QStringList{"Overlay R & W", "Overlay Read", "Overlay Write",
                                     "Random R & W", "Random Read", "Random Write",
                                     "Sequential R & W", "Sequential Read", "Sequential Write"}));
        QVERIFY(mode->isEditable());
        QCOMPARE(mode->lineEdit()->maxLength(), 20);

        // Stored and shown again: the first entry that begins with the text, case ignored.
        mode->setEditText(QStringLiteral("seq"));
        bench.Click(kIdSaveResults);
        QCOMPARE(mode->currentText(), QStringLiteral("Sequential R & W"));
        QCOMPARE(mode->count(), 9);

        // Text that begins no entry stays as it is and is not added to the list.
        mode->setEditText(QStringLiteral("xyz"));
        bench.Click(kIdSaveResults);
        QCOMPARE(mode->currentText(), QStringLiteral("xyz"));
        QCOMPARE(mode->count(), 9);
        QTest::keyClick(mode->lineEdit(), Qt::Key_Tab);
        QCOMPARE(mode->count(), 9);
    }

    void textLimit() {
        DialogBench bench(Keyword::FileIo);
        bench.Type(kIdToSize, QStringLiteral("1024"));
        const QString thirty(30, QLatin1Char('n'));
        bench.Type(kIdTestFileName, thirty);
        bench.Start();
        QVERIFY(bench.driver.boxes.empty());

        const QString long31 = thirty + QLatin1Char('x');
        bench.Type(kIdTestFileName, long31);
        bench.Type(kIdToSize, QStringLiteral("1032"));
        bench.Start();
        QCOMPARE(bench.driver.boxes.size(), std::size_t{1});
        QCOMPARE(bench.driver.boxes[0].text,
                 QStringLiteral("Please enter no more than 30 characters."));
        // The long name stays stored and the later fields (To among them) keep their values.
        const std::string expectedLast = "SQL_Test(" + long31.toStdString() + ",1024,1024,8,7,10)";
        QCOMPARE(bench.engine.CallsOf("SQL_Test").back(), expectedLast);

        // Thirty bytes, not thirty characters: sixteen two-byte letters are 32 bytes.
        bench.Type(kIdTestFileName, QString(16, QChar(0x00E9)));
        bench.Start();
        QCOMPARE(bench.driver.boxes.size(), std::size_t{2});
    }

    void enterStartsAndEscapeCloses() {
        DialogBench bench(Keyword::FileIo);
        QVERIFY(QTest::qWaitForWindowActive(&bench.dialog));
        bench.Type(kIdToSize, QStringLiteral("1032"));
        bench.Edit(kIdTestFileName)->setFocus();
        QTest::keyClick(bench.Edit(kIdTestFileName), Qt::Key_Return);
        QCOMPARE(bench.engine.CallsOf("SQL_Test").size(), std::size_t{2});
        bench.Mode()->setFocus();
        QTest::keyClick(bench.Mode()->lineEdit(), Qt::Key_Return);
        QCOMPARE(bench.engine.CallsOf("SQL_Test").size(), std::size_t{4});
        QVERIFY(bench.dialog.isVisible());

        QTest::keyClick(&bench.dialog, Qt::Key_Escape);
        QVERIFY(!bench.dialog.isVisible());
        QCOMPARE(bench.dialog.result(), int(QDialog::Rejected));
        QCOMPARE(bench.dialog.ExitStatus(), ZEB_RESULT_PASSED);
    }

    void noSecondStartOrCloseWhileRunning() {
        DialogBench bench(Keyword::FileIo);
        bench.Type(kIdToSize, QStringLiteral("1032"));
        bool startEnabledDuringPump = false;
        bench.engine.onSqlTest = [&](unsigned) {
            ZebWindow* window = bench.engine.window;
            // As the engine's message pump: input off, events dispatched, input on.
            window->EnableInput(false);
            startEnabledDuringPump = bench.Enabled(kIdStart);
            bench.Start();
            QTest::keyClick(&bench.dialog, Qt::Key_Return);
            QTest::keyClick(&bench.dialog, Qt::Key_Escape);
            bench.dialog.close();
            window->DispatchPendingEvents();
            window->EnableInput(true);
            // Between pumps nothing is dispatched, but a close must not end the dialog either.
            bench.dialog.reject();
            bench.dialog.close();
            return 0;
        };
        bench.Start();
        QCOMPARE(bench.engine.CallsOf("SQL_Test").size(), std::size_t{2});
        QCOMPARE(bench.engine.CallsOf("GetHWND").size(), std::size_t{1});
        QVERIFY(bench.dialog.isVisible());
        // Input is discarded, not the controls greyed.
        QVERIFY(startEnabledDuringPump);

        // Once the test is over, the dialog takes input again.
        bench.engine.onSqlTest = nullptr;
        bench.Start();
        QCOMPARE(bench.engine.CallsOf("SQL_Test").size(), std::size_t{4});
        bench.dialog.close();
        QVERIFY(!bench.dialog.isVisible());
    }

    void clicksDuringAPassMoveNeitherFocusNorDefault() {
        DialogBench bench(Keyword::FileIo);
        QVERIFY(QTest::qWaitForWindowActive(&bench.dialog));
        bench.Type(kIdToSize, QStringLiteral("1024"));
        QLineEdit* field = bench.Edit(kIdTestFileName);
        field->setFocus();
        bench.engine.onSqlTest = [&](unsigned) {
            ZebWindow* window = bench.engine.window;
            window->EnableInput(false);
            bench.Click(kIdExit);
            QTest::mouseClick(bench.Edit(kIdIteration), Qt::LeftButton);
            window->DispatchPendingEvents();
            window->EnableInput(true);
            return 0;
        };
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(bench.engine.CallsOf("SQL_Test").size(), std::size_t{1});
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(field));
        QVERIFY(qobject_cast<QPushButton*>(bench.Button(kIdStart))->isDefault());
        QVERIFY(!qobject_cast<QPushButton*>(bench.Button(kIdExit))->isDefault());

        // After the sweep, Return means Start again, not Exit.
        bench.engine.onSqlTest = nullptr;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(bench.engine.CallsOf("SQL_Test").size(), std::size_t{2});
        QVERIFY(bench.dialog.isVisible());
    }

    void boardShowsEngineTextsOnly() {
        DialogBench bench(Keyword::FileIo);
        bench.Type(kIdToSize, QStringLiteral("1040"));
        bench.engine.onSqlTest = [&](unsigned size) {
            bench.engine.window->ChildWindow(ZEB_BOARD_ID)
                ->SetText(("Pass " + std::to_string(size)).c_str());
            return 0;
        };
        bench.Start();
        QCOMPARE(bench.Board(), QStringLiteral("Pass 1040"));

        // The engine's text is not the operator's: a long one stored with the fields is cut to
        // the board's 120 bytes rather than failing every later store.
        bench.engine.onSqlTest = [&](unsigned) {
            bench.engine.window->ChildWindow(ZEB_BOARD_ID)->SetText(std::string(200, 'L').c_str());
            return 100;
        };
        bench.Start();
        QCOMPARE(bench.Board().size(), 200);
        bench.Click(kIdSaveResults);
        bench.Click(kIdSaveResults);
        QVERIFY(bench.driver.boxes.empty());
    }
};

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
