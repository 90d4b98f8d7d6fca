#pragma once
// The line settings the speed dialog may hand to the port.

#include <QString>
#include <QStringList>
#include <array>

const QString kDefaultSettings = QStringLiteral("4800,N,8,1");

// Only these are accepted, compared character for character.
const QStringList kAcceptedSettings{QStringLiteral("1200,N,8,1"), QStringLiteral("4800,N,8,1"),
                                    QStringLiteral("9600,N,8,1"), QStringLiteral("19200,N,8,1")};

// v itself when accepted, else kDefaultSettings.
QString acceptedSettings(const QString& v);

// The settings for list entry `index` (from 0; -1: nothing selected), which
// shows BaudRates entry index + 1. Nothing selected reads the empty entry 0.
QString settingsForChoice(const std::array<QString, 5>& BaudRates, int index);
