#include "startup/Interlocks.h"

#include "startup/MessageLayout.h"

#include <array>

namespace {
const std::array<const char*, kInterlockCount> kCaptions = {
    "L1-40", "40-41", "41-42", "42-3",  "3-43",  "43-44", "44-46", "46-47", "47-48", "48-50",
    "50-51", "51-52", "52-54", "54-55", "55-56", "56-57", "57-58", "58-59", "59-60", "60-P"};
} // namespace

QString terminalCaption(int k) {
    if (k < 0 || k >= kInterlockCount)
        return {};
    return QString::fromLatin1(kCaptions[static_cast<size_t>(k)]);
}

const QVector<InterlockGroup>& interlockGroups() {
    static const QVector<InterlockGroup> groups = {
        {QStringLiteral("Recycle, L1-3"), {0, 1, 2, 3}},
        {QStringLiteral("Non-Recycle"), {4, 5, 13, 14, 15, 16, 17, 18, 19}},
        {QStringLiteral("Oil Limits"), {6, 7, 8, 9}},
        {QStringLiteral("Gas Limits"), {10, 11, 12}},
    };
    return groups;
}
