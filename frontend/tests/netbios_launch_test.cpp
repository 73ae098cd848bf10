// Start with the NetBIOS test against a recording engine: receiver and sender launch, the
// sender's range check, the event drain before the engine takes over, and the board texts.
#include "dialogtestutil.h"

#include <QMouseEvent>

using namespace zebwintest;

namespace {

constexpr const char* kDataEntryText =
    "The buffer size is limited to 2 to 64KB. Select proper sizes and press Start again.";
constexpr const char* kSuffix = "Read REPORT.TXT if checked Save Results";

} // namespace

class NetbiosLaunchTest : public QObject {
    Q_OBJECT
  private slots:
    void senderRangeCheck_data() {
        QTest::addColumn<QString>("bufferSize");
        QTest::addColumn<QString>("blocks");
        QTest::addColumn<QString>("fieldMessage");
        const auto row = [](const char* name, const char* bufferSize, const char* blocks,
                            const char* message) {
            QTest::newRow(name) << QString(bufferSize) << QString(blocks) << QString(message);
        };
        const char* sizeRange = "Please enter an integer between 1 and 65535.";
        const char* blocksRange = "Please enter an integer between 1 and 32000.";
        row("Buffer Size 0", "0", "1000", sizeRange);
        row("Buffer Size 65536", "65536", "1000", sizeRange);
        row("Blocks 0", "100", "0", blocksRange);
        row("Blocks 32001", "100", "32001", blocksRange);
        row("Blocks negative", "100", "-1", blocksRange);
    }

    void senderRangeCheck() {
        QFETCH(QString, bufferSize);
        QFETCH(QString, blocks);
        QFETCH(QString, fieldMessage);
        DialogBench bench;
        bench.Click(kIdSender);
        const QString board = bench.Board();
        bench.Type(kIdBufferSize, bufferSize);
        bench.Type(kIdBlocks, blocks);
        bench.ClearCalls();
        bench.Start();

        QCOMPARE(bench.driver.boxes.size(), std::size_t{2});
        QCOMPARE(bench.driver.boxes[0].text, fieldMessage);
        QCOMPARE(bench.driver.boxes[0].icon, QMessageBox::Warning);
        const SeenBox& entry = bench.driver.boxes[1];
        QCOMPARE(entry.title, QStringLiteral("Data Entry Error"));
        QCOMPARE(entry.text, QString::fromLatin1(kDataEntryText));
        QCOMPARE(entry.icon, QMessageBox::NoIcon);
        QVERIFY(entry.ownerless && entry.applicationModal);
        QCOMPARE(bench.engine.calls, std::vector<std::string>{"GetHWND"});
        QCOMPARE(bench.Board(), board);
    }

    void senderLowestSizeAndHighestCount() {
        DialogBench bench;
        bench.Click(kIdSender);
        bench.Type(kIdBufferSize, QStringLiteral("1"));
        bench.Type(kIdBlocks, QStringLiteral("32000"));
        QString boardDuringSend;
        bench.engine.onSend = [&] {
            boardDuringSend = bench.Board();
            return static_cast<unsigned short>(10);
        };
        bench.ClearCalls();
        bench.Start();
        QVERIFY(bench.driver.boxes.empty());
        QCOMPARE(bench.engine.calls, (std::vector<std::string>{"GetHWND", "SSendMain(32000,1)"}));
        QCOMPARE(boardDuringSend, QStringLiteral("Start transmission..."));
    }

    void senderWithUnreadableBlocksUsesStoredValue() {
        DialogBench bench;
        bench.Click(kIdSender);
        bench.Type(kIdBufferSize, QStringLiteral("4096"));
        bench.Type(kIdBlocks, QStringLiteral("many"));
        bench.engine.onSend = [&] {
            // ShowFields has run: the field shows the stored value again.
            return static_cast<unsigned short>(bench.Edit(kIdBlocks)->text() == "1000" ? 1 : 0);
        };
        bench.Start();
        QCOMPARE(bench.driver.boxes.size(), std::size_t{1});
        QCOMPARE(bench.driver.boxes[0].text, QStringLiteral("Please enter an integer."));
        QCOMPARE(bench.engine.CallsOf("SSendMain"),
                 std::vector<std::string>{"SSendMain(1000,4096)"});
        QCOMPARE(bench.Board(), QString::fromLatin1(kSuffix));
    }

    void senderOutcome_data() {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("board");
        const QString summary = QStringLiteral("Transfer Rate: 1234.5 KB/sec, 3000 Bytes");
        QTest::newRow("session ran") << 1 << summary + QString::fromLatin1(kSuffix);
        const QString timeout = QStringLiteral("Sender Timeout: no receiver, command cancelled !");
        QTest::newRow("no receiver") << 10 << timeout;
        QTest::newRow("name not added") << 0 << timeout;
        QTest::newRow("1 in the high byte only") << 0x100 << timeout;
    }

