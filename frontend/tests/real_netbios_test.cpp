// The real dialog and the real engine as one station of the NetBIOS session stress, the other
// station a console station process, both on a loopback test LAN of their own ports: Start as
// sender, then Start as receiver, each a clean run of 3 blocks of 1000 bytes.
#include "dialogtestutil.h"
#include "netns.h"
#include "stations.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace zebwintest;

class RealNetbiosTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void senderAgainstStationReceiver();
    void receiverAgainstStationSender();

  private:
    std::unique_ptr<ControlDialog> OpenDialog();
    void Click(ControlDialog& dialog, int id);
    QString ReadReport() const;

    QTemporaryDir m_scratch;
    std::uint16_t m_port = 0;
};

void RealNetbiosTest::initTestCase() {
    QVERIFY(m_scratch.isValid());
    QVERIFY(QDir::setCurrent(m_scratch.path()));
    QVERIFY(QDir(m_scratch.path()).mkpath(QStringLiteral("ctlogs")));
    qputenv("WINDIR", m_scratch.path().toLocal8Bit());
    // This process is the station on 127.0.0.2; the provider reads its settings at its first
    // request, which comes later.
    m_port = zebtest::FreePortPair();
    QVERIFY2(m_port != 0, "no free loopback ports");
    qputenv("NETBIOS_LANAS", "127.0.0.2");
    qputenv("NETBIOS_BROADCAST", "127.255.255.255");
    qputenv("NETBIOS_NAME_PORT", QByteArray::number(m_port));
    qputenv("NETBIOS_SESSION_PORT", QByteArray::number(m_port + 1));
    ApplyDialogLook(*qobject_cast<QApplication*>(QCoreApplication::instance()));
}

std::unique_ptr<ControlDialog> RealNetbiosTest::OpenDialog() {
    auto dialog = std::make_unique<ControlDialog>(LinkedEngine(), fields::Keyword::Netbios);
    dialog->show();
    if (!QTest::qWaitForWindowExposed(dialog.get())) {
        return nullptr;
    }
    return dialog;
}

void RealNetbiosTest::Click(ControlDialog& dialog, int id) {
    auto* button = Control<QAbstractButton>(dialog, id);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

QString RealNetbiosTest::ReadReport() const {
    QFile report(QDir(m_scratch.path()).filePath(QStringLiteral("report.txt")));
    return report.open(QIODevice::ReadOnly) ? QString::fromLatin1(report.readAll()) : QString();
}

void RealNetbiosTest::senderAgainstStationReceiver() {
    zebtest::ZebStation receiver(zebtest::Loopback("127.0.0.3", m_port), {"recv"});
    QVERIFY2(receiver.WaitFor("post Listening for Sender.."), "receiver not listening");

    ModalDriver driver;
    const auto dialog = OpenDialog();
    QVERIFY(dialog);
    Click(*dialog, kIdSender);
    Control<QLineEdit>(*dialog, kIdBufferSize)->setText(QStringLiteral("1000"));
    Control<QLineEdit>(*dialog, kIdBlocks)->setText(QStringLiteral("3"));
    Click(*dialog, kIdSaveResults);
    Click(*dialog, kIdStart);

    QVERIFY(driver.boxes.empty());
    const QString board = Control<QLineEdit>(*dialog, kIdBoard)->text();
    static const QRegularExpression done(QStringLiteral(
        "^ *[0-9]+\\.[0-9] KB/s 3000 bytes transferedRead REPORT\\.TXT if checked Save Results$"));
    QVERIFY2(done.match(board).hasMatch(), qPrintable(board));
    QVERIFY(ReadReport().contains(
        QStringLiteral("SEND SESSION BEGIN Transfering [3] blocks of [1000] bytes")));
    QCOMPARE(dialog->ExitStatus(), ZEB_RESULT_PASSED);

    QCOMPARE(receiver.Finish(), ZEB_RESULT_PASSED);
    const std::vector<std::string> posts = receiver.Posts();
    for (const char* line :
         {"Received block   1 Size = 1000 Bytes", "Received block   3 Size = 1000 Bytes",
          "Session closed by Sender", "3000 Bytes received."}) {
        QVERIFY2(std::find(posts.begin(), posts.end(), line) != posts.end(), line);
    }
}

void RealNetbiosTest::receiverAgainstStationSender() {
    // The sender calls for up to 20 seconds, so it may start first.
    zebtest::ZebStation sender(zebtest::Loopback("127.0.0.3", m_port), {"send", "3", "1000"});

    ModalDriver driver;
    const auto dialog = OpenDialog();
    QVERIFY(dialog);
    Click(*dialog, kIdReceiver);
    const qsizetype reportBefore = ReadReport().size();
    Click(*dialog, kIdStart);

    QVERIFY(driver.boxes.empty());
    QCOMPARE(Control<QLineEdit>(*dialog, kIdBoard)->text(), QStringLiteral("Receive complete!"));
    const QString report = ReadReport().mid(reportBefore);
    for (const char* line :
         {"Received block   1 Size = 1000 Bytes\n", "Received block   3 Size = 1000 Bytes\n",
          "Session closed by Sender\n", "3000 Bytes received.\n"}) {
        QVERIFY2(report.contains(QString::fromLatin1(line)), qPrintable(report));
    }
    QCOMPARE(dialog->ExitStatus(), ZEB_RESULT_PASSED);

    QCOMPARE(sender.Finish(), ZEB_RESULT_PASSED);
    QVERIFY(QString::fromStdString(sender.Value("summary")).endsWith("3000 bytes transfered"));
}

QTEST_MAIN(RealNetbiosTest)
#include "real_netbios_test.moc"
