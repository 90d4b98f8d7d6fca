#include "table/UnitPreview.h"

#include "startup/CodePage.h"
#include "startup/MessageText.h"
#include "startup/UnitText.h"

namespace {

PreviewCell cellFor(QChar c, int index) {
    const QString where = QStringLiteral("Cell %1: ").arg(index + 1);
    PreviewCell cell;
    // The character as the slot rule judges a typed one.
    const UnitText::Verdict v = UnitText::judge(QString(c), UnitText::Source::Typed);
    if (!v.writable()) {
        cell.kind = PreviewCell::Kind::Unshowable;
        cell.glyph = c.isPrint() ? c : QLatin1Char('?');
        cell.note =
            where +
            (v.fault == UnitText::Fault::NoCode
                 ? CodePage::describe(c) +
                       QStringLiteral(" has no code in Windows-1252: the unit cannot show it")
                 : MessageText::describeUnsendable(c) +
                       QStringLiteral(": the unit shows only printable characters"));
        return cell;
    }
    const CodePage::Encoded encoded = CodePage::encode(QString(c));
    // What the unit draws is the code page's character for the byte it gets.
    cell.kind = PreviewCell::Kind::Shown;
    cell.byte = static_cast<unsigned char>(encoded.bytes.at(0));
    cell.glyph = CodePage::decode(encoded.bytes).at(0);
    cell.note =
        where +
        (cell.glyph == QLatin1Char(' ') ? QStringLiteral("a blank")
                                        : QStringLiteral("'%1'").arg(cell.glyph)) +
        QStringLiteral(", code %1")
            .arg(QString::number(cell.byte, 16).toUpper().rightJustified(2, QLatin1Char('0')));
    return cell;
}

} // namespace

UnitPreview previewOnUnit(const QString& text) {
    UnitPreview preview;
    const int shown = int(qMin<qsizetype>(text.size(), kMessageMaxLength));
    for (int i = 0; i < shown; ++i)
        preview.cells[size_t(i)] = cellFor(text.at(i), i);
    for (int i = shown; i < kMessageMaxLength; ++i)
        preview.cells[size_t(i)].note =
            QStringLiteral("Cell %1: blank, past the end of the message").arg(i + 1);
    preview.beyond = int(text.size()) - shown;
    return preview;
}
