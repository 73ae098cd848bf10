// The real dialog against the real engine library, bound as zebwin binds it: a short file I/O
// sweep from Start on a test file in a scratch directory, then the board, report.txt, the
// test file and the result code; and a sweep on a path that cannot be opened.
#include "dialogtestutil.h"

#include <QFileInfo>

using namespace zebwintest;

class RealEngineTest : public QObject {
    Q_OBJECT
  private slots:
    void fileIoSweep() {
        DialogBench bench(fields::Keyword::FileIo, &LinkedEngine());
        QVERIFY(bench.exposed);
        Prepare(bench, QStringLiteral("ZEB.TST"), QStringLiteral("1040"));

        // Record what the board shows while the engine runs: its texts arrive live.
        QStringList boardSeen;
        connect(bench.Edit(kIdBoard), &QLineEdit::textChanged, this,
                [&](const QString& text) { boardSeen << text; });
        QTest::mouseClick(bench.Button(kIdStart), Qt::LeftButton);

        QVERIFY(bench.driver.boxes.empty());
        QCOMPARE(bench.Board(), QStringLiteral("File I/O Passed"));
        QVERIFY(boardSeen.contains(
            QStringLiteral("Test File: ZEB.TST, Buffer: 1032, I/O Mode: 5, Iteration: 20")));

        // The test file: sixteen blocks of 65534 bytes of byte pairs.
        const QFileInfo testFile(QString::fromStdString(m_scratch.Path("ZEB.TST").string()));
        QVERIFY(testFile.isFile());
        QCOMPARE(testFile.size(), qint64(16) * 65534);

        const QString report = ReadReport(m_scratch);
        QCOMPARE(report.count(QStringLiteral("File I/O Passed\n")), 3);
        for (int size : {1024, 1032, 1040}) {
            const QString heading =
                QStringLiteral("Test File: ZEB.TST, Buffer: %1, I/O Mode: 5, Iteration: 20\n")
                    .arg(size);
            QVERIFY2(report.contains(heading), qPrintable(report));
        }
        QVERIFY(!report.contains(QStringLiteral("Failed")));
        QCOMPARE(bench.dialog.ExitStatus(), ZEB_RESULT_PASSED);
    }

    // Runs last: its failure stays in the engine's result code for the rest of the process.
    void sweepOnPathThatCannotBeOpened() {
        DialogBench bench(fields::Keyword::FileIo, &LinkedEngine());
        QVERIFY(bench.exposed);
        Prepare(bench, QStringLiteral("no-such-dir/ZEB.TST"), QStringLiteral("2048"));
        const qsizetype reportBefore = ReadReport(m_scratch).size();
        QTest::mouseClick(bench.Button(kIdStart), Qt::LeftButton);

        // The engine's box, then the sweep ends at its first size.
        QCOMPARE(bench.driver.boxes.size(), std::size_t{1});
        QCOMPARE(bench.driver.boxes[0].title, QStringLiteral("Error"));
        QCOMPARE(bench.driver.boxes[0].text,
                 QStringLiteral("FILEIO: _open() fails, check file path. Program is terminated"));
        QVERIFY(bench.driver.boxes[0].ownerless);
        const QString added = ReadReport(m_scratch).mid(reportBefore);
        QCOMPARE(added.count(QStringLiteral("Can not open no-such-dir/ZEB.TST\n")), 1);
        QVERIFY(!added.contains(QStringLiteral("Test File:")));
        QCOMPARE(bench.dialog.ExitStatus(), ZEB_RESULT_FAILED);
    }

  private:
    static void Prepare(const DialogBench& bench, const QString& file, const QString& to) {
        bench.Type(kIdTestFileName, file);
        bench.Type(kIdFromSize, QStringLiteral("1024"));
        bench.Type(kIdToSize, to);
        bench.Type(kIdSizeIncrement, QStringLiteral("8"));
        bench.Type(kIdIteration, QStringLiteral("20"));
        bench.Mode()->setCurrentIndex(bench.Mode()->findText(QStringLiteral("Random R & W")));
        // Save Results? on: the engine then appends every text to report.txt.
        bench.Click(kIdSaveResults);
    }

    // The current directory (where report.txt goes) and $WINDIR (for the compatibility log).
    zebtest::Scratch m_scratch;
};

QTEST_MAIN(RealEngineTest)
#include "real_engine_test.moc"
