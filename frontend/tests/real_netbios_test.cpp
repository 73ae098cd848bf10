// The real dialog and the real engine as one station of the NetBIOS session stress, the other
// station a console station process, both on a loopback test LAN of their own ports: Start as
// sender, then Start as receiver, each a clean run of 3 blocks of 1000 bytes.
#include "dialogtestutil.h"
#include "netns.h"
#include "stations.h"

#include <QRegularExpression>

#include <algorithm>

using namespace zebwintest;

class RealNetbiosTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        // This process is the station on 127.0.0.2; the provider reads its settings at its first
        // request, which comes later.
        m_port = zebtest::FreePortPair();
        QVERIFY2(m_port != 0, "no free loopback ports");
        qputenv("NETBIOS_LANAS", "127.0.0.2");
        qputenv("NETBIOS_BROADCAST", "127.255.255.255");
        qputenv("NETBIOS_NAME_PORT", QByteArray::number(m_port));
        qputenv("NETBIOS_SESSION_PORT", QByteArray::number(m_port + 1));
    }

    void senderAgainstStationReceiver() {
        zebtest::ZebStation receiver(zebtest::Loopback("127.0.0.3", m_port), {"recv"});
        QVERIFY2(receiver.WaitFor("post Listening for Sender.."), "receiver not listening");

        DialogBench bench(fields::Keyword::Netbios, &LinkedEngine());
        QVERIFY(bench.exposed);
        bench.Click(kIdSender);
        bench.Type(kIdBufferSize, QStringLiteral("1000"));
        bench.Type(kIdBlocks, QStringLiteral("3"));
        bench.Click(kIdSaveResults);
        bench.Start();

        QVERIFY(bench.driver.boxes.empty());
        const QString board = bench.Board();
        static const QRegularExpression done(
            QStringLiteral("^ *[0-9]+\\.[0-9] KB/s 3000 bytes transferedRead REPORT\\.TXT if "
                           "checked Save Results$"));
        QVERIFY2(done.match(board).hasMatch(), qPrintable(board));
        QVERIFY(ReadReport(m_scratch).contains(
            QStringLiteral("SEND SESSION BEGIN Transfering [3] blocks of [1000] bytes")));
        QCOMPARE(bench.dialog.ExitStatus(), ZEB_RESULT_PASSED);

        QCOMPARE(receiver.Finish(), ZEB_RESULT_PASSED);
        const std::vector<std::string> posts = receiver.Posts();
        for (const char* line :
             {"Received block   1 Size = 1000 Bytes", "Received block   3 Size = 1000 Bytes",
              "Session closed by Sender", "3000 Bytes received."}) {
            QVERIFY2(std::find(posts.begin(), posts.end(), line) != posts.end(), line);
        }
    }

    void receiverAgainstStationSender() {
        // The sender calls for up to 20 seconds, so it may start first.
        zebtest::ZebStation sender(zebtest::Loopback("127.0.0.3", m_port), {"send", "3", "1000"});

        DialogBench bench(fields::Keyword::Netbios, &LinkedEngine());
        QVERIFY(bench.exposed);
        bench.Click(kIdReceiver);
        const qsizetype reportBefore = ReadReport(m_scratch).size();
        bench.Start();

        QVERIFY(bench.driver.boxes.empty());
        QCOMPARE(bench.Board(), QStringLiteral("Receive complete!"));
        const QString report = ReadReport(m_scratch).mid(reportBefore);
        for (const char* line :
             {"Received block   1 Size = 1000 Bytes\n", "Received block   3 Size = 1000 Bytes\n",
              "Session closed by Sender\n", "3000 Bytes received.\n"}) {
            QVERIFY2(report.contains(QString::fromLatin1(line)), qPrintable(report));
        }
        QCOMPARE(bench.dialog.ExitStatus(), ZEB_RESULT_PASSED);

        QCOMPARE(sender.Finish(), ZEB_RESULT_PASSED);
        QVERIFY(QString::fromStdString(sender.Value("summary")).endsWith("3000 bytes transfered"));
    }

  private:
    // The current directory (where report.txt goes) and $WINDIR (for the compatibility log).
    zebtest::Scratch m_scratch;
    std::uint16_t m_port = 0;
};

QTEST_MAIN(RealNetbiosTest)
#include "real_netbios_test.moc"