    void senderOutcome() {
        QFETCH(int, result);
        QFETCH(QString, board);
        DialogBench bench;
        bench.engine.summary = "Transfer Rate: 1234.5 KB/sec, 3000 Bytes";
        bench.engine.onSend = [&] { return static_cast<unsigned short>(result); };
        bench.Click(kIdSender);
        bench.ClearCalls();
        bench.Start();
        std::vector<std::string> calls = {"GetHWND", "SSendMain(1000,65535)"};
        if (result == 1) {
            calls.push_back("GetMsgBuffer");
        }
        QCOMPARE(bench.engine.calls, calls);
        QCOMPARE(bench.Board(), board);
        QVERIFY(bench.driver.boxes.empty());
    }

    void senderSummaryCutToBoard() {
        DialogBench bench;
        bench.engine.summary = std::string(100, 'S');
        bench.Click(kIdSender);
        bench.Start();
        // 119 bytes and the terminator: the summary whole, then as much of the suffix as fits.
        QCOMPARE(bench.Board(),
                 QString(100, QLatin1Char('S')) + QString::fromLatin1(kSuffix).left(19));
        // The composed text stores without complaint.
        bench.Click(kIdSaveResults);
        QVERIFY(bench.driver.boxes.empty());
    }

    void receiverEndsWithReceiveComplete() {
        DialogBench bench;
        bench.Click(kIdReceiver);
        bench.Type(kIdBlocks, QStringLiteral("5"));
        QString boardDuringReceive;
        bench.engine.onRecv = [&] {
            boardDuringReceive = bench.Board();
            // A receiver whose wait times out posts its own texts and fails.
            bench.engine.window->ChildWindow(ZEB_BOARD_ID)
                ->SetText("Receiver Timeout: please start again.");
            bench.engine.retCode = ZEB_RESULT_FAILED;
        };
        bench.ClearCalls();
        bench.Start();
        QCOMPARE(bench.engine.calls, (std::vector<std::string>{"GetHWND", "SRecvMain"}));
        QCOMPARE(boardDuringReceive, QStringLiteral("Start receive process..."));
        QCOMPARE(bench.Board(), QStringLiteral("Receive complete!"));
        // The receiver does not store the fields: the typed count is gone.
        QCOMPARE(bench.Edit(kIdBlocks)->text(), QStringLiteral("1000"));
        QCOMPARE(bench.dialog.ExitStatus(), ZEB_RESULT_FAILED);
    }

    void noRoleCallsOnlyGetHWND() {
        DialogBench bench;
        bench.Click(kIdFileIoStress);
        bench.Click(kIdNetbiosStress);
        const QString board = bench.Board();
        bench.ClearCalls();
        bench.Start();
        QCOMPARE(bench.engine.calls, std::vector<std::string>{"GetHWND"});
        QCOMPARE(bench.Board(), board);
        QVERIFY(bench.dialog.TestStarted());
        QCOMPARE(bench.dialog.ExitStatus(), ZEB_RESULT_PASSED);
    }

    void drainDispatchesPendingEventsWithoutInput() {
        DialogBench bench;
        bench.Click(kIdSender);
        bool timerRan = false;
        QTimer::singleShot(0, &bench.dialog, [&] { timerRan = true; });
        // A click on "Save Results?" still queued when Start runs: the drain must discard it.
        QAbstractButton* save = bench.Button(kIdSaveResults);
        const QPointF at(8, save->height() / 2.0);
        const auto post = [&](QEvent::Type type, Qt::MouseButtons held) {
            QCoreApplication::postEvent(save,
                                        new QMouseEvent(type, at, save->mapToGlobal(at),
                                                        Qt::LeftButton, held, Qt::NoModifier));
        };
        post(QEvent::MouseButtonPress, Qt::LeftButton);
        post(QEvent::MouseButtonRelease, Qt::NoButton);
        bool timerRanBeforeSend = false;
        bench.engine.onSend = [&] {
            timerRanBeforeSend = timerRan;
            return static_cast<unsigned short>(1);
        };
        bench.Start();
        QCoreApplication::processEvents();
        QVERIFY(timerRanBeforeSend);
        QCOMPARE(bench.engine.CallsOf("SSendMain").size(), std::size_t{1});
        QVERIFY(bench.engine.CallsOf("PassSaveResult").empty());
        QVERIFY(!save->isChecked());
    }
};

QTEST_MAIN(NetbiosLaunchTest)
#include "netbios_launch_test.moc"
