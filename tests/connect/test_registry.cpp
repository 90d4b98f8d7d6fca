// The serial-port listing from the registry, against a fake registry.
#include "connect/ApiRegistry.h"
#include "support/RecordingOperator.h"

#include <QtTest>

namespace {
constexpr RegistryApi::Key kOpened = 0x1234;

// One key whose values' data are the port names; every call's status can be scripted.
struct FakeRegistry : RegistryApi {
    QByteArrayList ports;
    qint32 openStatus = 0, closeStatus = 0, openKeys = 0;
    QMap<quint32, qint32> enumStatus; // the failing call writes nothing
    QVector<quint32> offered;         // the buffer lengths each enumeration is offered
    qint32 openKey(Key root, const QString& path, Key& key) override {
        key = kOpened, openKeys += openStatus == 0;
        return root == kLocalMachine && path == kSerialCommKey ? openStatus : win32::kFileNotFound;
    }
    qint32 queryInfoKey(Key, quint32& count) override {
        return count = quint32(ports.size()), win32::kSuccess;
    }
    qint32 enumValue(Key, quint32 i, QByteArray&, quint32& nameLength, QByteArray& data,
                     quint32& dataLength) override {
        offered << nameLength << dataLength;
        if (enumStatus.contains(i))
            return enumStatus[i];
        const QByteArray port = ports.value(int(i)); // written in place, as the system does
        data.replace(0, port.size() + 1, port + '\0'), dataLength = quint32(port.size());
        return win32::kSuccess;
    }
    qint32 closeKey(Key key) override { return openKeys -= key == kOpened, closeStatus; }
};

QStringList shown(RecordingOperator& op) {
    QStringList texts;
    for (const auto& b : op.boxes())
        texts << b.text;
    return op.clear(), texts;
}
} // namespace

class TestRegistry : public QObject {
    Q_OBJECT
private slots:
    void listing() {
        FakeRegistry registry;
        RecordingOperator op;
        ApiRegistry reg(registry, op);
        // Success, too long a value, a missing key (no serial ports) and unknown codes: no box.
        for (qint32 status : {0, 234, 2, 1013, -1, 5, 87, 1009, 1010, 1011, 1012})
            QCOMPARE(reg.CheckRegStatus(status, "Op"), status == 0);
        QCOMPARE(shown(op),
                 QStringList({"Registry: Access Denied (Op)", "Registry: Invalid Parameter (Op)",
                              "Registry: Corrupt Registry", "Registry: Invalid Key (Op)",
                              "Registry: Cannot Open (Op)", "Registry: Cannot Read (Op)"}));

        for (int i = 1; i <= 130; ++i)
            registry.ports << "COM" + QByteArray::number(i);
        registry.enumStatus[1] = win32::kCantRead;
        registry.closeStatus = win32::kBadKey;
        const QStringList ports = reg.ListSerialPorts();
        // The first hundred; failures after the open are reported, a failed value is blank.
        QCOMPARE(ports.mid(0, 3), QStringList({"COM1", QString(255, ' '), "COM3"}));
        QCOMPARE(ports.mid(98), QStringList({"COM99", "COM100"}));
        QCOMPARE(shown(op), QStringList({"Registry: Invalid Key (RegCloseKey)",
                                         "Registry: Cannot Read (RegEnumValue)",
                                         "Registry: Invalid Key (RegCloseKey)"}));
        // Every key opened is closed; every enumeration is offered the full buffers.
        QCOMPARE(registry.openKeys, 0);
        QCOMPARE(registry.offered, QVector<quint32>(200, 255));

        // A key that cannot be opened is reported once and not asked again.
        registry.openStatus = win32::kAccessDenied;
        QCOMPARE(reg.ListSerialPorts(), QStringList());
        QCOMPARE(shown(op), QStringList{"Registry: Access Denied (RegOpenKeyEx)"});
    }
};

QTEST_GUILESS_MAIN(TestRegistry)
#include "test_registry.moc"
