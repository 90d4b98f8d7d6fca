// The serial-port listing from the registry, against a fake registry.

#include "connect/ApiRegistry.h"
#include "connect/PortChoice.h"
#include "support/RecordingOperator.h"

#include <QMap>
#include <QtTest>

namespace {
constexpr RegistryApi::Key kOpenedKey = 0x1234;

// One key with its values; every call's status can be scripted.
class FakeRegistry : public RegistryApi {
public:
    struct Value {
        QByteArray name;
        QByteArray data;
    };
    QVector<Value> values;
    qint32 openStatus = win32::kSuccess;
    qint32 queryStatus = win32::kSuccess;
    qint32 closeStatus = win32::kSuccess;
    QMap<quint32, qint32> enumStatus; // index -> status; the call then writes nothing
    QStringList calls;
    QVector<quint32> offeredLengths; // name and data length offered to each enum call
    int openKeys = 0;

    qint32 openKey(Key root, const QString& path, Key& key) override {
        calls << QStringLiteral("open");
        if (root != kLocalMachine || path != kSerialCommKey)
            return win32::kFileNotFound;
        if (openStatus != win32::kSuccess)
            return openStatus;
        key = kOpenedKey;
        ++openKeys;
        return win32::kSuccess;
    }
    qint32 queryInfoKey(Key key, quint32& valueCount) override {
        calls << QStringLiteral("query");
        if (key != kOpenedKey)
            return win32::kInvalidParameter;
        valueCount = quint32(values.size());
        return queryStatus;
    }
    qint32 enumValue(Key key, quint32 index, QByteArray& nameBuf, quint32& nameLength,
                     QByteArray& dataBuf, quint32& dataLength) override {
        calls << QStringLiteral("enum");
        offeredLengths << nameLength << dataLength;
        if (key != kOpenedKey || index >= quint32(values.size()))
            return win32::kInvalidParameter;
        if (enumStatus.contains(index))
            return enumStatus.value(index);
        const Value& v = values[int(index)];
        write(nameBuf, nameLength, v.name);
        write(dataBuf, dataLength, v.data);
        return win32::kSuccess;
    }
    qint32 closeKey(Key key) override {
        calls << QStringLiteral("close");
        if (key == kOpenedKey)
            --openKeys;
        return closeStatus;
    }

private:
    static void write(QByteArray& buf, quint32& length, const QByteArray& text) {
        QVERIFY(buf.size() >= int(length) && text.size() < int(length));
        std::copy(text.begin(), text.end(), buf.begin());
        buf[text.size()] = '\0';
        length = quint32(text.size());
    }
};
} // namespace

class TestRegistry : public QObject {
    Q_OBJECT
private slots:
    void statusTexts_data();
    void statusTexts();
    void listsValuesInEnumerationOrder();
    void failuresBeforeTheListing_data();
    void failuresBeforeTheListing();
    void failedCallsAfterTheOpenGoOn();
    void moreThanAHundredValuesListTheFirstHundred();
};

void TestRegistry::statusTexts_data() {
    QTest::addColumn<qint32>("status");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("result");
    QTest::newRow("success") << 0 << QString() << true;
    QTest::newRow("access denied") << 5 << "Registry: Access Denied (RegQueryInfoKey)" << false;
    QTest::newRow("invalid parameter")
        << 87 << "Registry: Invalid Parameter (RegQueryInfoKey)" << false;
    QTest::newRow("more data") << 234 << QString() << false;
    QTest::newRow("corrupt") << 1009 << "Registry: Corrupt Registry" << false;
    QTest::newRow("bad key") << 1010 << "Registry: Invalid Key (RegQueryInfoKey)" << false;
    QTest::newRow("cannot open") << 1011 << "Registry: Cannot Open (RegQueryInfoKey)" << false;
    QTest::newRow("cannot read") << 1012 << "Registry: Cannot Read (RegQueryInfoKey)" << false;
    QTest::newRow("missing key") << 2 << QString() << false;
    QTest::newRow("unknown") << 1013 << QString() << false;
    QTest::newRow("negative") << -1 << QString() << false;
}

void TestRegistry::statusTexts() {
    QFETCH(qint32, status);
    QFETCH(QString, text);
    QFETCH(bool, result);
    FakeRegistry registry;
    RecordingOperator op;
    ApiRegistry reg(registry, op);
    QCOMPARE(reg.CheckRegStatus(status, QStringLiteral("RegQueryInfoKey")), result);
    if (text.isEmpty()) {
        QCOMPARE(op.count(), 0);
    } else {
        QCOMPARE(op.count(), 1);
        QCOMPARE(op.last().text, text);
        QCOMPARE(op.last().title, QString()); // the program's own title
        QCOMPARE(op.last().icon, MsgIcon::None);
        QCOMPARE(op.last().buttons, MsgButtons::Ok);
    }
}

