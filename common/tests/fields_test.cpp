// The dialog's field syntax and tables: numbers, range and length messages, the I/O mode
// names, the command-line keyword and cutting texts to a byte limit.
#include "fields.h"

#include <QTest>

#include <limits>

using namespace fields;

Q_DECLARE_METATYPE(std::optional<std::int64_t>)

class FieldsTest : public QObject {
    Q_OBJECT
  private slots:
    void parseInteger_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<std::optional<std::int64_t>>("value");
        const auto row = [](const char* name, const char* text, std::optional<std::int64_t> value) {
            QTest::newRow(name) << QByteArray(text) << value;
        };
        const std::optional<std::int64_t> none;
        const std::int64_t saturated = 1'000'000'000'000'000'000;
        row("plain", "1024", 1024);
        row("plus sign", "+7", 7);
        row("minus sign", "-7", -7);
        row("blanks and tabs around", " \t 12\t ", 12);
        row("leading zeros", "007", 7);
        row("empty", "", none);
        row("blanks only", "  ", none);
        row("sign only", "-", none);
        row("blank after sign", "- 5", none);
        row("two signs", "+-5", none);
        row("trailing letter", "12a", none);
        row("inner blank", "1 2", none);
        row("decimal point", "1.5", none);
        row("hex", "0x10", none);
        row("newline is not a blank", "12\n", none);
        row("huge saturates", "123456789012345678901234567890", saturated);
        row("one below saturation", "999999999999999999", 999'999'999'999'999'999);
        row("saturation exactly", "1000000000000000000", saturated);
        row("nineteen nines", "9999999999999999999", saturated);
        row("huge negative", "-99999999999999999999999", -saturated);
    }

    void parseInteger() {
        QFETCH(QByteArray, text);
        QFETCH(std::optional<std::int64_t>, value);
        QCOMPARE(ParseInteger(std::string_view(text.constData(), text.size())), value);
    }

    void storeNumbers() {
        std::uint32_t size = 65535;
        // Unreadable text leaves the stored value alone.
        QCOMPARE(StoreUnsigned("x", {1, 65535}, size), StoreOutcome::NotAnInteger);
        QCOMPARE(size, 65535u);
        // A number that reads is stored, then judged: out of range it stays stored.
        QCOMPARE(StoreUnsigned("0", {1, 65535}, size), StoreOutcome::OutOfRange);
        QCOMPARE(size, 0u);
        QCOMPARE(StoreUnsigned("65535", {1, 65535}, size), StoreOutcome::Stored);
        QCOMPARE(size, 65535u);
        // Beyond the 32-bit field: the range message, and a stored value outside every range.
        QCOMPARE(StoreUnsigned("4294967296", {2, 32000}, size), StoreOutcome::OutOfRange);
        QCOMPARE(size, std::numeric_limits<std::uint32_t>::max());
        QCOMPARE(StoreUnsigned("-1", {2, 32000}, size), StoreOutcome::OutOfRange);
        QCOMPARE(size, 0u);

        std::int32_t blocks = 1000;
        QCOMPARE(StoreSigned("-2147483649", {1, 32000}, blocks), StoreOutcome::OutOfRange);
        QCOMPARE(blocks, std::numeric_limits<std::int32_t>::min());
        QCOMPARE(StoreSigned(" 32000 ", {1, 32000}, blocks), StoreOutcome::Stored);
        QCOMPARE(blocks, 32000);
    }

    void storeText() {
        std::string stored;
        QCOMPARE(StoreText(std::string(30, 'a'), 30, stored), StoreOutcome::Stored);
        QCOMPARE(StoreText(std::string(31, 'b'), 30, stored), StoreOutcome::TooLong);
        QCOMPARE(stored, std::string(31, 'b'));
        // Bytes count, not letters: fifteen two-byte letters fill 30 bytes.
        const std::string letters = QByteArray("\xc3\xa9").repeated(16).toStdString();
        QCOMPARE(StoreText(letters.substr(0, 30), 30, stored), StoreOutcome::Stored);
        QCOMPARE(StoreText(letters, 30, stored), StoreOutcome::TooLong);
    }

