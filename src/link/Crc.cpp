#include "link/Crc.h"

#include <cctype>
#include <cmath>
#include <limits>

CrcTableArray standardCrcTable() {
    CrcTableArray t{};
    for (int v = 0; v < 256; ++v) {
        std::uint32_t r = static_cast<std::uint32_t>(v);
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1U) ? (r >> 1) ^ 0xA001U : r >> 1;
        t[static_cast<size_t>(v + 1)] = static_cast<std::int32_t>(r);
    }
    return t;
}

namespace {

bool skippable(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// Digits of a base, with blanks, tabs and line feeds between them skipped.
double digitsInBase(const QByteArray& s, qsizetype pos, int base) {
    double v = 0;
    for (; pos < s.size(); ++pos) {
        const char c = s.at(pos);
        if (skippable(c))
            continue;
        int d = -1;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        if (d < 0 || d >= base)
            break;
        v = v * base + d;
    }
    return v;
}

// The first entry of table that differs from the Modbus CRC-16 table, as an
// error; nothing when it is that table.
std::optional<ConfigError> notStandard(const CrcTableArray& table) {
    const CrcTableArray expected = standardCrcTable();
    for (int v = 0; v < 256; ++v) {
        const auto i = static_cast<size_t>(v + 1);
        if (table[i] != expected[i])
            return ConfigError{QString::fromLatin1(kCrcTableName),
                               QStringLiteral("the value for byte %1 is %2, not %3; it is not "
                                              "the Modbus CRC-16 table")
                                   .arg(v)
                                   .arg(table[i])
                                   .arg(expected[i])};
    }
    return std::nullopt;
}

} // namespace

double numericPrefix(const QByteArray& field) {
    qsizetype pos = 0;
    while (pos < field.size() && skippable(field.at(pos)))
        ++pos;
    if (pos + 1 < field.size() && field.at(pos) == '&') {
        const char kind =
            static_cast<char>(std::toupper(static_cast<unsigned char>(field.at(pos + 1))));
        if (kind == 'H')
            return digitsInBase(field, pos + 2, 16);
        if (kind == 'O')
            return digitsInBase(field, pos + 2, 8);
        return 0;
    }
    // Collect sign, digits, point and exponent, dropping skippable characters,
    // then let strtod read the longest number at the front.
    QByteArray number;
    for (; pos < field.size(); ++pos) {
        const char c = field.at(pos);
        if (skippable(c))
            continue;
        if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E')
            number.append(c);
        else if (c == 'd' || c == 'D')
            number.append('e');
        else
            break;
    }
    const std::string str = number.toStdString();
    char* end = nullptr;
    const double v = std::strtod(str.c_str(), &end);
    return end == str.c_str() ? 0 : v;
}

std::optional<ConfigError> parseCrcTable(const QByteArray& original, CrcTableArray& table) {
    // Line ends of LF or CR alone (a file saved on another system, a checkout
    // that changed them) read as CR LF, the layout the fields are counted in.
    QByteArray text = original;
    text.replace("\r\n", "\n").replace('\r', '\n').replace("\n", "\r\n");
    const QString name = QString::fromLatin1(kCrcTableName);
    qsizetype pos = 0;
    int fieldsRead = 0;
    // A separator is two characters ending in LF, or three characters.
    auto separator = [&]() -> bool {
        if (pos + 2 > text.size())
            return false;
        const bool twoChars = text.at(pos + 1) == '\n';
        pos += twoChars ? 2 : 3;
        return pos <= text.size();
    };
    auto field = [&](double& value) -> bool {
        if (!separator() || pos + 4 > text.size())
            return false;
        value = numericPrefix(text.mid(pos, 4));
        pos += 4;
        ++fieldsRead;
        return true;
    };

    CrcTableArray result{};
    for (int k = 1; k <= 256; ++k) {
        double high = 0;
        double low = 0;
        if (!field(high) || !field(low))
            return ConfigError{name, QStringLiteral("ends after %1 of 512 fields").arg(fieldsRead)};
        const double v = std::nearbyint(high * 256 + low); // halves to even
        const bool fits = std::isfinite(v) && v >= std::numeric_limits<std::int32_t>::min() &&
                          v <= std::numeric_limits<std::int32_t>::max();
        result[static_cast<size_t>(k)] = fits ? static_cast<std::int32_t>(v) : -1;
    }

    if (auto wrong = notStandard(result))
        return wrong;
    table = result;
    return std::nullopt;
}

std::optional<ConfigError> readCrcTableFile(const QString& folder, CrcTableArray& table) {
    QByteArray text;
    if (auto err = readConfigFile(folder, kCrcTableName, text))
        return err;
    return parseCrcTable(text, table);
}

void crcStep(const CrcTableArray& table, int ch, std::int32_t& hi, std::int32_t& lo) {
    const std::int32_t d = lo ^ table[static_cast<size_t>((ch & 0xFF) + 1)] ^
                           table[static_cast<size_t>((hi & 0xFF) + 1)];
    lo = d / 256;
    hi = d & 255;
}

std::pair<quint8, quint8> frameCrc(const CrcTableArray& table, const QByteArray& frame) {
    std::int32_t hi = 255;
    std::int32_t lo = 255;
    for (char c : frame)
        crcStep(table, static_cast<unsigned char>(c), hi, lo);
    return {static_cast<quint8>(hi & 0xFF), static_cast<quint8>(lo & 0xFF)};
}

QByteArray formatCrcTable(const CrcTableArray& table) {
    QByteArray out = "\r\n";
    auto hex = [&](int b) {
        out += "&H" + QByteArray::number(b, 16).toUpper().rightJustified(2, '0') + "\r\n";
    };
    for (int v = 0; v < 256; ++v) {
        const std::int32_t value = table[static_cast<size_t>(v + 1)];
        hex((value >> 8) & 0xFF);
        hex(value & 0xFF);
    }
    return out;
}
