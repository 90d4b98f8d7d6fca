// The requests as they go on the wire, the verdict on a reply PDU, the text of a read reply.
#include "link/Crc.h"
#include "modbus/Pdu.h"
#include "transport/RtuTransport.h"

#include <QtTest>

static QByteArray hex(const char* s) {
    return QByteArray::fromHex(s);
}

class TestPdu : public QObject {
    Q_OBJECT
private slots:
    void requestFrames_data() {
        QTest::addColumn<int>("unit");
        QTest::addColumn<QByteArray>("pdu");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("read 0") << 1 << Pdu::readMessage(400) << hex("0103019000144414");
        QTest::newRow("read 19") << 1 << Pdu::readMessage(messageRegister(19))
                                 << hex("0103030C00148582");
        QTest::newRow("write odd: padded")
            << 1 << Pdu::writeMessage(400, "A") << hex("0110019000010241009B90");
        // An even text shorter than the slot takes one more register of 0, so
        // that it ends there on the unit; a full slot needs no end.
        QTest::newRow("write even: ended")
            << 1 << Pdu::writeMessage(400, "AB") << hex("0110019000020441420000437B");
        QTest::newRow("write 38: ended")
            << 1 << Pdu::writeMessage(400, QByteArray(38, 'y'))
            << hex("011001900014 28") + QByteArray(38, 'y') + hex("00009748");
        QTest::newRow("write 40: the whole slot")
            << 1 << Pdu::writeMessage(400, QByteArray(40, 'x'))
            << hex("01100190001428") + QByteArray(40, 'x') + hex("569E");
        QTest::newRow("write 7: padded")
            << 1 << Pdu::writeMessage(400, "SEVENCH") << hex("01100190000408534556454E4348003792");
        QTest::newRow("erase 780") << 5 << Pdu::eraseMessage(780) << hex("0510030C0001020000A75C");
        QTest::newRow("erase 0") << 1 << Pdu::eraseMessage(400) << hex("011001900001020000ABC0");
        // Block reads: six messages (120 registers) from slot 0, the last two from slot 18.
        QTest::newRow("read 0-5") << 1 << Pdu::readMessages(400, 6) << hex("0103019000784439");
        QTest::newRow("read 18-19")
            << 2 << Pdu::readMessages(messageRegister(18), 2) << hex("020302F80028C5AE");
        QTest::newRow("a block of one is a read")
            << 1 << Pdu::readMessages(400, 1) << hex("0103019000144414");
        QTest::newRow("CRC of a foreign frame")
            << 0x11 << hex("03006B0003") << hex("1103006B00037687");
    }
    void requestFrames() {
        QFETCH(int, unit);
        QFETCH(QByteArray, pdu);
        QTEST(rtuFrame(standardCrcTable(), unit, pdu), "frame");
        QCOMPARE(Pdu::writeMessage(400, QByteArray(39, 'x')).mid(4, 2), hex("1428")); // 20, 40
        QCOMPARE(byteDump(hex("01030A")) + withLeadingBlank(45) + withLeadingBlank(0),
                 QStringLiteral(" 01 03 0A 45 0"));
    }

    void verdicts_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("reason");
        using K = Pdu::Verdict::Kind;
        const QByteArray read = Pdu::readMessage(400), write = Pdu::writeMessage(400, "AB");
        const char* const unanswered = "the reply does not answer the request";
        const auto row = [](const char* name, const QByteArray& rq, const QByteArray& rp, K kind,
                            const char* reason) {
            QTest::newRow(name) << rq << rp << int(kind) << QString(reason);
        };
        row("read answered", read, hex("0328") + QByteArray(40, 'x'), K::Confirmed, "");
        row("read one byte short", read, hex("0328") + QByteArray(39, 'x'), K::Unexpected,
            unanswered);
        row("read, wrong byte count", read, hex("0327") + QByteArray(40, 'x'), K::Unexpected,
            unanswered);
        row("write echoed", write, hex("1001900002"), K::Confirmed, "");
        row("write, other register", write, hex("1001910002"), K::Unexpected, unanswered);
        row("other function", write, hex("0301900001"), K::Unexpected, unanswered);
        row("exception", read, hex("8302"), K::Exception,
            "the unit refused the request (Modbus exception 2, illegal data address)");
        row("exception 9", write, hex("9009"), K::Exception,
            "the unit refused the request (Modbus exception 9, unknown)");
        row("exception 11", write, hex("900B"), K::Exception,
            "the unit refused the request (Modbus exception 11, gateway target device failed "
            "to respond)");
        row("exception, too long", read, hex("830200"), K::Unexpected, unanswered);
        row("one byte", read, hex("03"), K::Unusable, "a reply of 1 bytes is too short");
    }
    void verdicts() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QString, reason);
        const Pdu::Verdict v = Pdu::judge(request, reply);
        QTEST(int(v.kind), "kind");
        QCOMPARE(v.reason, reason); // empty exactly when confirmed
    }

    // One decoder for every reader of a read reply.
    void replyText_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("empty");
        const auto row = [](const char* name, const QByteArray& data, const QString& text,
                            bool empty) {
            QTest::newRow(name) << hex("0328") + data.leftJustified(40, '\0') << text << empty;
        };
        row("40 characters", QByteArray(40, 'Z'), QString(40, 'Z'), false);
        row("0 ends the text", QByteArray("AB\0CD", 5), "AB", false);
        row("0 first, text after", QByteArray("\0LATER", 6), "", true);
        row("FF ends the text", "AB\377CD", "AB", false);
        row("FF first", "\377ES", "", true);
        row("1252 and control bytes kept", "\x80\x1B\x7F", "€\x1B\x7F", false);
        QTest::newRow("exception reply, no data") << hex("8302") << "" << false;
    }
    void replyText() {
        QFETCH(QByteArray, reply);
        const Pdu::ReadText r = Pdu::decodeReadReply(reply);
        QTEST(r.text, "text");
        QTEST(r.empty, "empty");
    }

    // A block reply cut into one read reply per message, each as if read alone; anything that
    // is not count whole messages gives nothing.
    void blockReplySplit() {
        QByteArray data;
        for (const char* text : {"ONE", "", "THREE"})
            data += QByteArray(text).leftJustified(40, '\0');
        const QByteArray reply = hex("0378") + data;
        const QVector<QByteArray> parts = Pdu::splitBlockReply(reply, 3);
        QCOMPARE(parts.size(), 3);
        QCOMPARE(parts[2], hex("0328") + data.mid(80));
        QCOMPARE(Pdu::decodeReadReply(parts[0]).text, "ONE");
        QVERIFY(Pdu::decodeReadReply(parts[1]).empty);
        for (const QByteArray& bad : {reply.chopped(1), reply + 'x', hex("0379") + data + 'x',
                                      hex("0478") + data, hex("8302")})
            QVERIFY(Pdu::splitBlockReply(bad, 3).isEmpty());
        QVERIFY(Pdu::splitBlockReply(reply, 2).isEmpty() &&
                Pdu::splitBlockReply(hex("0300"), 0).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPdu)
#include "test_pdu.moc"
