#pragma once
// The unit's message layout: how many slots it has, how long a message may
// be, and which holding registers hold each slot. This is the one source of
// those numbers; everything else derives from it.

#include <QString>
#include <array>
#include <iterator>

struct MessageLayout {
    int slotCount;             // message slots of the unit
    int messageLength;         // characters per slot
    int firstRegister;         // holding register of slot 0's first character
    int charactersPerRegister; // two characters a register, high byte first

    constexpr int registersPerMessage() const { return messageLength / charactersPerRegister; }
    // Holding register of the first character of slot k's message.
    constexpr int registerOf(int slot) const {
        return firstRegister + registersPerMessage() * slot;
    }
    constexpr int lastRegister() const { return registerOf(slotCount - 1); }
};

// The QV840: twenty 40-character messages from register 400 on.
inline constexpr MessageLayout kUnitLayout{20, 40, 400, 2};

constexpr int kInterlockCount = kUnitLayout.slotCount;
constexpr int kMessageMaxLength = kUnitLayout.messageLength;
constexpr int kFirstMessageRegister = kUnitLayout.firstRegister;
constexpr int kRegistersPerMessage = kUnitLayout.registersPerMessage();
constexpr int kLastMessageRegister = kUnitLayout.lastRegister();
constexpr int messageRegister(int slot) {
    return kUnitLayout.registerOf(slot);
}

// The unit addresses a request may go to. Address 0 is broadcast: every unit
// on the line would take a write and none would confirm it, so no sending
// path offers it.
constexpr int kFirstUnitAddress = 1;
constexpr int kLastUnitAddress = 31;

// A count as the help texts spell it: "twenty" slots, "forty" cells; past
// twenty, other than a round ten, in figures.
inline QString countInWords(int n) {
    static const char* const kWords[] = {
        "zero",     "one",     "two",     "three",     "four",     "five",     "six",
        "seven",    "eight",   "nine",    "ten",       "eleven",   "twelve",   "thirteen",
        "fourteen", "fifteen", "sixteen", "seventeen", "eighteen", "nineteen", "twenty"};
    static const char* const kTens[] = {"thirty",  "forty",  "fifty", "sixty",
                                        "seventy", "eighty", "ninety"};
    if (n >= 0 && n < int(std::size(kWords)))
        return QString::fromLatin1(kWords[n]);
    return n % 10 == 0 && n >= 30 && n <= 90 ? QString::fromLatin1(kTens[n / 10 - 3])
                                             : QString::number(n);
}

// One text per slot.
using TextTable = std::array<QString, kInterlockCount>;

inline const QString kProgramTitle = QStringLiteral("QV840N");