    void messages() {
        QCOMPARE(OutcomeMessage(StoreOutcome::NotAnInteger, {1, 2}, 0),
                 std::string("Please enter an integer."));
        QCOMPARE(OutcomeMessage(StoreOutcome::OutOfRange, {2, 32000}, 0),
                 std::string("Please enter an integer between 2 and 32000."));
        QCOMPARE(OutcomeMessage(StoreOutcome::TooLong, {0, 0}, 120),
                 std::string("Please enter no more than 120 characters."));
    }

    void ioModes() {
        for (std::size_t i = 0; i < kModeNames.size(); ++i) {
            QCOMPARE(IoModeFromText(kModeNames[i]), int(i));
        }
        QCOMPARE(IoModeFromText("Overlay Write"), 7);
        for (const char* text :
             {"overlay write", "Overlay Write ", " Overlay Write", "Overlay", ""}) {
            QCOMPARE(IoModeFromText(text), 5);
        }
    }

    void modeEntryByPrefix() {
        const std::vector<std::string> sorted = {
            "Overlay R & W",    "Overlay Read",    "Overlay Write",
            "Random R & W",     "Random Read",     "Random Write",
            "Sequential R & W", "Sequential Read", "Sequential Write"};
        QCOMPARE(FindModeEntry(sorted, "Overlay Write"), std::optional<std::size_t>(2));
        QCOMPARE(FindModeEntry(sorted, "OVERLAY W"), std::optional<std::size_t>(2));
        QCOMPARE(FindModeEntry(sorted, "seq"), std::optional<std::size_t>(6));
        QCOMPARE(FindModeEntry(sorted, "random read"), std::optional<std::size_t>(4));
        QCOMPARE(FindModeEntry(sorted, "Overlay Write "), std::optional<std::size_t>());
        QCOMPARE(FindModeEntry(sorted, "Sequential Writes"), std::optional<std::size_t>());
        QCOMPARE(FindModeEntry(sorted, "xyz"), std::optional<std::size_t>());
    }

    void keyword_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("keyword");
        QTest::newRow("none") << QStringList{} << int(Keyword::None);
        QTest::newRow("NETBIOS") << QStringList{"NETBIOS"} << int(Keyword::Netbios);
        QTest::newRow("FILEIO") << QStringList{"FILEIO"} << int(Keyword::FileIo);
        QTest::newRow("fileio") << QStringList{"fileio"} << int(Keyword::None);
        QTest::newRow("netbios") << QStringList{"netbios"} << int(Keyword::None);
        QTest::newRow("NETBIOS and blank") << QStringList{"NETBIOS "} << int(Keyword::None);
        QTest::newRow("NETBIOS and an empty argument")
            << QStringList{"NETBIOS", ""} << int(Keyword::None);
        QTest::newRow("two keywords") << QStringList{"FILEIO", "NETBIOS"} << int(Keyword::None);
        QTest::newRow("joined by a blank") << QStringList{"FILE", "IO"} << int(Keyword::None);
    }

    void keyword() {
        QFETCH(QStringList, arguments);
        QFETCH(int, keyword);
        std::vector<std::string> argv(arguments.size());
        std::ranges::transform(arguments, argv.begin(), &QString::toStdString);
        QCOMPARE(int(KeywordFromArguments(argv)), keyword);
    }

    void cutToBytes_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QByteArray>("cut");
        const auto row = [](const char* name, const char* text, const char* cut) {
            QTest::newRow(name) << QByteArray(text) << 5 << QByteArray(cut);
        };
        row("short", "abc", "abc");
        row("exact", "abcde", "abcde");
        row("ascii", "abcdef", "abcde");
        row("inside a two-byte letter", "abcd\xc3\xa9", "abcd");
        row("after a two-byte letter", "abc\xc3\xa9z", "abc\xc3\xa9");
        row("inside a four-byte letter", "ab\xf0\x9f\x98\x80", "ab");
        row("latin-1 bytes", "abcd\xe9\xe9", "abcd\xe9");
        row("stray continuation bytes", "\x80\x80\x80\x80\x80\x80", "\x80\x80\x80\x80\x80");
    }

    void cutToBytes() {
        QFETCH(QByteArray, text);
        QFETCH(int, limit);
        QFETCH(QByteArray, cut);
        const std::string_view result =
            CutToBytes(std::string_view(text.constData(), text.size()), std::size_t(limit));
        QCOMPARE(QByteArray(result.data(), qsizetype(result.size())), cut);
    }
};

QTEST_APPLESS_MAIN(FieldsTest)
#include "fields_test.moc"