void TestRegistry::listsValuesInEnumerationOrder() {
    FakeRegistry registry;
    registry.values = {{"\\Device\\Serial0", "COM1"}, {"\\Device\\Serial1", "COM3"}};
    RecordingOperator op;
    ApiRegistry reg(registry, op);

    const PortEntries entries = makePortEntries(reg.ListSerialPorts());
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[0].Key, QStringLiteral("Item1"));
    QCOMPARE(entries[0].Text, QStringLiteral("COM1"));
    QCOMPARE(entries[1].Key, QStringLiteral("Item2"));
    QCOMPARE(entries[1].Text, QStringLiteral("COM3"));
    QCOMPARE(op.count(), 0);

    QCOMPARE(reg.RegValues[0].Number, 2);
    QCOMPARE(reg.RegValues[2].Number, 2);
    QCOMPARE(reg.RegValues[2].ValueName, QStringLiteral("\\Device\\Serial1"));
    // The key is opened and closed twice, and every enumeration is offered
    // the full buffers even after a shorter value came back.
    QCOMPARE(registry.calls,
             QStringList({"open", "query", "close", "open", "query", "enum", "enum", "close"}));
    QCOMPARE(registry.openKeys, 0);
    QCOMPARE(registry.offeredLengths, QVector<quint32>({255, 255, 255, 255}));

    // A second listing is built from scratch.
    registry.values = {{"\\Device\\Serial2", "COM7"}};
    QCOMPARE(reg.ListSerialPorts(), QStringList{"COM7"});
    QCOMPARE(reg.RegValues[2].ValueData, QString());
}

void TestRegistry::failuresBeforeTheListing_data() {
    QTest::addColumn<qint32>("openStatus");
    QTest::addColumn<qint32>("queryStatus");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QStringList>("ports");
    QTest::newRow("no serial ports: key missing") << 2 << 0 << QStringList() << QStringList();
    QTest::newRow("access denied")
        << 5 << 0 << QStringList{"Registry: Access Denied (RegOpenKeyEx)"} << QStringList();
    QTest::newRow("corrupt on open")
        << 1009 << 0 << QStringList{"Registry: Corrupt Registry"} << QStringList();
    QTest::newRow("corrupt on query")
        << 0 << 1009 << QStringList{"Registry: Corrupt Registry", "Registry: Corrupt Registry"}
        << QStringList{"COM1"};
}

void TestRegistry::failuresBeforeTheListing() {
    QFETCH(qint32, openStatus);
    QFETCH(qint32, queryStatus);
    QFETCH(QStringList, boxes);
    QFETCH(QStringList, ports);
    FakeRegistry registry;
    registry.values = {{"\\Device\\Serial0", "COM1"}};
    registry.openStatus = openStatus;
    registry.queryStatus = queryStatus;
    RecordingOperator op;
    ApiRegistry reg(registry, op);

    QCOMPARE(reg.ListSerialPorts(), ports);
    QStringList shown;
    for (const RecordingOperator::Box& b : op.boxes())
        shown << b.text;
    QCOMPARE(shown, boxes);
    QCOMPARE(registry.openKeys, 0);
    if (openStatus != 0)
        QCOMPARE(registry.calls, QStringList{"open"}); // nothing else asked
}

void TestRegistry::failedCallsAfterTheOpenGoOn() {
    FakeRegistry registry;
    registry.values = {{"\\Device\\Serial0", "COM1"},
                       {"\\Device\\Serial1", "COM2"},
                       {"\\Device\\Serial2", "COM3"}};
    registry.enumStatus[1] = win32::kCantRead;
    registry.closeStatus = win32::kBadKey;
    RecordingOperator op;
    ApiRegistry reg(registry, op);

    const QStringList ports = reg.ListSerialPorts();
    // The value whose enumeration failed is still listed, as the blanks the
    // buffer was prepared with.
    QCOMPARE(ports.size(), 3);
    QCOMPARE(ports[0], QStringLiteral("COM1"));
    QCOMPARE(ports[1], QString(255, QLatin1Char(' ')));
    QCOMPARE(ports[2], QStringLiteral("COM3"));
    QStringList shown;
    for (const RecordingOperator::Box& b : op.boxes())
        shown << b.text;
    QCOMPARE(shown, QStringList({"Registry: Invalid Key (RegCloseKey)",
                                 "Registry: Cannot Read (RegEnumValue)",
                                 "Registry: Invalid Key (RegCloseKey)"}));

    // A blank entry names no port to open.
    PortChoice choice;
    choice.setEntries(makePortEntries(ports));
    choice.click(QStringLiteral("Item2"));
    QVERIFY(!choice.chosenPort());
}

void TestRegistry::moreThanAHundredValuesListTheFirstHundred() {
    FakeRegistry registry;
    for (int i = 0; i < 130; ++i)
        registry.values.append(
            {"\\Device\\Serial" + QByteArray::number(i), "COM" + QByteArray::number(i + 1)});
    RecordingOperator op;
    ApiRegistry reg(registry, op);

    const QStringList ports = reg.ListSerialPorts();
    QCOMPARE(ports.size(), 100);
    QCOMPARE(ports.first(), QStringLiteral("COM1"));
    QCOMPARE(ports.last(), QStringLiteral("COM100"));
    QCOMPARE(reg.RegValues[0].Number, 130);
    QCOMPARE(registry.calls.count(QStringLiteral("enum")), 100);
    QCOMPARE(op.count(), 0);
}

QTEST_GUILESS_MAIN(TestRegistry)
#include "test_registry.moc"
