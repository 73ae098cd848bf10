// The real dialog against the real engine library, bound as zebwin binds it: a short file I/O
// sweep from Start on a test file in a scratch directory, then the board, report.txt, the
// test file and the result code; and a sweep on a path that cannot be opened.
#include "dialogtestutil.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

using namespace zebwintest;

class RealEngineTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void fileIoSweep();
    // Runs last: its failure stays in the engine's result code for the rest of the process.
    void sweepOnPathThatCannotBeOpened();

  private:
    void Prepare(ControlDialog& dialog, const QString& file, const QString& to);
    QString ReadReport() const;

    QTemporaryDir m_scratch;
};

void RealEngineTest::initTestCase() {
    QVERIFY(m_scratch.isValid());
    // report.txt goes to the current directory; the compatibility log under $WINDIR.
    QVERIFY(QDir::setCurrent(m_scratch.path()));
    QVERIFY(QDir(m_scratch.path()).mkpath(QStringLiteral("ctlogs")));
    qputenv("WINDIR", m_scratch.path().toLocal8Bit());
    ApplyDialogLook(*qobject_cast<QApplication*>(QCoreApplication::instance()));
}

void RealEngineTest::Prepare(ControlDialog& dialog, const QString& file, const QString& to) {
    Control<QLineEdit>(dialog, kIdTestFileName)->setText(file);
    Control<QLineEdit>(dialog, kIdFromSize)->setText(QStringLiteral("1024"));
    Control<QLineEdit>(dialog, kIdToSize)->setText(to);
    Control<QLineEdit>(dialog, kIdSizeIncrement)->setText(QStringLiteral("8"));
    Control<QLineEdit>(dialog, kIdIteration)->setText(QStringLiteral("20"));
    auto* mode = Control<QComboBox>(dialog, kIdIoMode);
    mode->setCurrentIndex(mode->findText(QStringLiteral("Random R & W")));
    // Save Results? on: the engine then appends every text to report.txt.
    auto* save = Control<QAbstractButton>(dialog, kIdSaveResults);
    QTest::mouseClick(save, Qt::LeftButton, {}, QPoint(8, save->height() / 2));
}

QString RealEngineTest::ReadReport() const {
    QFile report(QDir(m_scratch.path()).filePath(QStringLiteral("report.txt")));
    if (!report.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromLatin1(report.readAll());
}

void RealEngineTest::fileIoSweep() {
    ModalDriver driver;
    ControlDialog dialog(LinkedEngine(), fields::Keyword::FileIo);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    Prepare(dialog, QStringLiteral("ZEB.TST"), QStringLiteral("1040"));

    // Record what the board shows while the engine runs: its texts arrive live.
    QStringList boardSeen;
    auto* board = Control<QLineEdit>(dialog, kIdBoard);
    connect(board, &QLineEdit::textChanged, this, [&](const QString& text) { boardSeen << text; });
    auto* start = Control<QAbstractButton>(dialog, kIdStart);
    QTest::mouseClick(start, Qt::LeftButton);

    QVERIFY(driver.boxes.empty());
    QCOMPARE(board->text(), QStringLiteral("File I/O Passed"));
    QVERIFY(boardSeen.contains(
        QStringLiteral("Test File: ZEB.TST, Buffer: 1032, I/O Mode: 5, Iteration: 20")));

    // The test file: sixteen blocks of 65534 bytes of byte pairs.
    const QFileInfo testFile(QDir(m_scratch.path()).filePath(QStringLiteral("ZEB.TST")));
    QVERIFY(testFile.isFile());
    QCOMPARE(testFile.size(), qint64(16) * 65534);

    const QString report = ReadReport();
    QCOMPARE(report.count(QStringLiteral("File I/O Passed\n")), 3);
    for (int size : {1024, 1032, 1040}) {
        const QString heading =
            QStringLiteral("Test File: ZEB.TST, Buffer: %1, I/O Mode: 5, Iteration: 20\n")
                .arg(size);
        QVERIFY2(report.contains(heading), qPrintable(report));
    }
    QVERIFY(!report.contains(QStringLiteral("Failed")));
    QCOMPARE(dialog.ExitStatus(), ZEB_RESULT_PASSED);
}

void RealEngineTest::sweepOnPathThatCannotBeOpened() {
    ModalDriver driver;
    ControlDialog dialog(LinkedEngine(), fields::Keyword::FileIo);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    Prepare(dialog, QStringLiteral("no-such-dir/ZEB.TST"), QStringLiteral("2048"));
    const qsizetype reportBefore = ReadReport().size();
    QTest::mouseClick(Control<QAbstractButton>(dialog, kIdStart), Qt::LeftButton);

    // The engine's box, then the sweep ends at its first size.
    QCOMPARE(driver.boxes.size(), std::size_t{1});
    QCOMPARE(driver.boxes[0].title, QStringLiteral("Error"));
    QCOMPARE(driver.boxes[0].text,
             QStringLiteral("FILEIO: _open() fails, check file path. Program is terminated"));
    QVERIFY(driver.boxes[0].ownerless);
    const QString added = ReadReport().mid(reportBefore);
    QCOMPARE(added.count(QStringLiteral("Can not open no-such-dir/ZEB.TST\n")), 1);
    QVERIFY(!added.contains(QStringLiteral("Test File:")));
    QCOMPARE(dialog.ExitStatus(), ZEB_RESULT_FAILED);
}

QTEST_MAIN(RealEngineTest)
#include "real_engine_test.moc"
